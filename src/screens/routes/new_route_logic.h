// Pure decisions of the new-route sheet: the suggested host, whether a route can be made, conflicts, the new route.
#pragma once

#include "engine/records/route_records.h"

#include <QList>
#include <QString>

#include <optional>

namespace NewRouteLogic {

// The fixed body of a new route: {, line feed, two blanks, "ok": true, line feed, }.
inline constexpr char defaultBody[] = "{\n  \"ok\": true\n}";

// The host most routes use, exact text; among equally frequent hosts the first in list order.
// Without routes, the demo routes' API host.
QString suggestedHost(const QList<Endpoint> &routes);

// The one normalised form that is checked, compared and stored (the normalisers are final after one pass).
std::string normalizedHost(const QString &typed);
std::string normalizedPath(const QString &typed);

// Host and path both normalise to something.
bool canCreate(const QString &host, const QString &path);

// The first active route with the same method and the stored host and path equal to the typed ones
// normalised (stored values are compared as stored).
std::optional<Endpoint> conflictingRoute(const QList<Endpoint> &routes, HTTPMethod method, const QString &host,
                                         const QString &path);

// "An active GET route already matches this request."
QString conflictWarning(HTTPMethod method);

// The route "Create route" appends: a fresh "r-" id, normalised host and path, the status clamped to
// 100…599, and the fixed defaults.
Endpoint makeRoute(HTTPMethod method, const QString &host, const QString &path, int status);

} // namespace NewRouteLogic
