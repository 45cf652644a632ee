// Connections the proxy joins byte for byte once it has seen how they begin, with a root CA present:
// tunnels that carry neither TLS nor HTTP (a host that greets first, a client whose first line is its
// own protocol's), and WebSockets over ws and wss between a real client and a real host.
#include "hosts/upstream.h"
#include "standin-engine/engine_process.h"
#include "standin-engine/scripted_host.h"

#include "support/test_support.h"

#include "engine/records/engine_records.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include <sys/socket.h>

using standintest::EngineProcess;
using standintest::RawSocket;
using standintest::ScriptedHost;
using standintest::statusOf;

namespace joinedtest {

constexpr auto kPatience = std::chrono::seconds(15);

// A python3 that has the websockets package: Debian's, which scripts/setup installs it for, first.
QString websocketPython()
{
    for (const QString &candidate : {QString("/usr/bin/python3"), QStandardPaths::findExecutable("python3")}) {
        if (candidate.isEmpty())
            continue;
        QProcess probe;
        probe.start(candidate, {"-c", "import websockets"});
        if (probe.waitForFinished(60000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0)
            return candidate;
    }
    return {};
}

QString peerScript()
{
    return testsupport::sourceDir() + "/tests/standin-engine/clients/websocket_peer.py";
}

// The WebSocket host of websocket_peer.py, up until the object goes.
class WebSocketHost final {
public:
    WebSocketHost(const QString &python, const QStringList &tls)
    {
        m_process.start(python, QStringList {peerScript(), "host"} + tls);
        testsupport::waitFor([this] {
            m_output += m_process.readAllStandardOutput();
            return m_output.contains('\n') || m_process.state() == QProcess::NotRunning;
        }, 60000);
        if (m_output.startsWith("PORT "))
            m_port = m_output.mid(5).trimmed().toInt();
    }
    ~WebSocketHost()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
    int port() const { return m_port; }
    std::string error() { return m_process.readAllStandardError().toStdString(); }

private:
    QProcess m_process;
    QByteArray m_output;
    int m_port = 0;
};

class JoinedConnections : public standintest::EngineTest {
protected:
    void SetUp() override
    {
        m_pki = standintest::makeThrowawayPki("localhost");
        // The TLS host's certificate comes from a throwaway CA the engine is told to trust.
        ASSERT_NO_FATAL_FAILURE(startEngine(
            {{standin::kTestUpstreamCaVariable, writeTemporaryFile("upstream-ca.pem", m_pki.caPem)}}, "data"));
        const auto reply = m_engine->client()->Post("/ca/generate");
        ASSERT_TRUE(reply && reply->status == 200);
        m_rootCa = QString::fromStdString(decodeRecord<CAInfo>(reply->body).value_or(CAInfo {}).path);
        ASSERT_FALSE(m_rootCa.isEmpty());
    }

    // A CONNECT to `authority` that the proxy accepted.
    void openTunnel(RawSocket &client, const std::string &authority)
    {
        ASSERT_TRUE(client.connect(m_proxyPort));
        ASSERT_TRUE(client.send("CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n"));
        ASSERT_EQ(statusOf(client.readUntil("\r\n\r\n", kPatience)), 200);
    }

    // What the WebSocket client reports: its JSON line, or what went wrong.
    std::string runClient(const QString &python, const QStringList &arguments)
    {
        QProcess client;
        client.start(python, QStringList {peerScript(), "client"} + arguments);
        if (!client.waitForFinished(90000)) {
            client.kill();
            client.waitForFinished(5000);
            return "(no result in time)";
        }
        const std::string out = client.readAllStandardOutput().trimmed().toStdString();
        return client.exitCode() == 0 ? out : out + " failed: " + client.readAllStandardError().toStdString();
    }

    standintest::ThrowawayPki m_pki;
    QString m_rootCa;
};

} // namespace joinedtest

using joinedtest::JoinedConnections;
using joinedtest::kPatience;

TEST_F(JoinedConnections, TunnelsThatCarryNeitherTlsNorHttpReachTheirHostUntouched)
{
    // A mail server's way: it greets first, then answers each line it gets.
    ScriptedHost host([](ScriptedHost::Connection &connection) {
        connection.send("220 mail.test ESMTP ready\r\n");
        std::string said;
        for (std::string piece; !(piece = connection.receive(kPatience)).empty();) {
            said += piece;
            for (auto end = said.find("\r\n"); end != std::string::npos; end = said.find("\r\n")) {
                connection.send("250 you said " + said.substr(0, end) + "\r\n");
                said.erase(0, end + 2);
            }
        }
    });
    const std::string authority = "127.0.0.1:" + std::to_string(host.port());

    // A client that waits for the greeting, as a mail client does.
    RawSocket waiting;
    openTunnel(waiting, authority);
    EXPECT_EQ(waiting.readUntil("ready\r\n", kPatience), "220 mail.test ESMTP ready\r\n");
    ASSERT_TRUE(waiting.send("EHLO me\r\n"));
    EXPECT_EQ(waiting.readUntil("\r\n", kPatience), "250 you said EHLO me\r\n");

    // A client that speaks first, in a line of its own protocol.
    RawSocket speaking;
    openTunnel(speaking, authority);
    ASSERT_TRUE(speaking.send("EHLO first\r\n"));
    EXPECT_EQ(speaking.readUntil("you said EHLO first\r\n", kPatience),
              "220 mail.test ESMTP ready\r\n250 you said EHLO first\r\n");
    EXPECT_TRUE(history().empty()); // relayed, not served: nothing was an HTTP exchange
}

TEST_F(JoinedConnections, WebSocketsSwitchThroughTheProxyAsTheyDoStraightToTheHost)
{
    const QString python = joinedtest::websocketPython();
    ASSERT_FALSE(python.isEmpty()) << "python3 with the websockets package is needed (scripts/setup installs "
                                      "python3-websockets)";
    joinedtest::WebSocketHost plain(python, {});
    joinedtest::WebSocketHost secure(python, {"--cert", writeTemporaryFile("host.pem", m_pki.server.certPem),
                                              "--key", writeTemporaryFile("host.key", m_pki.server.keyPem)});
    ASSERT_GT(plain.port(), 0) << plain.error();
    ASSERT_GT(secure.port(), 0) << secure.error();
    const QString hostCa = writeTemporaryFile("host-ca.pem", m_pki.caPem);
    const QString proxy = QString::number(m_proxyPort);

    struct Way {
        QString url; // without the path
        QStringList direct;
        QStringList proxied;
    };
    const std::vector<Way> ways {
        // The request handed to the proxy as to a host, and plain HTTP inside a tunnel.
        {"ws://127.0.0.1:" + QString::number(plain.port()), {}, {"--proxy", proxy}},
        {"ws://127.0.0.1:" + QString::number(plain.port()), {}, {"--tunnel", proxy}},
        // TLS ended at the proxy with the root CA's leaf, and spoken again to the host.
        {"wss://localhost:" + QString::number(secure.port()), {"--ca", hostCa}, {"--tunnel", proxy, "--ca", m_rootCa}},
    };
    for (const auto &way : ways) {
        for (const QString path : {"/chat", "/forbidden"}) {
            const std::string direct = runClient(python, QStringList {"--url", way.url + path} + way.direct);
            const std::string proxied = runClient(python, QStringList {"--url", way.url + path} + way.proxied);
            const std::string label = (way.url + path + " " + way.proxied.join(' ')).toStdString();
            EXPECT_EQ(proxied, direct) << label;
            // The host greets right behind its 101, and echoes a text and a 256 KiB binary message; a refusal
            // reaches the client as the host's own answer.
            EXPECT_EQ(direct, path == "/chat" ? R"({"greeting": "hello from host", "text": "ping through", )"
                                                R"("binary": "2312394bd99545d9de131c24efb781e765ac1aec243f2ed9347597a793a415e9"})"
                                              : R"({"refused": 403})")
                << label;
        }
    }

    // Each switch is in the history as its exchange, and each refusal.
    int switched = 0;
    int refused = 0;
    EXPECT_TRUE(testsupport::waitFor([&] {
        switched = refused = 0;
        for (const auto &record : history()) {
            switched += record.path == "/chat" && record.status == 101 ? 1 : 0;
            refused += record.path == "/forbidden" && record.status == 403 ? 1 : 0;
        }
        return switched == 3 && refused == 3;
    })) << switched << " switched, " << refused << " refused";
}

TEST(JoinedConnectionsAtTheCap, SilentUpgradesGiveWayToNewClientsAsQuietTunnelsDo)
{
    constexpr int kPlaces = 8;
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), QStringList {"--autostart"});
    engine.setEnvironment("KESTRION_TEST_PROXY_CONNECTIONS", QString::number(kPlaces));
    ASSERT_TRUE(engine.start());
    const std::string routes = R"([{"id":"r-fast","method":"GET","host":"api.test","path":"/fast","status":200,)"
                               R"("latencyMs":0,"active":true,"body":"fast","passThrough":false}])";
    ASSERT_EQ(engine.client()->Post("/routes", routes, "application/json")->status, 200);
    // A host that switches every connection and then says nothing, as a socket that only listens.
    ScriptedHost host([](ScriptedHost::Connection &connection) {
        if (connection.head().empty())
            return;
        connection.send("HTTP/1.1 101 Switching Protocols\r\nConnection: upgrade\r\nUpgrade: websocket\r\n\r\n");
        connection.waitForClose(std::chrono::seconds(60));
    });
    const std::string origin = "127.0.0.1:" + std::to_string(host.port());
    std::vector<std::unique_ptr<RawSocket>> switched;
    for (int i = 0; i < kPlaces; ++i) {
        switched.push_back(std::make_unique<RawSocket>());
        ASSERT_TRUE(switched.back()->connect(engine.proxyPort()));
        ASSERT_TRUE(switched.back()->send("GET http://" + origin + "/socket HTTP/1.1\r\nHost: " + origin
                                          + "\r\nConnection: upgrade\r\nUpgrade: websocket\r\n\r\n"));
        ASSERT_EQ(statusOf(switched.back()->readUntil("\r\n\r\n", kPatience)), 101) << i;
    }
    // Every place holds a joined pair that moved nothing since it switched.
    EXPECT_TRUE(testsupport::waitFor([&] {
        const auto reply = standintest::proxyRequest(engine.proxyPort(), "GET", "http://api.test/fast");
        return reply && reply->body == "fast";
    }, 20000));
}

