// The engine link against the real stand-in engine process, including its misbehaviours.
#include "engine_fixture.h"
#include "platform/fake_tool.h"

#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>
#include <signal.h>
#include <unistd.h>

namespace {

// Sends this process's standard error into a temporary file until text() is read.
class StandardErrorCapture
{
public:
    explicit StandardErrorCapture(const QString &path)
        : m_file(path)
    {
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        if (m_file.open(QIODevice::ReadWrite | QIODevice::Truncate))
            ::dup2(m_file.handle(), STDERR_FILENO);
    }
    ~StandardErrorCapture() { restore(); }

    QString text()
    {
        restore();
        m_file.seek(0);
        return QString::fromUtf8(m_file.readAll());
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }

    QFile m_file;
    int m_saved = -1;
};

} // namespace

TEST_F(EngineFixture, BootReachesHealthyThroughThePortLine)
{
    client().boot(false);
    EXPECT_EQ(client().status(), EngineStatus::starting());
    EXPECT_FALSE(client().proxyRunning());
    EXPECT_EQ(client().log().value(0), QStringLiteral("launching kestrion-engine\u2026"));

    ASSERT_TRUE(testsupport::waitFor([&] { return client().status() == EngineStatus::healthy(); }, 10000));
    ASSERT_TRUE(client().controlPort().has_value());
    EXPECT_TRUE(client().engineReady());
    EXPECT_TRUE(logContains(QStringLiteral("control ready on :%1").arg(*client().controlPort())));
    ASSERT_TRUE(client().health().has_value());
    EXPECT_EQ(client().health()->controlPort, *client().controlPort());
    EXPECT_EQ(client().proxyPort(), client().health()->proxyPort);
    EXPECT_TRUE(waitForLog(QStringLiteral("\u2022 events connected")));
}

TEST_F(EngineFixture, AutostartSetsTheProxyFlagAtOnceAndTheEngineConfirmsIt)
{
    client().boot(true);
    EXPECT_TRUE(client().proxyRunning());
    ASSERT_TRUE(testsupport::waitFor([&] { return client().status() == EngineStatus::healthy(); }, 10000));
    EXPECT_TRUE(client().proxyRunning());
    EXPECT_TRUE(client().health()->proxyRunning);
    // Port 0 asked for any free port; the health answer tells which.
    EXPECT_GT(client().proxyPort(), 0);
    EXPECT_EQ(client().proxyPort(), client().health()->proxyPort);
}

TEST_F(EngineFixture, ProxyStartAndStopEventsFlipTheFlagAndLog)
{
    ASSERT_TRUE(bootHealthy(false));
    ASSERT_TRUE(waitForLog(QStringLiteral("\u2022 events connected")));
    client().startProxy();
    ASSERT_TRUE(waitForLog(QStringLiteral("\u2022 proxy started")));
    EXPECT_TRUE(client().proxyRunning());
    client().stopProxy();
    ASSERT_TRUE(waitForLog(QStringLiteral("\u2022 proxy stopped")));
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().proxyRunning(); }));

    // A second boot on a running engine asks for the proxy and launches nothing.
    const qint64 pid = enginePid();
    client().boot(true);
    ASSERT_TRUE(testsupport::waitFor([&] { return client().log().count(QStringLiteral("\u2022 proxy started")) == 2; }));
    EXPECT_EQ(client().log().count(QStringLiteral("launching kestrion-engine\u2026")), 1);
    EXPECT_EQ(enginePid(), pid);
}

TEST_F(EngineFixture, ProxyStartOnATakenPortLogsTheEnginesReasonAlsoOnStandardError)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    Preferences::instance().setValue(PrefKey::ProxyPort, int(taken.serverPort()));
    m_client = makeClient();
    StandardErrorCapture captured(m_dir.filePath(QStringLiteral("stderr.txt")));
    ASSERT_TRUE(bootHealthy(false));
    client().startProxy();
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().log().filter(QStringLiteral("proxy start failed: ")).isEmpty(); }));
    const QString line = client().log().filter(QStringLiteral("proxy start failed: ")).first();
    EXPECT_TRUE(line.contains(QString::number(taken.serverPort()) + QStringLiteral(" is already in use"))) << line.toStdString();
    ASSERT_TRUE(waitForLog(QStringLiteral("control control/start: HTTP 409")));
    EXPECT_FALSE(client().proxyRunning());

    // Someone who started the application from a terminal reads the same lines there.
    client().setLogToStandardError(false);
    client().appendLog(QStringLiteral("not echoed"));
    const QStringList echoed = captured.text().split(QLatin1Char('\n'));
    EXPECT_TRUE(echoed.contains(line));
    EXPECT_TRUE(echoed.contains(QStringLiteral("control control/start: HTTP 409")));
    EXPECT_TRUE(echoed.contains(QStringLiteral("launching kestrion-engine\u2026")));
    EXPECT_FALSE(echoed.contains(QStringLiteral("not echoed")));
}

