// Route builders the shell tests share: short ids double as paths so expectations stay readable.
#pragma once

#include "engine/records/route_records.h"

#include <QList>

#include <string>

namespace testroutes {

inline Endpoint route(const std::string &id, const std::string &host = "api.test",
                      const std::string &group = {})
{
    Endpoint e;
    e.id = id;
    e.host = host;
    e.path = "/" + id;
    e.group = group;
    return e;
}

inline Endpoint route(const std::string &id, const std::string &host, const std::string &group, bool active)
{
    Endpoint e = route(id, host, group);
    e.active = active;
    return e;
}

inline Endpoint route(const std::string &id, const std::string &host, const std::string &group,
                      HTTPMethod method)
{
    Endpoint e = route(id, host, group);
    e.method = method;
    return e;
}

inline Endpoint route(const std::string &id, HTTPMethod method, const std::string &host, const std::string &path)
{
    Endpoint e = route(id, host);
    e.method = method;
    e.path = path;
    return e;
}

// The three routes the command palette tests search.
inline const QList<Endpoint> paletteRoutes = {
    route("r1", HTTPMethod::POST, "api.acme.dev", "/v1/login"),
    route("r2", HTTPMethod::GET, "cdn.acme.dev", "/img/logo"),
    route("r3", HTTPMethod::DELETE, "Shelf.ca", "/Items/:id"),
};

} // namespace testroutes
