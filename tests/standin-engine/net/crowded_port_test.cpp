// A port at its connection cap kept full by a stranger whose connections are busy only in name: each
// refused while its body still comes (so its close lingers), or trickling a body within its grace.
#include "standin-engine/engine_process.h"
#include "standin-engine/test_upstream.h"

#include "support/test_support.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <poll.h>
#include <thread>
#include <vector>

using standintest::EngineProcess;
using standintest::RawSocket;

namespace {

// Holds `places` connections to a port, each opened with `head` (and, when `answered`, read up to the
// end of the engine's answer), sends every one a byte each turn and opens again any the engine closed.
class PortCrowd final {
public:
    PortCrowd(int port, std::string head, bool answered, int places)
        : m_sockets(static_cast<std::size_t>(places))
    {
        m_thread = std::thread([this, port, head = std::move(head), answered] {
            std::vector<bool> opened(m_sockets.size(), false);
            while (!m_stopping) {
                for (std::size_t i = 0; i < m_sockets.size(); ++i) {
                    auto &socket = m_sockets[i];
                    pollfd polled {socket ? socket->fd() : -1, 0, 0};
                    const bool closed = !socket || (::poll(&polled, 1, 0) > 0 && (polled.revents & (POLLHUP | POLLERR)))
                                        || !socket->send("x");
                    if (!closed)
                        continue;
                    socket = std::make_unique<RawSocket>();
                    if (!socket->connect(port) || !socket->send(head)
                        || (answered && socket->readUntil("\r\n\r\n", std::chrono::seconds(10)).empty()))
                        continue;
                    if (!opened[i]) {
                        opened[i] = true;
                        ++m_ready;
                    }
                }
                ++m_turns;
                if (m_readyTurn < 0 && m_ready == static_cast<int>(m_sockets.size()))
                    m_readyTurn = m_turns.load();
                std::this_thread::sleep_for(std::chrono::milliseconds(20)); // the stranger's pace, not a wait
            }
        });
    }
    ~PortCrowd()
    {
        m_stopping = true;
        m_thread.join();
    }
    // Every place was taken once, and the crowd went round them `turns` times since.
    bool settled(int turns) const { return m_readyTurn >= 0 && m_turns - m_readyTurn >= turns; }

private:
    std::vector<std::unique_ptr<RawSocket>> m_sockets;
    std::atomic<bool> m_stopping {false};
    std::atomic<int> m_ready {0};
    std::atomic<int> m_turns {0};
    std::atomic<int> m_readyTurn {-1};
    std::thread m_thread;
};

} // namespace

TEST(CrowdedPort, LingeringClosesAndTrickledBodiesGiveWayToNewClientsAsIdleOnesDo)
{
    constexpr int kPlaces = 16;
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), QStringList {"--autostart"});
    engine.setEnvironment("KESTRION_TEST_PROXY_CONNECTIONS", QString::number(kPlaces));
    engine.setEnvironment("KESTRION_TEST_CONTROL_CONNECTIONS", QString::number(kPlaces));
    engine.setEnvironment("KESTRION_TEST_BODY_GRACE_MS", "600000"); // a trickle stays within its grace
    ASSERT_TRUE(engine.start());
    const std::string routes = R"([{"id":"r-fast","method":"GET","host":"api.test","path":"/fast","status":200,)"
                               R"("latencyMs":0,"active":true,"body":"fast","passThrough":false},)"
                               R"({"id":"r-take","method":"POST","host":"api.test","path":"/take","status":201,)"
                               R"("latencyMs":0,"active":true,"body":"taken","passThrough":false}])";
    ASSERT_EQ(engine.client()->Post("/routes", routes, "application/json")->status, 200);

    standintest::TestUpstream host([](const standintest::TestUpstream::Request &,
                                      standintest::TestUpstream::Reply &reply) { reply.body = "stored"; });
    const std::string upload = "http://127.0.0.1:" + std::to_string(host.port()) + "/upload";
    const std::string control = engine.controlFields();
    struct Flood {
        const char *name;
        int port;
        std::string head;
        bool answered;
    };
    const std::vector<Flood> floods {
        {"lingering on the proxy", engine.proxyPort(),
         "POST http://api.test/take HTTP/1.1\r\nHost: api.test\r\nContent-Length: 999999999999\r\n\r\n", true},
        {"trickling to a mock", engine.proxyPort(),
         "POST http://api.test/take HTTP/1.1\r\nHost: api.test\r\nContent-Length: 100000\r\n\r\n", false},
        {"trickling to a host", engine.proxyPort(),
         "POST " + upload + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100000\r\n\r\n", false},
        {"lingering on the control port", engine.controlPort(),
         "POST /routes HTTP/1.1\r\n" + control + "\r\nContent-Length: 999999999999\r\n\r\n", true},
        {"trickling on the control port", engine.controlPort(),
         "POST /routes HTTP/1.1\r\n" + control + "\r\nContent-Length: 100000\r\n\r\n", false},
    };
    for (const auto &flood : floods) {
        PortCrowd crowd(flood.port, flood.head, flood.answered, kPlaces);
        ASSERT_TRUE(testsupport::waitFor([&] { return crowd.settled(5); }, 20000)) << flood.name;
        int answered = 0;
        for (int i = 0; i < 30; ++i) {
            if (flood.port == engine.proxyPort()) {
                const auto reply = standintest::proxyRequest(flood.port, "GET", "http://api.test/fast");
                answered += reply && reply->body == "fast" ? 1 : 0;
            } else {
                const auto reply = engine.client()->Get("/health");
                answered += reply && reply->status == 200 ? 1 : 0;
            }
        }
        EXPECT_EQ(answered, 30) << flood.name;
    }
    EXPECT_EQ(host.requests(), 0); // no trickle was whole
}
