// Registers this library's screens and sheets with the shell, one line each.
#include "screens/traffic/traffic_catalog.h"

#include "app/shell_registry.h"
#include "screens/traffic/dashboard_screen.h"

void installTrafficScreens([[maybe_unused]] ShellRegistry &registry)
{
    registry.addScreen<DashboardScreen>(NavItem::dashboard);
}
