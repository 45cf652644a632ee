// Both ports against hostile and careless clients: held connections, slow and oversized requests,
// smuggling attempts, streamed and redirected pass-through, and loops back into the engine.
#include "net/connection_set.h"
#include "standin-engine/engine_process.h"
#include "standin-engine/test_upstream.h"

#include "support/test_support.h"

#include "engine/records/engine_records.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <future>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using standintest::EngineProcess;
using standintest::EventReader;
using standintest::HttpClient;
using standintest::RawSocket;
using standintest::TestUpstream;
using standintest::bodyOf;
using standintest::mockRoute;
using standintest::proxyRequest;
using standintest::statusOf;

namespace {

constexpr auto kPatience = std::chrono::seconds(10);

// Nothing has arrived on the socket yet (checked without waiting).
bool stillWaiting(const RawSocket &socket)
{
    pollfd wanted {socket.fd(), POLLIN, 0};
    return ::poll(&wanted, 1, 0) == 0;
}

class Transport : public standintest::EngineTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(startEngine());
        setRoutes({mockRoute("r-fast", "GET", "/fast", 200, R"({"fast":true})"),
                   mockRoute("r-slow", "GET", "/slow", 200, R"({"slow":true})", 20000),
                   mockRoute("r-make", "POST", "/make", 201, R"({"made":true})")});
    }

    std::string controlFields() const { return m_engine->controlFields(); }
};

} // namespace

TEST_F(Transport, RouteLatencyHoldsNoThreadSoOtherMocksFlow)
{
    // 64 requests wait on a long latency; a plain mock still comes back while every one of them waits.
    std::vector<std::unique_ptr<RawSocket>> waiting;
    for (int i = 0; i < 64; ++i) {
        waiting.push_back(std::make_unique<RawSocket>());
        ASSERT_TRUE(waiting.back()->connect(m_proxyPort));
        ASSERT_TRUE(waiting.back()->send("GET http://api.test/slow HTTP/1.1\r\nHost: api.test\r\n\r\n"));
    }
    HttpClient keptAlive("127.0.0.1", m_proxyPort);
    keptAlive.set_keep_alive(true);
    for (int i = 0; i < 3; ++i) {
        const auto fast = keptAlive.Get("http://api.test/fast");
        ASSERT_TRUE(fast);
        EXPECT_EQ(fast->body, R"({"fast":true})");
    }
    const auto health = m_engine->client()->Get("/health");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, 200);
    for (const auto &socket : waiting)
        EXPECT_TRUE(stillWaiting(*socket));
}

