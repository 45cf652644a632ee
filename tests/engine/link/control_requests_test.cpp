// Control requests, route sync, capture import, traffic requests and health polling, checked
// against a recording loopback server standing in for the engine's control API.
#include "engine/engine_client.h"
#include "support/fake_control_server.h"
#include "platform/analytics.h"
#include "platform/preferences.h"
#include "support/test_support.h"
#include "support/temp_preferences.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <atomic>

#include <gtest/gtest.h>

namespace {

const QByteArray HealthBody = R"({"status":"ok","version":"1.0","pid":42,"uptimeSeconds":3.5,"proxyRunning":true,)"
                              R"("proxyPort":8899,"controlPort":1234,"memoryBytes":9007199254740993,"goroutines":7,"routeCount":2})";

const QByteArray TwoRoutes = R"([{"id":"a","method":"GET","host":"api.test","path":"/a","status":200,"latencyMs":0,)"
                             R"("active":true,"body":"","passThrough":false,"group":"beta"},)"
                             R"({"id":"b","method":"post","host":"api.test","path":"/b","status":201,"latencyMs":5,)"
                             R"("active":false,"body":"{}","passThrough":false}])";

class ControlRequests : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Cases about the debounce's length set the production one back.
        m_client.setPushDebounceMs(10);
        m_server.setResponder([this](const RecordedRequest &request) {
            if (auto special = m_special ? m_special(request) : std::optional<CannedReply>())
                return *special;
            CannedReply reply;
            if (request.path() == "/events" || request.path() == "/health")
                reply.hold = true;
            else if (request.method == "GET" && request.path() == "/routes")
                reply.body = TwoRoutes;
            return reply;
        });
    }

    void connectClient()
    {
        m_client.ingestOutput("KESTRION_CONTROL_PORT=" + QByteArray::number(m_server.port()) + "\n");
        ASSERT_TRUE(testsupport::waitFor([&] { return m_client.endpoints().size() == 2; }));
    }

    int count(const QByteArray &method, const QByteArray &path) const
    {
        return int(m_server.matching(method, path).size());
    }

    static void settle(int ms) { testsupport::waitFor([] { return false; }, ms); }

    // Before the client exists, which reads the proxy port from the preferences.
    testsupport::TemporaryPreferencesDir m_dir;
    FakeControlServer m_server;
    std::function<std::optional<CannedReply>(const RecordedRequest &)> m_special;
    EngineClient m_client;
};

CannedReply reply(int status, const QByteArray &body = {}, int delayMs = 0)
{
    CannedReply canned;
    canned.status = status;
    canned.body = body;
    canned.delayMs = delayMs;
    return canned;
}

} // namespace

TEST_F(ControlRequests, WithoutAControlPortNothingIsSentAndTheLogSaysSo)
{
    m_client.setProxyRunning(true);
    m_client.startProxy();
    EXPECT_FALSE(m_client.proxyRunning());
    EXPECT_EQ(m_client.log(), QStringList{QStringLiteral("control control/start: engine not connected")});
    m_client.replay(QStringLiteral("t1"));
    m_client.loadRoutes();
    settle(100);
    EXPECT_TRUE(m_server.requests().isEmpty());
    EXPECT_EQ(m_client.log().size(), 1);
}

TEST_F(ControlRequests, StartSucceedsOn204AndStopLogsA404)
{
    m_special = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/control/start")
            return reply(204);
        if (request.path() == "/control/stop")
            return reply(404, "nope");
        return std::nullopt;
    };
    connectClient();
    m_client.setStatus(EngineStatus::error(QStringLiteral("engine not responding")));
    m_client.startProxy();
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.proxyRunning(); }));
    EXPECT_EQ(m_client.status(), EngineStatus::healthy());
    const RecordedRequest start = m_server.matching("POST", "/control/start").value(0);
    EXPECT_TRUE(start.body.isEmpty());
    EXPECT_FALSE(start.headers.contains("content-type"));

    m_client.stopProxy();
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client.proxyRunning(); }));
    EXPECT_EQ(m_client.log().last(), QStringLiteral("control control/stop: HTTP 404"));
}

