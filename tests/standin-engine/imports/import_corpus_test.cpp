// Large, realistic captures and API documents imported whole, checked route by route against what the
// generator expects; and files past a project's route limit, which import what fits and count the rest.
#include "imports/capture_import.h"
#include "imports/openapi_import.h"
#include "standin-engine/imports/import_corpus.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace standin;
using standintest::Corpus;
using standintest::ExpectedRoute;

namespace {

void expectRoutes(const std::vector<WireRoute> &routes, std::vector<ExpectedRoute> expected, bool anyOrder = false)
{
    std::vector<ExpectedRoute> got;
    for (const auto &route : routes)
        got.push_back({route.method, route.host, route.path, static_cast<int>(route.status), route.passThrough, route.body});
    if (anyOrder) {
        const auto order = [](const ExpectedRoute &a, const ExpectedRoute &b) {
            return std::tie(a.path, a.method) < std::tie(b.path, b.method);
        };
        std::sort(got.begin(), got.end(), order);
        std::sort(expected.begin(), expected.end(), order);
    }
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(expected[i].method + " " + expected[i].host + expected[i].path);
        EXPECT_EQ(got[i].method, expected[i].method);
        EXPECT_EQ(got[i].host, expected[i].host);
        EXPECT_EQ(got[i].path, expected[i].path);
        EXPECT_EQ(got[i].status, expected[i].status);
        EXPECT_EQ(got[i].passThrough, expected[i].passThrough);
        EXPECT_EQ(got[i].body, expected[i].body);
    }
}

} // namespace

TEST(ImportCorpus, BrowserHarAndPostmanCollectionGiveTheirRoutes)
{
    for (const Corpus &corpus : {standintest::browserHar(6 * 1024 * 1024), standintest::postmanCollection(20, 30)}) {
        std::string error;
        const auto imported = importCapture(corpus.bytes, error);
        ASSERT_TRUE(imported) << error;
        EXPECT_EQ(imported->leftOut, 0u);
        expectRoutes(imported->routes, corpus.routes);
        EXPECT_EQ(imported->passedThrough, static_cast<size_t>(std::count_if(
                                               corpus.routes.begin(), corpus.routes.end(),
                                               [](const ExpectedRoute &route) { return route.passThrough; })));
    }
}

TEST(ImportCorpus, OpenAPIYamlWithSharedComponentsGivesEveryOperation)
{
    const Corpus corpus = standintest::openAPIYaml(3000);
    std::string error;
    const auto imported = importOpenAPI(corpus.bytes, error);
    ASSERT_TRUE(imported) << error;
    EXPECT_EQ(imported->title, "Big Shop API");
    EXPECT_EQ(imported->leftOut, 0u);
    expectRoutes(imported->routes, corpus.routes, true);
}

TEST(ImportLimit, ACapturePastTheRouteLimitKeepsItsFirstRequestsAndCountsTheRest)
{
    std::string error;
    const Corpus har = standintest::manyRequestsHar(7200);
    const auto capture = importCapture(har.bytes, error);
    ASSERT_TRUE(capture) << error;
    EXPECT_EQ(capture->leftOut, 2200u);
    expectRoutes(capture->routes, {har.routes.begin(), har.routes.begin() + kMaxImportedRoutes});
}

TEST(ImportLimit, EntriesAreTakenOneAtATimeWhileBombsStopAtTheBound)
{
    // 1.3 million empty entries would take far more than the parse may hold were they kept.
    std::string entries;
    for (int i = 0; i < 1300000; ++i)
        entries += i ? ",{}" : "{}";
    std::string error;
    const auto empty = importCapture(R"({"log":{"entries":[)" + entries + "]}}", error);
    ASSERT_TRUE(empty) << error;
    EXPECT_TRUE(empty->routes.empty());

    // The same count of scalars in one YAML flow list, and a text of nothing but "[".
    std::string scalars = "--- [";
    for (int i = 0; i < 2000000; ++i)
        scalars += i ? ",a" : "a";
    EXPECT_FALSE(importOpenAPI(scalars + "]", error));
    EXPECT_NE(error.find("document too large (it takes more than 64 MB to hold"), std::string::npos) << error;
    EXPECT_FALSE(importOpenAPI("--- " + std::string(976 * 1024, '['), error));
    EXPECT_NE(error.find("nested too deeply"), std::string::npos) << error;
}
