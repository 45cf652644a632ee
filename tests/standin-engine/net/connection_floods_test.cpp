// Both ports flooded by clients that hold places without using them: quiet tunnels, stalled and
// trickled bodies, clients that leave before their answer, and a lowered descriptor limit.
#include "net/connection_set.h"
#include "net/io_pool.h"
#include "standin-engine/engine_process.h"
#include "standin-engine/test_upstream.h"

#include "support/test_support.h"

#include "engine/records/engine_records.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <arpa/inet.h>
#include <future>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using standintest::EngineProcess;
using standintest::RawSocket;
using standintest::TestUpstream;
using standintest::proxyRequest;
using standintest::statusOf;

namespace {

constexpr auto kPatience = std::chrono::seconds(10);

// The other end has closed its side (checked without waiting).
bool peerClosed(int fd)
{
    pollfd polled {fd, POLLIN | POLLRDHUP, 0};
    return ::poll(&polled, 1, 0) > 0 && (polled.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

// A host (a stream socket) or a name server (a datagram one) on 127.0.0.1 that never answers: keeps
// the connections it took and the questions it was asked.
class SilentPeer final {
public:
    explicit SilentPeer(int type)
        : m_socket(::socket(AF_INET, type, 0))
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address);
        if (type == SOCK_STREAM)
            ::listen(m_socket, 1024);
        socklen_t length = sizeof address;
        ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this, type] {
            while (!m_stopping) {
                pollfd polled {m_socket, POLLIN, 0};
                if (::poll(&polled, 1, 20) <= 0)
                    continue;
                char packet[1500];
                std::lock_guard lock(m_mutex);
                sockaddr_in from {};
                socklen_t fromLength = sizeof from;
                if (type == SOCK_STREAM) {
                    m_accepted.push_back(::accept(m_socket, nullptr, nullptr));
                } else if (const ssize_t n = ::recvfrom(m_socket, packet, sizeof packet, 0,
                                                        reinterpret_cast<sockaddr *>(&from), &fromLength);
                           n > 0) {
                    m_datagrams.emplace_back(packet, static_cast<std::size_t>(n));
                    m_senders.push_back(from);
                    if (m_answering)
                        answerLocked(m_datagrams.size() - 1);
                }
            }
        });
    }
    // From now on every question, those already asked too, gets "no such name".
    void answerEveryQuestion()
    {
        std::lock_guard lock(m_mutex);
        m_answering = true;
        for (std::size_t i = 0; i < m_datagrams.size(); ++i)
            answerLocked(i);
    }
    ~SilentPeer()
    {
        m_stopping = true;
        m_thread.join();
        for (const int fd : m_accepted)
            ::close(fd);
        ::close(m_socket);
    }
    int port() const { return m_port; }
    std::size_t accepted() const
    {
        std::lock_guard lock(m_mutex);
        return m_accepted.size();
    }
    // Connections taken that the engine has not closed.
    std::size_t open() const
    {
        std::lock_guard lock(m_mutex);
        return std::count_if(m_accepted.begin(), m_accepted.end(), [](int fd) { return !peerClosed(fd); });
    }
    // Whether a question named `label` as one label of its name.
    bool asked(const std::string &label) const
    {
        std::lock_guard lock(m_mutex);
        const std::string encoded = static_cast<char>(label.size()) + label;
        return std::any_of(m_datagrams.begin(), m_datagrams.end(),
                           [&](const std::string &packet) { return packet.find(encoded) != std::string::npos; });
    }

