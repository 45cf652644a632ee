// Mock body generation and the local model: the real stand-in engine (which has no model and answers
// prompts from the example alone), and a recording fake for the answers it never gives (another tier,
// a finished setup, failing polls).
#include "ops_test_support.h"

#include <QSignalSpy>

#include <nlohmann/json.hpp>

namespace {

using Generated = std::optional<EngineClient::GeneratedBody>;

class MockGeneration : public EngineOpsTest
{
protected:
    std::optional<QString> generate(const std::optional<QString> &example, qint64 seed, int count)
    {
        std::optional<QString> body;
        opstest::generateMock(client(), body, example, seed, count, &client());
        return body;
    }
};

} // namespace

TEST_F(MockGeneration, BodyFollowsTheExamplesShape)
{
    ASSERT_TRUE(bootLoaded());
    const auto body = generate(QStringLiteral(R"({"id":7,"name":"Ada","tags":["a"]})"), 42, 1);
    ASSERT_TRUE(body.has_value());
    const auto json = nlohmann::json::parse(body->toStdString(), nullptr, false);
    ASSERT_TRUE(json.is_object()) << body->toStdString();
    EXPECT_TRUE(json["id"].is_number_integer());
    EXPECT_TRUE(json["name"].is_string());
    EXPECT_TRUE(json["tags"].is_array());
    EXPECT_EQ(generate(QStringLiteral(R"({"id":7,"name":"Ada","tags":["a"]})"), 42, 1), body); // same seed, same body
}

TEST_F(MockGeneration, RefusedExampleLogsAndGivesNothing)
{
    ASSERT_TRUE(bootLoaded());
    // An example nested far deeper than any body is refused by the engine.
    const QString tooDeep = QString(500, QLatin1Char('[')) + QString(500, QLatin1Char(']'));
    EXPECT_FALSE(generate(tooDeep, 1, 1).has_value());
    EXPECT_EQ(client().log().last(), QStringLiteral("mock generation failed"));
}

TEST_F(MockGeneration, PromptGenerationWithoutAModelAnswersFromTheExampleAsTierOne)
{
    ASSERT_TRUE(bootLoaded());
    const QString example = QStringLiteral(R"({"users":[{"id":1,"name":"Ada"}]})");
    Generated result;
    bool finished = false;
    client().generateMockAI(QStringLiteral("five users"), example, std::nullopt, 7, 5, &client(), [&](const Generated &r) {
        result = r;
        finished = true;
    });
    ASSERT_TRUE(testsupport::waitFor([&] { return finished; }));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->tier, QStringLiteral("tier1"));
    EXPECT_EQ(std::optional<QString>(result->text), generate(example, 7, 5));
    const auto json = nlohmann::json::parse(result->text.toStdString(), nullptr, false);
    ASSERT_TRUE(json.is_object()) << result->text.toStdString();
    EXPECT_EQ(json["users"].size(), 5u);
    EXPECT_FALSE(logContains(QStringLiteral("AI generation failed")));
}

TEST_F(MockGeneration, LocalModelIsReportedMissingAndItsRequestsFail)
{
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(testsupport::waitFor([&] { return client().aiStatus().detail != "checking"; }));
    EXPECT_FALSE(client().aiStatus().available);
    EXPECT_FALSE(client().aiStatus().detail.empty());

    Generated result = EngineClient::GeneratedBody{};
    bool finished = false;
    client().generateMockAI(QStringLiteral("a user"), std::nullopt, std::nullopt, 1, 1, &client(), [&](const Generated &r) {
        result = r;
        finished = true;
    });
    ASSERT_TRUE(testsupport::waitFor([&] { return finished; }));
    EXPECT_FALSE(result.has_value()); // no example to follow
    EXPECT_EQ(client().log().last(), QStringLiteral("AI generation failed"));

    // A refused start still carries the status, which is shown.
    client().setAiStatus(AIStatus::initial());
    client().aiLifecycle(QStringLiteral("ai/start"));
    ASSERT_TRUE(testsupport::waitFor([&] { return client().aiStatus().detail != "checking"; }));
    EXPECT_FALSE(client().aiStatus().running);
}

TEST_F(MockGeneration, SetupAgainstAnEngineWithoutAModelEndsWithItsError)
{
    ASSERT_TRUE(bootLoaded());
    client().setSetupPollInterval(20);
    client().setupAI();
    EXPECT_TRUE(client().aiSetupActive());
    EXPECT_EQ(client().aiSetup().stage, "installing_server");
    EXPECT_EQ(client().aiSetup().message, "Starting\u2026");
    client().setupAI(); // a second press while it runs does nothing
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().aiSetupActive(); }));
    EXPECT_EQ(client().aiSetup().stage, "error");
    EXPECT_TRUE(logContains(QStringLiteral("AI setup failed: this engine has no local model support")));
    EXPECT_EQ(client().log().filter(QStringLiteral("AI setup failed")).size(), 1);
}

