// Test fixture: an EngineClient against the real stand-in engine, on temporary data and settings.
#pragma once

// The preferences file is temporary; clients get proxy port 0, so the engine takes any free port,
// unless the test stores a port of its own. TearDown ends the engine at once and waits until the
// process is gone; cases about how an engine stops call stopEngine() themselves.

#include "engine/engine_client.h"
#include "platform/preferences.h"
#include "support/test_support.h"
#include "support/temp_preferences.h"

#include <QByteArray>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <signal.h>

class EngineFixture : public ::testing::Test
{
public:
    // The link's pauses as these tests run them, far below the app's own.
    static constexpr int ShortDebounceMs = 10;
    static constexpr int ShortFlushDelayMs = 10;
    static constexpr int ShortFreshMs = 100;

protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        Preferences::instance().setValue(PrefKey::AnalyticsOptIn, false);
        m_client = makeClient();
    }

    void TearDown() override
    {
        killEngine();
        m_client.reset();
        qunsetenv("KESTRION_STANDIN_FAULT");
    }

    // A client set up for this test's data dir and the stand-in engine (not booted).
    std::unique_ptr<EngineClient> makeClient()
    {
        auto client = std::make_unique<EngineClient>();
        client->setEngineExecutable(testsupport::standinEnginePath());
        client->setDataDirectory(dataDir());
        // Edits reach the engine and new traffic the list without the production pauses; no case
        // here is about their length.
        client->setPushDebounceMs(ShortDebounceMs);
        client->setTrafficFlushDelayMs(ShortFlushDelayMs);
        client->setTrafficFreshMs(ShortFreshMs);
        // A stored 0 reads as the default port, so "any free port" is set on the client itself.
        if (!Preferences::instance().contains(PrefKey::ProxyPort))
            client->setProxyPort(0);
        QObject::connect(client->network(), &QNetworkAccessManager::finished, client.get(), [this](QNetworkReply *reply) {
            m_controlToken = reply->request().rawHeader("X-Kestrion-Token");
        });
        return client;
    }

    QString dataDir() const { return m_dir.filePath(QStringLiteral("data")); }
    EngineClient &client() { return *m_client; }
    // The token the link showed on its latest answered request, so that a second link reaches the same engine.
    QByteArray controlToken() const { return m_controlToken; }

    // Makes the next boot's engine misbehave in the given way (test-only switch of the stand-in).
    void setFault(const char *fault) { qputenv("KESTRION_STANDIN_FAULT", fault); }

    // Boots and waits for the first good health answer.
    bool bootHealthy(bool autostartProxy = false, int timeoutMs = 10000)
    {
        m_client->boot(autostartProxy);
        qunsetenv("KESTRION_STANDIN_FAULT");
        return testsupport::waitFor([this] { return m_client->status() == EngineStatus::healthy(); },
                                    timeoutMs);
    }

    bool logContains(const QString &line) const { return m_client->log().contains(line); }
    bool waitForLog(const QString &line, int timeoutMs = 5000)
    {
        return testsupport::waitFor([&] { return logContains(line); }, timeoutMs);
    }

    // The engine's process id as its health record reports it; 0 before the first answer.
    qint64 enginePid() const { return m_client->health() ? m_client->health()->pid : 0; }

    static bool processAlive(qint64 pid) { return pid > 0 && ::kill(pid_t(pid), 0) == 0; }

    // Sends one plain forward-proxy request through the engine's proxy and returns the status
    // code of the answer (0 when none came).
    int proxyGet(const QString &host, const QString &path)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(m_client->proxyPort()));
        if (!socket.waitForConnected(3000))
            return 0;
        const QByteArray request = "GET http://" + host.toUtf8() + path.toUtf8() + " HTTP/1.1\r\nHost: "
                                   + host.toUtf8() + "\r\nConnection: close\r\n\r\n";
        socket.write(request);
        QByteArray answer;
        while (socket.waitForReadyRead(3000)) {
            answer += socket.readAll();
            if (socket.state() != QAbstractSocket::ConnectedState)
                break;
        }
        answer += socket.readAll();
        const QList<QByteArray> statusLine = answer.left(answer.indexOf('\r')).split(' ');
        return statusLine.value(1).toInt();
    }

    // Ends the linked engine process at once (no shutdown request, nothing saved) and waits until it is gone.
    void killEngine()
    {
        if (!m_client)
            return;
        const qint64 pid = m_client->engineProcessId();
        if (pid > 0 && ::kill(pid_t(pid), SIGKILL) == 0)
            testsupport::waitFor([pid] { return !processAlive(pid); }, 5000);
    }

    // Shuts the link down and waits until no engine process of this test is left.
    void stopEngine()
    {
        if (!m_client)
            return;
        const qint64 pid = enginePid();
        m_client->shutdown();
        if (pid > 0)
            testsupport::waitFor([pid] { return !processAlive(pid); }, 5000);
    }

    testsupport::TemporaryPreferencesDir m_dir;
    std::unique_ptr<EngineClient> m_client;
    QByteArray m_controlToken;
};
