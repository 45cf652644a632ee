// Routes in the engine's wire form, as the tests and the proxy benchmark post them. Header-only, so that
// a benchmark can use them without linking the tests' support.
#pragma once

#include "engine/records/route_records.h"

#include <string>
#include <utility>

namespace standintest {

// A route on `host` answering 200 with `body` at once, or passed through to the host when `passThrough`.
inline WireRoute wireRoute(std::string id, std::string method, std::string host, std::string path, std::string body,
                           bool passThrough = false)
{
    WireRoute route;
    route.id = std::move(id);
    route.method = std::move(method);
    route.host = std::move(host);
    route.path = std::move(path);
    route.body = std::move(body);
    route.passThrough = passThrough;
    return route;
}

// A mock route on api.test answering `status` with `body` after `latency` milliseconds.
inline WireRoute mockRoute(const std::string &id, const std::string &method, const std::string &path, int status,
                           const std::string &body, int latency = 0, bool active = true)
{
    WireRoute route = wireRoute(id, method, "api.test", path, body);
    route.status = status;
    route.latencyMs = latency;
    route.active = active;
    return route;
}

} // namespace standintest
