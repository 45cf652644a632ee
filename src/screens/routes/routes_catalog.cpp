// Registers this library's screens and sheets with the shell, one line each.
#include "screens/routes/routes_catalog.h"

#include "app/shell_registry.h"
#include "screens/routes/endpoints_screen.h"
#include "screens/routes/inspector_view.h"
#include "screens/routes/manage_environments_sheet.h"
#include "screens/routes/new_group_sheet.h"
#include "screens/routes/new_route_sheet.h"
#include "screens/routes/projects_sheets.h"

void installRoutesScreens(ShellRegistry &registry)
{
    registry.addScreen<EndpointsScreen>(NavItem::endpoints);
    registry.addSheet<NewRouteSheet>(SheetFlag::newRoute);
    registry.addSheet<NewProjectSheet>(SheetFlag::newProject);
    registry.addSheet<ManageProjectsSheet>(SheetFlag::manageProjects);
    registry.addSheet<NewGroupSheet>(SheetFlag::newGroup);
    registry.addSheet<ManageEnvironmentsSheet>(SheetFlag::manageEnvironments);
    registry.setInspector([](const AppContext &c, const Endpoint &r, QWidget *p) -> QWidget * { return new InspectorView(c, r, p); });
}