TEST_F(EngineFixture, RestartEndsWithTheProxyRunning)
{
    ASSERT_TRUE(bootHealthy(true));
    ASSERT_TRUE(waitForLog(QStringLiteral("\u2022 events connected")));
    client().restartProxy();
    ASSERT_TRUE(waitForLog(QStringLiteral("\u2022 proxy stopped")));
    ASSERT_TRUE(testsupport::waitFor([&] {
        const QStringList &log = client().log();
        return log.lastIndexOf(QStringLiteral("\u2022 proxy started")) > log.lastIndexOf(QStringLiteral("\u2022 proxy stopped"));
    }));
    EXPECT_TRUE(client().proxyRunning());
}

TEST_F(EngineFixture, ProxiedRequestBecomesOneTrafficEntry)
{
    ASSERT_TRUE(bootHealthy(true));
    Endpoint route;
    route.id = "r-1";
    route.host = "api.kestrion.test";
    route.path = "/v1/users/:id";
    route.status = 201;
    route.body = "{\"ok\":true}";
    client().setEndpoints({route});
    client().pushRoutes();
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().routePushPending(); }));

    EXPECT_EQ(proxyGet(QStringLiteral("api.kestrion.test"), QStringLiteral("/v1/users/7")), 201);
    ASSERT_TRUE(testsupport::waitFor([&] { return client().traffic().size() == 1; }));
    const TrafficEntry entry = client().traffic().first();
    EXPECT_EQ(entry.method, HTTPMethod::GET);
    EXPECT_EQ(entry.host, "api.kestrion.test");
    EXPECT_EQ(entry.path, "/v1/users/7");
    EXPECT_EQ(entry.status, 201);
    EXPECT_TRUE(entry.injected);
    EXPECT_TRUE(testsupport::waitFor([&] { return !client().traffic().first().fresh; }, 2000));

    // The history holds the same exchange in full.
    std::optional<TrafficRecord> record;
    bool answered = false;
    client().fetchRecord(QString::fromStdString(entry.id), &client(), [&](const std::optional<TrafficRecord> &r) {
        record = r;
        answered = true;
    });
    ASSERT_TRUE(testsupport::waitFor([&] { return answered; }));
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->path, "/v1/users/7");
    EXPECT_EQ(record->respBody, std::optional<std::string>("{\"ok\":true}"));

    client().clearTraffic();
    EXPECT_TRUE(client().traffic().isEmpty());
    // The engine's history empties too (the delete and the read may travel on two connections).
    bool emptied = false;
    for (int attempt = 0; attempt < 20 && !emptied; ++attempt) {
        std::optional<std::vector<TrafficRecord>> page;
        client().fetchHistory({}, {}, 100, &client(), [&](const std::vector<TrafficRecord> &p) { page = p; });
        ASSERT_TRUE(testsupport::waitFor([&] { return page.has_value(); }));
        emptied = page->empty();
    }
    EXPECT_TRUE(emptied);
}

TEST_F(EngineFixture, ThreeHundredAndOneRequestsKeepTheNewest300)
{
    ASSERT_TRUE(bootHealthy(true));
    Endpoint route;
    route.id = "r-n";
    route.host = "api.kestrion.test";
    route.path = "/n/:i";
    client().setEndpoints({route});
    client().pushRoutes();
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().routePushPending(); }));

    for (int i = 0; i < 301; ++i)
        ASSERT_EQ(proxyGet(QStringLiteral("api.kestrion.test"), QStringLiteral("/n/%1").arg(i)), 200) << i;
    ASSERT_TRUE(testsupport::waitFor([&] {
        return !client().traffic().isEmpty() && client().traffic().last().path == "/n/300";
    }, 10000));
    EXPECT_EQ(client().traffic().size(), 300);
    EXPECT_EQ(client().traffic().first().path, "/n/1");
}