TEST_F(Transport, AClientThatLeavesDuringTheLatencyIsRecordedAsGoneNotServed)
{
    WireRoute stepped = mockRoute("r-steps", "GET", "/steps", 200, "unused");
    stepped.sequence = std::vector<WireStep> {WireStep {}};
    stepped.sequence->front().status = 201;
    stepped.sequence->front().body = "step";
    stepped.sequence->front().latencyMs = 20000;
    setRoutes({mockRoute("r-slow", "GET", "/slow", 200, R"({"slow":true})", 20000), stepped});
    for (const std::string path : {"/slow", "/steps"}) {
        RawSocket client;
        ASSERT_TRUE(client.connect(m_proxyPort));
        ASSERT_TRUE(client.send("GET http://api.test" + path + " HTTP/1.1\r\nHost: api.test\r\n\r\n"));
        client.close();
    }
    // A pass-through held by the chaos preset's latency likewise, before it reaches the host.
    TestUpstream upstream([](const TestUpstream::Request &, TestUpstream::Reply &reply) { reply.body = "late"; });
    ASSERT_EQ(m_engine->client()->Post("/chaos/active?id=slow-network")->status, 200);
    RawSocket passing;
    ASSERT_TRUE(passing.connect(m_proxyPort));
    ASSERT_TRUE(passing.send("GET http://127.0.0.1:" + std::to_string(upstream.port())
                             + "/pass HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    passing.close();

    ASSERT_TRUE(testsupport::waitFor([&] { return history().size() == 3; }, 10000));
    for (const auto &record : history()) {
        EXPECT_EQ(record.status, 499) << record.path;
        EXPECT_NE(record.respBody.value_or("").find("closed the connection"), std::string::npos) << record.path;
    }
    EXPECT_EQ(upstream.requests(), 0);
}

TEST_F(Transport, LatencyIsWaitedOnAKeptAliveConnection)
{
    setRoutes({mockRoute("r-100", "GET", "/late", 200, "late", 100)});
    HttpClient client("127.0.0.1", m_proxyPort);
    client.set_keep_alive(true);
    ASSERT_TRUE(client.Get("http://api.test/late")); // the connection is open and warm
    const auto started = std::chrono::steady_clock::now();
    const auto reply = client.Get("http://api.test/late");
    const auto elapsed = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, "late");
    EXPECT_GE(elapsed, std::chrono::milliseconds(100));
    const auto records = history();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_GE(records[0].latencyMs, 100);
}

TEST_F(Transport, BodilessPostsAreAnsweredOnBothPorts)
{
    // What `curl -X POST` sends: neither a body nor a Content-Length.
    RawSocket control;
    ASSERT_TRUE(control.connect(m_engine->controlPort()));
    ASSERT_TRUE(control.send("POST /control/start HTTP/1.1\r\n" + controlFields() + "\r\n\r\n"));
    const std::string started = control.readUntil("\"routeCount\"", kPatience);
    EXPECT_EQ(statusOf(started), 200) << started;

    RawSocket proxy;
    ASSERT_TRUE(proxy.connect(m_proxyPort));
    ASSERT_TRUE(proxy.send("POST http://api.test/make HTTP/1.1\r\nHost: api.test\r\n\r\n"));
    const std::string made = proxy.readUntil("{\"made\":true}", kPatience);
    EXPECT_EQ(statusOf(made), 201) << made;
}

TEST_F(Transport, MockAnswersKeepTheirWireFormOnEveryKindOfRequest)
{
    setRoutes({mockRoute("r-json", "GET", "/json", 200, R"({"a":1})"), mockRoute("r-text", "HEAD", "/text", 200, "plain"),
               mockRoute("r-none", "GET", "/none", 204, "")});
    RawSocket client;
    ASSERT_TRUE(client.connect(m_proxyPort));
    // Pipelined, so some headers are read from what an earlier read already holds.
    ASSERT_TRUE(client.send("GET http://api.test/json HTTP/1.1\r\nHost: api.test\r\n\r\n"
                            "HEAD http://api.test/text HTTP/1.1\r\nHost: api.test\r\n\r\n"
                            "GET http://api.test/none HTTP/1.1\r\nHost: api.test\r\n\r\n"
                            "GET http://api.test/json HTTP/1.0\r\nHost: api.test\r\nConnection: keep-alive\r\n\r\n"
                            "GET http://api.test/json HTTP/1.1\r\nHost: api.test\r\nConnection: close\r\n\r\n"));
    std::string wire;
    ASSERT_TRUE(client.readToEnd(wire, kPatience)) << wire;
    EXPECT_EQ(wire, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 7\r\n\r\n{\"a\":1}"
                    "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: 5\r\n\r\n"
                    "HTTP/1.1 204 No Content\r\n\r\n" // no length: a 204 has no body to measure
                    "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\nConnection: keep-alive\r\n"
                    "Content-Length: 7\r\n\r\n{\"a\":1}"
                    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: 7\r\n\r\n"
                    "{\"a\":1}");
    EXPECT_EQ(history().size(), 5u);
}

TEST_F(Transport, IdleAndDrippingConnectionsStarveNeitherPort)
{
    std::vector<std::unique_ptr<RawSocket>> held;
    for (const int port : {m_engine->controlPort(), m_proxyPort}) {
        for (int i = 0; i < 200; ++i) {
            held.push_back(std::make_unique<RawSocket>());
            ASSERT_TRUE(held.back()->connect(port));
            if (i % 2) // half of them start a header and never finish it
                held.back()->send("GET /health HTTP/1.1\r\nX-Drip-" + std::to_string(i) + ": 1\r\n");
        }
    }
    const auto health = m_engine->client()->Get("/health");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, 200);
    const auto mock = proxyRequest(m_proxyPort, "GET", "http://api.test/fast");
    ASSERT_TRUE(mock);
    EXPECT_EQ(mock->body, R"({"fast":true})");
}

TEST_F(Transport, ChunkedUploadPastTheLimitIsRefusedBeforeItEnds)
{
    const std::string piece(64 * 1024, 'x');
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
    const std::string chunk = std::string(size) + piece + "\r\n";
    const std::string routesBefore = m_engine->client()->Get("/routes")->body;
    for (const auto &[port, head] : std::vector<std::pair<int, std::string>> {
             {m_engine->controlPort(), "POST /mock/generate HTTP/1.1\r\n" + controlFields()},
             {m_proxyPort, "POST http://api.test/make HTTP/1.1\r\nHost: api.test"}}) {
        RawSocket socket;
        ASSERT_TRUE(socket.connect(port));
        ASSERT_TRUE(socket.send(head + "\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n"));
        // 5 MB and no final chunk: the answer must not wait for an end that never comes.
        for (int i = 0; i < 80; ++i) {
            if (!socket.send(chunk))
                break;
        }
        const std::string answer = socket.readUntil("\r\n\r\n", kPatience);
        EXPECT_EQ(statusOf(answer), 413) << port << ": " << answer.substr(0, 200);
    }
    EXPECT_EQ(m_engine->client()->Get("/routes")->body, routesBefore);
}

TEST_F(Transport, OversizedHeaderGetsA431)
{
    RawSocket socket;
    ASSERT_TRUE(socket.connect(m_proxyPort));
    socket.send("GET http://api.test/fast HTTP/1.1\r\nHost: api.test\r\nX-Big: " + std::string(70 * 1024, 'a') + "\r\n\r\n");
    EXPECT_EQ(statusOf(socket.readUntil("\r\n\r\n", kPatience)), 431);
}

TEST_F(Transport, AmbiguousBodyLengthsAreRefusedAndNothingIsSmuggled)
{
    const std::string smuggled = "GET http://api.test/smuggled HTTP/1.1\r\nHost: api.test\r\n\r\n";
    // Both ports alike: codings that don't end in chunked leave the length unknown (400); a coding before
    // chunked that the engine can't decode is one it doesn't implement (501).
    const std::vector<std::pair<std::string, int>> framings = {
        {"Content-Length: 5\r\nTransfer-Encoding: chunked\r\n", 400},
        {"Transfer-Encoding: chunked\r\nContent-Length: 5\r\n", 400},
        {"Content-Length: 5\r\nContent-Length: 5\r\n", 400},
        {"Content-Length: 5, 5\r\n", 400},
        {"Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n", 400},
        {"Transfer-Encoding: gzip\r\n", 400},
        {"Transfer-Encoding: identity\r\n", 400},
        {"Transfer-Encoding: chunked, gzip\r\n", 400},
        {"Transfer-Encoding: chunked, chunked\r\n", 400},
        {"Transfer-Encoding: gzip, chunked\r\n", 501},
        {"Transfer-Encoding: ,GZIP ,  chunked\r\n", 501},
    };
    for (const auto &[framing, status] : framings) {
        for (const int port : {m_engine->controlPort(), m_proxyPort}) {
            RawSocket socket;
            ASSERT_TRUE(socket.connect(port));
            const std::string target = port == m_proxyPort ? "http://api.test/make" : "/projects";
            const std::string fields = port == m_proxyPort ? "Host: api.test" : controlFields();
            socket.send("POST " + target + " HTTP/1.1\r\n" + fields + "\r\nContent-Type: application/json\r\n" + framing
                        + "\r\n0\r\n\r\n" + smuggled);
            std::string answer;
            EXPECT_TRUE(socket.readToEnd(answer, kPatience)) << framing; // the connection is closed after
            EXPECT_EQ(statusOf(answer), status) << framing << answer;
            EXPECT_EQ(answer.find("HTTP/1.1", 5), std::string::npos) << "a second answer: " << answer;
        }
    }
    for (const auto &record : history())
        EXPECT_NE(record.path, "/smuggled");
    const auto projects = decodeRecord<ProjectList>(m_engine->client()->Get("/projects")->body);
    ASSERT_TRUE(projects);
    EXPECT_EQ(projects->projects.size(), 1u);
}

TEST_F(Transport, PassThroughKeepsEndToEndHeadersAndDropsHopByHopOnes)
{
    std::promise<TestUpstream::Request> seen;
    TestUpstream upstream([&seen](const TestUpstream::Request &request, TestUpstream::Reply &reply) {
        seen.set_value(request);
        reply.status = 302;
        reply.headers = {{"Location", "https://elsewhere.test/next"},
                         {"Set-Cookie", "a=1; Path=/"},
                         {"Set-Cookie", "b=2; Path=/"},
                         {"Cache-Control", "no-store"},
                         {"Connection", "x-UPSTREAM-hop"}, // named in any case
                         {"X-Upstream-Hop", "secret"},
                         {"Keep-Alive", "timeout=5"}};
    });
    WireRoute forwarding = mockRoute("r-fwd", "GET", "/redirect", 200, "unused");
    forwarding.host = "127.0.0.1:" + std::to_string(upstream.port());
    forwarding.passThrough = true;
    setRoutes({forwarding});

    RawSocket client;
    ASSERT_TRUE(client.connect(m_proxyPort));
    client.send("GET http://" + forwarding.host + "/redirect?x=1 HTTP/1.1\r\nHost: " + forwarding.host
                + "\r\nAuthorization: Bearer t0k\r\nProxy-Authorization: Basic cHJveHk=\r\n"
                  "Connection: keep-alive, X-Client-Hop\r\nX-Client-Hop: 1\r\nTE: trailers\r\n"
                  "Proxy-Connection: keep-alive\r\nUpgrade: h2c\r\n\r\n");
    const std::string answer = client.readUntil("\r\n\r\n", kPatience);
    EXPECT_EQ(statusOf(answer), 302) << answer;
    EXPECT_NE(answer.find("Location: https://elsewhere.test/next\r\n"), std::string::npos) << answer;
    EXPECT_NE(answer.find("Set-Cookie: a=1; Path=/\r\n"), std::string::npos) << answer;
    EXPECT_NE(answer.find("Set-Cookie: b=2; Path=/\r\n"), std::string::npos) << answer;
    EXPECT_NE(answer.find("Cache-Control: no-store\r\n"), std::string::npos) << answer;
    EXPECT_EQ(answer.find("X-Upstream-Hop"), std::string::npos) << answer;
    EXPECT_EQ(answer.find("Keep-Alive"), std::string::npos) << answer;

    auto arrived = seen.get_future();
    ASSERT_EQ(arrived.wait_for(kPatience), std::future_status::ready);
    const TestUpstream::Request request = arrived.get();
    EXPECT_EQ(request.target, "/redirect?x=1");
    EXPECT_EQ(request.header("Authorization"), "Bearer t0k");
    EXPECT_EQ(request.count("Proxy-Authorization"), 0);
    EXPECT_EQ(request.count("X-Client-Hop"), 0);
    for (const char *hop : {"TE", "Proxy-Connection", "Upgrade"})
        EXPECT_EQ(request.count(hop), 0) << hop;
    EXPECT_EQ(request.header("Host"), forwarding.host);
}

TEST_F(Transport, StreamedAnswerReachesTheClientBeforeTheUpstreamEnds)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    TestUpstream upstream([released](const TestUpstream::Request &, TestUpstream::Reply &reply) {
        reply.headers = {{"Content-Type", "text/event-stream"}};
        reply.pieces = {"data: first-piece\n\n", "data: last-piece\n\n"};
        reply.beforeLast = [released] { released.wait_for(std::chrono::seconds(30)); };
    });
    WireRoute forwarding = mockRoute("r-stream", "GET", "/events", 200, "unused");
    forwarding.host = "127.0.0.1:" + std::to_string(upstream.port());
    forwarding.passThrough = true;
    setRoutes({forwarding});

    RawSocket client;
    ASSERT_TRUE(client.connect(m_proxyPort));
    client.send("GET http://" + forwarding.host + "/events HTTP/1.1\r\nHost: " + forwarding.host + "\r\n\r\n");
    const std::string first = client.readUntil("first-piece", kPatience);
    EXPECT_NE(first.find("first-piece"), std::string::npos) << first;
    EXPECT_EQ(first.find("last-piece"), std::string::npos);
    release.set_value();
    const std::string rest = client.readUntil("last-piece", kPatience);
    EXPECT_NE(rest.find("last-piece"), std::string::npos) << rest;
}

