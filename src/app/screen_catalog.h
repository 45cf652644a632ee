// The one place where each screen, sheet, the inspector and the onboarding join the main window.
#pragma once

#include "app/shell_registry.h"

// Included only by the executables, which link the screen libraries; kestrion_app knows no screen.
// Each later screen or sheet adds one line here, for example
//   registry.addScreen<DashboardScreen>(NavItem::dashboard);
//   registry.addSheet<SettingsScreen>(SheetFlag::settings);
// with widgets constructed as T(const AppContext &, QWidget *parent); setInspector() and
// setOnboarding() take the inspector's and the onboarding's factories.
inline void installScreens([[maybe_unused]] ShellRegistry &registry)
{
}
