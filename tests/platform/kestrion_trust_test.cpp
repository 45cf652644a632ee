// kestrion-trust, the keychain tool's stand-in, under a temporary HOME and system store, with stand-ins for
// pkexec and update-ca-certificates (and for certutil, or the real one) as the only programs on PATH.
#include "platform/fake_tool.h"
#include "platform/tool_runner.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString InstallCommand = QStringLiteral("install -D -m 644 -- \"$1\" \"$2\" && update-ca-certificates || exit 1");

class KestrionTrust : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        ASSERT_TRUE(root.isValid());
        script = ToolPaths::trustScript();
        ASSERT_TRUE(QFileInfo(script).isExecutable()) << script.toStdString();
        ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("bin")));
        ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("anchors")));
        // Only these: a real pkexec on the machine must never be reached.
        for (const char *tool : {"sha256sum", "mkdir", "sed", "tr", "grep", "cmp", "install", "cat"}) {
            const QString found = QStandardPaths::findExecutable(QLatin1String(tool));
            ASSERT_FALSE(found.isEmpty()) << tool;
            ASSERT_TRUE(QFile::link(found, bin(QLatin1String(tool))));
        }
        realCertutil = QStandardPaths::findExecutable(QStringLiteral("certutil"));
        openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
        // As the real ones do once the password is given: run the program; rebuild the bundle from the folder.
        stub(QStringLiteral("pkexec"), "exec \"$@\"");
        stub(QStringLiteral("update-ca-certificates"), "cat '" + anchors().toUtf8() + "'/*.crt > '" + bundle().toUtf8() + "'");
    }

    QString bin(const QString &name) const { return root.filePath(QStringLiteral("bin/") + name); }
    QString anchors() const { return root.filePath(QStringLiteral("anchors")); }
    QString bundle() const { return root.filePath(QStringLiteral("ca-certificates.crt")); }
    QString nssdb() const { return home.filePath(QStringLiteral(".pki/nssdb")); }

    // A stand-in on PATH that notes each call and then runs body.
    void stub(const QString &name, const QByteArray &body)
    {
        ASSERT_FALSE(faketool::writeNoting(root, name, body).isEmpty());
    }
    QList<QStringList> calls(const QString &name) const { return faketool::calls(root, name); }

    void useRealCertutil() { ASSERT_TRUE(QFile::link(realCertutil, bin(QStringLiteral("certutil")))); }

    // The arguments the application passes to the keychain tool.
    std::optional<ToolResult> trust(const QString &pem, const QStringList &extraEnv = {})
    {
        QStringList arguments{"HOME=" + home.path(), "PATH=" + root.filePath(QStringLiteral("bin")),
                              "KESTRION_SYSTEM_CA_DIR=" + anchors(), "KESTRION_SYSTEM_CA_BUNDLE=" + bundle()};
        arguments << extraEnv << script << "add-trusted-cert" << "-r" << "trustRoot" << "-k"
                  << home.filePath("Library/Keychains/login.keychain-db") << pem;
        return faketool::runAndWait("/usr/bin/env", arguments, 60000, 60000);
    }

    QString makePem(const QString &name)
    {
        const QString pem = home.filePath(name);
        QProcess openssl;
        openssl.start(this->openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                                      home.filePath(name + ".key"), "-out", pem, "-days", "2", "-subj",
                                      "/CN=Kestrion Test CA", "-addext", "basicConstraints=critical,CA:TRUE"});
        if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
            return {};
        return pem;
    }

    QString writeFile(const QString &name, const QByteArray &content)
    {
        const QString path = home.filePath(name);
        return faketool::writeFile(path, content) ? path : QString();
    }

    static QByteArray contents(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static QString digestOf(const QString &path)
    {
        return QString::fromLatin1(QCryptographicHash::hash(contents(path), QCryptographicHash::Sha256).toHex().left(16));
    }

    QString anchorFor(const QString &pem) const
    {
        return anchors() + QStringLiteral("/kestrion-root-ca-") + digestOf(pem) + QStringLiteral(".crt");
    }

    QStringList listed(const QString &database) const
    {
        QProcess list;
        list.start(realCertutil, {"-L", "-d", "sql:" + database});
        list.waitForFinished(30000);
        return QString::fromUtf8(list.readAllStandardOutput()).split('\n').filter("Kestrion Root CA");
    }

    QTemporaryDir home;
    QTemporaryDir root;
    QString script;
    QString realCertutil;
    QString openssl;
};

} // namespace

