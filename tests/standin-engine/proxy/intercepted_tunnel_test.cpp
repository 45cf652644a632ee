// Requests inside a tunnel the root CA intercepts reach the host the CONNECT named, as they would
// without the proxy.
#include "hosts/upstream.h"
#include "standin-engine/engine_process.h"
#include "standin-engine/scripted_host.h"

#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

using standintest::ScriptedHost;

namespace {

class InterceptedTunnel : public standintest::EngineTest {
protected:
    void SetUp() override
    {
        m_pki = standintest::makeThrowawayPki("localhost");
        m_hostCa = writeTemporaryFile("host-ca.pem", m_pki.caPem);
        ASSERT_NO_FATAL_FAILURE(startEngine({{standin::kTestUpstreamCaVariable, m_hostCa}}));
        const auto ca = m_engine->client()->Post("/ca/generate");
        ASSERT_TRUE(ca && ca->status == 200);
        m_engineCa = writeTemporaryFile("engine-ca.pem", nlohmann::json::parse(ca->body).value("certPEM", ""));
    }

    // curl's status and body for `arguments`, straight to the host or through the proxy.
    std::string curl(QStringList arguments, bool throughProxy)
    {
        const QString curl = QStandardPaths::findExecutable("curl");
        EXPECT_FALSE(curl.isEmpty()) << "curl is not installed (scripts/setup installs it)";
        arguments << "-sS" << "--http1.1" << "-w" << " %{http_code}" << "--max-time" << "30" << "--cacert"
                  << (throughProxy ? m_engineCa : m_hostCa);
        arguments << (throughProxy ? QStringList {"-x", "http://127.0.0.1:" + QString::number(m_proxyPort)}
                                   : QStringList {"--noproxy", "*"});
        QProcess process;
        process.start(curl, arguments);
        EXPECT_TRUE(process.waitForFinished(60000));
        return process.readAllStandardOutput().toStdString() + process.readAllStandardError().toStdString();
    }

    standintest::ThrowawayPki m_pki;
    QString m_hostCa;
    QString m_engineCa;
};

} // namespace

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
