// Chaos presets: the toggle rule, the instant local choice, the reload that shows the engine's
// truth, and the log lines, against the real stand-in engine.
#include "ops_test_support.h"

namespace {

class Chaos : public EngineOpsTest
{
protected:
    bool bootWithPresets()
    {
        return bootLoaded() && testsupport::waitFor([&] { return client().chaosPresets().size() >= 2; });
    }

    QString presetId(int index) const
    {
        return QString::fromStdString(m_client->chaosPresets()[index].id);
    }

    // Waits for the reload that follows a choice (its log line comes after it).
    bool settled(const QString &line)
    {
        return waitForLog(line);
    }
};

} // namespace

TEST_F(Chaos, ChoosingAPresetAndChoosingItAgainSwitchesOnAndOff)
{
    ASSERT_TRUE(bootWithPresets());
    EXPECT_EQ(client().activeChaosId(), QString());
    const QString a = presetId(0);

    client().setChaosPreset(a);
    EXPECT_EQ(client().activeChaosId(), a); // shown before the engine answers
    ASSERT_TRUE(settled(QStringLiteral("\u2022 chaos: ") + a));
    EXPECT_EQ(client().activeChaosId(), a);

    client().setChaosPreset(a);
    EXPECT_EQ(client().activeChaosId(), QString());
    ASSERT_TRUE(settled(QStringLiteral("\u2022 chaos off")));
    EXPECT_EQ(client().activeChaosId(), QString());

    // The choice is the engine's, so a restarted engine still has chaos off.
    client().setChaosPreset(a);
    ASSERT_TRUE(testsupport::waitFor([&] { return client().log().count(QStringLiteral("\u2022 chaos: ") + a) == 2; }));
    stopEngine();
    m_client = makeClient();
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(testsupport::waitFor([&] { return client().activeChaosId() == a; }));
}

TEST_F(Chaos, ChoosingAnotherPresetSwitchesStraightToIt)
{
    ASSERT_TRUE(bootWithPresets());
    const QString a = presetId(0);
    const QString b = presetId(1);
    client().setChaosPreset(a);
    ASSERT_TRUE(settled(QStringLiteral("\u2022 chaos: ") + a));

    client().setChaosPreset(b);
    EXPECT_EQ(client().activeChaosId(), b);
    ASSERT_TRUE(settled(QStringLiteral("\u2022 chaos: ") + b));
    EXPECT_EQ(client().activeChaosId(), b);
    EXPECT_FALSE(logContains(QStringLiteral("\u2022 chaos off")));
}

TEST_F(Chaos, RefusedChoiceIsUndoneByTheReloadAndStillLogged)
{
    ASSERT_TRUE(bootWithPresets());
    const QString a = presetId(0);
    client().setChaosPreset(a);
    ASSERT_TRUE(settled(QStringLiteral("\u2022 chaos: ") + a));

    client().setChaosPreset(QStringLiteral("no-such-preset"));
    EXPECT_EQ(client().activeChaosId(), QStringLiteral("no-such-preset"));
    ASSERT_TRUE(settled(QStringLiteral("\u2022 chaos: no-such-preset")));
    EXPECT_EQ(client().activeChaosId(), a);
}

TEST_F(Chaos, WithoutEngineTheChoiceIsOnlyLocal)
{
    client().setChaosPreset(QStringLiteral("slow"));
    EXPECT_EQ(client().activeChaosId(), QStringLiteral("slow"));
    opstest::settle(100);
    EXPECT_TRUE(client().log().isEmpty());
}

using ChaosRequests = FakeEngineTest;

TEST_F(ChaosRequests, ErrorStatusWithAValidStateIsApplied)
{
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.method == "GET" && request.path() == "/chaos")
            return answer(500, R"({"presets":[{"id":"p","name":"P","faults":[{"kind":"drop","probability":1}]}],"activeId":"p"})");
        return std::nullopt;
    };
    connectClient();
    ASSERT_EQ(m_client.chaosPresets().size(), 1);
    EXPECT_EQ(m_client.chaosPresets().first().summary(), "drop @ 100%");
    EXPECT_EQ(m_client.activeChaosId(), QStringLiteral("p"));

    m_client.setChaosPreset(QStringLiteral("p"));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.log().contains(QStringLiteral("\u2022 chaos off")); }));
    const RecordedRequest post = m_server.matching("POST", "/chaos/active").first();
    EXPECT_EQ(post.target, QByteArray("/chaos/active?id="));
    EXPECT_TRUE(post.body.isEmpty());
}

TEST_F(ChaosRequests, PresetIdIsSentAsItStands)
{
    connectClient();
    m_client.setChaosPreset(QStringLiteral("50%41 slow"));
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return m_client.log().contains(QStringLiteral("\u2022 chaos: 50%41 slow")); }));
    EXPECT_EQ(m_server.matching("POST", "/chaos/active").first().target,
              QByteArray("/chaos/active?id=50%2541%20slow"));
}
