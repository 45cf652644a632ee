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

// The first choice is slow to apply; a second post sent beside it would be applied first and the
// first tap would win. Posts go one at a time, in tap order.
TEST_F(ChaosRequests, RapidChoicesReachTheEngineOneAtATimeInOrder)
{
    int posts = 0;
    m_answer = [&posts](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.method == "POST" && request.path() == "/chaos/active") {
            CannedReply reply;
            reply.delayMs = ++posts == 1 ? 300 : 0;
            return reply;
        }
        return std::nullopt;
    };
    connectClient();
    // Slower than any time limit: a post cut short could still be applied after the next one.
    ControlTimeouts timeouts;
    timeouts.general = 100;
    m_client.setControlTimeouts(timeouts);
    m_client.setChaosPreset(QStringLiteral("a"));
    m_client.setChaosPreset(QStringLiteral("b"));
    m_client.setChaosPreset(QStringLiteral("b")); // off
    m_client.setChaosPreset(QStringLiteral("c"));
    EXPECT_EQ(m_client.activeChaosId(), QStringLiteral("c"));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.log().contains(QStringLiteral("\u2022 chaos: c")); }));

    const QList<RecordedRequest> sent = m_server.matching("POST", "/chaos/active");
    ASSERT_EQ(sent.size(), 4);
    const QList<QByteArray> expected = {"/chaos/active?id=a", "/chaos/active?id=b", "/chaos/active?id=",
                                        "/chaos/active?id=c"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(sent[i].target, expected[i]);
        if (i > 0) {
            ASSERT_GE(sent[i - 1].answeredMs, 0);
            EXPECT_GE(sent[i].receivedMs, sent[i - 1].answeredMs) << "post " << i << " overlapped the one before";
        }
    }
    // One reload, after the last post; the fake's empty state does not undo the last tap in between.
    EXPECT_EQ(count("GET", "/chaos"), 2); // start-up load and the reload
    EXPECT_EQ(m_client.log().filter(QStringLiteral("\u2022 chaos")),
              QStringList({QStringLiteral("\u2022 chaos: a"), QStringLiteral("\u2022 chaos: b"),
                           QStringLiteral("\u2022 chaos off"), QStringLiteral("\u2022 chaos: c")}));
}

// A reload sent before a newer tap answers with the older choice; the newer tap stays on screen.
TEST_F(ChaosRequests, ReloadAnsweredAfterANewerTapDoesNotUndoIt)
{
    // The fake holds the engine's choice; reloads answer with it as it was when they arrived, the
    // one sent before the tap after 150 ms, later ones after 300 ms.
    QByteArray engineChoice = "a";
    int slowReloads = 0;
    bool slow = false;
    m_answer = [&](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.method == "POST" && request.path() == "/chaos/active")
            engineChoice = request.target.mid(request.target.indexOf("id=") + 3);
        if (request.method == "GET" && request.path() == "/chaos" && slow) {
            CannedReply reply = answer(200, R"({"presets":[],"activeId":")" + engineChoice + R"("})");
            reply.delayMs = ++slowReloads == 1 ? 150 : 300;
            return reply;
        }
        return std::nullopt;
    };
    connectClient();
    slow = true;
    bool reloaded = false;
    m_client.loadChaos([&reloaded] { reloaded = true; });
    ASSERT_TRUE(testsupport::waitFor([&] { return count("GET", "/chaos") == 2; }));
    m_client.setChaosPreset(QStringLiteral("b"));
    ASSERT_TRUE(testsupport::waitFor([&] { return reloaded; }));
    EXPECT_EQ(m_client.activeChaosId(), QStringLiteral("b"));
    // The reload after the tap brings the engine's own answer.
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.log().contains(QStringLiteral("\u2022 chaos: b")); }));
    EXPECT_EQ(m_client.activeChaosId(), QStringLiteral("b"));
}

// Against the real stand-in: many quick taps leave the engine on the last one.
TEST_F(Chaos, RapidTapsLeaveTheEngineOnTheLastTap)
{
    ASSERT_TRUE(bootWithPresets());
    const QString a = presetId(0);
    const QString b = presetId(1);
    // a, b, a, b, ... then b once more: the toggles end with chaos off.
    for (int i = 0; i < 10; ++i)
        client().setChaosPreset(i % 2 == 0 ? a : b);
    client().setChaosPreset(b);
    EXPECT_EQ(client().activeChaosId(), QString());
    ASSERT_TRUE(settled(QStringLiteral("\u2022 chaos off")));
    EXPECT_EQ(client().activeChaosId(), QString());

    // What the engine holds, asked afresh.
    client().setActiveChaosId(QStringLiteral("stale"));
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) { client().loadChaos(done); }));
    EXPECT_EQ(client().activeChaosId(), QString());

    for (int i = 0; i < 9; ++i)
        client().setChaosPreset(i % 2 == 0 ? a : b);
    ASSERT_TRUE(testsupport::waitFor([&] { return client().log().count(QStringLiteral("\u2022 chaos: ") + a) == 10; }));
    client().setActiveChaosId(QStringLiteral("stale"));
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) { client().loadChaos(done); }));
    EXPECT_EQ(client().activeChaosId(), a);
}

// Posts that fail at the transport (nothing listens) still hand over to the next choice, so a dead
// engine does not leave later taps stuck behind them.
TEST_F(ChaosRequests, RefusedConnectionsDoNotStallLaterChoices)
{
    connectClient();
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 deadPort = closed.serverPort();
    closed.close();
    m_client.ingestOutput("KESTRION_CONTROL_PORT=" + QByteArray::number(deadPort) + "\n");
    m_client.setChaosPreset(QStringLiteral("a"));
    m_client.setChaosPreset(QStringLiteral("b"));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.log().contains(QStringLiteral("\u2022 chaos: b")); }));
    EXPECT_TRUE(m_client.log().contains(QStringLiteral("\u2022 chaos: a")));
    EXPECT_EQ(m_client.activeChaosId(), QStringLiteral("b")); // no engine answer to undo it

    m_client.ingestOutput("KESTRION_CONTROL_PORT=" + QByteArray::number(m_server.port()) + "\n");
    m_client.setChaosPreset(QStringLiteral("c"));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.log().contains(QStringLiteral("\u2022 chaos: c")); }));
    const QList<RecordedRequest> sent = m_server.matching("POST", "/chaos/active");
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent.first().target, QByteArray("/chaos/active?id=c"));
}