TEST_F(MockGeneration, SetupWithoutEngineTurnsItselfOffAtOnce)
{
    QSignalSpy active(&client(), &EngineClient::aiSetupActiveChanged);
    client().setupAI();
    EXPECT_EQ(active.count(), 2);
    EXPECT_FALSE(client().aiSetupActive());
    EXPECT_EQ(client().aiSetup().stage, "installing_server");
    EXPECT_EQ(client().aiSetup().message, "Starting\u2026");
    EXPECT_TRUE(client().log().isEmpty());

    std::optional<QString> body = QStringLiteral("unset");
    client().generateMock(std::nullopt, std::nullopt, 1, 1, nullptr, [&](const std::optional<QString> &b) { body = b; });
    EXPECT_FALSE(body.has_value());
    EXPECT_TRUE(client().log().isEmpty());
}

class LocalModel : public FakeEngineTest
{
protected:
    void SetUp() override
    {
        FakeEngineTest::SetUp();
        m_client.setSetupPollInterval(5);
    }

    static QByteArray progress(const char *stage, int percent, const char *extra = "")
    {
        return QByteArray(R"({"stage":")") + stage + R"(","message":"m","downloaded":)" + QByteArray::number(percent)
               + R"(,"total":100,"percent":)" + QByteArray::number(percent) + "" + extra + "}";
    }
};

TEST_F(LocalModel, GenerationRequestCarriesEmptyTextsAndTheTierHeader)
{
    QByteArray tierHeader;
    m_answer = [&](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/mock/generate")
            return answer(200, "[1,2,3]", "application/json");
        if (request.path() == "/mock/ai")
            // The fake writes Content-Type as given, so an extra header line can ride along.
            return answer(200, "{\"ai\":true}", "application/json" + tierHeader);
        return std::nullopt;
    };
    connectClient();
    std::optional<QString> body;
    m_client.generateMock(std::nullopt, std::nullopt, 9007199254740993LL, 3, nullptr,
                          [&](const std::optional<QString> &b) { body = b; });
    ASSERT_TRUE(testsupport::waitFor([&] { return body.has_value(); }));
    EXPECT_EQ(*body, QStringLiteral("[1,2,3]"));
    const RecordedRequest sent = m_server.matching("POST", "/mock/generate").first();
    EXPECT_EQ(sent.headers.value("content-type"), "application/json");
    EXPECT_EQ(nlohmann::json::parse(sent.body.toStdString()),
              nlohmann::json::parse(R"({"key":"","example":"","seed":9007199254740993,"count":3})"));

    Generated result;
    m_client.generateMockAI(QStringLiteral("users"), QStringLiteral("{}"), QStringLiteral("GET a/b"), 5, 2, nullptr,
                            [&](const Generated &r) { result = r; });
    ASSERT_TRUE(testsupport::waitFor([&] { return result.has_value(); }));
    EXPECT_EQ(result->text, QStringLiteral("{\"ai\":true}"));
    EXPECT_EQ(result->tier, QStringLiteral("tier1"));
    EXPECT_EQ(nlohmann::json::parse(m_server.matching("POST", "/mock/ai").first().body.toStdString()),
              nlohmann::json::parse(R"({"prompt":"users","key":"GET a/b","example":"{}","seed":5,"count":2})"));

    tierHeader = "\r\nX-Kestrion-Tier: tier3-local";
    result.reset();
    m_client.generateMockAI(QStringLiteral("users"), std::nullopt, std::nullopt, 5, 2, nullptr,
                            [&](const Generated &r) { result = r; });
    ASSERT_TRUE(testsupport::waitFor([&] { return result.has_value(); }));
    EXPECT_EQ(result->tier, QStringLiteral("tier3-local"));
}

TEST_F(LocalModel, InvalidUtf8BodyIsAFailure)
{
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/mock/generate")
            return answer(200, "bad \xFF bytes");
        return std::nullopt;
    };
    connectClient();
    std::optional<QString> body = QStringLiteral("unset");
    ASSERT_TRUE(opstest::generateMock(m_client, body));
    EXPECT_FALSE(body.has_value());
    EXPECT_EQ(m_client.log().last(), QStringLiteral("mock generation failed"));
}

TEST_F(LocalModel, StopAnswerThatIsNotAStatusLeadsToAStatusLoad)
{
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/ai/stop")
            return answer(200, "stopped");
        if (request.path() == "/ai/status")
            return answer(200, R"({"available":true,"running":false,"serverBin":"s","model":"m","endpoint":"e","detail":"idle"})");
        return std::nullopt;
    };
    connectClient();
    const int loads = count("GET", "/ai/status");
    m_client.aiLifecycle(QStringLiteral("ai/stop"));
    ASSERT_TRUE(testsupport::waitFor([&] { return count("GET", "/ai/status") == loads + 1; }));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.aiStatus().detail == "idle"; }));
}

