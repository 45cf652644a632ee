// The setup screens' pure decisions: commands that survive a real shell, CA states, port input, status texts.
#include "design/palette.h"
#include "platform/fake_tool.h"
#include "platform/tool_runner.h"
#include "screens/setup/setup_logic.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

using namespace SetupLogic;

namespace {

// Runs a command line through /bin/sh with stand-ins for certutil, curl and sudo first on PATH, which note
// each call's arguments.
class ShellRun : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("bin")));
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("home with space")));
        for (const char *tool : {"certutil", "curl", "sudo"})
            ASSERT_FALSE(faketool::writeNoting(dir, QLatin1String(tool)).isEmpty());
    }

    QList<QStringList> run(const QString &command, const char *tool)
    {
        QProcess shell;
        shell.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), dir.filePath(QStringLiteral("bin")) + QLatin1Char(':') + env.value("PATH"));
        env.insert(QStringLiteral("HOME"), home());
        shell.setProcessEnvironment(env);
        shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
        EXPECT_TRUE(shell.waitForFinished(10000));
        EXPECT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
        return calls(tool);
    }

    // The calls a stand-in received since the last look.
    QList<QStringList> calls(const char *tool)
    {
        const QList<QStringList> found = faketool::calls(dir, QLatin1String(tool));
        QFile::remove(dir.filePath(QLatin1String(tool) + QStringLiteral(".calls")));
        return found;
    }

    QString home() const { return dir.filePath(QStringLiteral("home with space")); }

    QTemporaryDir dir;
};

CAInfo caAt(const std::string &path)
{
    CAInfo ca;
    ca.generated = true;
    ca.fingerprint = "AB:CD";
    ca.path = path;
    return ca;
}

// A self-signed CA certificate (P-256), valid until 2126.
const QByteArray TestCaPem = "-----BEGIN CERTIFICATE-----\n"
                             "MIIBjjCCATOgAwIBAgIUdM4JqupyejZx3vPBBQWrh1jc15UwCgYIKoZIzj0EAwIw\n"
                             "GzEZMBcGA1UEAwwQS2VzdHJpb24gVGVzdCBDQTAgFw0yNjEyMDcxNDUyMDNaGA8y\n"
                             "MTI2MTExMzE0NTIwM1owGzEZMBcGA1UEAwwQS2VzdHJpb24gVGVzdCBDQTBZMBMG\n"
                             "ByqGSM49AgEGCCqGSM49AwEHA0IABPwXSXaIuiGEBV+uDmRlWMv0nHLFzorwsxOD\n"
                             "wHckT0Fkcu1FCLUa/o9e3g1VSzy9NI4g69Rph9/iiaSKNDM0PSmjUzBRMB0GA1Ud\n"
                             "DgQWBBS943SJzXnh3MI+X/Y/N/ey5qUgeTAfBgNVHSMEGDAWgBS943SJzXnh3MI+\n"
                             "X/Y/N/ey5qUgeTAPBgNVHRMBAf8EBTADAQH/MAoGCCqGSM49BAMCA0kAMEYCIQCU\n"
                             "KmhKiGDiOo0HkbArKH/Eqsu+dIDZ1DvZEVUzs8Px7wIhANfwTuouP+D2YcxI1oeg\n"
                             "wfvI9W+UNJDLx8jIFEsKWrjW\n"
                             "-----END CERTIFICATE-----\n";

const QStringList HostilePaths = {
    QStringLiteral("/tmp/my certs/kestrion ca.pem"),
    QStringLiteral("/tmp/quote\"inside.pem"),
    QStringLiteral("/tmp/$(touch PWNED)/ca.pem"),
    QStringLiteral("/tmp/`touch PWNED`.pem"),
    QStringLiteral("/tmp/back\\slash\\n.pem"),
    QStringLiteral("/tmp/it's; rm -rf x &.pem"),
    QStringLiteral("/tmp/$HOME and ${PATH}.pem"),
    QStringLiteral("/tmp/caf\u00e9 \u2014 \u00fcber.pem"),
};

} // namespace