TEST_F(Transport, NoHostNameLeadsBackIntoTheEngine)
{
    WireRoute anyHost = mockRoute("r-any", "GET", "/:anything", 200, "unused");
    anyHost.host = "";
    anyHost.passThrough = true;
    WireRoute anyHostHealth = anyHost;
    anyHostHealth.id = "r-any-health";
    anyHostHealth.path = "/health";
    setRoutes({anyHost, anyHostHealth});
    const std::string proxy = std::to_string(m_proxyPort);
    const std::string control = std::to_string(m_engine->controlPort());
    for (const std::string &url : {"http://2130706433:" + proxy + "/loop", "http://0x7f000001:" + proxy + "/loop",
                                   "http://017700000001:" + control + "/health", "http://0:" + proxy + "/loop",
                                   "http://127.1:" + control + "/health", "http://[::ffff:127.0.0.1]:" + proxy + "/loop"}) {
        const auto reply = proxyRequest(m_proxyPort, "GET", url);
        ASSERT_TRUE(reply) << url;
        EXPECT_EQ(reply->status, 403) << url << " " << reply->body;
        EXPECT_TRUE(decodeRecord<ErrorReply>(reply->body)) << reply->body;
    }
    // The same through a tunnel, with no CA to intercept it.
    RawSocket tunnel;
    ASSERT_TRUE(tunnel.connect(m_proxyPort));
    tunnel.send("CONNECT 2130706433:" + proxy + " HTTP/1.1\r\nHost: 2130706433:" + proxy + "\r\n\r\n");
    EXPECT_EQ(statusOf(tunnel.readUntil("\r\n\r\n", kPatience)), 403);
    EXPECT_EQ(m_engine->process().state(), QProcess::Running);
    EXPECT_EQ(history().size(), 6u); // one record each, no loop

    // A tunnel without a port is no tunnel to 443.
    for (const std::string authority : {"api.test:", "[::1]:", "api.test:44x"}) {
        RawSocket portless;
        ASSERT_TRUE(portless.connect(m_proxyPort));
        portless.send("CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n");
        EXPECT_EQ(statusOf(portless.readUntil("\r\n\r\n", kPatience)), 400) << authority;
    }
}

