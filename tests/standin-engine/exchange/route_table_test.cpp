// The compiled route table: the same first match as the plain list, built once per route list, and
// matching without allocating.
#include "exchange/route_table.h"

#include "store/state_store.h"

#include "standin-engine/mocks/matching_routes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

using namespace standin;
using standintest::route;
using standintest::target;

namespace {

RouteSnapshot snapshotOf(std::vector<WireRoute> routes)
{
    return RouteSnapshot(std::make_shared<const std::vector<WireRoute>>(std::move(routes)));
}

// Counts the allocations of the calling thread while `counting` is set.
thread_local bool counting = false;
thread_local size_t allocations = 0;

} // namespace

// The address sanitizer brings its own operator new.
#if !defined(__SANITIZE_ADDRESS__)
void *operator new(std::size_t size)
{
    if (counting)
        ++allocations;
    if (void *memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}
void operator delete(void *memory) noexcept { std::free(memory); }
void operator delete(void *memory, std::size_t) noexcept { std::free(memory); }
#define KESTRION_COUNTS_ALLOCATIONS 1
#endif

TEST(RouteTable, GivesTheFirstMatchOfThePlainListForEveryRequest)
{
    const auto deep = [](const std::string &segment, int count) {
        std::string path = "/deep";
        for (int i = 0; i < count; ++i)
            path += "/" + segment;
        return path;
    };
    const std::vector<WireRoute> routes = {
        route("GET", "api.test", "/v2/users/:id", false), // 0: inactive
        route("POST", "api.test", "/v2/users/:id"),       // 1
        route("get", "API.test", "/v2/users/me"),         // 2: method and host in any case
        route("GET", "api.test", "/v2/users/:id"),        // 3
        route("GET", "api.test", "/v2/users/me"),         // 4: duplicate of 2, never reached
        route("GET", "", "/health"),                      // 5: any host
        route("GET", "api.test", "/health"),              // 6: behind the any-host route
        route("GET", "api.test:8080", "/v2/orders"),      // 7: that port only
        route("GET", "api.test", "/v2/orders"),           // 8: any port
        route("GET", "api.test:9090", "/v2/orders"),      // 9: behind the any-port route
        route("GET", "api.test", "/v2/:kind/:id/items/"), // 10: trailing slash does not count
        route("GET", "", "/v2/:kind/7/items"),            // 11: any host, later in the list
        route("GET", "api.test:99999", "/bad"),           // 12: no valid host, never matches
        route("GET", "[::1]:8443", "/v6"),                // 13
        route("PATCH", "api.test", "/"),                  // 14: the root path
        route("GET", "api.test", "/a/:"),                 // 15: a lone ":" is a plain segment
        route("GET", "", "/v2/users/:id"),                // 16: any host behind 3 for api.test
        route("DELETE", "other.test", "/v2/users/:id"),   // 17
        route("GET", "api.test", deep(":p", 40)),         // 18: deeper than requests are split
    };
    struct Case {
        std::string method;
        std::string url;
        std::optional<size_t> expected;
    };
    const std::vector<Case> cases = {
        {"GET", "http://api.test/v2/users/me", 2},
        {"get", "http://api.test/v2/users/42", 3},
        {"GET", "http://api.test/v2/users/42/", 3},
        {"GET", "http://other.test/v2/users/42", 16},
        {"GET", "http://api.test/v2/users", std::nullopt},
        {"GET", "http://api.test/v2/users//", std::nullopt},
        {"POST", "http://api.test/v2/users/1", 1},
        {"PUT", "http://api.test/v2/users/1", std::nullopt},
        {"GET", "http://api.test/health", 5},
        {"GET", "http://any.test:81/health", 5},
        {"GET", "http://api.test:8080/v2/orders", 7},
        {"GET", "http://api.test:9090/v2/orders", 8},
        {"GET", "http://api.test/v2/orders", 8},
        {"GET", "http://api.test/v2/orders/7/items", 10},
        {"GET", "http://api.test/v2/orders/7/items/", 10},
        {"GET", "http://else.test/v2/orders/7/items", 11},
        {"GET", "http://else.test/v2/orders/8/items", std::nullopt},
        {"GET", "http://api.test:99999/bad", std::nullopt},
        {"GET", "http://[::1]:8443/v6", 13},
        {"GET", "http://[::1]/v6", std::nullopt},
        {"PATCH", "http://api.test/", 14},
        {"PATCH", "http://api.test", 14},
        {"GET", "http://api.test/a/:", 15},
        {"GET", "http://api.test/a/x", std::nullopt},
        {"DELETE", "http://other.test/v2/users/9", 17},
        {"DELETE", "http://api.test/v2/users/9", std::nullopt},
        {"GET", "http://api.test" + deep("v", 40), 18},
        {"GET", "http://api.test" + deep("v", 40) + "/", 18},
        {"GET", "http://api.test" + deep("v", 38) + "//v", std::nullopt},
        {"GET", "http://api.test" + deep("v", 41), std::nullopt},
    };
    const RouteTable table(snapshotOf(routes));
    for (const Case &c : cases) {
        const auto parsed = parseProxyTarget(c.url, "");
        if (!parsed) {
            EXPECT_FALSE(c.expected) << c.url;
            continue;
        }
        EXPECT_EQ(findRoute(routes, c.method, *parsed), c.expected) << c.method << " " << c.url;
        EXPECT_EQ(table.find(c.method, *parsed), c.expected) << c.method << " " << c.url;
    }
}

TEST(RouteTable, AgreesWithThePlainListOnRandomRoutesAndRequests)
{
    std::mt19937 random(1234);
    const std::vector<std::string> methods = {"GET", "get", "POST", "Delete"};
    const std::vector<std::string> hosts = {"", "a.test", "A.test:8080", "a.test:81", "b.test", "b.test:", "[::1]"};
    const std::vector<std::string> segments = {"x", "y", ":id", ":", ""};
    const auto pick = [&](const std::vector<std::string> &from) { return from[random() % from.size()]; };
    const auto randomPath = [&] {
        std::string path;
        // Now and then deeper than a request path is split for matching.
        for (size_t n = random() % 16 ? random() % 4 : 30 + random() % 6; n > 0; --n)
            path += "/" + pick(segments);
        return random() % 4 ? path : path + "/";
    };
    for (int round = 0; round < 200; ++round) {
        std::vector<WireRoute> routes;
        for (size_t n = random() % 30; n > 0; --n)
            routes.push_back(route(pick(methods), pick(hosts), randomPath(), random() % 5 != 0));
        const RouteTable table(snapshotOf(routes));
        for (int request = 0; request < 50; ++request) {
            std::string host = pick(hosts);
            host = host.empty() ? "c.test" : host;
            const auto parsed = parseProxyTarget("http://" + host + randomPath(), "");
            if (!parsed)
                continue;
            const std::string method = pick(methods);
            ASSERT_EQ(table.find(method, *parsed), findRoute(routes, method, *parsed))
                << "round " << round << ": " << method << " " << host << parsed->path;
        }
    }
}

TEST(RouteTable, IsBuiltOncePerSnapshotAndFollowsARouteChange)
{
    const RouteSnapshot first = snapshotOf({route("GET", "a.test", "/one"), route("GET", "a.test", "/:any")});
    const auto table = RouteTable::of(first);
    EXPECT_EQ(RouteTable::of(first), table);
    EXPECT_EQ(findRoute(first, "GET", target("http://a.test/two")), 1u);

    // A list of the same size with other contents, as a route edit gives.
    const RouteSnapshot second = snapshotOf({route("GET", "a.test", "/two"), route("GET", "a.test", "/one")});
    EXPECT_EQ(findRoute(second, "GET", target("http://a.test/two")), 0u);
    EXPECT_EQ(findRoute(second, "GET", target("http://a.test/one")), 1u);
    EXPECT_EQ(findRoute(first, "GET", target("http://a.test/one")), 0u);

#if defined(KESTRION_COUNTS_ALLOCATIONS)
    // Once built, matching allocates nothing, whether a route is found or not.
    std::vector<WireRoute> many;
    for (int i = 0; i < 5000; ++i)
        many.push_back(route("GET", "bench.test", "/items/" + std::to_string(i) + "/:id"));
    const RouteSnapshot large = snapshotOf(std::move(many));
    const ProxyTarget hit = target("http://bench.test/items/4999/7");
    const ProxyTarget miss = target("http://bench.test/nothing/here");
    EXPECT_EQ(findRoute(large, "GET", hit), 4999u);
    allocations = 0;
    counting = true;
    const auto found = findRoute(large, "GET", hit);
    const auto missed = findRoute(large, "get", miss);
    counting = false;
    EXPECT_EQ(found, 4999u);
    EXPECT_FALSE(missed);
    EXPECT_EQ(allocations, 0u);
#endif
}