TEST(JoinedPairIdle, OneWayMayStaySilentWhileTheOtherMovesAndAPairSilentBothWaysIsClosed)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), QStringList {"--autostart"});
    engine.setEnvironment("KESTRION_TEST_JOINED_IDLE_MS", "1500");
    ASSERT_TRUE(engine.start());
    // An event stream's way: the host sends for longer than the idle limit while the client only listens,
    // then both fall silent.
    ScriptedHost host([](ScriptedHost::Connection &connection) {
        for (int i = 0; i < 40; ++i) {
            connection.send("tick " + std::to_string(i) + "\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        connection.waitForClose(std::chrono::seconds(30));
    });
    const std::string authority = "127.0.0.1:" + std::to_string(host.port());
    RawSocket client;
    ASSERT_TRUE(client.connect(engine.proxyPort()));
    ASSERT_TRUE(client.send("CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n"));
    ASSERT_EQ(statusOf(client.readUntil("\r\n\r\n", kPatience)), 200);
    std::string received;
    EXPECT_TRUE(client.readToEnd(received, std::chrono::seconds(30)));
    EXPECT_TRUE(received.ends_with("tick 39\n")) << received.size() << " bytes: " << received.substr(0, 40);
}

TEST(BlindTunnel, TakesItsBuffersOnlyWhenASideHasBytesAndStillCarriesEverythingBothWays)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), QStringList {"--autostart"}); // no CA: the tunnel is relayed blind
    ASSERT_TRUE(engine.start());
    // Echoes what comes until the client has sent its last byte, then says goodbye and closes.
    ScriptedHost host([](ScriptedHost::Connection &connection) {
        for (std::string piece; !(piece = connection.receive(kPatience)).empty();)
            connection.send(piece);
        connection.send("bye\n");
        connection.close();
    });
    const std::string authority = "127.0.0.1:" + std::to_string(host.port());
    RawSocket client;
    ASSERT_TRUE(client.connect(engine.proxyPort()));
    ASSERT_TRUE(client.send("CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n"));
    ASSERT_EQ(statusOf(client.readUntil("\r\n\r\n", kPatience)), 200);

    // Many whole buffers in a row, then single bytes after the pair fell idle, in both directions.
    std::string large;
    for (int i = 0; large.size() < 300 * 1024; ++i)
        large += "line " + std::to_string(i) + "\n";
    large += "end of large\n";
    ASSERT_TRUE(client.send(large));
    EXPECT_EQ(client.readUntil("end of large\n", kPatience), large);
    for (const std::string small : {"a", "bc", "end of small\n"})
        ASSERT_TRUE(client.send(small));
    EXPECT_EQ(client.readUntil("end of small\n", kPatience), "abcend of small\n");
    // The client's end of stream reaches the host, and the host's last words and close come back.
    ASSERT_EQ(::shutdown(client.fd(), SHUT_WR), 0);
    std::string rest;
    EXPECT_TRUE(client.readToEnd(rest, kPatience));
    EXPECT_EQ(rest, "bye\n");
}