TEST_F(Transport, HostConnectionsAreKeptAndAClosedOneIsReplaced)
{
    std::atomic<int> answered {0};
    TestUpstream upstream([&answered](const TestUpstream::Request &request, TestUpstream::Reply &reply) {
        reply.body = "answer " + std::to_string(++answered);
        reply.closeAfter = request.target == "/closing";
    });
    WireRoute kept = mockRoute("r-kept", "GET", "/kept", 200, "unused");
    kept.host = "127.0.0.1:" + std::to_string(upstream.port());
    kept.passThrough = true;
    WireRoute closing = kept;
    closing.id = "r-closing";
    closing.path = "/closing";
    setRoutes({kept, closing});

    HttpClient client("127.0.0.1", m_proxyPort);
    client.set_keep_alive(true);
    const std::string base = "http://" + kept.host;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(client.Get(base + "/kept"));
    EXPECT_EQ(upstream.connections(), 1);

    // The host drops the connection after each answer without saying so; every request still gets through.
    for (int i = 0; i < 3; ++i) {
        const auto reply = client.Get(base + "/closing");
        ASSERT_TRUE(reply) << i;
        EXPECT_EQ(reply->status, 200) << reply->body;
    }
    EXPECT_EQ(upstream.requests(), 6);
}

TEST(ConnectionSet, AFullPortClosesTheLongestIdleConnectionAndWaitsLessForIdleOnes)
{
    standin::net::ConnectionSet set(4);
    std::vector<int> closed;
    std::vector<std::uint64_t> ids;
    for (int i = 0; i < 3; ++i)
        ids.push_back(set.add([&closed, i] { closed.push_back(i); }));
    EXPECT_EQ(set.idleWait(), std::chrono::steady_clock::duration(standin::net::Limits::kIdleUnderPressure));
    ids.push_back(set.add([&closed] { closed.push_back(3); }));
    // Full, and every connection busy: the newcomer is the one refused.
    EXPECT_EQ(set.add([] {}), 0u);
    set.setIdle(ids[2], true);
    set.setIdle(ids[1], true);
    set.setIdle(ids[2], true); // marking again keeps its place in line
    const auto admitted = set.add([] {});
    EXPECT_NE(admitted, 0u);
    EXPECT_EQ(closed, std::vector<int> {2});
    EXPECT_EQ(set.size(), 4u);
    set.remove(ids[2]); // its own ending later changes nothing
    EXPECT_EQ(set.size(), 4u);

    // Ties go to the connection added first; a quiet one counts once it was quiet for the short idle
    // wait; a reserve is made room in before the port is full.
    standin::net::ConnectionSet reserved(4, 1);
    std::vector<int> let;
    std::vector<std::shared_ptr<standin::net::ConnectionSet::IdleMark>> marks(3);
    const auto longAgo = std::chrono::steady_clock::now() - std::chrono::seconds(5);
    for (int i = 0; i < 3; ++i)
        reserved.add([&let, i] { let.push_back(i); }, &marks[i]);
    standin::net::ConnectionSet::setQuiet(*marks[0], std::chrono::steady_clock::now());
    standin::net::ConnectionSet::setQuiet(*marks[2], longAgo);
    standin::net::ConnectionSet::setQuiet(*marks[1], longAgo);
    EXPECT_NE(reserved.add([] {}), 0u);
    EXPECT_EQ(let, std::vector<int> {1});
    EXPECT_EQ(reserved.size(), 3u);
    EXPECT_NE(reserved.add([] {}), 0u);
    EXPECT_EQ(let, (std::vector<int> {1, 2}));
    EXPECT_NE(reserved.add([] {}), 0u); // into the reserve: nothing idle long enough
    EXPECT_EQ(reserved.add([] {}), 0u);
    EXPECT_EQ(let, (std::vector<int> {1, 2}));

    // Both ports fit under the descriptor limit, a pass-through counting twice; a generous limit leaves
    // the caps as they are.
    using standin::net::PortKind;
    for (const std::size_t limit : {256u, 1024u, 20000u}) {
        const auto control = standin::net::connectionCapacity(limit, 10000, 10000, PortKind::Control);
        const auto proxy = standin::net::connectionCapacity(limit, 10000, 10000, PortKind::Proxy);
        EXPECT_GT(proxy, 0u);
        EXPECT_LE(control + 2 * proxy, limit - standin::net::Limits::kReservedDescriptors) << limit;
    }
    EXPECT_EQ(standin::net::connectionCapacity(1u << 20, 20, 10000, PortKind::Control), 20u);
    EXPECT_EQ(standin::net::connectionCapacity(1u << 20, 20, 10000, PortKind::Proxy), 10000u);

    standin::net::ConnectionSet roomy(100);
    roomy.add([] {});
    EXPECT_EQ(roomy.idleWait(), std::chrono::steady_clock::duration(standin::net::Limits::kIdle));
}

