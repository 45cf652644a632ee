// Registers this library's screens and sheets with the shell, one line each.
#include "screens/routes/routes_catalog.h"

#include "app/shell_registry.h"
#include "screens/routes/inspector_view.h"

void installRoutesScreens([[maybe_unused]] ShellRegistry &registry)
{
    registry.setInspector([](const AppContext &c, const Endpoint &route, QWidget *p) -> QWidget * {
        return new InspectorView(c, route, p);
    });
}
