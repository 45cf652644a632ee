// The stand-in engine as a real process: handshake, health, lifetime, control conventions and bad input.
#include "standin-engine/engine_process.h"

#include "control/event_hub.h"
#include "control_api.h"

#include "engine/records/engine_records.h"

#include "support/test_support.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sys/socket.h>

using standintest::EngineProcess;
using standintest::EventReader;

namespace {

const char *kRouteList = R"([{"id":"r-1","method":"GET","host":"api.test","path":"/v2/users/:id","status":200,)"
                         R"("latencyMs":120,"active":true,"body":"{\"id\":\"usr_01\"}","passThrough":false}])";

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kUnderSanitizer = true;
#else
constexpr bool kUnderSanitizer = false;
#endif

} // namespace

TEST(EngineHandshake, PrintsPortLineThenAnswersHealth)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), {"--autostart"});
    ASSERT_TRUE(engine.start());
    ASSERT_GT(engine.controlPort(), 0);
    const QByteArray line = "KESTRION_CONTROL_PORT=" + QByteArray::number(engine.controlPort()) + "\n";
    EXPECT_TRUE(engine.output().startsWith(line) || engine.output().contains("\n" + line)) << engine.output().toStdString();

    const auto reply = engine.client()->Get("/health");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    const auto health = decodeRecord<EngineHealth>(reply->body);
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, "ok");
    EXPECT_TRUE(health->proxyRunning);
    EXPECT_GT(health->proxyPort, 0);
    EXPECT_EQ(health->controlPort, engine.controlPort());
    EXPECT_EQ(health->pid, engine.process().processId());
    EXPECT_GT(health->memoryBytes, 0);
}

TEST(EngineLifetime, ExitsWhenStdinCloses)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path());
    ASSERT_TRUE(engine.start());
    engine.closeStdin();
    ASSERT_TRUE(engine.waitForExit(3000));
    EXPECT_EQ(engine.exitCode(), 0);
}

TEST(EngineLifetime, ExitsAfterShutdownRequestAndOnTerminate)
{
    QTemporaryDir dir;
    EngineProcess first(dir.path());
    ASSERT_TRUE(first.start());
    const auto reply = first.client()->Post("/control/shutdown");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_TRUE(first.waitForExit(3000));

    EngineProcess second(dir.path());
    ASSERT_TRUE(second.start());
    second.process().terminate(); // SIGTERM
    EXPECT_TRUE(second.waitForExit(3000));
    EXPECT_EQ(second.process().exitStatus(), QProcess::NormalExit);
}

TEST(ControlConventions, RefusesForeignHostHeader)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path());
    ASSERT_TRUE(engine.start());
    auto client = engine.client();

    const auto rebound = client->Get("/routes", {{"Host", "evil.example:" + std::to_string(engine.controlPort())}});
    ASSERT_TRUE(rebound);
    EXPECT_EQ(rebound->status, 403);
    EXPECT_TRUE(decodeRecord<ErrorReply>(rebound->body));

    const auto otherPort = client->Get("/routes", {{"Host", "127.0.0.1:1"}});
    ASSERT_TRUE(otherPort);
    EXPECT_EQ(otherPort->status, 403);

    const auto local = client->Get("/routes", {{"Host", "localhost:" + std::to_string(engine.controlPort())}});
    ASSERT_TRUE(local);
    EXPECT_EQ(local->status, 200);
}

