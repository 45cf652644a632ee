// Route matching, sequences, overrides, substitution and chaos as pure rules.
#include "mocks/route_matching.h"

#include "standin-engine/mocks/matching_routes.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace standin;
using standintest::route;
using standintest::target;

namespace {

WireStep step(int status, std::string body, std::optional<int> repeat = std::nullopt)
{
    WireStep s;
    s.status = status;
    s.body = std::move(body);
    s.repeat = repeat;
    return s;
}

} // namespace

TEST(ProxyTarget, ReadsAbsoluteAndOriginForm)
{
    const auto absolute = parseProxyTarget("http://API.Test:8080/v2/users?page=2#top", "ignored");
    ASSERT_TRUE(absolute);
    EXPECT_EQ(absolute->hostname, "api.test");
    EXPECT_EQ(absolute->host, "api.test:8080");
    EXPECT_EQ(absolute->port, 8080);
    EXPECT_EQ(absolute->path, "/v2/users");
    EXPECT_EQ(absolute->query, "page=2");

    const auto origin = parseProxyTarget("/health", "svc.local");
    ASSERT_TRUE(origin);
    EXPECT_EQ(origin->hostname, "svc.local");
    EXPECT_EQ(origin->port, 80);

    EXPECT_EQ(target("http://h.test").path, "/");
    const ProxyTarget queryOnly = target("http://H.test:81?x=/y");
    EXPECT_EQ(queryOnly.host, "h.test:81");
    EXPECT_EQ(queryOnly.path, "/");
    EXPECT_EQ(queryOnly.query, "x=/y");
    EXPECT_EQ(target("https://h.test/x").port, 443);
    EXPECT_FALSE(parseProxyTarget("ftp://h.test/x", ""));
    EXPECT_FALSE(parseProxyTarget("http://h.test:99999/x", ""));
    EXPECT_FALSE(parseProxyTarget("/x", ""));
}

TEST(RouteMatching, ParamSegmentsMatchExactlyOneNonEmptySegment)
{
    EXPECT_TRUE(pathMatches("/v2/users/:id", "/v2/users/42"));
    EXPECT_TRUE(pathMatches("/v2/users/:id", "/v2/users/42/"));
    EXPECT_TRUE(pathMatches("/v2/users/:id/profile", "/v2/users/usr_01/profile"));
    EXPECT_FALSE(pathMatches("/v2/users/:id", "/v2/users"));
    EXPECT_FALSE(pathMatches("/v2/users/:id", "/v2/users/42/profile"));
    EXPECT_FALSE(pathMatches("/v2/users/:id/profile", "/v2/users//profile"));
    EXPECT_FALSE(pathMatches("/v2/Users", "/v2/users")); // paths keep their letter case
    EXPECT_TRUE(pathMatches("/", "/"));
    EXPECT_TRUE(pathMatches("/:a/:b", "/x/y"));
}

TEST(RouteMatching, HostWithoutPortMatchesAnyPortAndWithPortOnlyThatOne)
{
    EXPECT_TRUE(hostMatches("api.test", target("http://api.test/x")));
    EXPECT_TRUE(hostMatches("API.test", target("http://api.test:8080/x")));
    EXPECT_TRUE(hostMatches("api.test:8080", target("http://api.test:8080/x")));
    EXPECT_FALSE(hostMatches("api.test:8080", target("http://api.test/x")));
    EXPECT_FALSE(hostMatches("test", target("http://api.test/x")));
    EXPECT_TRUE(hostMatches("", target("http://anything.test:81/x")));
}

TEST(RouteMatching, FirstActiveRouteForMethodHostAndPathWins)
{
    const std::vector<WireRoute> routes = {
        route("GET", "api.test", "/v2/users/:id", false),
        route("POST", "api.test", "/v2/users/:id"),
        route("get", "api.test", "/v2/users/:id"),
        route("GET", "api.test", "/v2/users/me"),
    };
    EXPECT_EQ(findRoute(routes, "GET", target("http://api.test/v2/users/me")), 2u);
    EXPECT_EQ(findRoute(routes, "POST", target("http://api.test/v2/users/1")), 1u);
    EXPECT_FALSE(findRoute(routes, "DELETE", target("http://api.test/v2/users/1")));
    EXPECT_FALSE(findRoute(routes, "GET", target("http://other.test/v2/users/1")));
}

