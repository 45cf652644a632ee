// Environments: local edits, the debounced push of the whole set, and the round trip through
// the real stand-in engine.
#include "ops_test_support.h"

#include <QRegularExpression>
#include <QSignalSpy>

#include <nlohmann/json.hpp>

namespace {

QString idOf(const MockEnvironment &environment)
{
    return QString::fromStdString(environment.id);
}

} // namespace

using EnvironmentsOnEngine = EngineOpsTest;

TEST_F(EnvironmentsOnEngine, RoundTripThroughTheEngine)
{
    ASSERT_TRUE(bootLoaded());
    client().addEnvironment(QStringLiteral("Staging"));
    const QString staging = idOf(client().environments().last());
    client().addVar(staging);
    client().addVar(staging);
    const auto &vars = client().environments().last().vars;
    client().setVar(staging, QString::fromStdString(vars[0].id), QStringLiteral("token"), std::nullopt);
    client().setVar(staging, QString::fromStdString(vars[0].id), std::nullopt, QStringLiteral("s3cr\u00e9t"));
    client().setVar(staging, QString::fromStdString(vars[1].id), QStringLiteral("empty"), QString());
    client().addEnvironment(QStringLiteral("Prod"));
    const QList<MockEnvironment> edited = client().environments();
    const QString active = client().activeEnvID();
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().environmentPushPending(); }));

    // A second client on the same data dir reads what the first one pushed.
    stopEngine();
    m_client = makeClient();
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(testsupport::waitFor([&] { return client().environments().size() == edited.size(); }));
    EXPECT_EQ(client().activeEnvID(), active);
    for (qsizetype i = 0; i < edited.size(); ++i) {
        const MockEnvironment &loaded = client().environments()[i];
        EXPECT_EQ(loaded.id, edited[i].id);
        EXPECT_EQ(loaded.name, edited[i].name);
        ASSERT_EQ(loaded.vars.size(), edited[i].vars.size());
        for (std::size_t v = 0; v < loaded.vars.size(); ++v) {
            EXPECT_EQ(loaded.vars[v].key, edited[i].vars[v].key);
            EXPECT_EQ(loaded.vars[v].value, edited[i].vars[v].value);
            EXPECT_NE(loaded.vars[v].id, edited[i].vars[v].id); // every load makes new row ids
        }
    }
}

TEST_F(EnvironmentsOnEngine, PendingPushReachesTheEngineBeforeShutdown)
{
    ASSERT_TRUE(bootLoaded());
    client().addEnvironment(QStringLiteral("Last edit"));
    stopEngine(); // inside the debounce

    m_client = makeClient();
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(testsupport::waitFor([&] { return client().environments().size() == 1; }));
    EXPECT_EQ(client().environments().first().name, "Last edit");
}

class EnvironmentEdits : public ::testing::Test
{
protected:
    testsupport::TemporaryPreferencesDir m_dir;
    EngineClient m_client;
};

TEST_F(EnvironmentEdits, AddMakesTheNewEnvironmentActive)
{
    m_client.addEnvironment(QStringLiteral("Dev"));
    ASSERT_EQ(m_client.environments().size(), 1);
    const MockEnvironment &dev = m_client.environments().first();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^env-[0-9A-F]{8}$")).match(idOf(dev)).hasMatch());
    EXPECT_EQ(dev.name, "Dev");
    EXPECT_TRUE(dev.vars.empty());
    EXPECT_EQ(m_client.activeEnvID(), idOf(dev));
    EXPECT_TRUE(m_client.environmentPushPending());
}

TEST_F(EnvironmentEdits, DuplicateAppendsACopyAndKeepsTheActiveOne)
{
    m_client.addEnvironment(QStringLiteral("Dev"));
    const QString dev = idOf(m_client.environments().first());
    m_client.addVar(dev);
    const QString varId = QString::fromStdString(m_client.environments().first().vars[0].id);
    m_client.setVar(dev, varId, QStringLiteral("host"), QStringLiteral("dev.test"));
    m_client.addEnvironment(QStringLiteral("Other"));
    const QString active = m_client.activeEnvID();

    m_client.duplicateEnvironment(dev);
    ASSERT_EQ(m_client.environments().size(), 3);
    const MockEnvironment &copy = m_client.environments().last();
    EXPECT_EQ(copy.name, "Dev copy");
    EXPECT_NE(idOf(copy), dev);
    ASSERT_EQ(copy.vars.size(), 1u);
    EXPECT_EQ(copy.vars[0].key, "host");
    EXPECT_EQ(copy.vars[0].value, "dev.test");
    EXPECT_NE(QString::fromStdString(copy.vars[0].id), varId);
    EXPECT_EQ(m_client.activeEnvID(), active);
}

TEST_F(EnvironmentEdits, DeletingTheActiveOneClearsTheActiveId)
{
    m_client.addEnvironment(QStringLiteral("A"));
    m_client.addEnvironment(QStringLiteral("B"));
    const QString b = m_client.activeEnvID();
    m_client.deleteEnvironment(b);
    EXPECT_EQ(m_client.activeEnvID(), QString());
    ASSERT_EQ(m_client.environments().size(), 1);
    EXPECT_EQ(m_client.environments().first().name, "A");
}

