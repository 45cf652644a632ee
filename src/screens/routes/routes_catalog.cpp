// Registers this library's screens and sheets with the shell, one line each.
#include "screens/routes/routes_catalog.h"

#include "app/shell_registry.h"

void installRoutesScreens([[maybe_unused]] ShellRegistry &registry)
{
}