TEST_F(ShellRun, ManualTrustCommandHandsEveryStoreEveryPathExactly)
{
    const QString firefox = home() + QStringLiteral("/.mozilla/firefox/ab12.default-esr");
    ASSERT_TRUE(QDir().mkpath(firefox));
    ASSERT_TRUE(QDir().mkpath(home() + QStringLiteral("/.mozilla/firefox/never-opened")));
    ASSERT_TRUE(faketool::writeFile(firefox + QStringLiteral("/cert9.db"), {}));
    for (const QString &hostile : HostilePaths) {
        // Each file exists with its own content, which names the CA as kestrion-trust does.
        const QString path = dir.path() + hostile;
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        ASSERT_TRUE(faketool::writeFile(path, path.toUtf8()));
        const QString digest = QString::fromLatin1(
            QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
        const QString nickname = QStringLiteral("Kestrion Root CA ") + digest;
        const QList<QStringList> certutil = run(manualTrustCommand(caAt(path.toStdString())), "certutil");
        EXPECT_EQ(certutil, (QList<QStringList>{
                                {"-d", "sql:" + home() + "/.pki/nssdb", "-N", "--empty-password"},
                                {"-d", "sql:" + home() + "/.pki/nssdb", "-A", "-t", "C,,", "-n", nickname, "-i", path},
                                {"-d", "sql:" + firefox, "-A", "-t", "C,,", "-n", nickname, "-i", path}}))
            << path.toStdString();
        EXPECT_EQ(calls("sudo"),
                  (QList<QStringList>{{"install", "-D", "-m", "644", path,
                                       "/usr/local/share/ca-certificates/kestrion-root-ca-" + digest + ".crt"},
                                      {"update-ca-certificates"}}))
            << path.toStdString();
    }
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("PWNED"))));
    // The database folder is made when the account has none.
    EXPECT_TRUE(QFileInfo(home() + QStringLiteral("/.pki/nssdb")).isDir());
}

TEST(ManualTrustCommand, AddsTheCaOnceBesideTheOneClickTrustInAPrivateFolder)
{
    const QString certutil = QStandardPaths::findExecutable(QStringLiteral("certutil"));
    if (certutil.isEmpty())
        GTEST_SKIP() << "certutil is not installed";
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QString pem = home.filePath(QStringLiteral("kestrion ca.pem"));
    ASSERT_TRUE(faketool::writeFile(pem, TestCaPem));
    // The system store is played by stand-ins: sudo only notes, pkexec runs into a folder of the test's.
    QTemporaryDir tools;
    ASSERT_TRUE(tools.isValid());
    faketool::write(tools, QStringLiteral("sudo"), "exit 0");
    faketool::write(tools, QStringLiteral("pkexec"), "exec \"$@\"");
    faketool::write(tools, QStringLiteral("update-ca-certificates"), "exit 0");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("PATH"), tools.path() + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
    env.insert(QStringLiteral("KESTRION_SYSTEM_CA_DIR"), tools.filePath(QStringLiteral("anchors")));
    env.insert(QStringLiteral("KESTRION_SYSTEM_CA_BUNDLE"), tools.filePath(QStringLiteral("bundle.crt")));
    auto runWithHome = [&](const QString &program, const QStringList &arguments) {
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(program, arguments);
        EXPECT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        return QString::fromUtf8(process.readAllStandardOutput());
    };
    const QString firefox = home.filePath(QStringLiteral(".mozilla/firefox/ab12.default-esr"));
    ASSERT_TRUE(QDir().mkpath(firefox));
    runWithHome(certutil, {QStringLiteral("-N"), QStringLiteral("-d"), QStringLiteral("sql:") + firefox,
                           QStringLiteral("--empty-password")});

    // The copied command first, under a common umask, through Debian's /bin/sh; then the one-click trust.
    runWithHome(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("umask 022; ")
                                                                      + manualTrustCommand(caAt(pem.toStdString()))});
    const QString nssdb = home.filePath(QStringLiteral(".pki/nssdb"));
    EXPECT_EQ(std::filesystem::status(nssdb.toStdString()).permissions(), std::filesystem::perms::owner_all);
    const QString trusted = runWithHome(ToolPaths::trustScript(),
                                        {QStringLiteral("add-trusted-cert"), QStringLiteral("-r"),
                                         QStringLiteral("trustRoot"), pem});
    const QString nickname = trusted.section(QLatin1Char('"'), 1, 1);
    ASSERT_TRUE(nickname.startsWith(QStringLiteral("Kestrion Root CA "))) << trusted.toStdString();
    EXPECT_TRUE(trusted.contains(tools.filePath(QStringLiteral("anchors/kestrion-root-ca-")) + nickname.mid(17)
                                 + QStringLiteral(".crt")))
        << "the system store's file is named as in the command: " << trusted.toStdString();

    for (const QString &database : {nssdb, firefox}) {
        const QString listed =
            runWithHome(certutil, {QStringLiteral("-L"), QStringLiteral("-d"), QStringLiteral("sql:") + database});
        const QStringList entries = listed.split(QLatin1Char('\n')).filter(QStringLiteral("Kestrion Root CA"));
        ASSERT_EQ(entries.size(), 1) << listed.toStdString();
        EXPECT_EQ(entries.first().section(QStringLiteral("  "), 0, 0).trimmed(), nickname);
        EXPECT_TRUE(entries.first().simplified().endsWith(QStringLiteral("C,,")));
    }
}

