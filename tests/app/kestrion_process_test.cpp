// The real kestrion executable: it boots its engine, and quitting it leaves no engine process behind.
#include "support/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

namespace {

int freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

} // namespace

TEST(KestrionProcess, TerminationQuitsThroughTheEventLoopAndTakesTheEngineAlong)
{
    const QString app = QCoreApplication::applicationDirPath() + QStringLiteral("/kestrion");
    if (!QFileInfo(app).isExecutable())
        GTEST_SKIP() << "build the kestrion target to run this test";

    // A home of its own: the application's preferences and engine data stay in the temporary folder.
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QString config = home.filePath(QStringLiteral("config"));
    ASSERT_TRUE(QDir().mkpath(config + QStringLiteral("/Kestrion")));
    QFile prefs(config + QStringLiteral("/Kestrion/Kestrion.conf"));
    ASSERT_TRUE(prefs.open(QIODevice::WriteOnly));
    prefs.write(QStringLiteral("[General]\nks.autostartPref=false\nks.onboardedV1=true\nks.analyticsOptIn=false\n"
                               "ks.proxyPort=%1\n")
                    .arg(freePort())
                    .toUtf8());
    prefs.close();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("KESTRION_DATA_DIR"), home.filePath(QStringLiteral("engine")));
    environment.insert(QStringLiteral("KESTRION_ENGINE"), testsupport::standinEnginePath());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    QProcess kestrion;
    kestrion.setProcessEnvironment(environment);
    kestrion.setProcessChannelMode(QProcess::MergedChannels);
    kestrion.start(app, {});
    ASSERT_TRUE(kestrion.waitForStarted(5000));

    qint64 engine = 0;
    const bool booted = testsupport::waitFor([&] { return (engine = testsupport::engineChildOf(kestrion.processId())) != 0; },
                                             15000);
    if (!booted) {
        kestrion.kill();
        kestrion.waitForFinished(5000);
    }
    ASSERT_TRUE(booted) << kestrion.readAll().toStdString();

    ::kill(pid_t(kestrion.processId()), SIGTERM);
    ASSERT_TRUE(kestrion.waitForFinished(10000));
    EXPECT_EQ(kestrion.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(kestrion.exitCode(), 0);
    EXPECT_TRUE(testsupport::waitFor([engine] { return testsupport::processGone(engine); }, 5000)) << "engine " << engine;
}