TEST(ControlConventions, BadInputGetsJsonErrorAndEngineStaysUp)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path());
    ASSERT_TRUE(engine.start());
    auto client = engine.client();

    const auto expectError = [](const standintest::Result &reply, int status) {
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, status);
        const auto error = decodeRecord<ErrorReply>(reply->body);
        ASSERT_TRUE(error) << reply->body;
        EXPECT_FALSE(error->error.empty());
    };
    expectError(client->Post("/routes", "{not json", "application/json"), 400);
    // "status" as a string is the wrong record form: the whole list is refused.
    expectError(client->Post("/routes",
                             R"([{"id":"1","method":"GET","host":"h","path":"/","status":"200","latencyMs":0,)"
                             R"("active":true,"body":"","passThrough":false}])",
                             "application/json"),
                400);
    expectError(client->Post("/routes", std::string(100000, '[') + std::string(100000, ']'), "application/json"), 400);
    // The saved lists take bodies up to the bound of the saved state, and no further.
    expectError(client->Post("/environments", std::string(64 * 1024 * 1024 + 1, ' '), "application/json"), 413);
    expectError(client->Get("/no/such/path"), 404);
    expectError(client->Get("/traffic?limit=ten"), 400);

    // Nothing was stored by the refused requests, and the engine still answers.
    const auto routes = client->Get("/routes");
    ASSERT_TRUE(routes);
    EXPECT_EQ(routes->body, "[]");
    EXPECT_TRUE(client->Get("/health"));
}

TEST(RouteStore, RoutesAreSavedUnderDataDirAndSurviveRestart)
{
    QTemporaryDir dir;
    {
        EngineProcess engine(dir.path());
        ASSERT_TRUE(engine.start());
        const auto posted = engine.client()->Post("/routes", kRouteList, "application/json");
        ASSERT_TRUE(posted);
        EXPECT_EQ(posted->status, 200);
    }
    EngineProcess again(dir.path());
    ASSERT_TRUE(again.start());
    const auto routes = again.client()->Get("/routes");
    ASSERT_TRUE(routes);
    const auto decoded = decodeRecord<std::vector<WireRoute>>(routes->body);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), 1u);
    EXPECT_EQ(decoded->front().path, "/v2/users/:id");
    EXPECT_EQ(decoded->front().latencyMs, 120);
}

TEST(EventStream, SendsHelloThenProxyStartStopAndRequests)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path());
    ASSERT_TRUE(engine.start());
    auto client = engine.client();
    ASSERT_TRUE(client->Post("/routes", kRouteList, "application/json"));

    EventReader events(engine);
    ASSERT_TRUE(events.waitForPayload("\"hello\""));
    ASSERT_TRUE(client->Post("/control/start"));
    ASSERT_TRUE(events.waitForPayload("\"proxy_started\""));

    const int proxyPort = engine.proxyPort();
    const auto mocked = standintest::proxyRequest(proxyPort, "GET", "http://api.test/v2/users/7");
    ASSERT_TRUE(mocked);
    EXPECT_EQ(mocked->status, 200);
    ASSERT_TRUE(events.waitForPayload("/v2/users/7"));
    ASSERT_TRUE(client->Post("/control/stop"));
    ASSERT_TRUE(events.waitForPayload("\"proxy_stopped\""));

    std::vector<EngineEvent> decoded;
    for (const auto &payload : events.payloads()) {
        const auto event = decodeRecord<EngineEvent>(payload);
        ASSERT_TRUE(event) << payload;
        decoded.push_back(*event);
    }
    ASSERT_GE(decoded.size(), 4u);
    EXPECT_EQ(decoded[0].type, "hello");
    EXPECT_TRUE(decoded[0].health);
    EXPECT_EQ(decoded[1].type, "proxy_started");
    ASSERT_TRUE(decoded[1].health);
    EXPECT_TRUE(decoded[1].health->proxyRunning);
    EXPECT_EQ(decoded[2].type, "request");
    ASSERT_TRUE(decoded[2].request);
    EXPECT_TRUE(decoded[2].request->injected);
    EXPECT_EQ(decoded[2].request->host, "api.test");
    EXPECT_EQ(decoded[2].request->status, 200);
    EXPECT_GE(decoded[2].request->latencyMs, 120);
    EXPECT_EQ(decoded.back().type, "proxy_stopped");
    EXPECT_FALSE(decoded.back().health->proxyRunning);
}

