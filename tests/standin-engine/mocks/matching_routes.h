// Routes and proxy targets as the route matching tests build them: a route keyed by its path, and a
// target parsed as the proxy parses one.
#pragma once

#include "mocks/route_matching.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace standintest {

inline WireRoute route(std::string method, std::string host, std::string path, bool active = true)
{
    WireRoute r;
    r.id = "r-" + path;
    r.method = std::move(method);
    r.host = std::move(host);
    r.path = std::move(path);
    r.active = active;
    return r;
}

inline standin::ProxyTarget target(const std::string &url)
{
    auto parsed = standin::parseProxyTarget(url, "");
    EXPECT_TRUE(parsed) << url;
    return parsed.value_or(standin::ProxyTarget {});
}

} // namespace standintest
