// Start-up of the real kestrion binary with the stand-in engine and a home of its own: time from
// process start to the first painted frame and to the engine's first health answer, and the memory
// both processes hold then. Goals: first frame under 300 ms, engine ready under 500 ms, under 100 MB.
#include "bench_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <csignal>
#include <optional>

namespace {

// Resident memory of a process in megabytes, from /proc.
double residentMegabytes(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

// The engine child of a process (its first child named kestrion-engine).
qint64 engineChildOf(qint64 parent)
{
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype close = line.lastIndexOf(')');
        if (close < 0 || !line.mid(line.indexOf('(') + 1).startsWith("kestrion-engin"))
            continue;
        if (line.mid(close + 2).split(' ').value(1).toLongLong() == parent)
            return entry.toLongLong();
    }
    return 0;
}

struct Startup
{
    double firstFrameMs = -1;
    double engineReadyMs = -1;
    double appMegabytes = 0;
    double engineMegabytes = 0;
};

std::optional<Startup> launchOnce()
{
    QTemporaryDir home;
    const QString config = home.filePath(QStringLiteral("config"));
    QDir().mkpath(config + QStringLiteral("/Kestrion"));
    QFile prefs(config + QStringLiteral("/Kestrion/Kestrion.conf"));
    if (!prefs.open(QIODevice::WriteOnly))
        return std::nullopt;
    // A proxy port free right now, so runs never collide with anything listening.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    prefs.write("[General]\nks.autostartPref=true\nks.onboardedV1=true\nks.analyticsOptIn=false\nks.proxyPort="
                + QByteArray::number(port) + "\n");
    prefs.close();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("KESTRION_DATA_DIR"), home.filePath(QStringLiteral("engine")));
    environment.insert(QStringLiteral("KESTRION_ENGINE"), QStringLiteral(KESTRION_BENCH_ENGINE));
    environment.insert(QStringLiteral("KESTRION_STARTUP_TRACE"), QStringLiteral("1"));
    if (!environment.contains(QStringLiteral("QT_QPA_PLATFORM")))
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    QProcess app;
    app.setProcessEnvironment(environment);
    app.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer clock;
    clock.start();
    app.start(QStringLiteral(KESTRION_BENCH_APP), {});
    if (!app.waitForStarted(10000))
        return std::nullopt;

    Startup result;
    QByteArray pending;
    while ((result.firstFrameMs < 0 || result.engineReadyMs < 0) && clock.elapsed() < 20000) {
        if (!app.waitForReadyRead(200)) {
            if (app.state() == QProcess::NotRunning)
                break;
            continue;
        }
        const double now = clock.nsecsElapsed() / 1e6;
        pending += app.readAll();
        qsizetype newline = 0;
        while ((newline = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(newline);
            pending.remove(0, newline + 1);
            if (line == "kestrion startup: first frame" && result.firstFrameMs < 0)
                result.firstFrameMs = now;
            else if (line == "kestrion startup: engine ready" && result.engineReadyMs < 0)
                result.engineReadyMs = now;
        }
    }
    result.appMegabytes = residentMegabytes(app.processId());
    if (const qint64 engine = engineChildOf(app.processId()))
        result.engineMegabytes = residentMegabytes(engine);

    ::kill(pid_t(app.processId()), SIGTERM);
    if (!app.waitForFinished(10000)) {
        app.kill();
        app.waitForFinished(5000);
    }
    if (result.firstFrameMs < 0 || result.engineReadyMs < 0)
        return std::nullopt;
    return result;
}

void BM_Startup(benchmark::State &state)
{
    Startup sum{0, 0, 0, 0};
    int runs = 0;
    for (auto _ : state) {
        const std::optional<Startup> run = launchOnce();
        if (!run) {
            state.SkipWithError("kestrion did not reach a painted frame and a ready engine");
            return;
        }
        state.SetIterationTime(run->engineReadyMs / 1000.0);
        sum.firstFrameMs += run->firstFrameMs;
        sum.engineReadyMs += run->engineReadyMs;
        sum.appMegabytes += run->appMegabytes;
        sum.engineMegabytes += run->engineMegabytes;
        ++runs;
    }
    // Means over the runs.
    state.counters["first_frame_ms"] = sum.firstFrameMs / runs;
    state.counters["engine_ready_ms"] = sum.engineReadyMs / runs;
    state.counters["app_rss_mb"] = sum.appMegabytes / runs;
    state.counters["engine_rss_mb"] = sum.engineMegabytes / runs;
}

} // namespace

// Each iteration is one whole launch; its time is process start to engine ready.
BENCHMARK(BM_Startup)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return benchsupport::runCoreBenchmarks(argc, argv);
}
