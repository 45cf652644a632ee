// Registers this library's screens and sheets with the shell, one line each.
#include "screens/setup/setup_catalog.h"

#include "app/shell_registry.h"
#include "screens/setup/certificates_screen.h"
#include "screens/setup/devices_screen.h"
#include "screens/setup/onboarding_view.h"
#include "screens/setup/settings_screen.h"

void installSetupScreens(ShellRegistry &registry)
{
    registry.addScreen<CertificatesScreen>(NavItem::certificates);
    registry.addScreen<DevicesScreen>(NavItem::devices);
    registry.addSheet<SettingsScreen>(SheetFlag::settings);
    registry.setOnboarding([](const AppContext &context, std::function<void()> onFinish, QWidget *parent) -> QWidget * {
        return new OnboardingView(context, std::move(onFinish), parent);
    });
}
