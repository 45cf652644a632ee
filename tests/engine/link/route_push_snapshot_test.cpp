// The debounced route push sends the list as it was when the push was scheduled, encoded once.
#include "ops_test_support.h"

#include <nlohmann/json.hpp>

using RoutePushSnapshot = FakeEngineTest;

namespace {

QStringList postedIds(const RecordedRequest &request)
{
    QStringList ids;
    for (const auto &route : nlohmann::json::parse(request.body.toStdString()))
        ids.append(QString::fromStdString(route.value("id", "")));
    return ids;
}

} // namespace

TEST_F(RoutePushSnapshot, ListReplacedWhileThePushWaitsIsNotWhatIsSent)
{
    connectClient();
    m_client.setEndpoints({opstest::route("r-1", "/a"), opstest::route("r-2", "/b")});
    m_client.pushRoutes();
    // A load lands during the debounce: the push still carries the list it was made for.
    m_client.setEndpoints({opstest::route("r-9", "/z")});
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/routes") == 1; }));
    // Once nothing is pending, no other post can follow.
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client.routePushPending(); }));
    EXPECT_EQ(count("POST", "/routes"), 1);
    EXPECT_EQ(postedIds(m_server.matching("POST", "/routes").first()), (QStringList{"r-1", "r-2"}));
    EXPECT_EQ(opstest::endpointIds(m_client.endpoints()), QStringList{"r-9"});
}

TEST_F(RoutePushSnapshot, BurstOfEditsSendsTheLastListOnce)
{
    connectClient();
    m_client.setEndpoints({opstest::route("r-1", "/a"), opstest::route("r-2", "/b")});
    for (int i = 0; i < 20; ++i) {
        Endpoint edited = m_client.endpoints()[1];
        edited.path = "/b" + std::to_string(i);
        m_client.updateEndpoint(edited);
    }
    m_client.toggleEndpoint(QStringLiteral("r-1"));
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/routes") == 1; }));
    // Once nothing is pending, no other post can follow.
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client.routePushPending(); }));
    ASSERT_EQ(count("POST", "/routes"), 1);
    const auto body = nlohmann::json::parse(m_server.matching("POST", "/routes").first().body.toStdString());
    EXPECT_EQ(body[1]["path"], "/b19");
    EXPECT_EQ(body[0]["active"], false);
}

// A list with long bodies is encoded on a worker while the debounce runs; what goes is still the list as it
// is when the debounce ends, its long body whole.
TEST_F(RoutePushSnapshot, LongListEncodedAheadSendsTheLastEditWhole)
{
    connectClient();
    const std::string longBody(1 << 20, 'x');
    m_client.setEndpoints({opstest::route("r-1", "/a", longBody), opstest::route("r-2", "/b")});
    Endpoint edited = m_client.endpoints()[1];
    edited.path = "/b1";
    m_client.updateEndpoint(edited);
    // The worker's encoding of that edit may arrive before the next one: it is then out of date.
    QCoreApplication::processEvents();
    edited.path = "/b2";
    m_client.updateEndpoint(edited);
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/routes") == 1; }));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client.routePushPending(); }));
    ASSERT_EQ(count("POST", "/routes"), 1);
    const auto body = nlohmann::json::parse(m_server.matching("POST", "/routes").first().body.toStdString());
    EXPECT_EQ(body[1]["path"], "/b2");
    EXPECT_EQ(body[0]["body"], longBody);
}

// The engine took a list whose route has steps; one edit later the quit names only the route it did not take
// (a list read back from the body it took would have given the steps fresh ids, and named that route too).
TEST_F(RoutePushSnapshot, TheQuitNamesOnlyTheRoutesTheEngineHasNotTaken)
{
    connectClient();
    Endpoint stepped = opstest::route("r-1", "/a");
    stepped.sequence = {MockStep{"s-1", 200, "first", 0, ErrorOverride::ok, 1}};
    m_client.replaceEndpoints({stepped, opstest::route("r-2", "/b")});
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/routes") == 1 && !m_client.routePushPending(); }));

    m_client.setPushDebounceMs(60000);
    Endpoint edited = m_client.endpoints()[1];
    edited.body = "changed";
    m_client.updateEndpoint(edited);
    EXPECT_EQ(m_client.unsentRouteIds(), QStringList{"r-2"});
}
