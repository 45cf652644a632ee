// The snapshot mode end to end: the real kestrion binary, the stand-in engine, a curl stub that records.
#include "app/app_state.h"
#include "app/command_palette.h"
#include "design/palette.h"
#include "engine/engine_client.h"
#include "engine/records/mock_data.h"
#include "snapshot/host_window.h"
#include "snapshot/snapshot_runner.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

QByteArray folderDigest(const QString &path)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QDirIterator it(path, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    QStringList files;
    while (it.hasNext())
        files << it.next();
    files.sort();
    for (const QString &file : files) {
        QFile f(file);
        if (f.open(QIODevice::ReadOnly)) {
            hash.addData(file.toUtf8());
            hash.addData(f.readAll());
        }
    }
    return hash.result().toHex();
}

// The run's pauses at a hundredth of their length: the steps are the same, only sooner. The engine's
// readiness and its route load are waited for as conditions, and it starts its proxy as it boots.
const QString FastPauses = QStringLiteral("KESTRION_SNAPSHOT_PAUSE_PERCENT=1");

// One run of `kestrion --snapshot <out>` in a home of its own.
struct SnapshotProcess
{
    QTemporaryDir home;
    QString output;
    QString curlLog;
    QString userData;
    QString tmp;
    QStringList lines;
    int exitCode = -1;
    qint64 engine = 0;
    QProcess kestrion;

    explicit SnapshotProcess(const QString &outputName = QStringLiteral("out"))
    {
        output = home.filePath(outputName);
        curlLog = home.filePath(QStringLiteral("curl.log"));
        userData = home.filePath(QStringLiteral("data/Kestrion"));
        tmp = home.filePath(QStringLiteral("tmp"));
        QDir().mkpath(tmp);
        // What a user already has: the run must leave it exactly as it is.
        QDir().mkpath(userData);
        QFile state(userData + QStringLiteral("/state.json"));
        if (state.open(QIODevice::WriteOnly))
            state.write(R"({"projects":[]})");
        const QString stub = home.filePath(QStringLiteral("curl"));
        QFile script(stub);
        if (script.open(QIODevice::WriteOnly)) {
            script.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$*\" >> '%1'\n").arg(curlLog).toUtf8());
            script.close();
            script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }

    // Starts the run; finished() tells when it has ended and collect() reads what it left.
    void start(const QStringList &extraEnvironment = {})
    {
        const QString app = QCoreApplication::applicationDirPath() + QStringLiteral("/kestrion");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("TMPDIR"), tmp);
        environment.insert(QStringLiteral("KESTRION_DATA_DIR"), userData);
        environment.insert(QStringLiteral("KESTRION_ENGINE"), testsupport::standinEnginePath());
        environment.insert(QStringLiteral("KESTRION_CURL"), home.filePath(QStringLiteral("curl")));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        for (const QString &pair : extraEnvironment)
            environment.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));

        kestrion.setProcessEnvironment(environment);
        kestrion.setWorkingDirectory(home.path());
        kestrion.start(app, {QStringLiteral("--snapshot"), output});
        ASSERT_TRUE(kestrion.waitForStarted(5000));
    }

    bool finished()
    {
        if (!engine)
            engine = testsupport::engineChildOf(kestrion.processId());
        return kestrion.state() == QProcess::NotRunning;
    }

    void collect()
    {
        if (kestrion.state() != QProcess::NotRunning) {
            kestrion.kill();
            kestrion.waitForFinished(5000);
        }
        exitCode = kestrion.exitStatus() == QProcess::NormalExit ? kestrion.exitCode() : -1;
        const QString out = QString::fromUtf8(kestrion.readAllStandardOutput());
        lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    void run(const QStringList &extraEnvironment = {})
    {
        start(extraEnvironment);
        testsupport::waitFor([this] { return finished(); }, 180'000);
        collect();
    }

    QStringList expectedOkLines() const
    {
        QStringList expected;
        for (const QString &suffix : {QStringLiteral("light"), QStringLiteral("dark")})
            for (const QString &file : SnapshotRunner::passFiles(suffix, true))
                expected << QStringLiteral("SNAPSHOT_OK ") + file;
        return expected;
    }
};

} // namespace