// An answer leaves straight from the socket as far as the client's window lets it, the rest as the
// client reads; a client that reads slowly, through a small buffer, still gets every byte in order, and
// its connection goes on to a passed-through request.
TEST_F(Transport, AnAnswerTakenSlowlyArrivesWholeAndTheConnectionGoesOn)
{
    std::string big(3500000, '\0'); // past what a socket buffers at once here
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>('a' + i % 23);
    big.replace(big.size() - 10, 10, "0123456789"); // found only at the end
    setRoutes({mockRoute("r-big", "GET", "/big", 200, big)});
    TestUpstream upstream([](const TestUpstream::Request &, TestUpstream::Reply &reply) { reply.body = "next"; });
    const std::string host = "127.0.0.1:" + std::to_string(upstream.port());
    // A small window from the start, so the engine's socket takes only part of the answer at once.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in proxy {};
    proxy.sin_family = AF_INET;
    proxy.sin_port = htons(static_cast<std::uint16_t>(m_proxyPort));
    proxy.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr *>(&proxy), sizeof proxy), 0);
    const auto exchange = [&](const std::string &origin, const std::string &path, const std::string &end) {
        const std::string request = "GET http://" + origin + path + " HTTP/1.1\r\nHost: " + origin + "\r\n\r\n";
        EXPECT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the engine's write fills the window
        std::string answer;
        char chunk[65536];
        while (answer.find(end) == std::string::npos) {
            pollfd ready {fd, POLLIN, 0};
            if (::poll(&ready, 1, 10000) <= 0)
                break;
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                break;
            answer.append(chunk, static_cast<std::size_t>(n));
        }
        return answer;
    };
    for (int round = 0; round < 3; ++round) {
        const std::string answer = exchange("api.test", "/big", "0123456789");
        const auto headEnd = answer.find("\r\n\r\n");
        ASSERT_NE(headEnd, std::string::npos) << answer;
        EXPECT_EQ(statusOf(answer), 200) << answer.substr(0, headEnd);
        ASSERT_EQ(answer.size(), headEnd + 4 + big.size()) << round;
        EXPECT_TRUE(answer.compare(headEnd + 4, big.size(), big) == 0) << round;
    }
    EXPECT_EQ(bodyOf(exchange(host, "/next", "\r\n\r\nnext")), "next");
    ::close(fd);
}

