// Route menu entries and the duplicate and delete they run.
#include "app/route_actions.h"

#include "app/app_state.h"
#include "app/route_tree.h"
#include "engine/engine_client.h"

#include <QPointer>

namespace RouteActions {

std::optional<QString> duplicate(AppState *state, EngineClient *engine, const QString &routeID)
{
    const std::optional<QString> copy = engine->duplicateEndpoint(routeID);
    if (!copy)
        return std::nullopt;
    state->setNav(NavItem::endpoints);
    state->setSelectedEndpointID(*copy);
    return copy;
}

void remove(AppState *state, EngineClient *engine, const QString &routeID)
{
    if (state->selectedEndpointID() == routeID)
        state->setSelectedEndpointID(std::nullopt);
    engine->deleteEndpoint(routeID);
}

QList<SnowMenuItem> menuItems(AppState *state, EngineClient *engine, const QString &routeID)
{
    const std::string id = routeID.toStdString();
    const Endpoint *found = nullptr;
    for (const Endpoint &route : engine->endpoints()) {
        if (route.id == id) {
            found = &route;
            break;
        }
    }
    if (!found)
        return {};
    const bool active = found->active;
    const QString current = QString::fromStdString(found->group);
    QPointer<EngineClient> weakEngine(engine);
    QPointer<AppState> weakState(state);

    QList<SnowMenuItem> items;
    items.append(SnowMenuItem::entry(QStringLiteral("Duplicate route"), QStringLiteral("plus.square.on.square"),
                                     [weakState, weakEngine, routeID] {
                                         if (weakState && weakEngine)
                                             duplicate(weakState, weakEngine, routeID);
                                     }));
    items.append(SnowMenuItem::entry(active ? QStringLiteral("Disable route") : QStringLiteral("Enable route"),
                                     active ? QStringLiteral("pause.circle") : QStringLiteral("play.circle"),
                                     [weakEngine, routeID] {
                                         if (weakEngine)
                                             weakEngine->toggleEndpoint(routeID);
                                     }));
    items.append(SnowMenuItem::divider());
    items.append(SnowMenuItem::header(QStringLiteral("Move to group")));
    items.append(SnowMenuItem::entry(QString::fromLatin1(RouteTree::ungroupedLabel), {}, [weakEngine, routeID] {
        if (weakEngine)
            weakEngine->setGroup(routeID, QString());
    }, SnowMenuItem::Tone::normal, current.isEmpty()));
    for (const QString &name : engine->groupNames()) {
        items.append(SnowMenuItem::entry(name, {}, [weakEngine, routeID, name] {
            if (weakEngine)
                weakEngine->setGroup(routeID, name);
        }, SnowMenuItem::Tone::normal, current == name));
    }
    items.append(SnowMenuItem::entry(QStringLiteral("New group…"), QStringLiteral("plus"), [weakState, routeID] {
        if (weakState)
            weakState->openNewGroup(routeID);
    }));
    items.append(SnowMenuItem::divider());
    items.append(SnowMenuItem::entry(QStringLiteral("Delete route"), QStringLiteral("trash"),
                                     [weakState, weakEngine, routeID] {
                                         if (weakState && weakEngine)
                                             remove(weakState, weakEngine, routeID);
                                     },
                                     SnowMenuItem::Tone::destructive));
    return items;
}

QList<SnowMenuItem> groupMenuItems(AppState *state, const QString &label)
{
    if (label == QLatin1String(RouteTree::ungroupedLabel))
        return {};
    QPointer<AppState> weakState(state);
    return {SnowMenuItem::entry(QStringLiteral("Rename group…"), QStringLiteral("pencil"), [weakState, label] {
        if (weakState)
            weakState->openRenameGroup(label);
    })};
}

} // namespace RouteActions
