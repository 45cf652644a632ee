// Matching rules of the command palette.
#include "app/command_palette_logic.h"

#include "app/route_tree.h"

namespace PaletteSearch {

QList<NavItem> navResults(const QString &query)
{
    QList<NavItem> result;
    for (NavItem item : Nav::allCases) {
        if (query.isEmpty() || Nav::title(item).contains(query, Qt::CaseInsensitive))
            result.append(item);
    }
    return result;
}

QList<Endpoint> routeResults(const QList<Endpoint> &routes, const QString &query)
{
    return RouteTree::filtered(routes, query);
}

Activation activateFirst(const QList<NavItem> &navResults, const QList<Endpoint> &routeResults,
                         const QString &query)
{
    if (!navResults.isEmpty() && !query.isEmpty() && routeResults.isEmpty())
        return OpenScreen{navResults.first()};
    if (!routeResults.isEmpty())
        return OpenRoute{QString::fromStdString(routeResults.first().id)};
    if (!navResults.isEmpty())
        return OpenScreen{navResults.first()};
    return std::monostate{};
}

} // namespace PaletteSearch