TEST_F(ControlRequests, RefusedStartLogsTheEnginesReason)
{
    QList<CannedReply> answers{
        reply(409, R"({"error":"proxy port 9999 is already in use or not available"})"),
        reply(500, "<html>oops</html>"),
        reply(503, R"({"error":" "})"),
        reply(409, "{\"error\":\"port taken:\\n  try another\"}"),
    };
    m_special = [&](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/control/start")
            return answers.takeFirst();
        if (request.path() == "/control/stop")
            return reply(409, R"({"error":"not running"})");
        return std::nullopt;
    };
    connectClient();
    const QStringList expected{
        QStringLiteral("proxy start failed: proxy port 9999 is already in use or not available"),
        QStringLiteral("proxy start failed: HTTP 500"), // no reason in the answer
        QStringLiteral("proxy start failed: HTTP 503"),
        QStringLiteral("proxy start failed: port taken: try another"), // kept on one line
    };
    const QStringList statuses{QStringLiteral("409"), QStringLiteral("500"), QStringLiteral("503"), QStringLiteral("409")};
    const EngineStatus status = m_client.status();
    for (int i = 0; i < expected.size(); ++i) {
        m_client.setProxyRunning(true);
        const qsizetype before = m_client.log().size();
        m_client.startProxy();
        ASSERT_TRUE(testsupport::waitFor([&] { return m_client.log().lastIndexOf(expected[i]) >= before; }));
        EXPECT_FALSE(m_client.proxyRunning());
        const qsizetype at = m_client.log().lastIndexOf(expected[i]);
        EXPECT_EQ(m_client.log().value(at - 1), QStringLiteral("control control/start: HTTP ") + statuses[i]);
        EXPECT_EQ(m_client.log().filter(QStringLiteral("proxy start failed")).size(), i + 1);
    }
    EXPECT_EQ(m_client.status(), status);

    // Only a start says so: a refused stop keeps its one line.
    m_client.stopProxy();
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.log().contains(QStringLiteral("control control/stop: HTTP 409")); }));
    settle(100);
    EXPECT_EQ(m_client.log().filter(QStringLiteral("proxy start failed")).size(), expected.size());
}

TEST_F(ControlRequests, RestartStartsOnlyAfterTheStopWasAnswered)
{
    // A stop slower than the old blind 400 ms delay.
    m_special = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/control/stop")
            return reply(200, {}, 500);
        if (request.path() == "/control/start")
            return reply(200);
        return std::nullopt;
    };
    connectClient();
    m_client.restartProxy();
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/control/start") == 1; }, 3000));
    const RecordedRequest stop = m_server.matching("POST", "/control/stop").value(0);
    const RecordedRequest start = m_server.matching("POST", "/control/start").value(0);
    ASSERT_GE(stop.answeredMs, 0);
    EXPECT_GE(start.receivedMs, stop.answeredMs);
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.proxyRunning(); }));
}

TEST_F(ControlRequests, ProxyStartedUsageEventIsSentOncePerRun)
{
    Preferences::instance().setValue(PrefKey::AnalyticsOptIn, true);
    Analytics analytics(QStringLiteral("http://127.0.0.1:%1/collect").arg(m_server.port()));
    m_client.setAnalytics(&analytics);
    m_special = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/control/start")
            return reply(200);
        return std::nullopt;
    };
    connectClient();
    m_client.startProxy();
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/collect") == 1; }));
    m_client.startProxy();
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/control/start") == 2; }));
    settle(200);
    EXPECT_EQ(count("POST", "/collect"), 1);
    EXPECT_EQ(m_server.matching("POST", "/collect").value(0).body, QByteArray(R"({"event":"proxy_started"})"));
}

TEST_F(ControlRequests, LoadedRoutesKeepTheEngineOrder)
{
    connectClient();
    const QList<Endpoint> &routes = m_client.endpoints();
    EXPECT_EQ(routes[0].id, "a");
    EXPECT_EQ(routes[0].group, "beta");
    EXPECT_EQ(routes[1].method, HTTPMethod::POST);
    EXPECT_FALSE(routes[1].active);
}

