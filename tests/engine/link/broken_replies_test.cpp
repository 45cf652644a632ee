// Replies that break off after their status and headers, or inside the body, are transport failures
// for every operation, and a body cut inside a character is not valid UTF-8.
#include "ops_test_support.h"

#include "platform/strict_utf8.h"

namespace {

class BrokenReplies : public FakeEngineTest
{
protected:
    // Answers `path` with a 200 and its headers, then only `cutAt` bytes of the body.
    void cutReplyTo(const QByteArray &path, const QByteArray &body, int cutAt)
    {
        m_answer = [path, body, cutAt](const RecordedRequest &request) -> std::optional<CannedReply> {
            if (request.path() != path)
                return std::nullopt;
            CannedReply reply = answer(200, body);
            reply.cutBodyAt = cutAt;
            return reply;
        };
    }
};

} // namespace

TEST_F(BrokenReplies, ProfileExportCutAfterTheStatusWritesNothingAndLogsTheFailure)
{
    connectClient();
    for (const int cutAt : {0, 150}) {
        SCOPED_TRACE(cutAt);
        cutReplyTo("/profile", QByteArray(400, 'x'), cutAt);
        const QString path = m_dir.filePath(QStringLiteral("mine.kestrion"));
        ASSERT_TRUE(opstest::writeFile(path, "the user's earlier profile"));
        ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) { m_client.performExport(path, done); }));
        EXPECT_EQ(opstest::readFile(path), QByteArray("the user's earlier profile"));
        EXPECT_EQ(m_client.log().last(), QStringLiteral("export profile failed"));
    }
}

TEST_F(BrokenReplies, ProxyStartCutAfterTheStatusIsNotARunningProxy)
{
    cutReplyTo("/control/start", "{}", 0);
    connectClient();
    m_client.setProxyRunning(true);
    m_client.startProxy();
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client.proxyRunning(); }));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.log().last().startsWith(QStringLiteral("proxy start failed: ")); }));
    const QString failure = m_client.log().last().mid(QStringLiteral("proxy start failed: ").size());
    EXPECT_FALSE(failure.isEmpty());
    EXPECT_FALSE(failure.contains(QStringLiteral("HTTP")));
    EXPECT_EQ(m_client.log().value(m_client.log().size() - 2), QStringLiteral("control control/start: ") + failure);
}

TEST_F(BrokenReplies, GeneratedBodyCutMidwayIsNoBody)
{
    cutReplyTo("/mock/generate", R"({"users":[1,2,3,4,5,6,7,8,9]})", 12);
    connectClient();
    std::optional<QString> body = QStringLiteral("unset");
    ASSERT_TRUE(opstest::generateMock(m_client, body));
    EXPECT_FALSE(body.has_value());
}

TEST_F(BrokenReplies, ProfileImportCutMidwayIsNotImported)
{
    cutReplyTo("/profile", "[]", 0);
    connectClient();
    m_client.setEndpoints({opstest::route("r-1", "/one")});
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) {
        m_client.handleProfileImport(QByteArray("{}"), QStringLiteral("team.kestrion"), done);
    }));
    EXPECT_EQ(m_client.log().last(), QStringLiteral("import team.kestrion failed (invalid .kestrion?)"));
    EXPECT_EQ(m_client.endpoints().size(), 1);
}

TEST_F(BrokenReplies, GeneratedBodyEndingInsideACharacterIsAFailure)
{
    // The body arrives whole by its length, but its last character lost its final byte.
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/mock/generate")
            return answer(200, "\"caf\xC3");
        return std::nullopt;
    };
    connectClient();
    std::optional<QString> body = QStringLiteral("unset");
    ASSERT_TRUE(opstest::generateMock(m_client, body));
    EXPECT_FALSE(body.has_value());
    EXPECT_EQ(m_client.log().last(), QStringLiteral("mock generation failed"));
}

TEST(StrictUtf8, TheEndOfTheTextIsCheckedToo)
{
    EXPECT_EQ(strictUtf8("caf\xC3\xA9"), QStringLiteral("caf\u00E9"));
    EXPECT_FALSE(strictUtf8("caf\xC3").has_value());
    EXPECT_FALSE(strictUtf8("\xE2\x82").has_value()) << "two of the euro sign's three bytes";
    EXPECT_FALSE(strictUtf8("\xF0\x9F\x98").has_value());
    EXPECT_EQ(strictUtf8(""), QString());
}
