// The one place where each screen, sheet, the inspector and the onboarding join the main window.
#pragma once

#include "app/shell_registry.h"
#include "screens/routes/routes_catalog.h"
#include "screens/setup/setup_catalog.h"
#include "screens/traffic/traffic_catalog.h"

// Each screen library has a catalog header with one install function. Widgets are constructed as
// T(const AppContext &, QWidget *parent); setInspector() and setOnboarding() take the inspector's and
// the onboarding's factories.
inline void installScreens(ShellRegistry &registry)
{
    installRoutesScreens(registry);
    installTrafficScreens(registry);
    installSetupScreens(registry);
}