TEST_F(ControlRequests, EditsWithinTheDebounceSendOnePostWithTheLastValue)
{
    EXPECT_EQ(EngineClient().pushDebounceMs(), EngineClient::PushDebounceMs);
    EXPECT_EQ(EngineClient::PushDebounceMs, 150);
    m_client.setPushDebounceMs(EngineClient::PushDebounceMs);
    connectClient();
    Endpoint edited = m_client.endpoints().first();
    edited.status = 201;
    m_client.updateEndpoint(edited);
    // The event loop runs for a third of the debounce, then the second edit comes: nothing sent yet and
    // the push still waiting is what puts it inside the debounce.
    settle(EngineClient::PushDebounceMs / 3);
    ASSERT_EQ(count("POST", "/routes"), 0);
    ASSERT_TRUE(m_client.routePushPending());
    edited.status = 202;
    m_client.updateEndpoint(edited);
    EXPECT_EQ(m_client.endpoints().first().status, 202);
    EXPECT_TRUE(m_client.routePushPending());

    // Once nothing is pending, no other post can follow.
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client.routePushPending(); }));
    ASSERT_EQ(count("POST", "/routes"), 1);
    const RecordedRequest post = m_server.matching("POST", "/routes").first();
    EXPECT_EQ(post.headers.value("content-type"), QByteArray("application/json"));
    EXPECT_EQ(post.body, QByteArray(R"([{"id":"a","method":"GET","host":"api.test","path":"/a","status":202,)"
                                    R"("latencyMs":0,"active":true,"body":"","passThrough":false,"group":"beta"},)"
                                    R"({"id":"b","method":"POST","host":"api.test","path":"/b","status":201,)"
                                    R"("latencyMs":5,"active":false,"body":"{}","passThrough":false}])"));
    EXPECT_FALSE(m_client.routePushPending());
}

TEST_F(ControlRequests, EditOfAnUnknownRouteChangesNothingAndSendsNothing)
{
    connectClient();
    Endpoint stranger = m_client.endpoints().first();
    stranger.id = "zz";
    const QList<Endpoint> before = m_client.endpoints();
    m_client.updateEndpoint(stranger);
    m_client.toggleEndpoint(QStringLiteral("zz"));
    m_client.setGroup(QStringLiteral("zz"), QStringLiteral("g"));
    m_client.renameGroup(QStringLiteral("nobody"), QStringLiteral("x"));
    EXPECT_FALSE(m_client.duplicateEndpoint(QStringLiteral("zz")).has_value());
    EXPECT_EQ(m_client.endpoints(), before);
    EXPECT_FALSE(m_client.routePushPending());
    settle(100); // long past the 10 ms a push made anyway would wait
    EXPECT_EQ(count("POST", "/routes"), 0);
}

TEST_F(ControlRequests, DuplicateInsertsTheCopyAfterItsSource)
{
    connectClient();
    const std::optional<QString> id = m_client.duplicateEndpoint(QStringLiteral("a"));
    ASSERT_TRUE(id.has_value());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^r-[0-9A-F]{8}$")).match(*id).hasMatch());
    ASSERT_EQ(m_client.endpoints().size(), 3);
    Endpoint copy = m_client.endpoints()[1];
    EXPECT_EQ(copy.id, id->toStdString());
    copy.id = "a";
    EXPECT_EQ(copy, m_client.endpoints()[0]);

    m_client.duplicateEndpoint(QStringLiteral("b"));
    EXPECT_EQ(m_client.endpoints().size(), 4);
    EXPECT_EQ(m_client.endpoints()[3].path, "/b"); // copy of the last route goes at the end
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/routes") == 1; }));
}

TEST_F(ControlRequests, GroupNamesAreDistinctAndSortedByCodePoint)
{
    connectClient();
    QList<Endpoint> routes = m_client.endpoints();
    routes.append(routes[0]);
    routes.append(routes[1]);
    routes[0].group = "beta";
    routes[1].group = "Alpha";
    routes[2].group = "";
    routes[3].group = "beta";
    routes[2].id = "c";
    routes[3].id = "d";
    m_client.setEndpoints(routes);
    EXPECT_EQ(m_client.groupNames(), (QStringList{QStringLiteral("Alpha"), QStringLiteral("beta")}));

    m_client.renameGroup(QStringLiteral("beta"), QStringLiteral("Alpha"));
    EXPECT_EQ(m_client.groupNames(), QStringList{QStringLiteral("Alpha")});
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/routes") == 1; }));
}

