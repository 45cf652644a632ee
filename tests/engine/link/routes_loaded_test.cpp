// The engine link's "routes loaded" state: set by an answered route load, cleared by loads, switches and bad answers.
#include "ops_test_support.h"

using opstest::route;

namespace {

class RoutesLoaded : public FakeEngineTest
{
protected:
    void SetUp() override
    {
        FakeEngineTest::SetUp();
        m_answer = [this](const RecordedRequest &request) -> std::optional<CannedReply> {
            if (request.method == "GET" && request.path() == "/routes") {
                CannedReply reply = answer(200, routesBody);
                reply.delayMs = 50;
                return reply;
            }
            if (request.path() == "/projects" && request.method == "GET")
                return answer(200, R"({"activeId":"p-1","projects":[{"id":"p-1","name":"A","routeCount":0,"updatedAt":"now"}]})");
            return std::nullopt;
        };
    }

    QByteArray routesBody = R"([{"id":"r-1","method":"GET","host":"api.test","path":"/one","status":200,)"
                            R"("latencyMs":0,"active":true,"body":"{}","passThrough":false}])";
};

} // namespace

TEST_F(RoutesLoaded, FollowsTheRouteLoadsOfTheActiveProject)
{
    EXPECT_FALSE(m_client.routesLoaded());
    m_client.ingestOutput("KESTRION_CONTROL_PORT=" + QByteArray::number(m_server.port()) + "\n");
    // Ready, but the routes have not answered yet.
    EXPECT_TRUE(m_client.engineReady());
    EXPECT_FALSE(m_client.routesLoaded());
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.routesLoaded(); }));
    EXPECT_EQ(opstest::endpointIds(m_client.endpoints()), QStringList{"r-1"});

    // A reload that answers with something that is not a route list leaves the list unknown.
    routesBody = "<html>busy</html>";
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) {
        m_client.loadRoutes(std::move(done));
        EXPECT_FALSE(m_client.routesLoaded());
    }));
    EXPECT_FALSE(m_client.routesLoaded());

    // A project switch clears it until the new project's routes are in.
    routesBody = "[]";
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) { m_client.loadRoutes(std::move(done)); }));
    ASSERT_TRUE(m_client.routesLoaded());
    m_client.setEndpoints({route("r-old", "/old")});
    m_client.activateProject(QStringLiteral("p-2"));
    EXPECT_FALSE(m_client.routesLoaded());
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client.isSwitchingProject(); }, 8000));
    EXPECT_TRUE(m_client.routesLoaded());
    EXPECT_TRUE(m_client.endpoints().isEmpty());
}

// Against the real engine: the state ends with the engine.
class RoutesLoadedEngine : public EngineOpsTest
{
};

TEST_F(RoutesLoadedEngine, ClearsWhenTheEngineExits)
{
    ASSERT_TRUE(bootLoaded());
    EXPECT_TRUE(client().routesLoaded());
    stopEngine();
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().engineReady(); }));
    EXPECT_FALSE(client().routesLoaded());
}