TEST_F(ShellRun, CurlCommandSpansTwoLinesAndReachesCurlExactly)
{
    for (const QString &path : HostilePaths) {
        const QString command = curlCommand(caAt(path.toStdString()), 9999);
        EXPECT_EQ(command.count(QLatin1Char('\n')), path.count(QLatin1Char('\n')) + 1);
        const QList<QStringList> args = run(command, "curl");
        EXPECT_EQ(args, (QList<QStringList>{{"--cacert", path, "-x", "http://127.0.0.1:9999",
                                     "https://api.acme-demo.dev/v2/users"}}))
            << path.toStdString();
    }
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("PWNED"))));
}

TEST(ShellQuote, OrdinaryPathsStayAsTheyAre)
{
    EXPECT_EQ(shellQuote("/home/ana/.local/share/Kestrion/ca/kestrion-ca.pem"),
              "/home/ana/.local/share/Kestrion/ca/kestrion-ca.pem");
    EXPECT_EQ(shellQuote("kestrion-ca.pem"), "kestrion-ca.pem");
    EXPECT_EQ(shellQuote(""), "''");
    EXPECT_EQ(shellQuote("a b"), "'a b'");
    EXPECT_EQ(shellQuote("it's"), "'it'\\''s'");
    EXPECT_EQ(shellQuote("~/ca.pem"), "'~/ca.pem'");
}

TEST(ManualTrustCommand, NamesTheFileWhenThereIsNoCaAndKeepsAnEmptyPathEmpty)
{
    for (const auto &[ca, file] : {std::pair{std::optional<CAInfo>(), QStringLiteral("kestrion-ca.pem")},
                                   std::pair{std::optional<CAInfo>(CAInfo{}), QStringLiteral("''")},
                                   std::pair{std::optional<CAInfo>(caAt("/var/ca.pem")), QStringLiteral("/var/ca.pem")}}) {
        const QStringList lines = manualTrustCommand(ca).split(QLatin1Char('\n'));
        ASSERT_EQ(lines.size(), 4);
        EXPECT_EQ(lines[0], "h=$(sha256sum < " + file + " | cut -c1-16)");
        EXPECT_TRUE(lines[1].endsWith(" -i " + file));
        EXPECT_TRUE(lines[2].endsWith(" -i " + file + "; done"));
        EXPECT_TRUE(lines[3].startsWith("sudo install -D -m 644 " + file + " "));
    }
}

TEST(CurlCommand, PlaceholderForAMissingOrEmptyPathAndThePortOnTheSecondLine)
{
    const QString expected = QStringLiteral("curl --cacert '<ca.pem>' \\\n  -x http://127.0.0.1:9999 "
                                            "https://api.acme-demo.dev/v2/users");
    EXPECT_EQ(curlCommand(std::nullopt, 9999), expected);
    EXPECT_EQ(curlCommand(CAInfo{}, 9999), expected);
    EXPECT_EQ(curlCommand(caAt("/data/ca.pem"), 8080),
              "curl --cacert /data/ca.pem \\\n  -x http://127.0.0.1:8080 https://api.acme-demo.dev/v2/users");
}

