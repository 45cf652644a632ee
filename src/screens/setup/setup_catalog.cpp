// Registers this library's screens and sheets with the shell, one line each.
#include "screens/setup/setup_catalog.h"

#include "app/shell_registry.h"

void installSetupScreens([[maybe_unused]] ShellRegistry &registry)
{
}