TEST_F(Transport, LargePassThroughIsLearnedWholeAndClippedInTheHistory)
{
    nlohmann::json items = nlohmann::json::array();
    for (int i = 0; i < 3000; ++i)
        items.push_back({{"id", i}, {"name", "item " + std::to_string(i)}, {"tags", {"a", "b"}}});
    const std::string json = nlohmann::json {{"items", items}, {"last", {{"deep", true}}}}.dump();
    const std::string text(200 * 1024, 't');
    ASSERT_GT(json.size(), 100u * 1024);
    TestUpstream upstream([&](const TestUpstream::Request &request, TestUpstream::Reply &reply) {
        if (request.target == "/text") {
            reply.body = text;
            return;
        }
        // In pieces, the one that closes the document last.
        reply.headers = {{"Content-Type", "application/json"}};
        for (std::size_t at = 0; at < json.size(); at += 40000)
            reply.pieces.push_back(json.substr(at, 40000));
    });
    const std::string host = "localhost:" + std::to_string(upstream.port());
    for (int i = 0; i < 3; ++i) {
        const auto reply = proxyRequest(m_proxyPort, "GET", "http://" + host + "/items");
        ASSERT_TRUE(reply);
        ASSERT_EQ(reply->body, json);
    }
    const auto plain = proxyRequest(m_proxyPort, "GET", "http://" + host + "/text");
    ASSERT_TRUE(plain);
    ASSERT_EQ(plain->body, text);

    const auto schema = decodeRecord<SchemaSnapshot>(m_engine->client()->Get("/schema")->body);
    ASSERT_TRUE(schema);
    ASSERT_EQ(schema->baselines.size(), 1u);
    EXPECT_EQ(schema->baselines[0].key, "GET " + host + "/items");
    EXPECT_TRUE(schema->baselines[0].locked);
    ASSERT_TRUE(schema->baselines[0].sketch);
    EXPECT_EQ(schema->baselines[0].sketch->paths.count("$.last.deep"), 1u); // the end of the document too
    for (const auto &record : history()) {
        const std::string body = record.respBody.value_or("");
        EXPECT_EQ(body.size(), 16u * 1024 + std::string("\n… (truncated)").size()) << record.path;
        EXPECT_EQ(body.compare(0, 100, record.path == "/text" ? text : json, 0, 100), 0) << record.path;
    }
}