TEST(SnapshotArguments, FolderFollowsTheFirstExactFlag)
{
    EXPECT_FALSE(SnapshotRunner::outputDirectory({QStringLiteral("kestrion")}));
    EXPECT_FALSE(SnapshotRunner::outputDirectory({QStringLiteral("kestrion"), QStringLiteral("--snapshot")}));
    EXPECT_FALSE(SnapshotRunner::outputDirectory({QStringLiteral("kestrion"), QStringLiteral("--snapshots"),
                                                  QStringLiteral("/tmp/x")}));
    EXPECT_EQ(SnapshotRunner::outputDirectory({QStringLiteral("k"), QStringLiteral("--snapshot"), QStringLiteral("/a/b/")}),
              QStringLiteral("/a/b"));
    // Twice in a row: the second is the folder, relative to the current one.
    EXPECT_EQ(SnapshotRunner::outputDirectory(
                  {QStringLiteral("k"), QStringLiteral("--snapshot"), QStringLiteral("--snapshot")}),
              QDir::current().absoluteFilePath(QStringLiteral("--snapshot")));
}

TEST(SnapshotArguments, CurlSendsEachRouteThroughTheProxy)
{
    Endpoint route;
    route.method = HTTPMethod::CONNECT;
    route.host = "api.example.com";
    route.path = "/v1/users/:id";
    EXPECT_EQ(SnapshotRunner::curlArguments(route, 9999),
              (QStringList{"-s", "-o", "/dev/null", "-m", "3", "-X", "GET", "-x", "127.0.0.1:9999",
                           "http://api.example.com/v1/users/:id"}));
    route.method = HTTPMethod::PATCH;
    EXPECT_EQ(SnapshotRunner::curlArguments(route, 80)[6], QStringLiteral("PATCH"));
    EXPECT_EQ(SnapshotRunner::passFiles(QStringLiteral("dark"), false).size(), 13);
    EXPECT_EQ(SnapshotRunner::passFiles(QStringLiteral("light"), true).first(), QStringLiteral("dashboard-light.png"));
    EXPECT_EQ(SnapshotRunner::passFiles(QStringLiteral("light"), true).last(), QStringLiteral("projects-light.png"));
}

TEST(SnapshotEngineFolder, IsNewPrivateAndNeverAFolderPlantedBeforehand)
{
    // Another user of a shared temporary folder plants the predictable name with a link to a victim file.
    QTemporaryDir shared;
    ASSERT_TRUE(shared.isValid());
    const QByteArray previousTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", shared.path().toUtf8());
    const QString planted =
        shared.filePath(QStringLiteral("kestrion-snapshot-") + QString::number(QCoreApplication::applicationPid()));
    ASSERT_TRUE(QDir().mkpath(planted));
    const QString victim = shared.filePath(QStringLiteral("victim"));
    QFile victimFile(victim);
    ASSERT_TRUE(victimFile.open(QIODevice::WriteOnly));
    victimFile.write("keep");
    victimFile.close();
    ASSERT_TRUE(QFile::link(victim, planted + QStringLiteral("/state.json")));

    const QString first = SnapshotRunner::createEngineDataDirectory();
    const QString second = SnapshotRunner::createEngineDataDirectory();
    qputenv("TMPDIR", previousTmp);

    ASSERT_FALSE(first.isEmpty());
    EXPECT_NE(QFileInfo(first).canonicalFilePath(), QFileInfo(planted).canonicalFilePath());
    EXPECT_NE(first, second);
    EXPECT_TRUE(QFileInfo(first).fileName().startsWith(QStringLiteral("kestrion-snapshot-")));
    EXPECT_TRUE(QDir(first).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System));
    EXPECT_EQ(std::filesystem::status(first.toStdString()).permissions(), std::filesystem::perms::owner_all);
    EXPECT_FALSE(QFileInfo(first).isSymLink());
    // The planted folder is left exactly as it was.
    EXPECT_TRUE(QFileInfo(planted + QStringLiteral("/state.json")).isSymLink());
    QDir(first).removeRecursively();
    QDir(second).removeRecursively();
}

