// The root CA on the real stand-in engine (generation, fingerprint, load) and trusting it through
// a fake keychain tool named by KESTRION_SECURITY.
#include "ops_test_support.h"

#include "platform/tool_runner.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSignalSpy>

namespace {

// SHA-256 of the DER bytes inside the first PEM certificate block, as bare upper-case hex.
QByteArray derSha256(const QByteArray &pem)
{
    const QByteArray begin = "-----BEGIN CERTIFICATE-----";
    const QByteArray end = "-----END CERTIFICATE-----";
    const qsizetype from = pem.indexOf(begin);
    const qsizetype to = pem.indexOf(end);
    if (from < 0 || to < from)
        return {};
    const QByteArray base64 = pem.mid(from + begin.size(), to - from - begin.size()).simplified().replace(' ', "");
    const QByteArray der = QByteArray::fromBase64(base64, QByteArray::AbortOnBase64DecodingErrors);
    return QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex().toUpper();
}

QByteArray bareHex(const std::string &fingerprint)
{
    QByteArray text = QByteArray::fromStdString(fingerprint).toUpper();
    text.replace(':', "");
    return text;
}

class RootCA : public EngineOpsTest
{
protected:
    void TearDown() override
    {
        qunsetenv(ToolPaths::SecurityEnv);
        EngineOpsTest::TearDown();
    }

    bool generate()
    {
        return opstest::runToEnd([&](EngineClient::Done done) { client().performGenerateCA(done); }, 15000);
    }

    bool trust() { return opstest::runToEnd([&](EngineClient::Done done) { client().trustCAOnMac(done); }, 15000); }

    // A fake keychain tool: records its arguments, then runs the given shell lines.
    void useFakeTool(const QByteArray &body)
    {
        const QString path = m_dir.filePath(QStringLiteral("fake-security"));
        const QByteArray script = "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + argsFile().toUtf8() + "'\n" + body + "\n";
        ASSERT_TRUE(opstest::writeFile(path, script));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv(ToolPaths::SecurityEnv, path.toUtf8());
    }

    QString argsFile() const { return m_dir.filePath(QStringLiteral("tool-args")); }
    QString storedFingerprint() const
    {
        return Preferences::instance().stringValue(PrefKey::CaTrustedFingerprint);
    }
};

} // namespace

TEST_F(RootCA, GeneratedFingerprintIsTheSha256OfThePemsCertificate)
{
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(generate());
    ASSERT_TRUE(client().caInfo().has_value());
    const CAInfo &ca = *client().caInfo();
    EXPECT_TRUE(ca.generated);
    EXPECT_TRUE(logContains(QStringLiteral("Root CA generated")));
    const QByteArray expected = derSha256(QByteArray::fromStdString(ca.certPEM));
    ASSERT_EQ(expected.size(), 64);
    EXPECT_EQ(bareHex(ca.fingerprint), expected);
    // The file the trust tool gets holds the same certificate.
    EXPECT_EQ(derSha256(opstest::readFile(QString::fromStdString(ca.path))), expected);

    // The next run loads the same CA.
    stopEngine();
    m_client = makeClient();
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(testsupport::waitFor([&] { return client().caInfo() && client().caInfo()->generated; }));
    EXPECT_EQ(bareHex(client().caInfo()->fingerprint), expected);
    EXPECT_FALSE(client().caTrustedOnMac());
}

TEST_F(RootCA, SuccessfulTrustIsRememberedByFingerprint)
{
    useFakeTool("exit 0");
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(generate());
    const CAInfo ca = *client().caInfo();
    ASSERT_TRUE(trust());
    EXPECT_TRUE(client().caTrustedOnMac());
    EXPECT_FALSE(client().caTrustMessage().has_value());
    EXPECT_EQ(storedFingerprint(), QString::fromStdString(ca.fingerprint));
    EXPECT_TRUE(logContains(QStringLiteral("Root CA trusted on this computer")));
    const QString keychain = QDir::homePath() + QStringLiteral("/Library/Keychains/login.keychain-db");
    EXPECT_EQ(QString::fromUtf8(opstest::readFile(argsFile())).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
              (QStringList{QStringLiteral("add-trusted-cert"), QStringLiteral("-r"), QStringLiteral("trustRoot"),
                           QStringLiteral("-k"), keychain, QString::fromStdString(ca.path)}));

    // A relaunch shows the CA as trusted without running the tool.
    QFile::remove(argsFile());
    stopEngine();
    m_client = makeClient();
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(testsupport::waitFor([&] { return client().caTrustedOnMac(); }));
    EXPECT_FALSE(QFile::exists(argsFile()));

    // A new CA is not trusted; the remembered fingerprint stays the old one.
    ASSERT_TRUE(generate());
    EXPECT_FALSE(client().caTrustedOnMac());
    EXPECT_EQ(storedFingerprint(), QString::fromStdString(ca.fingerprint));
}

TEST_F(RootCA, CaRegeneratedWhileTheToolRunsStaysUntrusted)
{
    // The tool waits until the test lets it finish.
    const QString go = m_dir.filePath(QStringLiteral("go"));
    useFakeTool("i=0\nwhile [ ! -e '" + go.toUtf8() + "' ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done\nexit 0");
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(generate());
    const std::string trusted = client().caInfo()->fingerprint;
    bool trustDone = false;
    client().trustCAOnMac([&] { trustDone = true; });
    ASSERT_TRUE(generate()); // while the tool still waits
    ASSERT_NE(client().caInfo()->fingerprint, trusted);
    EXPECT_FALSE(trustDone);
    ASSERT_TRUE(opstest::writeFile(go, "go"));
    ASSERT_TRUE(testsupport::waitFor([&] { return trustDone; }, 10000));
    EXPECT_EQ(storedFingerprint(), QString::fromStdString(trusted));
    EXPECT_FALSE(client().caTrustedOnMac());
}

