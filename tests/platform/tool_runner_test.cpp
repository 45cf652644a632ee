// ToolRunner against real child processes: exits, failures, huge output, hangs and vanished receivers.
#include "platform/fake_tool.h"
#include "platform/tool_runner.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/types.h>

namespace {

bool processAlive(qint64 pid)
{
    return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) == 0;
}

qint64 readPid(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.readAll().trimmed().toLongLong();
}

} // namespace

TEST(ToolRunner, ExitZeroHandsBackBothStreamsSeparately)
{
    QTemporaryDir dir;
    const QString tool = faketool::write(dir, "tool", "echo 'listed'; echo 'a warning' >&2; exit 0");
    const auto result = faketool::runAndWait(tool, {});
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 0);
    EXPECT_EQ(result->output, "listed\n");
    EXPECT_EQ(result->error, "a warning\n");
}

TEST(ToolRunner, NonZeroExitKeepsStatusAndStandardError)
{
    QTemporaryDir dir;
    const QString tool = faketool::write(dir, "tool", "echo 'SecTrustSettingsSetTrustSettings: denied' >&2; exit 3");
    const auto result = faketool::runAndWait(tool, {});
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 3);
    EXPECT_EQ(result->output, "");
    EXPECT_EQ(result->error, "SecTrustSettingsSetTrustSettings: denied\n");
}

TEST(ToolRunner, ArgumentsArriveUnchangedWithoutAShell)
{
    QTemporaryDir dir;
    const QString tool = faketool::write(dir, "tool", "for a in \"$@\"; do printf '[%s]' \"$a\"; done");
    const auto result = faketool::runAndWait(tool, {"a b", "it's \"quoted\"", "$HOME", ""});
    ASSERT_TRUE(result);
    EXPECT_EQ(result->output, "[a b][it's \"quoted\"][$HOME][]");
}

TEST(ToolRunner, MissingProgramIsMinusOneWithReasonAndNeverSynchronous)
{
    QObject context;
    int calls = 0;
    ToolResult got;
    ToolRunner::run("/nonexistent/kestrion/tool", {"x"}, &context, [&](const ToolResult &r) {
        ++calls;
        got = r;
    });
    EXPECT_EQ(calls, 0) << "the callback must come from the event loop, not from run()";
    ASSERT_TRUE(testsupport::waitFor([&] { return calls > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(got.status, -1);
    EXPECT_EQ(got.output, "");
    EXPECT_EQ(got.error, "No such file or directory");

    QTemporaryDir dir;
    const QString notExecutable = dir.filePath("plain.txt");
    QFile file(notExecutable);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("echo hi\n");
    file.close();
    const auto refused = faketool::runAndWait(notExecutable, {});
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, -1);
    EXPECT_EQ(refused->error, "Permission denied");

    const auto empty = faketool::runAndWait(QString(), {});
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->status, -1);
    EXPECT_EQ(empty->error, "Could not start the tool: no program was given");
}

TEST(ToolRunner, SeveralMegabytesOnBothPipesDoNotStall)
{
    // Standard error filled first: a tool that drains standard output to its end first would hang here.
    QTemporaryDir dir;
    const QString tool = faketool::write(dir, "tool",
                                         "head -c 4194304 /dev/zero | tr '\\0' 'e' >&2\n"
                                         "head -c 6291456 /dev/zero | tr '\\0' 'o'\n"
                                         "exit 0");
    const auto result = faketool::runAndWait(tool, {}, ToolRunner::DefaultTimeoutMs, 30000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 0);
    EXPECT_EQ(result->error.size(), 4194304);
    EXPECT_EQ(result->output.size(), 6291456);
    EXPECT_EQ(result->output.count(QLatin1Char('o')), 6291456);
    EXPECT_EQ(result->error.count(QLatin1Char('e')), 4194304);
}

TEST(ToolRunner, HungToolIsStoppedAtTheLimitAndReportedAsFailure)
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath("pid");
    const QString tool = faketool::write(dir, "hang", "echo $$ > \"$1\"; echo 'partial'; exec sleep 60");
    const auto result = faketool::runAndWait(tool, {pidFile}, 400, 10000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, -1);
    EXPECT_EQ(result->error, "hang did not finish within 400 ms and was stopped");
    const qint64 pid = readPid(pidFile);
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(testsupport::waitFor([pid] { return !processAlive(pid); }, 3000));

    const auto whole = faketool::runAndWait(tool, {pidFile}, 1000, 10000);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->error, "hang did not finish within 1 s and was stopped");
}