TEST(IdleFlood, FullPortsStillTakeNewClientsByClosingTheLongestIdle)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), QStringList {"--autostart"});
    engine.setEnvironment("KESTRION_TEST_PROXY_CONNECTIONS", "20");
    engine.setEnvironment("KESTRION_TEST_CONTROL_CONNECTIONS", "20");
    ASSERT_TRUE(engine.start());
    const std::string routes = R"([{"id":"r-fast","method":"GET","host":"api.test","path":"/fast","status":200,)"
                               R"("latencyMs":0,"active":true,"body":"fast","passThrough":false},)"
                               R"({"id":"r-late","method":"GET","host":"api.test","path":"/after-flood","status":200,)"
                               R"("latencyMs":0,"active":true,"body":"late","passThrough":false}])";
    ASSERT_EQ(engine.client()->Post("/routes", routes, "application/json")->status, 200);
    std::vector<std::unique_ptr<RawSocket>> idle;
    for (int i = 0; i < 20; ++i) {
        idle.push_back(std::make_unique<RawSocket>());
        ASSERT_TRUE(idle.back()->connect(engine.proxyPort()));
        // A request after each, so the engine has taken the held one in first; the last ones find the
        // port full of connections waiting for a request that never comes.
        ASSERT_TRUE(proxyRequest(engine.proxyPort(), "GET", "http://api.test/fast")) << i;
    }
    // Clients that stay after their answer: each one past the full port lets the next held one go, the
    // ones held longest first.
    std::vector<std::unique_ptr<RawSocket>> staying;
    for (int i = 0; i < 5; ++i) {
        staying.push_back(std::make_unique<RawSocket>());
        ASSERT_TRUE(staying.back()->connect(engine.proxyPort()));
        ASSERT_TRUE(staying.back()->send("GET http://api.test/fast HTTP/1.1\r\nHost: api.test\r\n\r\n"));
        EXPECT_NE(staying.back()->readUntil("fast", kPatience).find("fast"), std::string::npos) << i;
    }
    std::string rest;
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(idle[i]->readToEnd(rest, kPatience)) << i;
    // Those taken in while the port was less than half full wait the long idle wait: still there.
    for (int i = 5; i < 10; ++i)
        EXPECT_TRUE(stillWaiting(*idle[i])) << i;

    // The control port, with the app's event stream open before twice as many idle connections as it holds.
    EventReader events(engine);
    ASSERT_TRUE(events.waitForPayload("\"hello\""));
    std::vector<std::unique_ptr<RawSocket>> idleControl;
    for (int i = 0; i < 40; ++i) {
        idleControl.push_back(std::make_unique<RawSocket>());
        ASSERT_TRUE(idleControl.back()->connect(engine.controlPort()));
        const auto health = engine.client()->Get("/health");
        ASSERT_TRUE(health) << i;
        EXPECT_EQ(health->status, 200) << i;
    }
    EXPECT_TRUE(idleControl.front()->readToEnd(rest, kPatience));
    // The stream, open longest of all but never idle, was kept.
    ASSERT_TRUE(proxyRequest(engine.proxyPort(), "GET", "http://api.test/after-flood"));
    EXPECT_TRUE(events.waitForPayload("/after-flood"));
}
