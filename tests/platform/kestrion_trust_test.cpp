// kestrion-trust, the keychain tool's stand-in, against a throwaway NSS database under a temporary HOME.
#include "platform/fake_tool.h"
#include "platform/tool_runner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class KestrionTrust : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        script = ToolPaths::trustScript();
        ASSERT_TRUE(QFileInfo(script).isExecutable()) << script.toStdString();
        certutil = QStandardPaths::findExecutable("certutil");
        openssl = QStandardPaths::findExecutable("openssl");
    }

    // The arguments the application passes to the keychain tool, run with HOME pointed at the temp dir.
    std::optional<ToolResult> trust(const QString &pem, const QStringList &extraEnv = {})
    {
        QStringList arguments{"HOME=" + home.path()};
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

    QString listDatabase()
    {
        QProcess list;
        list.start(certutil, {"-L", "-d", "sql:" + home.filePath(".pki/nssdb")});
        list.waitForFinished(30000);
        return QString::fromUtf8(list.readAllStandardOutput());
    }

    QTemporaryDir home;
    QString script;
    QString certutil;
    QString openssl;
};

} // namespace

TEST_F(KestrionTrust, CreatesTheDatabaseAndTrustsThePemAsCa)
{
    if (certutil.isEmpty() || openssl.isEmpty())
        GTEST_SKIP() << "certutil or openssl is not installed";
    const QString pem = makePem("kestrion ca.pem"); // a blank in the path must pass through unchanged
    ASSERT_FALSE(pem.isEmpty());
    ASSERT_FALSE(QFileInfo::exists(home.filePath(".pki/nssdb")));

    const auto result = trust(pem);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 0) << result->error.toStdString();
    EXPECT_TRUE(QFileInfo::exists(home.filePath(".pki/nssdb/cert9.db")));
    const QString listed = listDatabase();
    const QStringList lines = listed.split('\n').filter("Kestrion Root CA");
    ASSERT_EQ(lines.size(), 1) << listed.toStdString();
    EXPECT_TRUE(lines.first().simplified().endsWith("C,,")) << lines.first().toStdString();

    // Trusting the same CA again succeeds and adds no second entry.
    const auto again = trust(pem);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 0) << again->error.toStdString();
    EXPECT_EQ(listDatabase().split('\n').filter("Kestrion Root CA").size(), 1);

    // A regenerated CA goes in beside the old one instead of clashing with its name.
    const QString renewed = makePem("renewed.pem");
    const auto second = trust(renewed);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->status, 0) << second->error.toStdString();
    EXPECT_EQ(listDatabase().split('\n').filter("Kestrion Root CA").size(), 2);
}

TEST_F(KestrionTrust, FailuresExitNonZeroWithAReadableReason)
{
    if (certutil.isEmpty())
        GTEST_SKIP() << "certutil is not installed";
    const QString garbage = home.filePath("garbage.pem");
    QFile file(garbage);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("-----BEGIN CERTIFICATE-----\nnot a certificate\n-----END CERTIFICATE-----\n");
    file.close();

    const auto rejected = trust(garbage);
    ASSERT_TRUE(rejected);
    EXPECT_NE(rejected->status, 0);
    EXPECT_TRUE(rejected->error.contains("Could not add the certificate")) << rejected->error.toStdString();
    EXPECT_TRUE(rejected->error.contains("certutil")) << "certutil's own error is passed on";

    const auto missing = trust(home.filePath("absent.pem"));
    ASSERT_TRUE(missing);
    EXPECT_NE(missing->status, 0);
    EXPECT_EQ(missing->error.trimmed(), "Cannot read the certificate file " + home.filePath("absent.pem"));
}

TEST_F(KestrionTrust, MissingCertutilNamesThePackage)
{
    QTemporaryDir emptyPath;
    const QString pem = home.filePath("any.pem");
    QFile file(pem);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("x");
    file.close();
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
