// The engine link's "routes loaded" state: set by an answered route load, cleared by loads, switches and bad answers.
#include "ops_test_support.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QThread>

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

// A long route list is read on a worker, so the window keeps answering while it is: it is shown only after the
// event loop has turned, on the window's thread, and a short answer that came after it is still shown after it.
TEST_F(RoutesLoaded, ALongListIsReadOffTheWindowsThreadAndAnswersKeepTheirOrder)
{
    connectClient();
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.routesLoaded(); }));
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.method == "GET" && request.path() == "/routes")
            return CannedReply::held();
        return std::nullopt;
    };
    QByteArray longList = "[";
    for (int i = 0; i < 5000; ++i)
        longList += (i ? "," : "") + routesBody.mid(1, routesBody.size() - 2).replace("r-1", "r-long-" + QByteArray::number(i))
                    .replace(R"("body":"{}")", R"("body":")" + QByteArray(1000, 'x') + '"');
    longList += "]";
    ASSERT_GE(longList.size(), RouteList::OffThreadDecodeBytes);

    // What the list shows at the first turn of the event loop after each answer arrived.
    QList<qsizetype> shownAtNextTurn;
    QObject::connect(m_client.network(), &QNetworkAccessManager::finished, &m_client, [&](QNetworkReply *reply) {
        if (reply->url().path() == QStringLiteral("/routes"))
            QMetaObject::invokeMethod(&m_client, [&] { shownAtNextTurn.append(m_client.endpoints().size()); },
                                      Qt::QueuedConnection);
    });
    QList<bool> onWindowThread;
    QObject::connect(&m_client, &EngineClient::endpointsChanged, &m_client,
                     [&] { onWindowThread.append(QThread::currentThread() == m_client.thread()); });

    m_client.loadRoutes();
    m_client.loadRoutes();
    ASSERT_TRUE(testsupport::waitFor([&] { return count("GET", "/routes") == 3; }));
    qsizetype first = m_server.lastIndexOf("GET", "/routes") - 1;
    while (m_server.requests()[first].path() != "/routes")
        --first;
    ASSERT_TRUE(m_server.release(first, answer(200, longList)));
    ASSERT_TRUE(testsupport::waitFor([&] { return shownAtNextTurn.size() == 1; }, 20000));
    EXPECT_EQ(shownAtNextTurn.first(), 1);
    ASSERT_TRUE(m_server.release(m_server.lastIndexOf("GET", "/routes"), answer(200, "[]")));
    ASSERT_TRUE(testsupport::waitFor([&] { return onWindowThread.size() == 2; }, 20000));
    EXPECT_EQ(onWindowThread, (QList<bool>{true, true}));
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