TEST_F(EngineFixture, PendingRoutePushReachesTheEngineBeforeShutdown)
{
    ASSERT_TRUE(bootHealthy(false));
    Endpoint route;
    route.id = "r-keep";
    route.host = "kept.test";
    route.path = "/kept";
    client().setEndpoints({route});
    client().pushRoutes();
    stopEngine(); // at once, inside the debounce

    auto second = makeClient();
    m_client.swap(second);
    second.reset();
    ASSERT_TRUE(bootHealthy(false));
    ASSERT_TRUE(testsupport::waitFor([&] { return client().endpoints().size() == 1; }));
    EXPECT_EQ(client().endpoints().first().id, "r-keep");
}

TEST_F(EngineFixture, ShutdownLeavesNoEngineAndTheExitLogsNothing)
{
    ASSERT_TRUE(bootHealthy(true));
    const qint64 pid = enginePid();
    ASSERT_TRUE(processAlive(pid));
    const int logSize = int(client().log().size());
    QSignalSpy exited(&client(), &EngineClient::engineExited);
    client().shutdown();
    EXPECT_EQ(client().status(), EngineStatus::stopped());
    EXPECT_FALSE(client().proxyRunning());
    EXPECT_FALSE(client().engineReady());
    EXPECT_FALSE(client().controlPort().has_value());
    ASSERT_TRUE(testsupport::waitFor([&] { return !processAlive(pid); }, 5000));
    EXPECT_TRUE(testsupport::waitFor([&] { return exited.count() == 1; }, 2000));
    testsupport::waitFor([] { return false; }, 200);
    EXPECT_EQ(client().log().size(), logSize);
}

TEST_F(EngineFixture, KilledEngineIsAnErrorNamingTheSignalAndStopsTheTasks)
{
    client().setHealthTiming(50, 500);
    ASSERT_TRUE(bootHealthy(true));
    const qint64 pid = enginePid();
    ASSERT_EQ(::kill(pid_t(pid), SIGKILL), 0);
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().engineReady(); }, 5000));
    EXPECT_EQ(client().status(), EngineStatus::error(QStringLiteral("engine killed by SIGKILL")));
    EXPECT_FALSE(client().proxyRunning());
    EXPECT_FALSE(client().controlPort().has_value());
    EXPECT_EQ(client().log().last(), QStringLiteral("engine exited (code 9, killed by SIGKILL)"));
    // Were polling still going, its misses (refused at once, one every 50 ms) would log "engine not
    // responding" by now.
    testsupport::waitFor([] { return false; }, 250);
    EXPECT_EQ(client().log().last(), QStringLiteral("engine exited (code 9, killed by SIGKILL)"));

    // A new boot starts a new engine and clears the error.
    ASSERT_TRUE(bootHealthy(false));
    EXPECT_NE(enginePid(), pid);
}

TEST_F(EngineFixture, HungEngineIsReportedAfterThreeMissedPolls)
{
    // By default a poll waits 2 s, as long as the pause between polls; shortened here.
    EXPECT_EQ(ControlTimeouts{}.health, 2000);
    EXPECT_EQ(ControlTimeouts{}.healthInterval, 2000);
    client().setHealthTiming(50, 150);
    ASSERT_TRUE(bootHealthy(false));
    const qint64 pid = enginePid();
    ASSERT_EQ(::kill(pid_t(pid), SIGSTOP), 0);
    // Three polls plus their pauses; a poll waiting the general 60 s would take minutes.
    const bool reported = testsupport::waitFor([&] { return client().status().isError(); }, 25000);
    ::kill(pid_t(pid), SIGCONT);
    ASSERT_TRUE(reported);
    EXPECT_EQ(client().status(), EngineStatus::error(QStringLiteral("engine not responding")));
    EXPECT_TRUE(logContains(QStringLiteral("engine not responding \u2014 3 missed health checks")));
    // Once it runs again, the next answer brings it back.
    EXPECT_TRUE(testsupport::waitFor([&] { return client().status() == EngineStatus::healthy(); }, 10000));
}

