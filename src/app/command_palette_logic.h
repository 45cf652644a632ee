// What the command palette lists for a query, and what Return opens.
#pragma once

#include "app/nav_item.h"
#include "engine/records/route_records.h"

#include <QList>
#include <QString>

#include <variant>

namespace PaletteSearch {

// Screens whose title contains the query, case-insensitively; all seven for an empty query.
QList<NavItem> navResults(const QString &query);

// Routes whose lower-cased path, host or method contains the lower-cased query; all for an empty query.
QList<Endpoint> routeResults(const QList<Endpoint> &routes, const QString &query);

struct OpenScreen
{
    NavItem item;
    bool operator==(const OpenScreen &) const = default;
};
struct OpenRoute
{
    QString id;
    bool operator==(const OpenRoute &) const = default;
};
using Activation = std::variant<std::monostate, OpenScreen, OpenRoute>;

// Return in the query field: a screen when only screens match a typed query, else the first
// route, else the first screen, else nothing (the palette stays open).
Activation activateFirst(const QList<NavItem> &navResults, const QList<Endpoint> &routeResults,
                         const QString &query);

} // namespace PaletteSearch