TEST_F(ControlRequests, ImportReplacesRoutesAfterThePendingPushLanded)
{
    m_special = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/import")
            return reply(200, R"([{"id":"imp","method":"GET","host":"h","path":"/x","status":200,"latencyMs":0,"active":true,"body":"","passThrough":false}])");
        return std::nullopt;
    };
    connectClient();
    m_client.toggleEndpoint(QStringLiteral("a")); // a push waits out its debounce
    const QByteArray capture = R"({"log":{"entries":[]}})";
    m_client.importData(capture, QStringLiteral("session.har"));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.endpoints().size() == 1; }));
    EXPECT_EQ(m_client.endpoints().first().id, "imp");
    EXPECT_EQ(m_client.log().last(), QStringLiteral("imported 1 routes from session.har"));

    const RecordedRequest import = m_server.matching("POST", "/import").first();
    EXPECT_EQ(import.target, QByteArray("/import?format=auto"));
    EXPECT_EQ(import.body, capture);
    EXPECT_EQ(import.headers.value("content-type"), QByteArray("application/json"));
    // The engine merges the capture into its routes: the edit made just before reaches it first.
    ASSERT_EQ(count("POST", "/routes"), 1);
    const RecordedRequest push = m_server.matching("POST", "/routes").first();
    ASSERT_GE(push.answeredMs, 0);
    EXPECT_GE(import.receivedMs, push.answeredMs);
}

TEST_F(ControlRequests, ImportFailuresLogOneLineEach)
{
    int status = 422;
    QByteArray body = "bad capture: no entries";
    m_special = [&](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/import")
            return reply(status, body);
        return std::nullopt;
    };
    connectClient();
    bool done = false;
    m_client.importData("x", QStringLiteral("a.json"), [&] { done = true; });
    ASSERT_TRUE(testsupport::waitFor([&] { return done; }));
    EXPECT_EQ(m_client.log().last(), QStringLiteral("import a.json failed: bad capture: no entries"));
    EXPECT_EQ(m_client.endpoints().size(), 2);

    body = "\xFF\xFE";
    done = false;
    m_client.importData("x", QStringLiteral("b.json"), [&] { done = true; });
    ASSERT_TRUE(testsupport::waitFor([&] { return done; }));
    EXPECT_EQ(m_client.log().last(), QStringLiteral("import b.json failed: unknown error"));

    // A body cut inside a multi-byte sequence is not valid UTF-8 either.
    body = "cut \xC3";
    done = false;
    m_client.importData("x", QStringLiteral("cut.json"), [&] { done = true; });
    ASSERT_TRUE(testsupport::waitFor([&] { return done; }));
    EXPECT_EQ(m_client.log().last(), QStringLiteral("import cut.json failed: unknown error"));

    status = 200;
    body = "[]";
    done = false;
    m_client.importData("x", QStringLiteral("c.json"), [&] { done = true; });
    ASSERT_TRUE(testsupport::waitFor([&] { return done; }));
    EXPECT_TRUE(m_client.endpoints().isEmpty());
    EXPECT_EQ(m_client.log().last(), QStringLiteral("imported 0 routes from c.json"));
}

TEST_F(ControlRequests, UnreadableImportFileIsLoggedAndNotSent)
{
    connectClient();
    m_client.importFile(m_dir.filePath(QStringLiteral("missing.har")));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client.log().isEmpty() && m_client.log().last().startsWith(QStringLiteral("import")); }));
    EXPECT_EQ(m_client.log().last(), QStringLiteral("import: could not read missing.har"));
    EXPECT_EQ(count("POST", "/import"), 0);
}

TEST_F(ControlRequests, PathImportsOverTheBoundAreRefusedAndNotSent)
{
    connectClient();
    // Sparse files: four of these filled in would take 256 MB of a build machine's disk.
    const auto writeFile = [&](const QString &name, qint64 size) {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_TRUE(file.resize(size));
        return path;
    };
    const auto refused = [&](const QString &name, int megabytes = 64) {
        const QString message = QStringLiteral("Couldn't import ") + name + QStringLiteral(" \u2014 it is larger than the ")
                                + QString::number(megabytes) + QStringLiteral(" MB import limit");
        return testsupport::waitFor([&] {
            return m_client.importSummary() == message
                   && m_client.log().last() == QStringLiteral("import: ") + message;
        });
    };
    const qint64 over = EngineClient::MaxImportBytes + 1;
    m_client.importFile(writeFile(QStringLiteral("huge.har"), over));
    EXPECT_TRUE(refused(QStringLiteral("huge.har")));
    m_client.importOpenAPI(writeFile(QStringLiteral("huge.yaml"), over));
    EXPECT_TRUE(refused(QStringLiteral("huge.yaml")));
    // A profile may be as large as a saved project.
    m_client.importProfile(writeFile(QStringLiteral("huge.kestrion"), EngineClient::MaxProfileBytes + 1));
    EXPECT_TRUE(refused(QStringLiteral("huge.kestrion"), 64));

    // A file right at the bound is sent whole, and it is the only import that reached the engine.
    m_client.importFile(writeFile(QStringLiteral("full.har"), EngineClient::MaxImportBytes));
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/import") == 1; }));
    EXPECT_EQ(m_server.matching("POST", "/import").first().body.size(), EngineClient::MaxImportBytes);
    EXPECT_EQ(count("POST", "/import/openapi"), 0);
    EXPECT_EQ(count("POST", "/profile"), 0);
}

