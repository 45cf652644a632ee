// Both ports flooded by clients that hold places without using them: quiet tunnels, stalled and
// trickled bodies, clients that leave before their answer, and a lowered descriptor limit.
#include "net/connection_set.h"
#include "net/io_pool.h"
#include "standin-engine/engine_process.h"
#include "standin-engine/silent_peer.h"
#include "standin-engine/test_upstream.h"

#include "support/test_support.h"

#include "engine/records/engine_records.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <sys/socket.h>
#include <thread>

using standintest::EngineProcess;
using standintest::RawSocket;
using standintest::SilentPeer;
using standintest::TestUpstream;
using standintest::peerClosed;
using standintest::proxyRequest;
using standintest::statusOf;

namespace {

constexpr auto kPatience = std::chrono::seconds(10);

std::string mockRoutes()
{
    return R"([{"id":"r-fast","method":"GET","host":"api.test","path":"/fast","status":200,)"
           R"("latencyMs":0,"active":true,"body":"fast","passThrough":false},)"
           R"({"id":"r-take","method":"POST","host":"api.test","path":"/take","status":201,)"
           R"("latencyMs":0,"active":true,"body":"taken","passThrough":false}])";
}

bool mockAnswers(int proxyPort)
{
    const auto reply = proxyRequest(proxyPort, "GET", "http://api.test/fast");
    return reply && reply->body == "fast";
}

std::unique_ptr<RawSocket> sendHeld(int port, const std::string &bytes)
{
    auto socket = std::make_unique<RawSocket>();
    if (!socket->connect(port) || !socket->send(bytes))
        return nullptr;
    return socket;
}

} // namespace

TEST(ClosedClients, FreeTheirHostConnectionsAtOnceAndTheCapsFitTheDescriptorLimit)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), QStringList {"--autostart"});
    constexpr int kDescriptors = 256;
    engine.setDescriptorLimit(kDescriptors);
    ASSERT_TRUE(engine.start());
    ASSERT_EQ(engine.client()->Post("/routes", mockRoutes(), "application/json")->status, 200);
    SilentPeer host(SOCK_STREAM);
    const std::string held = "GET http://127.0.0.1:" + std::to_string(host.port())
                             + "/held HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

    // Waves of clients that give up on a host that never answers: each wave's host connections close
    // with its clients, so the next wave finds the descriptors free again.
    std::size_t sent = 0;
    for (int wave = 0; wave < 5; ++wave) {
        std::vector<std::unique_ptr<RawSocket>> clients;
        for (int i = 0; i < 40; ++i) {
            clients.push_back(sendHeld(engine.proxyPort(), held));
            ASSERT_TRUE(clients.back()) << wave << " " << i;
        }
        sent += clients.size();
        ASSERT_TRUE(testsupport::waitFor([&] { return host.accepted() == sent; }, 10000)) << wave;
        clients.clear();
        EXPECT_TRUE(testsupport::waitFor([&] { return host.open() == 0; }, 10000))
            << "wave " << wave << ": " << host.open() << " host connections still open";
    }

    // Clients that stay: the proxy takes no more of them than two sockets each fit in the limit, and
    // the control port still answers.
    std::vector<std::unique_ptr<RawSocket>> staying;
    for (int i = 0; i < 120; ++i) {
        staying.push_back(sendHeld(engine.proxyPort(), held));
        ASSERT_TRUE(staying.back()) << i;
    }
    const auto settled = [&] {
        std::size_t refused = 0;
        for (const auto &client : staying)
            refused += peerClosed(client->fd()) ? 1 : 0;
        return refused + host.accepted() - sent == staying.size();
    };
    EXPECT_TRUE(testsupport::waitFor(settled, 10000));
    // A client closed to make room for another never reaches the host as well: no more pass-throughs
    // than the port's cap, which fits two sockets each in the limit.
    const std::size_t passedThrough = host.accepted() - sent;
    const std::size_t cap = standin::net::connectionCapacity(kDescriptors, standin::net::Limits::kMaxConnections,
                                                             standin::net::Limits::kMaxConnections,
                                                             standin::net::PortKind::Proxy);
    EXPECT_GT(passedThrough, 0u);
    EXPECT_LE(passedThrough, cap);
    EXPECT_LE(2 * cap, static_cast<std::size_t>(kDescriptors));
    const auto health = engine.client()->Get("/health");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, 200);

    staying.clear();
    EXPECT_TRUE(testsupport::waitFor([&] { return host.open() == 0; }, 10000));
    EXPECT_TRUE(testsupport::waitFor([&] { return mockAnswers(engine.proxyPort()); }, 10000));
    // None of them is recorded as a failure of the host.
    const auto records = decodeRecord<std::vector<TrafficRecord>>(engine.client()->Get("/traffic?limit=1000")->body);
    ASSERT_TRUE(records);
    std::size_t gone = 0;
    for (const auto &record : *records) {
        if (record.path != "/held")
            continue;
        ++gone;
        EXPECT_EQ(record.status, 499) << record.respBody.value_or("");
    }
    EXPECT_GT(gone, 0u);
}