TEST(ToolRunner, GoneContextGetsNoCallbackAndTheToolIsStopped)
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath("pid");
    const QString tool = faketool::write(dir, "hang", "echo $$ > \"$1\"; exec sleep 60");
    auto *context = new QObject;
    bool called = false;
    ToolRunner::run(tool, {pidFile}, context, [&called](const ToolResult &) { called = true; });
    ASSERT_TRUE(testsupport::waitFor([&] { return readPid(pidFile) > 0; }));
    const qint64 pid = readPid(pidFile);
    delete context;
    EXPECT_TRUE(testsupport::waitFor([pid] { return !processAlive(pid); }, 3000));
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(called);

    // A context that goes away after the tool ended but before the hand-over also hears nothing.
    const QString quick = faketool::write(dir, "quick", "exit 0");
    auto *late = new QObject;
    bool lateCalled = false;
    ToolRunner::run(quick, {}, late, [&lateCalled](const ToolResult &) { lateCalled = true; });
    delete late;
    testsupport::waitFor([] { return false; }, 300);
    EXPECT_FALSE(lateCalled);
}

TEST(ToolRunner, NullContextStillDelivers)
{
    QTemporaryDir dir;
    const QString tool = faketool::write(dir, "tool", "exit 7");
    std::optional<ToolResult> result;
    ToolRunner::run(tool, {}, nullptr, [&result](const ToolResult &r) { result = r; });
    ASSERT_TRUE(testsupport::waitFor([&] { return result.has_value(); }));
    EXPECT_EQ(result->status, 7);
}

TEST(ToolRunner, CrashAndInvalidUtf8AreReadSafely)
{
    QTemporaryDir dir;
    const QString crash = faketool::write(dir, "crash", "kill -SEGV $$");
    const auto crashed = faketool::runAndWait(crash, {});
    ASSERT_TRUE(crashed);
    EXPECT_EQ(crashed->status, -1);
    EXPECT_EQ(crashed->error, "") << "a tool killed by a signal said nothing";

    // Bytes that are not UTF-8 give an empty text rather than a garbled one; the other stream is kept.
    const QString binary = faketool::write(dir, "binary", "printf 'ok\\377\\376'; printf 'caf\\303\\251' >&2; exit 1");
    const auto mixed = faketool::runAndWait(binary, {});
    ASSERT_TRUE(mixed);
    EXPECT_EQ(mixed->status, 1);
    EXPECT_EQ(mixed->output, "");
    EXPECT_EQ(mixed->error, QString::fromUtf8("caf\xc3\xa9"));
}

TEST(ToolPaths, EnvironmentOverridesTheUsualLocations)
{
    {
        faketool::ScopedEnv security(ToolPaths::SecurityEnv, "/tmp/fake security");
        faketool::ScopedEnv xcrun(ToolPaths::XcrunEnv, "/tmp/fake-xcrun");
        faketool::ScopedEnv curl(ToolPaths::CurlEnv, "/tmp/fake-curl");
        EXPECT_EQ(ToolPaths::security(), "/tmp/fake security");
        EXPECT_EQ(ToolPaths::xcrun(), "/tmp/fake-xcrun");
        EXPECT_EQ(ToolPaths::curl(), "/tmp/fake-curl");
    }
    faketool::ScopedEnv security(ToolPaths::SecurityEnv, "");
    faketool::ScopedEnv xcrun(ToolPaths::XcrunEnv, "");
    faketool::ScopedEnv curl(ToolPaths::CurlEnv, "");
    EXPECT_EQ(ToolPaths::xcrun(), "/usr/bin/xcrun");
    EXPECT_EQ(ToolPaths::curl(), "/usr/bin/curl");
    if (QFileInfo("/usr/bin/security").isExecutable()) {
        EXPECT_EQ(ToolPaths::security(), "/usr/bin/security");
    } else {
        EXPECT_EQ(ToolPaths::security(), QCoreApplication::applicationDirPath() + "/kestrion-trust");
        EXPECT_TRUE(QFileInfo(ToolPaths::security()).isExecutable()) << "the build copies kestrion-trust into bin/";
    }
}