TEST_F(EngineFixture, ASecondEngineOnTheSameDataFolderExitsAndTheLogSaysWhy)
{
    client().setHealthTiming(100, 2000);
    ASSERT_TRUE(bootHealthy(false));
    auto second = makeClient(); // the same data folder, as when the app is started twice
    QSignalSpy exited(second.get(), &EngineClient::engineExited);
    // The second engine gives the lock 100 ms instead of the 2 s an exiting engine gets to let go.
    qputenv("KESTRION_TEST_LOCK_GRACE_MS", "100");
    second->boot(false);
    qunsetenv("KESTRION_TEST_LOCK_GRACE_MS");
    ASSERT_TRUE(testsupport::waitFor([&] { return exited.count() == 1; }, 10000));
    EXPECT_EQ(exited.first().first().toInt(), 1);
    EXPECT_FALSE(second->engineReady());
    EXPECT_EQ(second->log().last(), QStringLiteral("engine exited (code 1)"));
    const QStringList log = second->log();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const QString &line) {
        return line.contains(QStringLiteral("is in use by another engine"));
    })) << log.join('\n').toStdString();

    // The first engine is untouched.
    const double uptime = client().health()->uptimeSeconds;
    EXPECT_TRUE(testsupport::waitFor([&] { return client().health()->uptimeSeconds > uptime; }, 5000));
    EXPECT_EQ(client().status(), EngineStatus::healthy());
}

TEST_F(EngineFixture, CrashAfterReadyIsReportedWithItsExitCode)
{
    setFault("crash-after-ready");
    // On a loaded machine the port line may first be read along with the exit, so readiness is
    // caught as it changes rather than polled.
    bool wasReady = false;
    QObject::connect(&client(), &EngineClient::engineReadyChanged, &client(),
                     [&] { wasReady = wasReady || client().engineReady(); });
    client().boot(true);
    ASSERT_TRUE(testsupport::waitFor([&] { return wasReady; }, 10000));
    ASSERT_TRUE(waitForLog(QStringLiteral("engine exited (code 3)"), 5000));
    EXPECT_FALSE(client().engineReady());
    EXPECT_FALSE(client().proxyRunning());
    EXPECT_EQ(client().status(), EngineStatus::stopped());
}

TEST_F(EngineFixture, ErrorStatusSurvivesTheEngineExit)
{
    setFault("hang-health");
    client().setHealthTiming(30, 60);
    client().boot(false);
    qunsetenv("KESTRION_STANDIN_FAULT");
    ASSERT_TRUE(testsupport::waitFor([&] { return client().status().isError(); }, 10000));
    EXPECT_EQ(client().status(), EngineStatus::error(QStringLiteral("engine not responding")));
    // Later misses (one every 90 ms) add nothing.
    testsupport::waitFor([] { return false; }, 250);
    EXPECT_EQ(client().log().count(QStringLiteral("engine not responding \u2014 3 missed health checks")), 1);

    // The engine goes away by itself: the error message stays.
    ASSERT_NE(client().sendControl("POST", QStringLiteral("control/shutdown"), {}, std::nullopt, 2000,
                                   &client(), nullptr),
              nullptr);
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().engineReady(); }, 5000));
    EXPECT_TRUE(client().log().last().startsWith(QStringLiteral("engine exited (code ")));
    EXPECT_EQ(client().status(), EngineStatus::error(QStringLiteral("engine not responding")));
}

TEST_F(EngineFixture, MalformedEventLinesChangeNothing)
{
    setFault("garbage-events");
    ASSERT_TRUE(bootHealthy(false));
    ASSERT_TRUE(testsupport::waitFor([&] { return client().traffic().size() == 1; }, 5000));
    testsupport::waitFor([] { return false; }, 100); // long past the 10 ms a later entry would wait
    EXPECT_EQ(client().traffic().size(), 1);
    EXPECT_TRUE(client().schemaDrifts().isEmpty());
    EXPECT_EQ(client().unseenDrift(), 0);
    EXPECT_EQ(client().log().count(QStringLiteral("\u2022 events connected")), 1);
    EXPECT_EQ(client().status(), EngineStatus::healthy());
}

TEST_F(EngineFixture, PortLineSplitAcrossWritesIsRecognised)
{
    setFault("split-port-line");
    ASSERT_TRUE(bootHealthy(false));
    EXPECT_TRUE(logContains(QStringLiteral("control ready on :%1").arg(*client().controlPort())));
    for (const QString &line : client().log())
        EXPECT_FALSE(line.startsWith(QStringLiteral("KESTRION"))) << line.toStdString();
}

TEST_F(EngineFixture, LogFloodKeepsTheNewest200Lines)
{
    setFault("log-flood");
    ASSERT_TRUE(bootHealthy(false));
    ASSERT_TRUE(waitForLog(QStringLiteral("\u2022 events connected")));
    EXPECT_EQ(client().log().size(), 200);
    EXPECT_TRUE(logContains(QStringLiteral("flood line 249")));
    EXPECT_FALSE(logContains(QStringLiteral("launching kestrion-engine\u2026")));
}

