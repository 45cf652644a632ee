// Registers this library's screens and sheets with the shell, one line each.
#include "screens/routes/routes_catalog.h"

#include "app/shell_registry.h"
#include "screens/routes/endpoints_screen.h"

void installRoutesScreens(ShellRegistry &registry)
{
    registry.addScreen<EndpointsScreen>(NavItem::endpoints);
}
