// Requests inside a tunnel the root CA intercepts reach the host the CONNECT named, as they would
// without the proxy.
#include "hosts/upstream.h"
#include "standin-engine/engine_process.h"
#include "standin-engine/scripted_host.h"
#include "standin-engine/silent_peer.h"

#include "support/test_support.h"

#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

using standintest::ScriptedHost;

namespace {

// A python3 that has grpcio: Debian's, which scripts/setup installs python3-grpcio for, first.
QString grpcPython()
{
    for (const QString &candidate : {QString("/usr/bin/python3"), QStandardPaths::findExecutable("python3")}) {
        QProcess probe;
        if (candidate.isEmpty())
            continue;
        probe.start(candidate, {"-c", "import grpc"});
        if (probe.waitForFinished(60000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0)
            return candidate;
    }
    return {};
}

// Runs tests/standin-engine/clients/grpc_peer.py in `mode`; its output, trimmed.
std::string grpcPeer(const QString &python, const QStringList &arguments)
{
    QProcess process;
    process.start(python, QStringList {testsupport::sourceDir() + "/tests/standin-engine/clients/grpc_peer.py"}
                              + arguments);
    EXPECT_TRUE(process.waitForFinished(60000)) << arguments.join(' ').toStdString();
    return process.readAllStandardOutput().trimmed().toStdString() + process.readAllStandardError().toStdString();
}

class InterceptedTunnel : public standintest::EngineTest {
protected:
    void SetUp() override
    {
        m_pki = standintest::makeThrowawayPki("localhost");
        m_hostCa = writeTemporaryFile("host-ca.pem", m_pki.caPem);
        m_environment.emplace_back(standin::kTestUpstreamCaVariable, m_hostCa);
        ASSERT_NO_FATAL_FAILURE(startEngine(m_environment));
        const auto ca = m_engine->client()->Post("/ca/generate");
        ASSERT_TRUE(ca && ca->status == 200);
        m_engineCa = writeTemporaryFile("engine-ca.pem", nlohmann::json::parse(ca->body).value("certPEM", ""));
    }

    // curl's status and body for `arguments`, straight to the host or through the proxy.
    std::string curl(QStringList arguments, bool throughProxy)
    {
        const QString curl = QStandardPaths::findExecutable("curl");
        EXPECT_FALSE(curl.isEmpty()) << "curl is not installed (scripts/setup installs it)";
        if (!arguments.contains("--http2"))
            arguments << "--http1.1";
        arguments << "-sS" << "-w" << " %{http_code}" << "--max-time" << "30" << "--cacert"
                  << (throughProxy ? m_engineCa : m_hostCa);
        arguments << (throughProxy ? QStringList {"-x", "http://127.0.0.1:" + QString::number(m_proxyPort)}
                                   : QStringList {"--noproxy", "*"});
        QProcess process;
        process.start(curl, arguments);
        EXPECT_TRUE(process.waitForFinished(60000));
        return process.readAllStandardOutput().toStdString() + process.readAllStandardError().toStdString();
    }

    std::vector<std::pair<QString, QString>> m_environment;
    standintest::ThrowawayPki m_pki;
    QString m_hostCa;
    QString m_engineCa;
};

// An engine whose I/O thread is busy while a tunnel opens: the client's ClientHello arrives, and the
// wait for it runs out, before the thread looks again, so both waits end in one turn.
class BusyTunnelOpening : public InterceptedTunnel {
protected:
    BusyTunnelOpening() { m_environment.emplace_back(standin::test_switches::kOpeningStallMs, "300"); }
};

} // namespace

TEST_F(BusyTunnelOpening, AClientHelloThatCameAsTheWaitRanOutOpensTheTunnel)
{
    ScriptedHost host([](ScriptedHost::Connection &connection) {
        while (connection.next())
            connection.send("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nserver");
    }, m_pki.server);
    const QString url = QString::fromStdString("https://localhost:" + std::to_string(host.port()) + "/");
    EXPECT_EQ(curl({url}, true), "server 200");
    // The engine is still whole, and its next tunnel no less so.
    EXPECT_EQ(curl({url}, true), "server 200");
}

TEST_F(InterceptedTunnel, AnAsteriskOptionsAsksTheHostTheTunnelLeadsTo)
{
    standintest::RequestLog received;
    ScriptedHost host(received.recording([](ScriptedHost::Connection &connection, const ScriptedHost::Request &) {
        connection.send("HTTP/1.1 200 OK\r\nAllow: GET, OPTIONS\r\nContent-Length: 6\r\n\r\nserver");
    }), m_pki.server);
    const QStringList options {"-X", "OPTIONS", "--request-target", "*",
                               QString::fromStdString("https://localhost:" + std::to_string(host.port()))};
    const std::string direct = curl(options, false);
    EXPECT_EQ(direct, "server 200");
    EXPECT_EQ(curl(options, true), direct);
    EXPECT_EQ(received.lines(), (std::vector<std::string> {"OPTIONS * HTTP/1.1", "OPTIONS * HTTP/1.1"}));
}

TEST_F(InterceptedTunnel, ClientsThatCantSpeakHttp1AreRelayedUntouchedAndTheRestServedOverIt)
{
    const QString python = grpcPython();
    ASSERT_FALSE(python.isEmpty()) << "python3 with grpcio is needed (scripts/setup installs python3-grpcio)";
    const QString hostCert = writeTemporaryFile("host.pem", m_pki.server.certPem);
    QProcess grpcHost;
    grpcHost.start(python, {testsupport::sourceDir() + "/tests/standin-engine/clients/grpc_peer.py", "host", "--cert",
                            hostCert, "--key", writeTemporaryFile("host.key", m_pki.server.keyPem)});
    ASSERT_TRUE(grpcHost.waitForReadyRead(60000)) << grpcHost.readAllStandardError().toStdString();
    const QString grpcTarget = "localhost:" + QString::fromUtf8(grpcHost.readLine().trimmed());
    ScriptedHost http1([](ScriptedHost::Connection &connection) {
        while (connection.next())
            connection.send("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nserver");
    }, m_pki.server);
    const QString proxy = QString::number(m_proxyPort);

    // gRPC speaks HTTP/2 alone: its tunnel reaches the host untouched, so it trusts the host's own
    // certificate and gets the host's answer.
    const std::string direct = grpcPeer(python, {"call", "--target", grpcTarget, "--ca", hostCert});
    EXPECT_EQ(direct, "echo: hello");
    EXPECT_EQ(grpcPeer(python, {"call", "--target", grpcTarget, "--ca", hostCert, "--proxy", proxy}), direct);
    // A client that offers HTTP/1.1 besides is intercepted and told HTTP/1.1 is spoken.
    const QString http1Authority = "localhost:" + QString::number(http1.port());
    EXPECT_EQ(grpcPeer(python, {"alpn", "--authority", http1Authority, "--ca", m_engineCa, "--proxy", proxy}),
              "http/1.1");
    EXPECT_EQ(curl({"--http2", "https://" + http1Authority + "/"}, true), "server 200");

    // Only what was intercepted is recorded.
    ASSERT_TRUE(testsupport::waitFor([&] { return !history().empty(); }, 10000));
    const auto recorded = history();
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].url(), "https://" + http1Authority.toStdString() + "/");
    grpcHost.closeWriteChannel();
    EXPECT_TRUE(grpcHost.waitForFinished(60000));
}

TEST_F(InterceptedTunnel, AClientThatLeavesTakesItsConnectionToASilentHostWithIt)
{
    const QString python = grpcPython();
    ASSERT_FALSE(python.isEmpty()) << "python3 with grpcio is needed (scripts/setup installs python3-grpcio)";
    standintest::SilentPeer host(SOCK_STREAM);
    const QString authority = "127.0.0.1:" + QString::number(host.port());
    // Each client finishes its handshake with the engine and leaves while the engine is still waiting
    // for the host's TLS.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(grpcPeer(python, {"alpn", "--authority", authority, "--ca", m_engineCa, "--proxy",
                                    QString::number(m_proxyPort)}),
                  "http/1.1");
    }
    ASSERT_EQ(host.accepted(), 3u);
    // Well before the engine would give up on the host's TLS by itself (10 s).
    EXPECT_TRUE(testsupport::waitFor([&] { return host.open() == 0; }, 7000))
        << host.open() << " host connections still open";
}