TEST_F(EngineFixture, OnlyTheLinkThatStartedTheEngineDrivesIt)
{
    // Healthy, its events connected and the proxy started: the link's token went with each request.
    ASSERT_TRUE(bootHealthy(true));
    EXPECT_TRUE(waitForLog(QStringLiteral("\u2022 events connected")));
    ASSERT_TRUE(testsupport::waitFor([&] { return client().health() && client().health()->proxyRunning; }));
    for (const QString &line : client().log())
        EXPECT_FALSE(line.contains(QStringLiteral("TOKEN"))) << line.toStdString(); // a secret, not a log line

    // Anyone else is refused and changes nothing.
    const auto stranger = [&](const QByteArray &method, const QByteArray &path) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(*client().controlPort()));
        if (!socket.waitForConnected(3000))
            return QByteArray();
        socket.write(method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(*client().controlPort())
                     + "\r\nConnection: close\r\n\r\n");
        QByteArray answer;
        while (socket.waitForReadyRead(3000))
            answer += socket.readAll();
        return answer;
    };
    for (const auto &[method, path] : {std::pair<QByteArray, QByteArray>{"GET", "/events"}, {"GET", "/health"},
                                       {"POST", "/control/stop"}}) {
        const QByteArray answer = stranger(method, path);
        EXPECT_TRUE(answer.startsWith("HTTP/1.1 401")) << path.toStdString() << ": " << answer.toStdString();
    }
    QSignalSpy polled(&client(), &EngineClient::healthChanged);
    ASSERT_TRUE(polled.wait(5000));
    EXPECT_TRUE(client().health()->proxyRunning);
    EXPECT_TRUE(client().proxyRunning());
}

TEST_F(EngineFixture, MissingExecutableIsAnError)
{
    client().setEngineExecutable(m_dir.filePath(QStringLiteral("nowhere/kestrion-engine")));
    client().boot(true);
    EXPECT_EQ(client().status(), EngineStatus::error(QStringLiteral("engine binary missing from app bundle")));
    EXPECT_EQ(client().log(), QStringList{QStringLiteral("error: kestrion-engine not found in Resources")});
    EXPECT_FALSE(client().proxyRunning());
}