// A sheet built before its capture window takes that window's colours, as it does in the live window: the
// dark palette's placeholder is the dark palette's faint, not the light one's.
TEST(SnapshotHostWindow, ContentTakesTheHostsPalette)
{
    AppState state;
    EngineClient engine;
    for (const Palette *palette : {&Palette::dark(), &Palette::light()}) {
        auto *sheet = new CommandPalette(AppContext{&state, &engine, nullptr, nullptr});
        HostWindow host(sheet, QSize(560, 440), *palette);
        EXPECT_EQ(sheet->field()->palette().color(QPalette::PlaceholderText), palette->faint) << palette->isDark;
        EXPECT_EQ(sheet->field()->palette().color(QPalette::Text), palette->foreground) << palette->isDark;
        host.tearDown();
    }
}

TEST(SnapshotRun, WritesEveryViewInBothAppearancesAndLeavesNothingBehind)
{
    SnapshotProcess run;
    ASSERT_TRUE(run.home.isValid());
    const QByteArray before = folderDigest(run.userData);
    run.run({FastPauses});

    QStringList expected = run.expectedOkLines();
    expected << QStringLiteral("SNAPSHOTS_DONE ") + QDir::cleanPath(run.output);
    EXPECT_EQ(run.lines, expected);
    EXPECT_EQ(run.exitCode, 0);

    // Each image is exactly its host window's size.
    const QMap<QString, QSize> sizes{{"inspector-pane", {300, 780}}, {"new-route", {420, 360}},
                                     {"settings", {560, 600}},       {"onboarding", {540, 560}},
                                     {"palette", {560, 440}},        {"environments", {580, 440}},
                                     {"projects", {460, 420}}};
    for (const QString &suffix : {QStringLiteral("light"), QStringLiteral("dark")}) {
        for (const QString &file : SnapshotRunner::passFiles(suffix, true)) {
            const QImage image(QDir(run.output).filePath(file));
            const QString name = file.section(QLatin1Char('-'), 0, -2);
            EXPECT_EQ(image.size(), sizes.value(name, QSize(1280, 820))) << file.toStdString();
        }
    }

    // Six routes went through the proxy on a port of the run's own, a CONNECT one as GET; the curl
    // processes run side by side, so their order is free.
    QStringList calls;
    testsupport::waitFor([&] {
        QFile log(run.curlLog);
        if (log.open(QIODevice::ReadOnly))
            calls = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return calls.size() >= 6;
    });
    ASSERT_EQ(calls.size(), 6);
    const QString port = calls.first().section(QStringLiteral("-x 127.0.0.1:"), 1).section(QLatin1Char(' '), 0, 0);
    EXPECT_NE(port, QStringLiteral("9999")) << "the user's port is left alone";
    QStringList expectedCalls;
    for (size_t i = 0; i < 6; ++i)
        expectedCalls << SnapshotRunner::curlArguments(MockData::endpoints()[i], port.toInt()).join(QLatin1Char(' '));
    calls.sort();
    expectedCalls.sort();
    EXPECT_EQ(calls, expectedCalls);

    EXPECT_EQ(folderDigest(run.userData), before);
    ASSERT_NE(run.engine, 0);
    EXPECT_TRUE(testsupport::waitFor([&] { return testsupport::processGone(run.engine); }, 5000));
    EXPECT_TRUE(QDir(run.tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).filter("kestrion-snapshot").isEmpty());
}