TEST_F(ControlRequests, HistoryQueryItemsComeInOrderAndEncoded)
{
    m_special = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/traffic" && request.target.contains("before"))
            return reply(200, "{\"not\":\"an array\"}");
        if (request.path() == "/traffic")
            return reply(200, R"([{"id":"h1","time":"t","method":"GET","host":"h","path":"/p","status":200,"latencyMs":3,"injected":false,"query":"q=1"}])");
        return std::nullopt;
    };
    connectClient();
    std::optional<std::vector<TrafficRecord>> page;
    m_client.fetchHistory({}, {}, 100, &m_client, [&](const std::vector<TrafficRecord> &records) { page = records; });
    ASSERT_TRUE(testsupport::waitFor([&] { return page.has_value(); }));
    ASSERT_EQ(page->size(), 1u);
    EXPECT_EQ(page->front().url(), "http://h/p?q=1");
    EXPECT_EQ(m_server.matching("GET", "/traffic").last().target, QByteArray("/traffic?limit=100"));

    page.reset();
    m_client.fetchHistory(QStringLiteral("c1"), QStringLiteral("a b+c&d%41"), 50, &m_client,
                          [&](const std::vector<TrafficRecord> &records) { page = records; });
    ASSERT_TRUE(testsupport::waitFor([&] { return page.has_value(); }));
    EXPECT_TRUE(page->empty());
    EXPECT_EQ(m_server.matching("GET", "/traffic").last().target,
              QByteArray("/traffic?limit=50&before=c1&filter=a%20b%2Bc%26d%2541"));
}

TEST_F(ControlRequests, ReplayLogsReplayedOnceTheRequestHasFinishedWhateverItsOutcome)
{
    m_special = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/replay/gone")
            return reply(404);
        if (request.path() == "/replay/cut") {
            CannedReply broken = reply(200, "{\"replayed\":true}");
            broken.cutMidBody = true;
            return broken;
        }
        return std::nullopt;
    };
    connectClient();
    m_client.replay(QStringLiteral("gone"));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.log().last() == QStringLiteral("\u2022 replayed gone"); }));
    m_client.replay(QStringLiteral("cut"));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.log().last() == QStringLiteral("\u2022 replayed cut"); }));

    m_client.replay(QStringLiteral("t 1"));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.log().last() == QStringLiteral("\u2022 replayed t 1"); }));
    EXPECT_EQ(m_server.matching("POST", "/replay/t%201").size(), 1);
    EXPECT_EQ(m_client.log().filter(QStringLiteral("replay")).size(), 3);
}

TEST_F(ControlRequests, ThirdMissedHealthCheckSetsTheErrorOnceAndAGoodAnswerClearsIt)
{
    int healthCalls = 0;
    m_special = [&](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() != "/health")
            return std::nullopt;
        ++healthCalls;
        if (healthCalls <= 5)
            return reply(200, "{\"status\":\"ok\"}"); // does not decode: a miss
        return reply(500, HealthBody); // decodes: a good answer whatever the status
    };
    m_client.setHealthTiming(30, 2000);
    QStringList statuses;
    QObject::connect(&m_client, &EngineClient::statusChanged, [&] {
        statuses.append(m_client.status().isError() ? m_client.status().message() : QStringLiteral("other"));
    });
    connectClient();
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.status() == EngineStatus::healthy(); }));
    EXPECT_EQ(statuses.first(), QStringLiteral("engine not responding"));
    EXPECT_EQ(m_client.log().count(QStringLiteral("engine not responding \u2014 3 missed health checks")), 1);
    EXPECT_EQ(m_client.proxyPort(), 8899);
    EXPECT_TRUE(m_client.proxyRunning());
    EXPECT_EQ(m_client.health()->memoryBytes, 9007199254740993);
}

