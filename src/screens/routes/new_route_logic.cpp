// Suggested host, creation check, conflict and the new route.
#include "screens/routes/new_route_logic.h"

#include "design/status_code_field.h"
#include "engine/records/mock_data.h"
#include "engine/records/record_ids.h"
#include "engine/records/route_input.h"

#include <unordered_map>

namespace NewRouteLogic {

QString suggestedHost(const QList<Endpoint> &routes)
{
    if (routes.isEmpty())
        return QString::fromLatin1(MockData::apiHost.data(), qsizetype(MockData::apiHost.size()));
    std::unordered_map<std::string, int> counts;
    const std::string *best = nullptr;
    int bestCount = 0;
    for (const Endpoint &route : routes) {
        const int count = ++counts[route.host];
        // Strictly greater: a later host must overtake, not tie, to win.
        if (count > bestCount) {
            best = &route.host;
            bestCount = count;
        }
    }
    return QString::fromStdString(*best);
}

std::string normalizedHost(const QString &typed)
{
    return RouteInput::normalizeHost(typed.toStdString());
}

std::string normalizedPath(const QString &typed)
{
    return RouteInput::normalizePath(typed.toStdString());
}

bool canCreate(const QString &host, const QString &path)
{
    return !normalizedHost(host).empty() && !normalizedPath(path).empty();
}

std::optional<Endpoint> conflictingRoute(const QList<Endpoint> &routes, HTTPMethod method, const QString &host,
                                         const QString &path)
{
    const std::string h = normalizedHost(host);
    const std::string p = normalizedPath(path);
    for (const Endpoint &route : routes) {
        if (route.active && route.method == method && route.host == h && route.path == p)
            return route;
    }
    return std::nullopt;
}

QString conflictWarning(HTTPMethod method)
{
    return QStringLiteral("An active ") + QString::fromLatin1(rawValue(method))
           + QStringLiteral(" route already matches this request.");
}

Endpoint makeRoute(HTTPMethod method, const QString &host, const QString &path, int status)
{
    Endpoint route;
    route.id = makeRouteId();
    route.method = method;
    route.host = normalizedHost(host);
    route.path = normalizedPath(path);
    route.status = StatusCodeField::clamp(status);
    route.latency = 0;
    route.active = true;
    route.override = ErrorOverride::ok;
    route.passThrough = false;
    route.body = defaultBody;
    route.sequence.clear();
    route.seqMode = "sticky";
    route.group.clear();
    return route;
}

} // namespace NewRouteLogic