TEST_F(EngineFixture, EngineFileThatCannotBeRunIsAFailedLaunchNotAMissingEngine)
{
    const QString path = m_dir.filePath(QStringLiteral("kestrion-engine"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);

    client().setEngineExecutable(path);
    client().boot(false);
    ASSERT_TRUE(client().status().isError());
    EXPECT_NE(client().status(), EngineStatus::error(QStringLiteral("engine binary missing from app bundle")));
    EXPECT_TRUE(client().status().message().contains(QStringLiteral("Permission denied")))
        << client().status().message().toStdString();
    EXPECT_EQ(client().log().last(), QStringLiteral("failed to launch: ") + client().status().message());
    EXPECT_FALSE(logContains(QStringLiteral("error: kestrion-engine not found in Resources")));
}

TEST_F(EngineFixture, FailedLaunchLeavesNoProxyFlag)
{
    // Executable by its mode, but no program the system can start.
    const QString path = m_dir.filePath(QStringLiteral("kestrion-engine"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("\x7F" "ELF-not-really", 15));
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    client().setEngineExecutable(path);
    client().boot(true);
    EXPECT_TRUE(client().status().isError());
    EXPECT_FALSE(client().proxyRunning());
    EXPECT_TRUE(client().log().last().startsWith(QStringLiteral("failed to launch: ")));
    EXPECT_FALSE(client().engineReady());
}

TEST_F(EngineFixture, ExitOfAnEngineShutDownEarlierLeavesTheNextOneLinked)
{
    client().setHealthTiming(100, 1000);
    ControlTimeouts timeouts = client().controlTimeouts();
    timeouts.shutdown = 100; // the held engine never answers its shutdown request
    client().setControlTimeouts(timeouts);
    ASSERT_TRUE(bootHealthy(false));
    // Hold the first engine so that it exits only once the next one is linked.
    const qint64 oldPid = enginePid();
    ASSERT_EQ(::kill(pid_t(oldPid), SIGSTOP), 0);
    QSignalSpy exited(&client(), &EngineClient::engineExited);
    client().shutdown();
    // The held engine still owns its data folder, so the next one gets a folder of its own.
    client().setDataDirectory(m_dir.filePath(QStringLiteral("data-next")));
    ASSERT_TRUE(bootHealthy(false));
    ASSERT_EQ(::kill(pid_t(oldPid), SIGCONT), 0);
    ASSERT_TRUE(testsupport::waitFor([&] { return exited.count() == 1; }, 5000));

    // The new link still polls and still hears events.
    const double uptime = client().health()->uptimeSeconds;
    EXPECT_TRUE(testsupport::waitFor([&] { return client().health()->uptimeSeconds > uptime; }, 3000));
    const int started = int(client().log().count(QStringLiteral("\u2022 proxy started")));
    client().startProxy();
    EXPECT_TRUE(testsupport::waitFor([&] {
        return client().log().count(QStringLiteral("\u2022 proxy started")) == started + 1;
    }));
    EXPECT_EQ(client().status(), EngineStatus::healthy());
}

TEST_F(EngineFixture, AStartWithoutAControlPortFailsAndALaterBootTriesAgain)
{
    EXPECT_EQ(ControlTimeouts{}.start, 10000);
    const QString path = faketool::write(m_dir, QStringLiteral("silent-engine"), "echo \"warming up\"\nexec sleep 60");
    ASSERT_FALSE(path.isEmpty());
    ControlTimeouts timeouts = client().controlTimeouts();
    timeouts.start = 300;
    client().setControlTimeouts(timeouts);
    client().setEngineExecutable(path);

    client().boot(true);
    ASSERT_EQ(client().status(), EngineStatus::starting());
    const qint64 pid = client().engineProcessId();
    ASSERT_TRUE(processAlive(pid));
    const EngineStatus failed = EngineStatus::error(QStringLiteral("The engine did not start: it gave no control port in 0.3 s"));
    ASSERT_TRUE(testsupport::waitFor([&] { return client().status() == failed; }));
    EXPECT_FALSE(client().proxyRunning());
    EXPECT_EQ(client().engineProcessId(), 0);
    EXPECT_TRUE(testsupport::waitFor([&] { return !processAlive(pid); }));
    EXPECT_EQ(client().status(), failed) << "the child's end says nothing more";

    // Nothing starts again on its own; a boot does, with the real engine.
    client().setEngineExecutable(testsupport::standinEnginePath());
    ASSERT_TRUE(bootHealthy(false));
}

TEST_F(EngineFixture, AQuitEndsAnEngineThatAnswersNothingWithinTheQuitsTime)
{
    EXPECT_EQ(ControlTimeouts{}.quit, 3000);
    ASSERT_TRUE(bootHealthy(false));
    ControlTimeouts timeouts = client().controlTimeouts();
    timeouts.shutdown = 100;
    timeouts.quit = 400;
    client().setControlTimeouts(timeouts);
    const qint64 pid = client().engineProcessId();
    // Hung: it neither answers the stop nor takes SIGTERM.
    ASSERT_EQ(::kill(pid_t(pid), SIGSTOP), 0);

    QElapsedTimer quitting;
    quitting.start();
    client().shutdown();
    // The window closing after the application's quit asks again.
    client().shutdown();
    m_client.reset();
    // Not the quit's time plus a fixed wait for the child (two seconds and more).
    EXPECT_LT(quitting.elapsed(), 1800);
    EXPECT_TRUE(testsupport::waitFor([&] { return !processAlive(pid); }));
}

TEST_F(EngineFixture, StandardErrorAndAnUnfinishedLastLineReachTheLog)
{
    // A tiny engine of our own that writes to both streams and exits mid-line.
    const QString path = faketool::write(m_dir, QStringLiteral("talkative-engine"),
                                         "echo \"to stdout\"\necho \"to stderr\" >&2\nsleep 0.2\nprintf 'last words'\nexit 7");
    ASSERT_FALSE(path.isEmpty());

    client().setEngineExecutable(path);
    client().boot(false);
    ASSERT_TRUE(waitForLog(QStringLiteral("engine exited (code 7)")));
    const QStringList &log = client().log();
    EXPECT_EQ(log.mid(1), (QStringList{QStringLiteral("to stdout"), QStringLiteral("to stderr"),
                                       QStringLiteral("last words"), QStringLiteral("engine exited (code 7)")}));
    EXPECT_EQ(client().status(), EngineStatus::stopped());
}
