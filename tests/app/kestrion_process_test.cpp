// The real kestrion executable: it boots its engine, and quitting it leaves no engine process behind.
#include "support/test_support.h"

#include "support/fake_control_server.h"

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

QString kestrionPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/kestrion");
}

// An environment with a home of its own, so the application's preferences and engine data stay in
// the temporary folder, and the given engine executable.
QProcessEnvironment isolatedEnvironment(const QTemporaryDir &home, const QString &engine)
{
    const QString config = home.filePath(QStringLiteral("config"));
    QDir().mkpath(config + QStringLiteral("/Kestrion"));
    QFile prefs(config + QStringLiteral("/Kestrion/Kestrion.conf"));
    if (prefs.open(QIODevice::WriteOnly))
        prefs.write(QStringLiteral("[General]\nks.autostartPref=false\nks.onboardedV1=true\nks.analyticsOptIn=false\n"
                                   "ks.proxyPort=%1\n")
                        .arg(freePort())
                        .toUtf8());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("KESTRION_DATA_DIR"), home.filePath(QStringLiteral("engine")));
    environment.insert(QStringLiteral("KESTRION_ENGINE"), engine);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

} // namespace

TEST(KestrionProcess, TerminationQuitsThroughTheEventLoopAndTakesTheEngineAlong)
{
    const QString app = kestrionPath();
    if (!QFileInfo(app).isExecutable())
        GTEST_SKIP() << "build the kestrion target to run this test";

    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QProcess kestrion;
    kestrion.setProcessEnvironment(isolatedEnvironment(home, testsupport::standinEnginePath()));
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

TEST(KestrionProcess, QuittingSendsTheShutdownRequestBeforeTheProcessEnds)
{
    const QString app = kestrionPath();
    if (!QFileInfo(app).isExecutable())
        GTEST_SKIP() << "build the kestrion target to run this test";

    // The engine here only announces the recording server as its control API and waits for its
    // standard input to close.
    FakeControlServer server;
    server.setResponder([](const RecordedRequest &request) {
        CannedReply reply;
        reply.hold = request.path() == "/events";
        return reply;
    });
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QString engine = home.filePath(QStringLiteral("engine.sh"));
    QFile script(engine);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\necho KESTRION_CONTROL_PORT=" + QByteArray::number(server.port())
                 + "\nexec cat >/dev/null\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QProcess kestrion;
    kestrion.setProcessEnvironment(isolatedEnvironment(home, engine));
    kestrion.setProcessChannelMode(QProcess::MergedChannels);
    kestrion.start(app, {});
    ASSERT_TRUE(kestrion.waitForStarted(5000));
    const bool loaded = testsupport::waitFor([&] { return !server.matching("GET", "/ai/status").isEmpty(); }, 15000);
    if (!loaded)
        kestrion.kill();
    ASSERT_TRUE(loaded) << kestrion.readAll().toStdString();
    EXPECT_TRUE(server.matching("POST", "/control/shutdown").isEmpty());

    ::kill(pid_t(kestrion.processId()), SIGTERM);
    ASSERT_TRUE(testsupport::waitFor([&] { return kestrion.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(kestrion.exitCode(), 0);
    // The request was written before the process ended; the server may read it a moment later.
    EXPECT_TRUE(testsupport::waitFor([&] { return !server.matching("POST", "/control/shutdown").isEmpty(); }, 5000));
    EXPECT_EQ(server.matching("POST", "/control/shutdown").size(), 1);
}