TEST(ClosedClients, AConnectionChosenToMakeRoomNeverTurnsBusy)
{
    using standin::net::ConnectionSet;
    // Chosen while idle: marking it idle, quiet or busy afterwards never brings it back.
    ConnectionSet set(2);
    std::shared_ptr<ConnectionSet::IdleMark> first;
    std::shared_ptr<ConnectionSet::IdleMark> second;
    bool firstClosed = false;
    set.add([&] { firstClosed = true; }, &first);
    set.add([] {}, &second);
    EXPECT_TRUE(ConnectionSet::setIdle(*first, true));
    EXPECT_TRUE(ConnectionSet::setIdle(*second, true));
    EXPECT_TRUE(ConnectionSet::setIdle(*second, false));
    EXPECT_NE(set.add([] {}), 0u);
    EXPECT_TRUE(firstClosed);
    EXPECT_FALSE(ConnectionSet::setIdle(*first, true));
    ConnectionSet::setQuiet(*first, std::chrono::steady_clock::now() - std::chrono::minutes(1));
    EXPECT_FALSE(ConnectionSet::setIdle(*first, false));
    EXPECT_EQ(set.add([] {}), 0u); // the rest are busy

    // Newcomers choosing while connections turn busy on other threads: none is both closed and busy.
    ConnectionSet crowded(2);
    std::atomic<int> closedAndBusy {0};
    std::atomic<int> served {0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                auto closed = std::make_shared<std::atomic<bool>>(false);
                std::shared_ptr<ConnectionSet::IdleMark> mark;
                const auto id = crowded.add([closed] { *closed = true; }, &mark);
                if (!id)
                    continue;
                ConnectionSet::setIdle(*mark, true);
                std::this_thread::yield();
                if (ConnectionSet::setIdle(*mark, false)) {
                    ++served;
                    std::this_thread::yield();
                    closedAndBusy += *closed ? 1 : 0;
                }
                crowded.remove(id);
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    EXPECT_GT(served.load(), 0);
    EXPECT_EQ(closedAndBusy.load(), 0);
}

// Many clients arriving at once at a busy engine: the listener shares its thread with connections, so
// at each of its turns it takes a batch of the clients waiting, not one.
TEST(ClientFlood, ClientsWaitingAreAcceptedInBatchesAtTheListenersTurn)
{
    using namespace standin::net;
    IoPool pool(2);
    Listener listener(pool); // takes the pool's first context
    pool.next();
    asio::io_context &listenerContext = pool.next();
    std::string error;
    ASSERT_TRUE(listener.bind(0, error)) << error;

    constexpr int kWaiting = 2 * Limits::kAcceptsPerTurn;
    std::vector<std::unique_ptr<RawSocket>> clients;
    for (int i = 0; i < kWaiting; ++i) {
        clients.push_back(std::make_unique<RawSocket>());
        ASSERT_TRUE(clients.back()->connect(listener.port())); // the kernel completes each in the backlog
    }

    std::mutex mutex;
    std::vector<tcp::socket> accepted;
    std::promise<size_t> acceptedByNextTurn;
    listener.start([&](tcp::socket socket) {
        std::lock_guard lock(mutex);
        accepted.push_back(std::move(socket));
        if (accepted.size() == 1) {
            // Runs once the listener lets go of its thread.
            asio::post(listenerContext, [&] {
                std::lock_guard later(mutex);
                acceptedByNextTurn.set_value(accepted.size());
            });
        }
    });
    auto turn = acceptedByNextTurn.get_future();
    ASSERT_EQ(turn.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(turn.get(), static_cast<size_t>(1 + Limits::kAcceptsPerTurn));
    listener.stop();
    std::lock_guard lock(mutex);
    accepted.clear(); // while their contexts still run
}

TEST(IdleFlood, QuietTunnelsMakeRoomForNewClients)
{
    TestUpstream upstream([](const TestUpstream::Request &, TestUpstream::Reply &reply) { reply.body = "inside"; });
    const std::string authority = "127.0.0.1:" + std::to_string(upstream.port());
    constexpr int kPlaces = 20;
    // Without a root CA every tunnel is relayed blind; with one, each waits for the client's handshake.
    for (const bool intercepted : {false, true}) {
        QTemporaryDir dir;
        EngineProcess engine(dir.path(), QStringList {"--autostart"});
        engine.setEnvironment("KESTRION_TEST_PROXY_CONNECTIONS", QString::number(kPlaces));
        ASSERT_TRUE(engine.start());
        ASSERT_EQ(engine.client()->Post("/routes", mockRoutes(), "application/json")->status, 200);
        if (intercepted) {
            ASSERT_EQ(engine.client()->Post("/ca/generate")->status, 200);
        }

        // None carries a byte after it opens. Opened while the port is under half full, so a tunnel
        // waiting for its handshake keeps the long idle wait however slowly the test runs.
        std::vector<std::unique_ptr<RawSocket>> tunnels;
        for (int i = 0; i < kPlaces / 2 - 1; ++i) {
            tunnels.push_back(sendHeld(engine.proxyPort(), "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority
                                                               + "\r\n\r\n"));
            ASSERT_TRUE(tunnels.back()) << i;
            ASSERT_EQ(statusOf(tunnels.back()->readUntil("\r\n\r\n", kPatience)), 200) << i;
        }
        // The other places are taken by requests waiting on a host, never idle.
        SilentPeer host(SOCK_STREAM);
        std::vector<std::unique_ptr<RawSocket>> waiting;
        for (std::size_t i = tunnels.size(); i < kPlaces; ++i) {
            waiting.push_back(sendHeld(engine.proxyPort(), "GET http://127.0.0.1:" + std::to_string(host.port())
                                                               + "/held HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
            ASSERT_TRUE(waiting.back()) << i;
        }
        ASSERT_TRUE(testsupport::waitFor([&] { return host.accepted() == waiting.size(); }, 10000)) << intercepted;
        // The port is full: the tunnel quiet the longest goes for the newcomer; the rest still carry
        // what comes.
        EXPECT_TRUE(testsupport::waitFor([&] { return mockAnswers(engine.proxyPort()); }, 10000)) << intercepted;
        std::string rest;
        EXPECT_TRUE(tunnels.front()->readToEnd(rest, kPatience)) << intercepted;
        ASSERT_TRUE(tunnels.back()->send("GET /through HTTP/1.1\r\nHost: " + authority + "\r\n\r\n"));
        EXPECT_NE(tunnels.back()->readUntil("inside", kPatience).find("inside"), std::string::npos) << intercepted;
    }
}

TEST(IdleFlood, BodiesThatNeverArriveLockNeitherPort)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), QStringList {"--autostart"});
    engine.setEnvironment("KESTRION_TEST_PROXY_CONNECTIONS", "20");
    engine.setEnvironment("KESTRION_TEST_CONTROL_CONNECTIONS", "20");
    ASSERT_TRUE(engine.start());
    ASSERT_EQ(engine.client()->Post("/routes", mockRoutes(), "application/json")->status, 200);
    TestUpstream upstream([](const TestUpstream::Request &, TestUpstream::Reply &reply) { reply.body = "stored"; });

    const std::string controlFields = engine.controlFields();
    // More than either port holds, each promising a body that never comes: control writes, mock posts
    // and pass-through uploads.
    std::vector<std::unique_ptr<RawSocket>> control;
    std::vector<std::unique_ptr<RawSocket>> proxy;
    for (int i = 0; i < 30; ++i) {
        control.push_back(sendHeld(engine.controlPort(), "POST /routes HTTP/1.1\r\n" + controlFields
                                                             + "\r\nContent-Type: application/json\r\n"
                                                               "Content-Length: 100\r\n\r\n["));
        const std::string target = i % 2 ? "http://api.test/take"
                                         : "http://127.0.0.1:" + std::to_string(upstream.port()) + "/upload";
        proxy.push_back(sendHeld(engine.proxyPort(), "POST " + target
                                                         + " HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n{"));
    }
    EXPECT_TRUE(testsupport::waitFor(
        [&] {
            const auto health = engine.client()->Get("/health");
            return health && health->status == 200;
        },
        10000));
    EXPECT_TRUE(testsupport::waitFor([&] { return mockAnswers(engine.proxyPort()); }, 10000));
    // One that stalled once its port was half full was let go, with a 408 unless a newcomer took its
    // place first.
    for (RawSocket *stalled : {control[15].get(), proxy[15].get()}) {
        std::string rest;
        EXPECT_TRUE(stalled->readToEnd(rest, kPatience));
        EXPECT_TRUE(rest.empty() || statusOf(rest) == 408) << rest;
    }
    EXPECT_EQ(upstream.requests(), 0);
}

TEST(SlowBodies, ABodyTrickledBelowTheMinimumPaceIsCut)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), QStringList {"--autostart"});
    engine.setEnvironment("KESTRION_TEST_BODY_GRACE_MS", "300");
    ASSERT_TRUE(engine.start());
    ASSERT_EQ(engine.client()->Post("/routes", mockRoutes(), "application/json")->status, 200);
    TestUpstream upstream([](const TestUpstream::Request &, TestUpstream::Reply &reply) { reply.body = "stored"; });
    const std::string upload = "http://127.0.0.1:" + std::to_string(upstream.port()) + "/upload";

    // One byte now and then, each well within the wait for a single piece, on the proxy (a mock and a
    // pass-through upload) and on the control port.
    struct Trickle {
        int port;
        std::string header;
    };
    const std::vector<Trickle> trickles {
        {engine.proxyPort(), "POST http://api.test/take HTTP/1.1\r\nHost: api.test\r\nContent-Length: 1000\r\n\r\n"},
        {engine.proxyPort(), "POST " + upload + " HTTP/1.1\r\nHost: x\r\nContent-Length: 1000\r\n\r\n"},
        {engine.controlPort(), "POST /routes HTTP/1.1\r\n" + engine.controlFields()
                                   + "\r\nContent-Length: 1000\r\n\r\n"},
    };
    for (const auto &trickle : trickles) {
        auto socket = sendHeld(trickle.port, trickle.header);
        ASSERT_TRUE(socket);
        const bool cut = testsupport::waitFor(
            [&] {
                if (peerClosed(socket->fd()))
                    return true;
                socket->send(" ");
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                return false;
            },
            15000);
        EXPECT_TRUE(cut) << trickle.header;
        std::string rest;
        socket->readToEnd(rest, kPatience);
        EXPECT_TRUE(rest.empty() || statusOf(rest) == 408) << rest;
    }
    EXPECT_EQ(upstream.requests(), 0);
}