TEST(ProxySnippet, NineLinesWithThePortTwice)
{
    const QString snippet = proxySnippet(9999);
    const QStringList lines = snippet.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 9);
    EXPECT_FALSE(snippet.endsWith(QLatin1Char('\n')));
    EXPECT_EQ(lines[0], "// A simulator shares its host computer's network.");
    EXPECT_EQ(lines[5], "  kCFNetworkProxiesHTTPPort as String: 9999,");
    EXPECT_EQ(lines[6], "  \"HTTPSEnable\": true, \"HTTPSProxy\": \"127.0.0.1\", \"HTTPSPort\": 9999,");
    EXPECT_EQ(lines[8], "let session = URLSession(configuration: cfg)");
    EXPECT_TRUE(proxySnippet(-1).contains("HTTPPort as String: -1,"));
}

TEST(CertificatesLook, TheThreeCaStatesDecideTheButtons)
{
    const CertificatesLook none = certificatesLook(std::nullopt, false);
    EXPECT_FALSE(none.generated);
    EXPECT_FALSE(none.showFingerprint);
    EXPECT_FALSE(none.showTrustedRow);
    EXPECT_FALSE(none.trustEnabled);
    EXPECT_FALSE(none.exportEnabled);
    EXPECT_FALSE(none.showReveal);
    EXPECT_EQ(none.trustCardOpacity, 0.5);
    EXPECT_EQ(none.statusTag, "Inactive");

    CAInfo notGenerated = caAt("/ca.pem");
    notGenerated.generated = false;
    EXPECT_EQ(certificatesLook(notGenerated, false), none);

    const CertificatesLook generated = certificatesLook(caAt("/ca.pem"), false);
    EXPECT_TRUE(generated.showFingerprint);
    EXPECT_FALSE(generated.showTrustedRow);
    EXPECT_TRUE(generated.trustEnabled);
    EXPECT_TRUE(generated.exportEnabled);
    EXPECT_TRUE(generated.showReveal);
    EXPECT_EQ(generated.trustCardOpacity, 1.0);
    EXPECT_EQ(generated.statusTag, "Active");

    const CertificatesLook trusted = certificatesLook(caAt("/ca.pem"), true);
    EXPECT_TRUE(trusted.showTrustedRow);
    EXPECT_TRUE(trusted.exportEnabled);
    // A trusted flag without a generated CA still shows the trusted row; the rest stays inactive.
    const CertificatesLook trustedWithoutCa = certificatesLook(std::nullopt, true);
    EXPECT_TRUE(trustedWithoutCa.showTrustedRow);
    EXPECT_FALSE(trustedWithoutCa.exportEnabled);

    EXPECT_EQ(expiryText(""), "expires ");
    EXPECT_EQ(expiryText("Dec  7 08:00:00 2036 GMT"), "expires Dec  7 08:00:00 2036 GMT");
}

TEST(Onboarding, StepsAndWhenTheProxyIsReady)
{
    EXPECT_EQ(trustStep(false, caAt("/x"), true), TrustStep::connecting);
    EXPECT_EQ(trustStep(true, std::nullopt, false), TrustStep::generate);
    EXPECT_EQ(trustStep(true, CAInfo{}, true), TrustStep::generate);
    EXPECT_EQ(trustStep(true, caAt("/x"), false), TrustStep::trust);
    EXPECT_EQ(trustStep(true, caAt("/x"), true), TrustStep::done);

    EXPECT_FALSE(proxyReady(true, 0));
    EXPECT_FALSE(proxyReady(false, 3));
    EXPECT_TRUE(proxyReady(true, 1));

}