private:
    const int m_socket;
    int m_port = 0;
    std::atomic<bool> m_stopping {false};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<int> m_accepted;
    std::vector<std::string> m_datagrams;
    std::vector<sockaddr_in> m_senders;
    bool m_answering = false;

    // The question sent back as its answer: the response bit and the code for "no such name" set.
    void answerLocked(std::size_t i)
    {
        std::string answer = m_datagrams[i];
        if (answer.size() < 12)
            return;
        answer[2] = static_cast<char>(answer[2] | 0x80);
        answer[3] = static_cast<char>(0x83);
        ::sendto(m_socket, answer.data(), answer.size(), 0, reinterpret_cast<const sockaddr *>(&m_senders[i]),
                 sizeof m_senders[i]);
    }
};

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

    const std::string controlHost = "127.0.0.1:" + std::to_string(engine.controlPort());
    // More than either port holds, each promising a body that never comes: control writes, mock posts
    // and pass-through uploads.
    std::vector<std::unique_ptr<RawSocket>> control;
    std::vector<std::unique_ptr<RawSocket>> proxy;
    for (int i = 0; i < 30; ++i) {
        control.push_back(sendHeld(engine.controlPort(), "POST /routes HTTP/1.1\r\nHost: " + controlHost
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
        {engine.controlPort(), "POST /routes HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(engine.controlPort())
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

// A replay gives up on a lookup at its deadline and its event loop goes; the name server's late answer
// must then reach nothing of it (it used to be posted into the freed loop and kill the engine).
TEST(NameLookups, AnAnswerAfterAReplayGaveUpOnItReachesNothingOfIt)
{
    SilentPeer nameServer(SOCK_DGRAM);
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), QStringList {"--autostart"});
    engine.setEnvironment("KESTRION_TEST_NAME_SERVERS", QString("127.0.0.1:%1").arg(nameServer.port()));
    engine.setEnvironment("KESTRION_TEST_LOOKUP_DEADLINE_MS", "300");
    ASSERT_TRUE(engine.start());

    const auto first = proxyRequest(engine.proxyPort(), "GET", "http://late.test/x");
    ASSERT_TRUE(first);
    ASSERT_EQ(first->status, 502);
    const auto records = engine.client()->Get("/traffic?limit=1");
    ASSERT_TRUE(records && records->status == 200);
    const auto page = decodeRecord<std::vector<TrafficRecord>>(records->body);
    ASSERT_TRUE(page && page->size() == 1u) << records->body;
    for (int i = 0; i < 3; ++i) {
        const auto replayed = engine.client()->Post("/replay/" + page->front().id);
        ASSERT_TRUE(replayed);
        EXPECT_NE(replayed->body.find("could not be resolved"), std::string::npos) << replayed->body;
    }

    // The late answers come; a lookup after them is answered too, so theirs have been handled.
    nameServer.answerEveryQuestion();
    const auto after = proxyRequest(engine.proxyPort(), "GET", "http://after.test/x");
    ASSERT_TRUE(after) << engine.output().toStdString();
    EXPECT_EQ(after->status, 502);
    EXPECT_NE(after->body.find("could not be resolved"), std::string::npos) << after->body;
    const auto health = engine.client()->Get("/health");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, 200);
}

TEST(NameLookups, NamesThatNeverResolveHoldUpNoOtherHost)
{
    SilentPeer nameServer(SOCK_DGRAM);
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), QStringList {"--autostart"});
    engine.setEnvironment("KESTRION_TEST_NAME_SERVERS", QString("127.0.0.1:%1").arg(nameServer.port()));
    engine.setEnvironment("KESTRION_TEST_LOOKUP_DEADLINE_MS", "1500");
    ASSERT_TRUE(engine.start());
    TestUpstream upstream([](const TestUpstream::Request &, TestUpstream::Reply &reply) { reply.body = "near"; });

    constexpr int kNames = 24;
    std::vector<std::future<standintest::Result>> stuck;
    for (int i = 0; i < kNames; ++i)
        stuck.push_back(std::async(std::launch::async, [&engine, i] {
            return proxyRequest(engine.proxyPort(), "GET", "http://never-" + std::to_string(i) + ".test/x");
        }));
    // Every lookup is out at once, none waiting for another to end...
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            for (int i = 0; i < kNames; ++i) {
                if (!nameServer.asked("never-" + std::to_string(i)))
                    return false;
            }
            return true;
        },
        10000));
    // ...and meanwhile hosts given by address or from the hosts file are reached, the engine's own
    // ports still refused however they are named.
    for (const std::string host : {"127.0.0.1", "localhost", "2130706433"}) {
        const auto reply = proxyRequest(engine.proxyPort(), "GET", "http://" + host + ":" + std::to_string(upstream.port()) + "/near");
        ASSERT_TRUE(reply) << host;
        EXPECT_EQ(reply->body, "near") << host;
        const auto own = proxyRequest(engine.proxyPort(), "GET", "http://" + host + ":" + std::to_string(engine.controlPort()) + "/health");
        ASSERT_TRUE(own) << host;
        EXPECT_EQ(own->status, 403) << host;
    }
    for (int i = 0; i < kNames; ++i) {
        const auto reply = stuck[i].get();
        ASSERT_TRUE(reply) << i;
        EXPECT_EQ(reply->status, 502) << i;
        EXPECT_NE(reply->body.find("never-" + std::to_string(i) + ".test could not be resolved"), std::string::npos)
            << reply->body;
    }
}
