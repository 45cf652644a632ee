// Route and environment pushes against the real stand-in engine: one write on the wire, the newest waits
// behind it, and the engine ends with the last edit the window shows, also when a write is held or fails.
#include "ops_test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <nlohmann/json.hpp>

using opstest::route;

namespace {

constexpr std::size_t LongBodyBytes = 3 * 1024 * 1024;

// A body of `bytes` bytes that says which edit made it.
std::string longBody(int edit, std::size_t bytes = LongBodyBytes)
{
    std::string body = "edit-" + std::to_string(edit) + ":";
    body.resize(bytes, char('a' + edit % 26));
    return body;
}

class OrderedPushTest : public EngineOpsTest
{
protected:
    bool bootForWrites()
    {
        const bool booted = bootLoaded();
        qunsetenv("KESTRION_TEST_HOLD_WRITE");
        QObject::connect(client().network(), &QNetworkAccessManager::finished, &m_watch, [this](QNetworkReply *reply) {
            if (reply->operation() == QNetworkAccessManager::PostOperation && reply->url().path() == "/routes")
                ++m_routePosts;
        });
        return booted;
    }

    // The engine's body of route r-1, as it answers GET /routes now.
    std::string engineBody()
    {
        std::optional<QByteArray> body;
        client().sendControl("GET", QStringLiteral("routes"), {}, std::nullopt, 10000, nullptr,
                             [&body](const ControlReply &reply) { body = reply.body; });
        EXPECT_TRUE(testsupport::waitFor([&] { return body.has_value(); }, 15000));
        const auto routes = nlohmann::json::parse(body.value_or("[]").toStdString(), nullptr, false);
        for (const auto &route : routes)
            if (route.value("id", "") == "r-1")
                return route.value("body", "");
        return {};
    }

    void editBody(const std::string &body)
    {
        Endpoint edited = client().endpoints().value(0);
        edited.body = body;
        client().updateEndpoint(edited);
    }

    bool settled(int timeoutMs = 20000)
    {
        return testsupport::waitFor([&] { return !client().routePushPending(); }, timeoutMs);
    }

    int m_routePosts = 0;
    QObject m_watch;
};

} // namespace

TEST_F(OrderedPushTest, ShortEditMadeWhileALongWriteIsHeldAtTheEngineIsTheOneKept)
{
    holdFirst("POST /routes");
    ASSERT_TRUE(bootForWrites());
    // A write held past any time limit is still waited for: cutting it short would not take it back.
    ControlTimeouts timeouts = client().controlTimeouts();
    timeouts.general = timeouts.project = 100;
    client().setControlTimeouts(timeouts);
    client().replaceEndpoints({route("r-1", "/a", longBody(1))});
    ASSERT_TRUE(waitUntilHeld());
    // Select all, type: the short text is the last edit, due at once.
    editBody("short");
    client().flushPendingPushes(0);
    // It waits behind the held write: not answered, and not on the engine.
    EXPECT_FALSE(testsupport::waitFor([&] { return !client().routePushPending(); }, 500));
    EXPECT_EQ(engineBody(), "");

    release();
    ASSERT_TRUE(settled());
    EXPECT_EQ(engineBody(), "short");
    EXPECT_EQ(m_routePosts, 2);

    stopEngine();
    m_client = makeClient();
    ASSERT_TRUE(bootLoaded());
    EXPECT_EQ(engineBody(), "short");
}

TEST_F(OrderedPushTest, NewerEditWaitingBehindAWriteThatFailsStillGoes)
{
    holdFirst("POST /routes");
    ASSERT_TRUE(bootForWrites());
    client().replaceEndpoints({route("r-1", "/a", longBody(1))});
    ASSERT_TRUE(waitUntilHeld());
    // Due one after the other: the newest replaces the one waiting.
    editBody("first newer");
    client().flushPendingPushes(0);
    editBody("newest");
    client().flushPendingPushes(0);
    EXPECT_TRUE(client().routePushPending());

    // The held write's connection is cut: no answer, nothing applied, and it is not sent again.
    release("cut");
    ASSERT_TRUE(settled());
    EXPECT_EQ(engineBody(), "newest");
    EXPECT_EQ(m_routePosts, 2);
}

TEST_F(OrderedPushTest, BurstOfLongEditsEndsWithTheLastOnTheEngine)
{
    ASSERT_TRUE(bootForWrites());
    client().setPushDebounceMs(1);
    client().replaceEndpoints({route("r-1", "/a")});
    for (int edit = 0; edit < 20; ++edit) {
        editBody(longBody(edit));
        opstest::settle(2); // the debounce ends between edits, so writes are on the wire as the next comes
    }
    ASSERT_TRUE(settled(60000));
    EXPECT_EQ(engineBody().substr(0, 8), "edit-19:");
}

TEST_F(OrderedPushTest, BurstOfLongEnvironmentEditsEndsWithTheLastOnTheEngine)
{
    ASSERT_TRUE(bootForWrites());
    client().setPushDebounceMs(1);
    client().addEnvironment(QStringLiteral("Big"));
    const QString environment = client().activeEnvID();
    client().addVar(environment);
    const QString var = QString::fromStdString(client().environments().last().vars.front().id);
    for (int edit = 0; edit < 20; ++edit) {
        client().setVar(environment, var, QStringLiteral("blob"), QString::fromStdString(longBody(edit)));
        opstest::settle(2);
    }
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().environmentPushPending(); }, 60000));
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) { client().loadEnvironments(done); }, 15000));
    ASSERT_EQ(client().activeEnvVars().size(), 1);
    EXPECT_EQ(client().activeEnvVars().front().value.substr(0, 8), "edit-19:");
}
