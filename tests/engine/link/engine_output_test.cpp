// The engine's standard output as the link reads it: the log, the handshake and its requests.
#include "engine/engine_client.h"
#include "engine/engine_output.h"
#include "ops_test_support.h"
#include "support/fake_control_server.h"
#include "platform/preferences.h"
#include "support/test_support.h"
#include "support/temp_preferences.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class EngineOutput : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_server.setResponder([](const RecordedRequest &request) {
            CannedReply reply;
            if (request.path() == "/events" || request.path() == "/health")
                reply.hold = true;
            else if (request.path() == "/routes")
                reply.body = "[]";
            return reply;
        });
    }

    QByteArray portLine() const { return "KESTRION_CONTROL_PORT=" + QByteArray::number(m_server.port()) + "\n"; }

    // Before the client exists, which reads the proxy port from the preferences.
    testsupport::TemporaryPreferencesDir m_dir;
    FakeControlServer m_server;
    EngineClient m_client;
};

} // namespace

TEST_F(EngineOutput, PortLineConnectsAndLogsOtherLines)
{
    m_client.ingestOutput("engine starting\n" + portLine());

    EXPECT_EQ(m_client.controlPort(), std::optional<int>(m_server.port()));
    EXPECT_TRUE(m_client.engineReady());
    EXPECT_EQ(m_client.log(), (QStringList{QStringLiteral("engine starting"),
                                           QStringLiteral("control ready on :%1").arg(m_server.port())}));
    // Connecting does not make the link healthy; only a health answer does.
    EXPECT_EQ(m_client.status(), EngineStatus::stopped());

    // Health first, then the stream, then the loads starting with the routes.
    ASSERT_TRUE(testsupport::waitFor([&] { return m_server.requests().size() >= 3; }));
    QList<QByteArray> order;
    for (const RecordedRequest &request : m_server.requests())
        order.append(request.method + ' ' + request.target);
    EXPECT_EQ(order.mid(0, 3), (QList<QByteArray>{"GET /health", "GET /events", "GET /routes"}));
}

TEST_F(EngineOutput, PortLineSplitAcrossChunksIsRecognised)
{
    const QByteArray line = portLine();
    m_client.ingestOutput("caf\xC3");
    m_client.ingestOutput("\xA9 up\nKESTRION_CONTROL_");
    EXPECT_FALSE(m_client.controlPort().has_value());
    m_client.ingestOutput(line.mid(17, 7));
    m_client.ingestOutput(line.mid(24));

    EXPECT_EQ(m_client.controlPort(), std::optional<int>(m_server.port()));
    EXPECT_EQ(m_client.log().value(0), QStringLiteral("caf\u00E9 up"));
    EXPECT_EQ(m_client.log().size(), 2);
}

TEST_F(EngineOutput, MalformedOrOutOfRangePortIsIgnoredAndNotLogged)
{
    m_client.ingestOutput("KESTRION_CONTROL_PORT=70000\nKESTRION_CONTROL_PORT=0\n"
                          "KESTRION_CONTROL_PORT=abc\nKESTRION_CONTROL_PORT=\n");
    EXPECT_FALSE(m_client.controlPort().has_value());
    EXPECT_FALSE(m_client.engineReady());
    EXPECT_TRUE(m_client.log().isEmpty());
}

TEST_F(EngineOutput, ControlTokenGoesWithEveryRequestAndNeverToTheLog)
{
    m_client.ingestOutput("KESTRION_CONTROL_TOKEN=0f3a9c\n" + portLine());
    // The start-up loads, a write and the event stream.
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_server.matching("GET", "/routes").isEmpty(); }));
    m_client.startProxy();
    ASSERT_TRUE(testsupport::waitFor([&] {
        return !m_server.matching("GET", "/events").isEmpty() && !m_server.matching("POST", "/control/start").isEmpty();
    }));
    for (const RecordedRequest &request : m_server.requests())
        EXPECT_EQ(request.headers.value("x-kestrion-token"), "0f3a9c") << request.target.toStdString();
    for (const QString &line : m_client.log())
        EXPECT_FALSE(line.contains(QStringLiteral("0f3a9c"))) << line.toStdString();

    // A token line that doesn't read as one is dropped all the same.
    EXPECT_EQ(parseControlTokenLine(u"KESTRION_CONTROL_TOKEN=a b"), std::nullopt);
    EXPECT_EQ(parseControlTokenLine(u"KESTRION_CONTROL_TOKEN= 9e1 "), std::optional<QByteArray>("9e1"));
    m_client.ingestOutput("KESTRION_CONTROL_TOKEN=not one\n");
    EXPECT_FALSE(m_client.log().contains(QStringLiteral("KESTRION_CONTROL_TOKEN=not one")));
}

TEST_F(EngineOutput, InvalidUtf8LineIsDroppedAndItsNeighboursKept)
{
    m_client.ingestOutput("before\nbad \xFF line\nafter\n");
    EXPECT_EQ(m_client.log(), (QStringList{QStringLiteral("before"), QStringLiteral("after")}));
}

TEST_F(EngineOutput, LogKeepsTheNewest200Lines)
{
    QByteArray chunk;
    for (int i = 0; i < 201; ++i)
        chunk += "line " + QByteArray::number(i) + "\n";
    m_client.ingestOutput(chunk);
    ASSERT_EQ(m_client.log().size(), 200);
    EXPECT_EQ(m_client.log().first(), QStringLiteral("line 1"));
    EXPECT_EQ(m_client.log().last(), QStringLiteral("line 200"));

    m_client.appendLog(QStringLiteral("one more"));
    EXPECT_EQ(m_client.log().size(), 200);
    EXPECT_EQ(m_client.log().first(), QStringLiteral("line 2"));
}

TEST(EngineLocations, EnvironmentOverridesWinAndTheDataDirectoryIsCreated)
{
    testsupport::TemporaryPreferencesDir dir;
    EngineClient client;
    client.setEngineExecutable(QStringLiteral("/opt/set-by-test/kestrion-engine"));
    client.setDataDirectory(dir.filePath(QStringLiteral("set")));
    EXPECT_EQ(client.engineExecutable(), QStringLiteral("/opt/set-by-test/kestrion-engine"));
    EXPECT_EQ(client.dataDirectory(), dir.filePath(QStringLiteral("set")));
    EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("set"))).isDir());

    qputenv("KESTRION_ENGINE", "/opt/from-env/kestrion-engine");
    qputenv("KESTRION_DATA_DIR", dir.filePath(QStringLiteral("env/nested")).toUtf8());
    EXPECT_EQ(client.engineExecutable(), QStringLiteral("/opt/from-env/kestrion-engine"));
    EXPECT_EQ(client.dataDirectory(), dir.filePath(QStringLiteral("env/nested")));
    EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("env/nested"))).isDir());
    qunsetenv("KESTRION_ENGINE");
    qunsetenv("KESTRION_DATA_DIR");

    // Without overrides the engine is looked for beside the application binary.
    EngineClient plain;
    EXPECT_TRUE(plain.engineExecutable().startsWith(QCoreApplication::applicationDirPath() + QLatin1Char('/')));
    EXPECT_TRUE(plain.engineExecutable().endsWith(QStringLiteral("/kestrion-engine")));
}