TEST_F(ControlRequests, ShutdownSendsThePendingRoutePushBeforeTheShutdownRequest)
{
    connectClient();
    m_client.toggleEndpoint(QStringLiteral("b"));
    m_client.shutdown();
    EXPECT_EQ(m_client.status(), EngineStatus::stopped());
    EXPECT_FALSE(m_client.controlPort().has_value());
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/control/shutdown") == 1; }));
    ASSERT_EQ(count("POST", "/routes"), 1);
    // Received in that order (both may land within the same millisecond).
    QByteArrayList order;
    for (const RecordedRequest &request : m_server.requests())
        if (request.method == "POST")
            order << request.path();
    EXPECT_LT(order.indexOf("/routes"), order.indexOf("/control/shutdown")) << order.join(' ').toStdString();
    EXPECT_TRUE(m_server.matching("POST", "/routes").first().body.contains(R"("id":"b","method":"POST","host":"api.test","path":"/b","status":201,"latencyMs":5,"active":true)"));
}

namespace {

std::atomic<int> contentTypeWarnings{0};
std::atomic<int> closedReadWarnings{0};
QtMessageHandler previousHandler = nullptr;

// Qt's network code may warn from its own thread.
void countNetworkWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QStringLiteral("content-type missing")))
        ++contentTypeWarnings;
    else if (message.contains(QStringLiteral("device not open")))
        ++closedReadWarnings;
    else if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

TEST_F(ControlRequests, BodilessPostsCarryNoBodyAndNoContentTypeAndRaiseNoWarning)
{
    contentTypeWarnings = 0;
    previousHandler = qInstallMessageHandler(countNetworkWarnings);
    connectClient();
    m_client.startProxy();
    m_client.replay(QStringLiteral("t1"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("id"), QStringLiteral("p1"));
    m_client.sendControl("POST", QStringLiteral("chaos/active"), query, std::nullopt, 4000, &m_client, nullptr);
    const bool allArrived = testsupport::waitFor([&] {
        return count("POST", "/control/start") == 1 && count("POST", "/replay/t1") == 1
               && count("POST", "/chaos/active") == 1;
    });
    settle(100);
    qInstallMessageHandler(previousHandler);
    ASSERT_TRUE(allArrived);

    EXPECT_EQ(contentTypeWarnings, 0);
    for (const QByteArray &path : {QByteArray("/control/start"), QByteArray("/replay/t1"), QByteArray("/chaos/active")}) {
        const RecordedRequest request = m_server.matching("POST", path).first();
        EXPECT_TRUE(request.body.isEmpty()) << path.constData();
        EXPECT_FALSE(request.headers.contains("content-type")) << path.constData();
        EXPECT_EQ(request.headers.value("content-length", "0"), QByteArray("0")) << path.constData();
    }
    EXPECT_EQ(m_server.matching("POST", "/chaos/active").first().target, QByteArray("/chaos/active?id=p1"));
}

TEST_F(ControlRequests, ShutdownDropsAnEnvironmentPush)
{
    // Without an engine the waiting push is simply dropped.
    MockEnvironment environment;
    environment.id = "env-1";
    environment.name = "Local";
    m_client.setEnvironments({environment});
    m_client.pushEnvironments();
    ASSERT_TRUE(m_client.environmentPushPending());
    m_client.shutdown();
    EXPECT_FALSE(m_client.environmentPushPending());

    // With one, the push is sent first; an answer that never comes is not waited for after the shutdown,
    // and before it only as long as the shutdown's wait (a second by default, shortened here).
    EXPECT_EQ(m_client.pendingPushWaitMs(), 1000);
    m_client.setPendingPushWaitMs(100);
    m_special = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/environments" && request.method == "POST") {
            CannedReply held;
            held.hold = true;
            return held;
        }
        return std::nullopt;
    };
    connectClient();
    m_client.pushEnvironments();
    m_client.shutdown();
    EXPECT_EQ(count("POST", "/environments"), 1);
    EXPECT_FALSE(m_client.environmentPushPending());
    settle(100); // long past the 10 ms a surviving push would wait
    EXPECT_EQ(count("POST", "/environments"), 1);
}

TEST_F(ControlRequests, AbortedRequestsEndWithoutWarnings)
{
    closedReadWarnings = 0;
    previousHandler = qInstallMessageHandler(countNetworkWarnings);
    connectClient();
    ASSERT_TRUE(testsupport::waitFor([&] { return count("GET", "/health") == 1 && count("GET", "/events") == 1; }));
    // The health request and the event stream are both still open; shutting down aborts them.
    m_client.shutdown();
    settle(100);
    qInstallMessageHandler(previousHandler);
    EXPECT_EQ(closedReadWarnings, 0);
    EXPECT_EQ(m_client.status(), EngineStatus::stopped());
}