TEST_F(RootCA, ToolErrorTextBecomesTheMessageTrimmed)
{
    useFakeTool("printf '   The keychain is locked.\\n' >&2\nexit 1");
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(generate());
    ASSERT_TRUE(trust());
    EXPECT_EQ(client().caTrustMessage(), std::optional<QString>(QStringLiteral("The keychain is locked.")));
    EXPECT_FALSE(client().caTrustedOnMac());
    EXPECT_FALSE(Preferences::instance().contains(PrefKey::CaTrustedFingerprint));
    EXPECT_FALSE(logContains(QStringLiteral("Root CA trusted on this computer")));
}

TEST_F(RootCA, SilentRefusalIsReportedAsCancelled)
{
    useFakeTool("exit 1");
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(generate());
    ASSERT_TRUE(trust());
    EXPECT_EQ(client().caTrustMessage(),
              std::optional<QString>(QStringLiteral("Trust was cancelled \u2014 you can trust it manually instead.")));
    EXPECT_FALSE(client().caTrustedOnMac());
}

TEST_F(RootCA, MissingToolIsAFailureWithItsReason)
{
    qputenv(ToolPaths::SecurityEnv, m_dir.filePath(QStringLiteral("no-such-tool")).toUtf8());
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(generate());
    ASSERT_TRUE(trust());
    EXPECT_EQ(client().caTrustMessage(), std::optional<QString>(QStringLiteral("No such file or directory")))
        << "the launch error's own description";
    EXPECT_FALSE(client().caTrustedOnMac());
}

TEST_F(RootCA, ToolKilledBySignalWithoutErrorTextIsReportedAsCancelled)
{
    // A prompt dismissed by ending the tool leaves no error text behind.
    useFakeTool("kill -TERM $$");
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(generate());
    ASSERT_TRUE(trust());
    EXPECT_EQ(client().caTrustMessage(),
              std::optional<QString>(QStringLiteral("Trust was cancelled \u2014 you can trust it manually instead.")));
    EXPECT_FALSE(client().caTrustedOnMac());
}

TEST_F(RootCA, WithoutACaNothingRuns)
{
    useFakeTool("exit 0");
    ASSERT_TRUE(trust());
    EXPECT_EQ(client().caTrustMessage(), std::optional<QString>(QStringLiteral("Generate a Root CA first.")));
    opstest::settle(200);
    EXPECT_FALSE(QFile::exists(argsFile()));

    // With the engine not connected, generating says so and sends nothing.
    ASSERT_TRUE(generate());
    EXPECT_EQ(client().caTrustMessage(),
              std::optional<QString>(QStringLiteral("Engine is still starting \u2014 try again in a moment.")));
    EXPECT_TRUE(logContains(QStringLiteral("generate CA: engine not connected")));
}

TEST_F(RootCA, EmptyFingerprintIsNeverTrusted)
{
    Preferences::instance().setValue(PrefKey::CaTrustedFingerprint, QString());
    client().setCaInfo(CAInfo{false, "", "", "", "", ""});
    client().refreshTrustFlag();
    EXPECT_FALSE(client().caTrustedOnMac());
    client().setCaInfo(CAInfo{true, "AB:CD", "", "", "", "/tmp/ca.pem"});
    client().refreshTrustFlag();
    EXPECT_FALSE(client().caTrustedOnMac());
    Preferences::instance().setValue(PrefKey::CaTrustedFingerprint, QStringLiteral("AB:CD"));
    client().refreshTrustFlag();
    EXPECT_TRUE(client().caTrustedOnMac());
}

TEST(TrustArguments, WithoutAHomeFolderTheKeychainIsTheBareLoginKeychain)
{
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QByteArray());
    const QStringList arguments = EngineClient::trustArguments(QStringLiteral("/data/ca.pem"));
    qputenv("HOME", home);
    EXPECT_EQ(arguments, (QStringList{QStringLiteral("add-trusted-cert"), QStringLiteral("-r"),
                                      QStringLiteral("trustRoot"), QStringLiteral("-k"),
                                      QStringLiteral("login.keychain"), QStringLiteral("/data/ca.pem")}));
}

using CARequests = FakeEngineTest;

TEST_F(CARequests, GenerateFailureIsLoggedAndKeepsTheCa)
{
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/ca")
            return answer(503, R"({"generated":true,"fingerprint":"AA","notAfter":"2036","subject":"CN=K","certPEM":"x","path":"/p"})");
        if (request.path() == "/ca/generate")
            return answer(500, R"({"error":"disk full"})");
        return std::nullopt;
    };
    connectClient();
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.caInfo().has_value(); })); // status not examined
    EXPECT_EQ(m_client.caInfo()->fingerprint, "AA");
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) { m_client.performGenerateCA(done); }));
    EXPECT_EQ(m_client.log().last(), QStringLiteral("CA generation failed"));
    EXPECT_EQ(m_client.caInfo()->fingerprint, "AA");
    const RecordedRequest generation = m_server.matching("POST", "/ca/generate").first();
    EXPECT_TRUE(generation.body.isEmpty());
    EXPECT_FALSE(generation.headers.contains("content-type"));
}