// The demo routes join the user's: one the user already has (method, host in any case, path) stays out, a taken
// id is renewed, and the user's routes stay first and unchanged. The done label says whose routes are there.
TEST(Onboarding, DemoRoutesJoinTheUsersAndTheLabelSaysWhose)
{
    auto route = [](std::string id, HTTPMethod method, std::string host) {
        Endpoint e;
        e.id = std::move(id);
        e.method = method;
        e.host = std::move(host);
        e.path = "/v2/users";
        return e;
    };
    const std::vector<Endpoint> demo = {route("1", HTTPMethod::GET, "api.demo.dev"),
                                        route("2", HTTPMethod::POST, "api.demo.dev"),
                                        route("3", HTTPMethod::PUT, "api.demo.dev")};
    const QList<Endpoint> mine = {route("1", HTTPMethod::GET, "api.mine.dev"),
                                  route("r-2", HTTPMethod::POST, "API.Demo.dev")};
    const QList<Endpoint> merged = withDemoRoutes(mine, demo);
    ASSERT_EQ(merged.size(), 4);
    EXPECT_EQ(merged.mid(0, 2), mine);
    EXPECT_EQ(merged[2].host, "api.demo.dev"); // demo 1, under a fresh id since "1" is the user's
    EXPECT_NE(merged[2].id, "1");
    EXPECT_EQ(merged[3].id, "3"); // not demo 2: the user has POST api.demo.dev/v2/users
    EXPECT_EQ(withDemoRoutes({}, demo), QList<Endpoint>(demo.begin(), demo.end()));
    EXPECT_EQ(withDemoRoutes(merged, demo), merged);

    EXPECT_EQ(proxyRunningText(9999, withDemoRoutes({}, demo), demo), "Proxy running on :9999 with demo routes");
    EXPECT_EQ(proxyRunningText(9999, merged, demo), "Proxy running on :9999 with demo routes beside your own");
    EXPECT_EQ(proxyRunningText(9999, {mine[0]}, demo), "Proxy running on :9999 with your routes");
}

TEST(PortFromEdit, KeepsDigitsTakesFiveAndStoresOnlyUsablePorts)
{
    EXPECT_EQ(portFromEdit("80a80"), 8080);
    EXPECT_EQ(portFromEdit("123456"), 12345); // the sixth digit is dropped
    EXPECT_EQ(portFromEdit("65535"), 65535);
    EXPECT_EQ(portFromEdit("1"), 1);
    EXPECT_EQ(portFromEdit("00080"), 80);
    EXPECT_EQ(portFromEdit(" 9 9 9 9 "), 9999);
    EXPECT_EQ(portFromEdit("0"), std::nullopt);
    EXPECT_EQ(portFromEdit("00000"), std::nullopt);
    EXPECT_EQ(portFromEdit("65536"), std::nullopt);
    EXPECT_EQ(portFromEdit("99999"), std::nullopt);
    EXPECT_EQ(portFromEdit(""), std::nullopt);
    EXPECT_EQ(portFromEdit("abc"), std::nullopt);
    // Arabic-Indic digits, a fraction, a superscript and a Roman numeral are numbers, but not ASCII digits.
    EXPECT_EQ(portFromEdit(QString::fromUtf8("\u0668\u0660\u0668\u0660")), std::nullopt);
    EXPECT_EQ(portFromEdit(QString::fromUtf8("80\u00bd")), std::nullopt);
    EXPECT_EQ(portFromEdit(QString::fromUtf8("80\u00b2")), std::nullopt);
    EXPECT_EQ(portFromEdit(QString::fromUtf8("\u2167")), std::nullopt);
    // A digit carrying a combining mark is one character that is not a plain digit.
    EXPECT_EQ(portFromEdit(QString::fromUtf8("8\u03010")), std::nullopt);
    // Only the first five numeric characters count, so a sixth bad one does not spoil them.
    EXPECT_EQ(portFromEdit(QString::fromUtf8("12345\u0668")), 12345);

    EXPECT_EQ(shownPort(8080), 8080);
    EXPECT_EQ(shownPort(0), 9999);
    EXPECT_EQ(shownPort(-1), 9999);
    EXPECT_EQ(shownPort(70000), 9999);
    EXPECT_EQ(shownPort(65535), 65535);
}

TEST(EngineTexts, UptimeMemoryAndSubtitle)
{
    EXPECT_EQ(uptimeText(std::nullopt), "\u2014");
    EXPECT_EQ(uptimeText(59.9), "59s");
    EXPECT_EQ(uptimeText(60), "1m 0s");
    EXPECT_EQ(uptimeText(3599), "59m 59s");
    EXPECT_EQ(uptimeText(3600), "1h 0m");
    EXPECT_EQ(uptimeText(90061), "25h 1m");
    EXPECT_EQ(uptimeText(-5), "-5s");
    EXPECT_EQ(uptimeText(-0.5), "0s");
    EXPECT_EQ(uptimeText(1e300), "\u2014");
    EXPECT_EQ(uptimeText(-1e300), "\u2014");
    EXPECT_EQ(uptimeText(std::numeric_limits<double>::infinity()), "\u2014");
    EXPECT_EQ(uptimeText(std::nan("")), "\u2014");
    EXPECT_EQ(uptimeText(0x1p63), "\u2014");
    EXPECT_EQ(uptimeText(-0x1p63), "-9223372036854775808s");
    EXPECT_EQ(uptimeText(0x1p62), "1281023894007607h 45m");

    EXPECT_EQ(memoryText(std::nullopt), "\u2014");
    EXPECT_EQ(memoryText(50LL << 20), "50.0 MB");
    EXPECT_EQ(memoryText(3LL << 19), "1.5 MB");
    EXPECT_EQ(memoryText(0), "0.0 MB");

    EXPECT_EQ(engineSubtitle(std::nullopt, std::nullopt), "kestrion-engine \u00b7 not running");
    EXPECT_EQ(engineSubtitle(QStringLiteral("0.4.1"), 4242), "kestrion-engine v0.4.1 \u00b7 pid 4242");
}

