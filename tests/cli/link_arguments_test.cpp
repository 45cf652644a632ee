// kestrion-link's command line: help and usage errors are answered before any engine starts.
#include "support/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct LinkRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs kestrion-link in a home of its own with an engine that only leaves a mark when started.
LinkRun runLink(const QTemporaryDir &home, const QStringList &arguments)
{
    const QString engine = home.filePath(QStringLiteral("engine"));
    QFile script(engine);
    if (script.open(QIODevice::WriteOnly)) {
        script.write(QStringLiteral("#!/bin/sh\ntouch '%1'\n").arg(home.filePath(QStringLiteral("started"))).toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("KESTRION_ENGINE"), engine);
    environment.insert(QStringLiteral("KESTRION_DATA_DIR"), home.filePath(QStringLiteral("data")));

    QProcess link;
    link.setProcessEnvironment(environment);
    link.start(QCoreApplication::applicationDirPath() + QStringLiteral("/kestrion-link"), arguments);
    LinkRun run;
    if (!link.waitForFinished(10'000)) {
        link.kill();
        link.waitForFinished(5000);
        return run;
    }
    run.exitCode = link.exitStatus() == QProcess::NormalExit ? link.exitCode() : -1;
    run.out = QString::fromUtf8(link.readAllStandardOutput());
    run.err = QString::fromUtf8(link.readAllStandardError());
    return run;
}

} // namespace

TEST(LinkArguments, HelpPrintsUsageAndStartsNothing)
{
    for (const QString &flag : {QStringLiteral("-h"), QStringLiteral("--help")}) {
        SCOPED_TRACE(flag.toStdString());
        QTemporaryDir home;
        ASSERT_TRUE(home.isValid());
        const LinkRun run = runLink(home, {flag});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(run.out.startsWith(QStringLiteral("Usage: kestrion-link"))) << run.out.toStdString();
        EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
        EXPECT_FALSE(QFile::exists(home.filePath(QStringLiteral("started"))));
        EXPECT_FALSE(QFile::exists(home.filePath(QStringLiteral("data"))));
    }
}

TEST(LinkArguments, UnknownOptionIsAUsageErrorOnStandardError)
{
    for (const QStringList &arguments : {QStringList{QStringLiteral("--bogus")},
                                         QStringList{QStringLiteral("extra"), QStringLiteral("--help")}}) {
        SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
        QTemporaryDir home;
        ASSERT_TRUE(home.isValid());
        const LinkRun run = runLink(home, arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
        EXPECT_TRUE(run.err.startsWith(QStringLiteral("kestrion-link: ")));
        EXPECT_TRUE(run.err.contains(QLatin1Char('\'') + arguments.first() + QLatin1Char('\'')));
        EXPECT_TRUE(run.err.contains(QStringLiteral("Usage: kestrion-link")));
        EXPECT_FALSE(QFile::exists(home.filePath(QStringLiteral("started"))));
        EXPECT_FALSE(QFile::exists(home.filePath(QStringLiteral("data"))));
    }
}