TEST(SnapshotRun, UnwritableFolderReportsEachFailureAndExitsNonZero)
{
    // A regular file where the folder should be: nothing below it can be created, even by root.
    SnapshotProcess run(QStringLiteral("blocked/out"));
    QFile blocker(run.home.filePath(QStringLiteral("blocked")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    run.run({FastPauses});

    ASSERT_FALSE(run.lines.isEmpty());
    EXPECT_TRUE(run.lines.last().startsWith(QStringLiteral("SNAPSHOTS_DONE ")));
    const QStringList failures = run.lines.filter(QRegularExpression(QStringLiteral("^SNAPSHOT_FAIL ")));
    EXPECT_EQ(failures.size(), 30);
    EXPECT_TRUE(run.lines.filter(QStringLiteral("SNAPSHOT_OK")).isEmpty());
    EXPECT_EQ(run.exitCode, 1);
}

TEST(SnapshotRun, WatchdogEndsARunThatTakesTooLong)
{
    SnapshotProcess run;
    // At a tenth of their length the pauses alone take over 2 s: the watchdog fires first, after the
    // first captures.
    run.run({QStringLiteral("KESTRION_SNAPSHOT_PAUSE_PERCENT=10"), QStringLiteral("KESTRION_SNAPSHOT_WATCHDOG_MS=1200")});

    ASSERT_FALSE(run.lines.isEmpty());
    EXPECT_EQ(run.lines.last(), QStringLiteral("SNAPSHOT_TIMEOUT"));
    EXPECT_EQ(run.exitCode, 2);
    // Whatever was captured before is still reported, in order, and nothing ends twice.
    const QStringList before = run.lines.mid(0, run.lines.size() - 1);
    EXPECT_EQ(before, run.expectedOkLines().mid(0, before.size()));
    // On a loaded machine the engine may not have started yet when the watchdog fires.
    if (run.engine != 0) {
        EXPECT_TRUE(testsupport::waitFor([&] { return testsupport::processGone(run.engine); }, 5000));
    }
    EXPECT_TRUE(QDir(run.tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).filter("kestrion-snapshot").isEmpty());
}

TEST(SnapshotRun, EngineThatNeverStartsStillGetsTheDemoRoutesAndEveryView)
{
    // One engine exits at once, the other never prints its port; the demo routes are seeded locally.
    // The two runs share nothing, so they run side by side.
    SnapshotProcess runs[2];
    const QString pidFile = runs[1].home.filePath(QStringLiteral("engine.pid"));
    const QString hangingEngine = runs[1].home.filePath(QStringLiteral("kestrion-engine"));
    QFile script(hangingEngine);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\necho $$ > '%1'\nwhile :; do sleep 1; done\n").arg(pidFile).toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (const bool hangs : {false, true}) {
        runs[hangs].start({FastPauses, QStringLiteral("KESTRION_SNAPSHOT_READY_WAIT_MS=100"),
                           QStringLiteral("KESTRION_ENGINE=") + (hangs ? hangingEngine : QStringLiteral("/bin/false"))});
    }
    testsupport::waitFor([&] { return runs[0].finished() && runs[1].finished(); }, 180'000);

    for (const bool hangs : {false, true}) {
        SCOPED_TRACE(hangs ? "hanging engine" : "engine exits at once");
        SnapshotProcess &run = runs[hangs];
        run.collect();
        QStringList expected = run.expectedOkLines();
        expected << QStringLiteral("SNAPSHOTS_DONE ") + QDir::cleanPath(run.output);
        EXPECT_EQ(run.lines, expected);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(QDir(run.output).entryList({QStringLiteral("*.png")}, QDir::Files).size(), 30);
        if (hangs) {
            QFile pid(pidFile);
            ASSERT_TRUE(pid.open(QIODevice::ReadOnly));
            const qint64 enginePid = pid.readAll().trimmed().toLongLong();
            ASSERT_GT(enginePid, 0);
            EXPECT_TRUE(testsupport::waitFor([&] { return testsupport::processGone(enginePid); }, 5000));
        }
    }
}
