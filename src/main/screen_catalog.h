// The one place where each screen, sheet, the inspector and the onboarding join the main window.
#pragma once

#include "app/shell_registry.h"

// Each screen library has a catalog header with one install function; a library that is not
// built yet simply contributes nothing. Widgets are constructed as T(const AppContext &, QWidget *parent);
// setInspector() and setOnboarding() take the inspector's and the onboarding's factories.
#if __has_include("screens/routes/routes_catalog.h")
#include "screens/routes/routes_catalog.h"
#define KESTRION_HAS_ROUTES_SCREENS 1
#endif
#if __has_include("screens/traffic/traffic_catalog.h")
#include "screens/traffic/traffic_catalog.h"
#define KESTRION_HAS_TRAFFIC_SCREENS 1
#endif
#if __has_include("screens/setup/setup_catalog.h")
#include "screens/setup/setup_catalog.h"
#define KESTRION_HAS_SETUP_SCREENS 1
#endif

// Included only by the executables, which link the screen libraries; kestrion_app knows no screen.
inline void installScreens([[maybe_unused]] ShellRegistry &registry)
{
#ifdef KESTRION_HAS_ROUTES_SCREENS
    installRoutesScreens(registry);
#endif
#ifdef KESTRION_HAS_TRAFFIC_SCREENS
    installTrafficScreens(registry);
#endif
#ifdef KESTRION_HAS_SETUP_SCREENS
    installSetupScreens(registry);
#endif
}
