// The screen, sheet and inspector factories of the main window.
#include "app/shell_registry.h"

ShellRegistry &ShellRegistry::shared()
{
    static ShellRegistry registry;
    return registry;
}

const ShellRegistry::ScreenFactory *ShellRegistry::screen(NavItem item) const
{
    const auto found = m_screens.find(item);
    return found != m_screens.end() && found->second ? &found->second : nullptr;
}

const ShellRegistry::ScreenFactory *ShellRegistry::sheet(SheetFlag flag) const
{
    const auto found = m_sheets.find(flag);
    return found != m_sheets.end() && found->second ? &found->second : nullptr;
}