TEST(ControlConventions, HeldStreamsAndKeepAliveConnectionsDontStarveControl)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path());
    ASSERT_TRUE(engine.start());
    std::vector<std::unique_ptr<EventReader>> streams;
    for (int i = 0; i < 4; ++i)
        streams.push_back(std::make_unique<EventReader>(engine));
    std::vector<std::unique_ptr<standintest::HttpClient>> keptAlive;
    for (int i = 0; i < 8; ++i) {
        keptAlive.push_back(engine.client());
        keptAlive.back()->set_keep_alive(true);
        ASSERT_TRUE(keptAlive.back()->Get("/health"));
    }
    for (const auto &stream : streams)
        ASSERT_TRUE(stream->waitForPayload("\"hello\""));
    const auto reply = engine.client()->Get("/routes");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
}

TEST(EventStream, ReadersThatNeverReadAreCutOffAndTheirCapIsAnswered503)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), {"--autostart"});
    engine.setEnvironment(standin::EventHub::kTestQueueVariable, QString::number(1024 * 1024));
    if (!kUnderSanitizer) // their shadow memory does not fit under a data limit, and inflates the figures
        engine.setDataLimit(1536LL * 1024 * 1024);
    ASSERT_TRUE(engine.start());
    const std::string eventsRequest = "GET /events HTTP/1.1\r\n" + engine.controlFields() + "\r\n\r\n";
    std::vector<std::unique_ptr<standintest::RawSocket>> stalled;
    for (int i = 0; i < 20; ++i) {
        auto socket = std::make_unique<standintest::RawSocket>();
        ASSERT_TRUE(socket->connect(engine.controlPort()));
        const int small = 32 * 1024; // so that the engine, not the kernel, holds what is unread
        ::setsockopt(socket->fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        ASSERT_TRUE(socket->send(eventsRequest));
        stalled.push_back(std::move(socket));
    }
    EventReader reader(engine);
    ASSERT_TRUE(reader.waitForPayload("\"hello\""));
    // A mock answers every request below: an unmatched one would be forwarded, and wait on a name lookup.
    const char *anyPath = R"([{"id":"r-1","method":"GET","host":"api.test","path":"/:p","status":200,)"
                          R"("latencyMs":0,"active":true,"body":"","passThrough":false}])";
    ASSERT_EQ(engine.client()->Post("/routes", anyPath, "application/json")->status, 200);

    // About 16 MB of events for each stalled reader: three times what the kernel's buffers and the
    // engine's queue (shrunk to 1 MB, still far more than a reader that reads falls behind) hold.
    const std::string longPath = "/" + std::string(56 * 1024, 'p');
    const int proxyPort = engine.proxyPort();
    // Now and then the sender waits for the reader that reads, which keeps it well inside its queue however
    // slowly its thread is scheduled, while the stalled readers fall further behind.
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(standintest::proxyRequest(proxyPort, "GET", "http://api.test" + longPath + std::to_string(i)));
        if (i % 8 == 7) {
            ASSERT_TRUE(reader.waitForPayload(longPath + std::to_string(i), 15000)) << i;
        }
    }
    ASSERT_TRUE(reader.waitForPayload(longPath + "299", 15000)); // the reader that reads misses nothing

    const auto health = decodeRecord<EngineHealth>(engine.client()->Get("/health")->body);
    ASSERT_TRUE(health);
    if (!kUnderSanitizer) {
        EXPECT_LT(health->memoryBytes, 400LL * 1024 * 1024);
    }
    for (auto &socket : stalled) {
        std::string unread;
        EXPECT_TRUE(socket->readToEnd(unread, std::chrono::seconds(10))) << "a stalled reader was left open";
    }

    // The cap: the one reader above plus as many more as fit, then a clear refusal.
    std::vector<std::unique_ptr<EventReader>> readers;
    for (size_t i = 1; i < 64; ++i)
        readers.push_back(std::make_unique<EventReader>(engine));
    for (const auto &more : readers)
        ASSERT_TRUE(more->waitForPayload("\"hello\""));
    const auto refused = engine.client()->Get("/events");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 503);
    EXPECT_NE(refused->body.find("too many event-stream readers"), std::string::npos) << refused->body;
    readers.pop_back();
    EXPECT_EQ(engine.client()->Get("/health")->status, 200);
}

