// Matching rules of the command palette.
#include "app/command_palette_logic.h"

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
    if (query.isEmpty())
        return routes;
    const QString needle = query.toLower();
    QList<Endpoint> result;
    for (const Endpoint &route : routes) {
        const bool matches = QString::fromStdString(route.path).toLower().contains(needle)
                             || QString::fromStdString(route.host).toLower().contains(needle)
                             || QString::fromLatin1(rawValue(route.method)).toLower().contains(needle);
        if (matches)
            result.append(route);
    }
    return result;
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