TEST(Substitution, ReplacesKnownKeysAndLeavesUnknownOnes)
{
    const std::vector<WireVar> vars = {{"userId", "usr_42"}, {"token", "abc"}, {"", "never"}};
    EXPECT_EQ(substituteVariables(R"({"id":"{{userId}}","t":"{{ token }}","x":"{{missing}}"})", vars),
              R"({"id":"usr_42","t":"abc","x":"{{missing}}"})");
    EXPECT_EQ(substituteVariables("{{userId}}{{userId}}", vars), "usr_42usr_42");
    EXPECT_EQ(substituteVariables("open {{ only", vars), "open {{ only");
    EXPECT_EQ(substituteVariables("{{}}", vars), "{{}}");
    EXPECT_EQ(substituteVariables("", vars), "");

    // The shared snapshot answers the same; of a key given twice the first counts, as in the list.
    std::vector<WireVar> twice = vars;
    twice.push_back({"token", "later"});
    const VariableSnapshot snapshot(twice);
    for (const std::string text : {R"({"id":"{{userId}}","t":"{{ token }}","x":"{{missing}}"})", "{{}}", "open {{ only", ""})
        EXPECT_EQ(substituteVariables(text, snapshot), substituteVariables(text, twice)) << text;
    EXPECT_EQ(substituteVariables("{{token}}", snapshot), "abc");
    EXPECT_EQ(substituteVariables("{{token}}", VariableSnapshot {}), "{{token}}");
}

TEST(AnswerPlan, StickySequenceRepeatsStepsThenStaysOnTheLast)
{
    WireRoute r = route("GET", "h", "/");
    r.sequence = std::vector<WireStep> {step(200, "a", 2), step(500, "b"), step(201, "c")};
    const std::vector<std::string> expected = {"a", "a", "b", "c", "c", "c"};
    for (size_t hit = 0; hit < expected.size(); ++hit)
        EXPECT_EQ(planAnswer(r, hit).body, expected[hit]) << hit;
    EXPECT_EQ(planAnswer(r, 2).status, 500);
}

TEST(AnswerPlan, LoopSequenceStartsOver)
{
    WireRoute r = route("GET", "h", "/");
    r.sequence = std::vector<WireStep> {step(200, "a"), step(200, "b", 2)};
    r.seqMode = "loop";
    const std::vector<std::string> expected = {"a", "b", "b", "a", "b", "b", "a"};
    for (size_t hit = 0; hit < expected.size(); ++hit)
        EXPECT_EQ(planAnswer(r, hit).body, expected[hit]) << hit;
}

TEST(AnswerPlan, OverridesReplaceStatusAndBody)
{
    WireRoute r = route("GET", "h", "/");
    r.status = 201;
    r.body = "mine";
    r.latencyMs = 90;
    EXPECT_EQ(planAnswer(r, 0).status, 201);
    EXPECT_EQ(planAnswer(r, 0).latencyMs, 90);
    r.override = "404";
    EXPECT_EQ(planAnswer(r, 0).status, 404);
    r.override = "500";
    EXPECT_EQ(planAnswer(r, 0).status, 500);
    r.override = "custom";
    EXPECT_EQ(planAnswer(r, 0).body, "mine");
    r.override = "timeout";
    EXPECT_TRUE(planAnswer(r, 0).holdThenTimeout);
    EXPECT_EQ(planAnswer(r, 0).status, 504);
    r.override = "Timeout"; // not a wire text: ok
    EXPECT_FALSE(planAnswer(r, 0).holdThenTimeout);

    WireRoute stepped = route("GET", "h", "/");
    WireStep failing = step(200, "x");
    failing.override = "500";
    stepped.sequence = std::vector<WireStep> {failing};
    EXPECT_EQ(planAnswer(stepped, 0).status, 500);
}

TEST(AnswerPlan, LatencyAndStatusAreClamped)
{
    WireRoute r = route("GET", "h", "/");
    r.latencyMs = -50;
    r.status = 42;
    EXPECT_EQ(planAnswer(r, 0).latencyMs, 0);
    EXPECT_EQ(planAnswer(r, 0).status, 200);
    r.latencyMs = 10'000'000;
    EXPECT_EQ(planAnswer(r, 0).latencyMs, kMaxLatencyMs);
}

TEST(Chaos, CertainFaultsAlwaysApplyAndImpossibleOnesNever)
{
    std::mt19937_64 random(7);
    ChaosPreset preset {"p", "P",
                        {{"latency", 1.0, std::nullopt, std::nullopt, 200, 800},
                         {"status", 1.0, 503, std::nullopt, std::nullopt, std::nullopt},
                         {"drop", 0.0, std::nullopt, std::nullopt, std::nullopt, std::nullopt}}};
    for (int i = 0; i < 50; ++i) {
        PlannedAnswer answer;
        answer.latencyMs = 10;
        applyChaos(preset, answer, random);
        EXPECT_GE(answer.latencyMs, 210);
        EXPECT_LE(answer.latencyMs, 810);
        EXPECT_EQ(answer.status, 503);
        EXPECT_FALSE(answer.drop);
    }
}

TEST(RouteKey, UpperCasesMethodAndLowerCasesHost)
{
    EXPECT_EQ(routeKey("get", "API.test", "/v2/users/:id"), "GET api.test/v2/users/:id");
}
