// What a route's menu does, wherever the route is listed (sidebar tree, routes screen): one copy.
#pragma once

#include "design/snow_menu_item.h"

#include <QList>
#include <QString>

class AppState;
class EngineClient;

namespace RouteActions {

// Inserts a copy right after the route and opens it on the routes screen (no history entry);
// a route that is gone changes nothing. Returns the copy's id.
std::optional<QString> duplicate(AppState *state, EngineClient *engine, const QString &routeID);

// Clears the selection when it names the route, removes every route with that id and pushes.
void remove(AppState *state, EngineClient *engine, const QString &routeID);

// The right-click menu of one route: duplicate, enable/disable, move to group, new group, delete.
// Empty when no route has the id. The actions hold the objects weakly.
QList<SnowMenuItem> menuItems(AppState *state, EngineClient *engine, const QString &routeID);

// The right-click menu of a group section: "Rename group…", none for "Ungrouped".
QList<SnowMenuItem> groupMenuItems(AppState *state, const QString &label);

} // namespace RouteActions
