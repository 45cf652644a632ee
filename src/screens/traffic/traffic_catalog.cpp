// Registers this library's screens and sheets with the shell, one line each.
#include "screens/traffic/traffic_catalog.h"

#include "app/shell_registry.h"
#include "screens/traffic/dashboard_screen.h"
#include "screens/traffic/history_screen.h"
#include "screens/traffic/live_traffic_screen.h"
#include "screens/traffic/schema_screen.h"

void installTrafficScreens([[maybe_unused]] ShellRegistry &registry)
{
    registry.addScreen<DashboardScreen>(NavItem::dashboard);
    // Live traffic, history and schema drift.
    registry.addScreen<LiveTrafficScreen>(NavItem::liveTraffic);
    registry.addScreen<HistoryScreen>(NavItem::history);
    registry.addScreen<SchemaScreen>(NavItem::schema);
}
