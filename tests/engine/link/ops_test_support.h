// Shared helpers of the engine operation tests: fake and real engine fixtures, route builders, files.
#pragma once

#include "engine/engine_client.h"
#include "engine_fixture.h"
#include "support/fake_control_server.h"
#include "platform/preferences.h"
#include "support/test_support.h"
#include "support/temp_preferences.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace opstest {

// The smallest OpenAPI document the engine makes a project of: "Tiny", one route GET /ping.
inline const QByteArray TinyYaml = R"(openapi: 3.0.0
info:
  title: Tiny
  version: "1"
paths:
  /ping:
    get:
      responses:
        "200":
          description: pong
)";

inline Endpoint route(const std::string &id, const std::string &path, const std::string &body = "{}")
{
    Endpoint endpoint;
    endpoint.id = id;
    endpoint.host = "api.test";
    endpoint.path = path;
    endpoint.body = body;
    return endpoint;
}

inline QStringList endpointIds(const QList<Endpoint> &endpoints)
{
    QStringList ids;
    for (const Endpoint &endpoint : endpoints)
        ids.append(QString::fromStdString(endpoint.id));
    return ids;
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Lets the event loop run for a while (for checks that something does NOT happen).
inline void settle(int ms)
{
    testsupport::waitFor([] { return false; }, ms);
}

// Runs an operation that ends with a Done callback and waits for it.
inline bool runToEnd(const std::function<void(EngineClient::Done)> &operation, int timeoutMs = 10000)
{
    bool finished = false;
    operation([&finished] { finished = true; });
    return testsupport::waitFor([&] { return finished; }, timeoutMs);
}

// Asks the client for a generated mock body and waits for its answer into `body`; false when none came.
inline bool generateMock(EngineClient &client, std::optional<QString> &body,
                         const std::optional<QString> &example = std::nullopt, qint64 seed = 1, int count = 1,
                         QObject *context = nullptr)
{
    bool finished = false;
    client.generateMock(example, std::nullopt, seed, count, context, [&](const std::optional<QString> &b) {
        body = b;
        finished = true;
    });
    return testsupport::waitFor([&] { return finished; });
}

} // namespace opstest

// A client whose control port points at a recording loopback server; each test says how it answers.
class FakeEngineTest : public ::testing::Test
{
protected:
    using Answer = std::function<std::optional<CannedReply>(const RecordedRequest &)>;

    void SetUp() override
    {
        // Cases about the debounce's length set the production one back.
        m_client.setPushDebounceMs(EngineFixture::ShortDebounceMs);
        m_server.setResponder([this](const RecordedRequest &request) {
            if (m_answer)
                if (std::optional<CannedReply> special = m_answer(request))
                    return *special;
            CannedReply reply;
            if (request.path() == "/events" || request.path() == "/health")
                reply.hold = true;
            return reply;
        });
    }

    // Hands the client the fake's port and waits until the start-up loads have gone out.
    void connectClient()
    {
        m_client.ingestOutput("KESTRION_CONTROL_PORT=" + QByteArray::number(m_server.port()) + "\n");
        ASSERT_TRUE(testsupport::waitFor([&] { return count("GET", "/ai/status") == 1; }));
    }

    int count(const QByteArray &method, const QByteArray &path) const
    {
        return int(m_server.matching(method, path).size());
    }

    static CannedReply answer(int status, const QByteArray &body = {}, const QByteArray &contentType = "application/json")
    {
        CannedReply reply;
        reply.status = status;
        reply.body = body;
        reply.contentType = contentType;
        return reply;
    }

    testsupport::TemporaryPreferencesDir m_dir;
    FakeControlServer m_server;
    Answer m_answer;
    EngineClient m_client;
};

// The real stand-in engine, booted and done with its start-up loads (the local-model status is
// the last of them), so that a test's own edits are not overwritten by a late load.
class EngineOpsTest : public EngineFixture
{
protected:
    void TearDown() override
    {
        qunsetenv("KESTRION_TEST_HOLD_WRITE");
        EngineFixture::TearDown();
    }

    bool bootLoaded(bool autostartProxy = false)
    {
        return bootHealthy(autostartProxy)
               && testsupport::waitFor([this] { return m_client->aiStatus() != AIStatus::initial(); });
    }

    // The next engine holds its first write of this method and path whole until release().
    void holdFirst(const QByteArray &methodAndPath)
    {
        ASSERT_TRUE(QDir().mkpath(holdDir()));
        qputenv("KESTRION_TEST_HOLD_WRITE", methodAndPath + ' ' + holdDir().toUtf8());
    }
    bool waitUntilHeld() { return testsupport::waitFor([&] { return QFileInfo::exists(holdDir() + "/held"); }); }
    // "cut" closes the held write's connection with nothing applied or answered.
    void release(const QByteArray &how = "go") { opstest::writeFile(holdDir() + "/release", how); }
    QString holdDir() const { return m_dir.filePath(QStringLiteral("hold")); }
};