TEST_F(LocalModel, SetupPublishesEachProgressUntilDone)
{
    int polls = 0;
    m_answer = [&](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.method == "POST" && request.path() == "/ai/setup")
            return answer(202, "{}");
        if (request.method == "GET" && request.path() == "/ai/setup") {
            ++polls;
            if (polls == 1)
                return answer(200, progress("installing_server", 0));
            if (polls < 4)
                return answer(200, progress("downloading_model", polls * 30));
            return answer(200, progress("done", 100));
        }
        return std::nullopt;
    };
    connectClient();
    QStringList seen;
    QObject::connect(&m_client, &EngineClient::aiSetupChanged, &m_client, [&] {
        seen.append(QString::fromStdString(m_client.aiSetup().stage) + QLatin1Char(' ')
                    + QString::number(m_client.aiSetup().percent));
    });
    const int statusLoads = count("GET", "/ai/status");
    m_client.setupAI();
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client.aiSetupActive(); }));
    EXPECT_EQ(seen, (QStringList{QStringLiteral("installing_server 0"), QStringLiteral("installing_server 0"),
                                 QStringLiteral("downloading_model 60"), QStringLiteral("downloading_model 90"),
                                 QStringLiteral("done 100")}));
    EXPECT_EQ(m_server.matching("POST", "/ai/setup").first().body, QByteArray("{}"));
    EXPECT_EQ(m_client.log().last(), QStringLiteral("\u2022 AI setup complete"));
    ASSERT_TRUE(testsupport::waitFor([&] { return count("GET", "/ai/status") == statusLoads + 1; }));
}

TEST_F(LocalModel, ErrorStageWithoutTextSaysUnknownError)
{
    m_answer = [&](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.method == "GET" && request.path() == "/ai/setup")
            return answer(200, progress("error", 0));
        return std::nullopt;
    };
    connectClient();
    const int statusLoads = count("GET", "/ai/status");
    m_client.setupAI();
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client.aiSetupActive(); }));
    EXPECT_EQ(m_client.log().last(), QStringLiteral("AI setup failed: unknown error"));
    opstest::settle(100);
    EXPECT_EQ(count("GET", "/ai/status"), statusLoads);
}

TEST_F(LocalModel, FailedSetupRequestEndsTheSetupSoItCanBeTriedAgain)
{
    int setupStatus = 500;
    m_answer = [&](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.method == "POST" && request.path() == "/ai/setup")
            return answer(setupStatus, "busy");
        if (request.method == "GET" && request.path() == "/ai/setup")
            return answer(200, progress("done", 100));
        return std::nullopt;
    };
    connectClient();
    m_client.setupAI();
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client.aiSetupActive(); }));
    EXPECT_EQ(m_client.log().last(), QStringLiteral("AI setup failed: HTTP 500"));
    EXPECT_EQ(count("GET", "/ai/setup"), 0);

    setupStatus = 202;
    m_client.setupAI();
    EXPECT_TRUE(m_client.aiSetupActive());
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client.aiSetupActive(); }));
    EXPECT_EQ(m_client.log().last(), QStringLiteral("\u2022 AI setup complete"));
}

TEST_F(LocalModel, PollingGivesUpAfterRepeatedFailures)
{
    m_answer = [&](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.method == "GET" && request.path() == "/ai/setup")
            return answer(502, "gateway");
        return std::nullopt;
    };
    connectClient();
    m_client.setupAI();
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client.aiSetupActive(); }));
    EXPECT_EQ(count("GET", "/ai/setup"), EngineClient::MaxSetupPollFailures);
    EXPECT_TRUE(m_client.log().last().startsWith(QStringLiteral("AI setup failed: ")));
    opstest::settle(100);
    EXPECT_EQ(count("GET", "/ai/setup"), EngineClient::MaxSetupPollFailures);
}

TEST_F(LocalModel, PollingEndsWhenTheEngineGoesAway)
{
    m_answer = [&](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.method == "GET" && request.path() == "/ai/setup")
            return answer(200, progress("downloading_model", 10));
        return std::nullopt;
    };
    connectClient();
    m_client.setupAI();
    ASSERT_TRUE(testsupport::waitFor([&] { return count("GET", "/ai/setup") >= 2; }));
    m_client.shutdown();
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client.aiSetupActive(); }));
    EXPECT_EQ(m_client.log().last(), QStringLiteral("AI setup failed: engine not connected"));
}