TEST_F(KestrionTrust, EachStoreIsAskedOnceForTheCa)
{
    stub(QStringLiteral("certutil"), "[ \"$1\" != -N ] || : > \"${3#sql:}/cert9.db\"");
    ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral(".mozilla/firefox/ab12.default-esr")));
    ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral(".mozilla/firefox/never-opened")));
    const QString firefox = home.filePath(QStringLiteral(".mozilla/firefox/ab12.default-esr"));
    ASSERT_FALSE(writeFile(QStringLiteral(".mozilla/firefox/ab12.default-esr/cert9.db"), "db").isEmpty());
    const QString pem = writeFile(QStringLiteral("kestrion ca.pem"), "-----BEGIN CERTIFICATE-----\nQUJD\n-----END CERTIFICATE-----\n");
    const QString nickname = QStringLiteral("Kestrion Root CA ") + digestOf(pem);

    const auto result = trust(pem);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 0) << result->error.toStdString();
    EXPECT_EQ(calls(QStringLiteral("certutil")),
              (QList<QStringList>{{"-N", "-d", "sql:" + nssdb(), "--empty-password"},
                                  {"-A", "-d", "sql:" + nssdb(), "-n", nickname, "-t", "C,,", "-i", pem},
                                  {"-A", "-d", "sql:" + firefox, "-n", nickname, "-t", "C,,", "-i", pem}}));
    // One program as root, so the password is asked for once.
    EXPECT_EQ(calls(QStringLiteral("pkexec")),
              (QList<QStringList>{{"/bin/sh", "-c", InstallCommand, "sh", pem, anchorFor(pem)}}));
    EXPECT_EQ(calls(QStringLiteral("update-ca-certificates")), (QList<QStringList>{{}}));
    EXPECT_EQ(contents(anchorFor(pem)), contents(pem));
    EXPECT_TRUE(QFile::permissions(anchorFor(pem)).testFlag(QFileDevice::ReadOther));
    EXPECT_TRUE(result->output.contains("Added " + anchorFor(pem) + " to the system store"));

    // Once the system store holds it, trusting again asks for no password.
    const auto again = trust(pem);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 0) << again->error.toStdString();
    EXPECT_EQ(calls(QStringLiteral("pkexec")).size(), 1);
    EXPECT_EQ(calls(QStringLiteral("certutil")).size(), 5) << "the browsers' databases are asked again";
}

TEST_F(KestrionTrust, WithoutTheSystemStoreTheBrowsersStillTrustAndTheMessageSaysWhatToRun)
{
    struct Case
    {
        const char *name;
        QByteArray pkexec; // empty: no pkexec at all
        QByteArray updater;
        QString reason;
    };
    const QList<Case> cases{
        {"no pkexec", {}, "exit 0", "pkexec was not found, so the system store is unchanged."},
        {"prompt dismissed", "echo 'Error executing command as another user: Request dismissed' >&2\nexit 126",
         "exit 0", "Trust was cancelled, so the system store is unchanged."},
        {"no agent", "echo 'Error executing command as another user: No authentication agent found.' >&2\nexit 127",
         "exit 0",
         "pkexec could not ask for the password (Error executing command as another user: No authentication agent "
         "found), so the system store is unchanged."},
        // The store's own 127 must not read as pkexec's.
        {"store fails", "exec \"$@\"", "echo 'cannot write /etc/ssl/certs' >&2\nexit 127",
         "Could not update the system store: cannot write /etc/ssl/certs."},
    };
    stub(QStringLiteral("certutil"), "exit 0");
    const QString pem = writeFile(QStringLiteral("it's ca.pem"), "-----BEGIN CERTIFICATE-----\nQUJD\n-----END CERTIFICATE-----\n");
    const QString byHand = QStringLiteral("sudo install -D -m 644 '") + home.filePath(QStringLiteral("it'\\''s ca.pem"))
                           + QStringLiteral("' ") + anchorFor(pem) + QStringLiteral(" && sudo update-ca-certificates");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(bin(QStringLiteral("pkexec")));
        QFile::remove(root.filePath(QStringLiteral("certutil.calls")));
        if (!c.pkexec.isEmpty())
            stub(QStringLiteral("pkexec"), c.pkexec);
        stub(QStringLiteral("update-ca-certificates"), c.updater);

        const auto result = trust(pem);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 1);
        EXPECT_EQ(result->error.trimmed(), c.reason + QStringLiteral(" Chromium trusts the CA; for curl, OpenSSL, "
                                                                     "Python and Go, run: ") + byHand);
        EXPECT_EQ(calls(QStringLiteral("certutil")).size(), 2) << "the user's database still takes the CA";
        EXPECT_FALSE(QFileInfo::exists(bundle()));
    }

    // The command given works, and then the trust holds without pkexec.
    QFile::remove(bin(QStringLiteral("pkexec")));
    stub(QStringLiteral("update-ca-certificates"), "cat '" + anchors().toUtf8() + "'/*.crt > '" + bundle().toUtf8() + "'");
    stub(QStringLiteral("sudo"), "exec \"$@\"");
    QProcess shell;
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), root.filePath(QStringLiteral("bin")));
    shell.setProcessEnvironment(env);
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), byHand});
    ASSERT_TRUE(shell.waitForFinished(10000));
    ASSERT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
    const auto after = trust(pem);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->status, 0) << after->error.toStdString();
    EXPECT_TRUE(after->output.contains(anchorFor(pem) + " is already in the system store"));
}

