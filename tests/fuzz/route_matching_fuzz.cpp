// Proxy target parsing and route matching: lines are request target, Host header, method, route
// host and route path. A route path with no ":param" segment always matches itself.
#include "fuzz_support.h"

#include "mocks/route_matching.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto parts = fuzz::fields(fuzz::asText(data, size), 5);
    const auto target = standin::parseProxyTarget(parts[0], parts[1]);
    const std::string_view pattern = parts[4];
    if (pattern.find(':') == std::string_view::npos)
        fuzz::check(standin::pathMatches(pattern, pattern), "a literal route path does not match itself");
    if (!target)
        return 0;
    fuzz::check(!target->path.empty() && target->port >= 1 && target->port <= 65535, "a parsed target is malformed");
    WireRoute route;
    route.id = "r";
    route.method = std::string(parts[2]);
    route.host = std::string(parts[3]);
    route.path = std::string(pattern);
    route.active = true;
    const std::vector<WireRoute> routes{route};
    const auto found = standin::findRoute(routes, parts[2], *target);
    if (found)
        fuzz::check(*found == 0 && standin::pathMatches(route.path, target->path), "findRoute disagrees with pathMatches");
    standin::routeKey(parts[2], target->host, target->path);
    return 0;
}