TEST(ProxyPort, PortInUseFailsCleanlyWithoutCrash)
{
    QTemporaryDir dir;
    boost::asio::io_context context;
    boost::asio::ip::tcp::acceptor squatter(context, {boost::asio::ip::make_address("127.0.0.1"), 0});
    const int taken = squatter.local_endpoint().port();
    ASSERT_GT(taken, 0);

    EngineProcess engine(dir.path(), {"--proxy-port", QString::number(taken), "--autostart"});
    ASSERT_TRUE(engine.start());
    auto client = engine.client();
    const auto health = decodeRecord<EngineHealth>(client->Get("/health")->body);
    ASSERT_TRUE(health);
    EXPECT_FALSE(health->proxyRunning);

    const auto start = client->Post("/control/start");
    ASSERT_TRUE(start);
    EXPECT_EQ(start->status, 409);
    EXPECT_TRUE(decodeRecord<ErrorReply>(start->body));
    EXPECT_TRUE(testsupport::waitFor([&] { return engine.output().contains("proxy failed to start"); }, 2000));
    EXPECT_EQ(engine.process().state(), QProcess::Running);
}

TEST(ControlConventions, WebPagesCantDriveTheEngine)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path());
    ASSERT_TRUE(engine.start());
    auto client = engine.client();
    const auto before = client->Get("/projects");
    ASSERT_TRUE(before);

    // What a page's fetch or form can send without asking first: each is refused and changes nothing.
    const std::string project = R"({"name":"From a web page"})";
    const auto fromPage = client->Post("/projects", {{"Origin", "http://evil.example"}}, project, "text/plain");
    ASSERT_TRUE(fromPage);
    EXPECT_EQ(fromPage->status, 403);
    EXPECT_TRUE(decodeRecord<ErrorReply>(fromPage->body)) << fromPage->body;
    EXPECT_EQ(client->Post("/projects", {{"Origin", "null"}}, project, "application/json")->status, 403);
    EXPECT_EQ(client->Get("/routes", {{"Origin", "http://127.0.0.1:" + std::to_string(engine.controlPort())}})->status,
              403);
    for (const std::string type : {"text/plain;charset=UTF-8", "application/x-www-form-urlencoded",
                                   "multipart/form-data; boundary=x", "TEXT/PLAIN"}) {
        const auto refused = client->Post("/projects", project, type);
        ASSERT_TRUE(refused) << type;
        EXPECT_EQ(refused->status, 415) << type;
    }
    EXPECT_EQ(client->Post("/routes", {{"Origin", "http://evil.example"}}, "[]", "text/plain")->status, 403);
    EXPECT_EQ(client->Get("/projects")->body, before->body);
    EXPECT_EQ(client->Get("/routes")->body, "[]");

    // The app's own requests: JSON, raw bytes, or no body at all.
    EXPECT_EQ(client->Post("/projects", project, "application/json; charset=utf-8")->status, 201);
    EXPECT_EQ(client->Post("/import/openapi", "openapi: 3.0.0\ninfo: {title: T}\npaths: {/a: {get: {responses: {'200': {description: ok}}}}}\n",
                           "application/octet-stream")->status / 100, 2);
    EXPECT_EQ(client->Post("/control/start")->status, 200);
}

TEST(ControlConventions, BrowserRequestRefusalRules)
{
    EXPECT_FALSE(standin::browserRequestRefusal(false, ""));
    EXPECT_FALSE(standin::browserRequestRefusal(false, "application/json"));
    EXPECT_FALSE(standin::browserRequestRefusal(false, "application/octet-stream"));
    EXPECT_FALSE(standin::browserRequestRefusal(false, "text/plainish"));
    EXPECT_TRUE(standin::browserRequestRefusal(true, "application/json"));
    EXPECT_TRUE(standin::browserRequestRefusal(true, ""));
    EXPECT_TRUE(standin::browserRequestRefusal(false, " Text/Plain ; charset=utf-8"));
    EXPECT_TRUE(standin::browserRequestRefusal(false, "multipart/form-data"));
    EXPECT_TRUE(standin::browserRequestRefusal(false, "application/x-www-form-urlencoded"));
}