TEST_F(KestrionTrust, RealDatabasesHoldTheCaOnceAndARenewedOneBeside)
{
    if (realCertutil.isEmpty() || openssl.isEmpty())
        GTEST_SKIP() << "certutil or openssl is not installed";
    useRealCertutil();
    const QString firefox = home.filePath(QStringLiteral(".mozilla/firefox/ab12.default-esr"));
    ASSERT_TRUE(QDir().mkpath(firefox));
    QProcess create;
    create.start(realCertutil, {"-N", "-d", "sql:" + firefox, "--empty-password"});
    ASSERT_TRUE(create.waitForFinished(30000));
    const QString pem = makePem("kestrion ca.pem"); // a blank in the path must pass through unchanged
    ASSERT_FALSE(pem.isEmpty());
    ASSERT_FALSE(QFileInfo::exists(nssdb()));

    const auto result = trust(pem);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 0) << result->error.toStdString();
    EXPECT_TRUE(QFileInfo::exists(nssdb() + "/cert9.db"));
    for (const QString &database : {nssdb(), firefox}) {
        const QStringList lines = listed(database);
        ASSERT_EQ(lines.size(), 1) << database.toStdString();
        EXPECT_TRUE(lines.first().simplified().endsWith("C,,")) << lines.first().toStdString();
    }

    // Trusting the same CA again adds no second entry; a regenerated CA goes in beside the old one.
    const auto again = trust(pem);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 0) << again->error.toStdString();
    EXPECT_EQ(listed(nssdb()).size(), 1);
    const QString renewed = makePem("renewed.pem");
    const auto second = trust(renewed);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->status, 0) << second->error.toStdString();
    EXPECT_EQ(listed(nssdb()).size(), 2);
    EXPECT_EQ(listed(firefox).size(), 2);
    EXPECT_EQ(calls(QStringLiteral("pkexec")).size(), 2);
    EXPECT_TRUE(QFileInfo::exists(anchorFor(renewed)));
}

TEST_F(KestrionTrust, FailuresExitNonZeroWithAReadableReason)
{
    if (realCertutil.isEmpty())
        GTEST_SKIP() << "certutil is not installed";
    useRealCertutil();
    const QString garbage =
        writeFile(QStringLiteral("garbage.pem"), "-----BEGIN CERTIFICATE-----\nnot a certificate\n-----END CERTIFICATE-----\n");

    const auto rejected = trust(garbage);
    ASSERT_TRUE(rejected);
    EXPECT_NE(rejected->status, 0);
    EXPECT_TRUE(rejected->error.contains("Could not add the certificate")) << rejected->error.toStdString();
    EXPECT_TRUE(rejected->error.contains("certutil")) << "certutil's own error is passed on";
    EXPECT_TRUE(calls(QStringLiteral("pkexec")).isEmpty()) << "no password is asked for a file that is no certificate";

    const auto missing = trust(home.filePath("absent.pem"));
    ASSERT_TRUE(missing);
    EXPECT_NE(missing->status, 0);
    EXPECT_EQ(missing->error.trimmed(), "Cannot read the certificate file " + home.filePath("absent.pem"));
}

TEST_F(KestrionTrust, MissingCertutilNamesThePackage)
{
    QTemporaryDir emptyPath;
    const QString pem = writeFile(QStringLiteral("any.pem"), "x");
    const auto result = trust(pem, {"PATH=" + emptyPath.path()});
    ASSERT_TRUE(result);
    EXPECT_NE(result->status, 0);
    EXPECT_EQ(result->error.trimmed(),
              "certutil was not found; install the libnss3-tools package to trust the certificate");
    EXPECT_FALSE(QFileInfo::exists(home.filePath(".pki")));
}

TEST_F(KestrionTrust, OtherCommandsAndStrayArgumentsAreRefused)
{
    for (const QStringList &arguments : {QStringList{}, QStringList{"delete-certificate", "x.pem"},
                                         QStringList{"add-trusted-cert", "-r"},
                                         QStringList{"add-trusted-cert", "-z", "x.pem"},
                                         QStringList{"add-trusted-cert", "a.pem", "b.pem"}}) {
        const auto result = faketool::runAndWait(script, arguments);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(result->error.startsWith("usage: kestrion-trust add-trusted-cert"));
    }
}