TEST(StatusLooks, EngineCasesAndInksPerScheme)
{
    const Palette &light = Palette::light();
    const Palette &dark = Palette::dark();
    const StatusLook healthy = engineLook(EngineStatus::healthy(), dark);
    EXPECT_EQ(healthy.label, "Healthy");
    EXPECT_TRUE(healthy.pulse);
    EXPECT_EQ(healthy.dot, Palette::success());
    EXPECT_EQ(healthy.ink, Palette::green());
    EXPECT_EQ(engineLook(EngineStatus::healthy(), light).ink, QColor(0x1F, 0x8A, 0x50));

    const StatusLook starting = engineLook(EngineStatus::starting(), light);
    EXPECT_EQ(starting.label, "Starting\u2026");
    EXPECT_EQ(starting.ink, QColor(0x9A, 0x6B, 0x1F));
    EXPECT_EQ(starting.dot, Palette::amber());
    EXPECT_FALSE(starting.pulse);

    const StatusLook error = engineLook(EngineStatus::error("boom"), light);
    EXPECT_EQ(error.label, "Error");
    EXPECT_EQ(error.ink, QColor(0xE0, 0x31, 0x31));
    EXPECT_EQ(engineLook(EngineStatus::error("x"), dark).ink, QColor(0xFF, 0x6B, 0x6B));
    EXPECT_EQ(error.dot, Palette::danger());

    const StatusLook stopped = engineLook(EngineStatus::stopped(), dark);
    EXPECT_EQ(stopped.label, "Stopped");
    EXPECT_EQ(stopped.ink, dark.mutedForeground);
    EXPECT_NEAR(stopped.dot.alphaF(), 0.5, 0.01);
}

TEST(LocalModel, AvailabilityDecidesTheFormAndRunningTheLabel)
{
    const Palette &light = Palette::light();
    AIStatus status = AIStatus::initial();
    EXPECT_EQ(aiLook(status, light).label, "Off");
    EXPECT_FALSE(aiLook(status, light).pulse);
    EXPECT_EQ(aiForm(status, false), AIForm::offer);

    status.available = true;
    EXPECT_EQ(aiLook(status, light).label, "Ready");
    EXPECT_EQ(aiLook(status, light).ink, QColor(0x9A, 0x6B, 0x1F));
    EXPECT_EQ(aiLook(status, light).dot, Palette::yellow());
    EXPECT_EQ(aiForm(status, false), AIForm::controls);
    EXPECT_EQ(aiForm(status, true), AIForm::progress);

    status.running = true;
    EXPECT_EQ(aiLook(status, light).label, "Running");
    EXPECT_EQ(aiLook(status, light).ink, QColor(0x1F, 0x8A, 0x50));
    EXPECT_TRUE(aiLook(status, light).pulse);

    // Running but not available: the label says so, but the offer stays.
    status.available = false;
    EXPECT_EQ(aiLook(status, light).label, "Running");
    EXPECT_EQ(aiForm(status, false), AIForm::offer);

    EXPECT_EQ(modelLine(""), "Model: \u2014");
    EXPECT_EQ(modelLine("/models/a.gguf"), "Model: a.gguf");
    EXPECT_EQ(modelLine("a.gguf"), "Model: a.gguf");
    EXPECT_EQ(modelLine("/models/dir/"), "Model: dir");

    AISetupProgress progress;
    progress.stage = "downloading_model";
    EXPECT_TRUE(isDownloading(progress));
    progress.stage = "Downloading_model";
    EXPECT_FALSE(isDownloading(progress));
}