TEST_F(EnvironmentEdits, UnknownIdsChangeNothingAndPushNothingExceptDelete)
{
    m_client.renameEnvironment(QStringLiteral("env-NOPE"), QStringLiteral("X"));
    m_client.addVar(QStringLiteral("env-NOPE"));
    m_client.duplicateEnvironment(QStringLiteral("env-NOPE"));
    m_client.setVar(QStringLiteral("env-NOPE"), QStringLiteral("v"), QStringLiteral("k"), std::nullopt);
    m_client.removeVar(QStringLiteral("env-NOPE"), QStringLiteral("v"));
    EXPECT_TRUE(m_client.environments().isEmpty());
    EXPECT_FALSE(m_client.environmentPushPending());

    QSignalSpy changed(&m_client, &EngineClient::environmentsChanged);
    m_client.deleteEnvironment(QStringLiteral("env-NOPE"));
    EXPECT_EQ(changed.count(), 1); // every write of the list is announced
    EXPECT_TRUE(m_client.environmentPushPending());
}

TEST_F(EnvironmentEdits, ActiveVarsLeaveOutEmptyKeysOnly)
{
    EXPECT_TRUE(m_client.activeEnvVars().isEmpty());
    m_client.addEnvironment(QStringLiteral("Dev"));
    const QString dev = m_client.activeEnvID();
    for (int i = 0; i < 3; ++i)
        m_client.addVar(dev);
    const auto vars = m_client.environments().first().vars;
    m_client.setVar(dev, QString::fromStdString(vars[0].id), QStringLiteral("a"), QStringLiteral("1"));
    m_client.setVar(dev, QString::fromStdString(vars[2].id), QStringLiteral(" "), QStringLiteral("2"));
    const QList<EnvVar> active = m_client.activeEnvVars();
    ASSERT_EQ(active.size(), 2);
    EXPECT_EQ(active[0].key, "a");
    EXPECT_EQ(active[1].key, " ");
    EXPECT_EQ(m_client.environments().first().vars.size(), 3u); // the empty key stays in the list

    m_client.setActiveEnvID(QStringLiteral("env-GONE"));
    EXPECT_TRUE(m_client.activeEnvVars().isEmpty());
}

using EnvironmentPush = FakeEngineTest;

TEST_F(EnvironmentPush, BurstOfEditsSendsOnePostWithTheLastState)
{
    connectClient();
    m_client.addEnvironment(QStringLiteral("Dev"));
    const QString dev = m_client.activeEnvID();
    m_client.addVar(dev);
    const QString varId = QString::fromStdString(m_client.environments().first().vars[0].id);
    m_client.setVar(dev, varId, QStringLiteral("token"), std::nullopt);
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/environments") == 1; }));
    // Once nothing is pending, no other post can follow.
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client.environmentPushPending(); }));
    ASSERT_EQ(count("POST", "/environments"), 1);

    const RecordedRequest post = m_server.matching("POST", "/environments").first();
    EXPECT_EQ(post.headers.value("content-type"), "application/json");
    const nlohmann::json expected = {
        {"environments", {{{"id", dev.toStdString()}, {"name", "Dev"}, {"vars", {{{"key", "token"}, {"value", ""}}}}}}},
        {"activeId", dev.toStdString()}};
    EXPECT_EQ(nlohmann::json::parse(post.body.toStdString()), expected);
}

TEST_F(EnvironmentPush, NewEnvironmentIsSentWithAnEmptyVarsList)
{
    connectClient();
    m_client.addEnvironment(QStringLiteral("Bare"));
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/environments") == 1; }));
    const QByteArray body = m_server.matching("POST", "/environments").first().body;
    EXPECT_EQ(body, QByteArray(R"({"environments":[{"id":")") + m_client.activeEnvID().toUtf8()
                        + R"(","name":"Bare","vars":[]}],"activeId":")" + m_client.activeEnvID().toUtf8() + R"("})");
}

TEST_F(EnvironmentPush, EditWhilePostIsInFlightSendsTheNewerSet)
{
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.method == "POST" && request.path() == "/environments") {
            CannedReply slow = answer(200, "{}");
            slow.delayMs = 250;
            return slow;
        }
        return std::nullopt;
    };
    connectClient();
    m_client.addEnvironment(QStringLiteral("One"));
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/environments") == 1; }));
    m_client.renameEnvironment(m_client.activeEnvID(), QStringLiteral("Two"));
    EXPECT_TRUE(m_client.environmentPushPending());
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/environments") == 2; }));
    EXPECT_TRUE(m_server.matching("POST", "/environments").last().body.contains("\"Two\""));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client.environmentPushPending(); }));
}

TEST_F(EnvironmentPush, LoadFailuresKeepTheEnvironments)
{
    QByteArray reply = "not json";
    int status = 200;
    m_answer = [&](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.method == "GET" && request.path() == "/environments")
            return answer(status, reply);
        return std::nullopt;
    };
    connectClient();
    m_client.addEnvironment(QStringLiteral("Kept"));
    const QList<MockEnvironment> before = m_client.environments();
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) { m_client.loadEnvironments(done); }));
    EXPECT_EQ(m_client.environments(), before);

    status = 500;
    reply = R"({"environments":[],"activeId":""})";
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) { m_client.loadEnvironments(done); }));
    EXPECT_EQ(m_client.environments(), before);
    EXPECT_FALSE(m_client.activeEnvID().isEmpty());

    status = 200;
    reply = R"({"environments":[{"id":"e1","name":"From engine"}],"activeId":"e1"})";
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) { m_client.loadEnvironments(done); }));
    ASSERT_EQ(m_client.environments().size(), 1);
    EXPECT_EQ(m_client.environments().first().name, "From engine");
    EXPECT_TRUE(m_client.environments().first().vars.empty());
    EXPECT_EQ(m_client.activeEnvID(), QStringLiteral("e1"));
}
