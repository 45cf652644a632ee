// Live traffic and history detail benchmarks on the real screens, offscreen.
// Live: events fed through the engine link at 1,000 and 10,000 per second into a full list of 300
// rows, flushed every 100 ms as the link does, with fades running; each frame's flush and repaint is
// timed. Detail: a record with a 1 MB minified JSON body from select to a painted panel, and the
// longest stall of the window while a 10 MB body is selected.
#include "bench_support.h"

#include "app/app_context.h"
#include "design/palette.h"
#include "engine/engine_client.h"
#include "platform/preferences.h"
#include "screens/traffic/history_detail_panel.h"
#include "screens/traffic/history_model.h"
#include "screens/traffic/history_screen.h"
#include "screens/traffic/live_traffic_model.h"
#include "screens/traffic/live_traffic_screen.h"
#include "screens/traffic/traffic_list_view.h"
#include "support/fake_control_server.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QTemporaryDir>
#include <QThread>
#include <QVBoxLayout>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

namespace {

class Host final : public QWidget
{
public:
    Host()
    {
        PaletteHost::set(this, Palette::dark());
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        resize(1280, 820);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), Palette::of(this).background);
    }
};

std::string requestEvent(long long n)
{
    return R"({"type":"request","time":"10:42:07","request":{"id":"tr-)" + std::to_string(n)
           + R"(","time":"10:42:07.123","method":")" + (n % 4 == 0 ? "POST" : "GET")
           + R"(","host":"api.acme-demo.dev","path":"/v2/users/)" + std::to_string(n % 977)
           + R"(/profile","status":)" + (n % 9 == 0 ? "503" : "200") + R"(,"latencyMs":)" + std::to_string(n % 1400)
           + R"(,"injected":)" + (n % 2 ? "true" : "false") + "}}";
}

void runEventsFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, ms);
}

// One iteration is one 16 ms frame: the events of that frame go into the link, the flush runs when
// its 100 ms are up, and the list repaints; waiting for the next frame (timers, fades, the window's
// own repaint of the toolbar) is not timed.
void BM_LiveTrafficFrame(benchmark::State &state)
{
    const int perSecond = int(state.range(0));
    const bool filtered = state.range(1) != 0;
    EngineClient engine;
    engine.setProxyRunning(true);
    Host host;
    auto *screen = new LiveTrafficScreen(AppContext{nullptr, &engine, nullptr, nullptr});
    host.layout()->addWidget(screen);
    host.show();
    long long next = 0;
    for (int i = 0; i < 300; ++i)
        engine.handleEvent(requestEvent(next++));
    engine.flushTraffic();
    if (filtered)
        screen->setFilter(QStringLiteral("50"));
    runEventsFor(50);

    QElapsedTimer clock;
    clock.start();
    qint64 lastFlush = 0;
    double fading = 0;
    double worstMs = 0;
    double paintMs = 0;
    long long frames = 0;
    for (auto _ : state) {
        const qint64 frameStart = clock.elapsed();
        QElapsedTimer timed;
        timed.start();
        // The events that arrived during this frame.
        const int perFrame = std::max(1, perSecond * 16 / 1000);
        for (int i = 0; i < perFrame; ++i)
            engine.handleEvent(requestEvent(next++));
        if (frameStart - lastFlush >= EngineClient::TrafficFlushDelayMs) {
            engine.flushTraffic();
            lastFlush = frameStart;
        }
        // The list's whole area repainted (new rows shift every row; fades mark only their rows).
        const qint64 beforePaint = timed.nsecsElapsed();
        screen->list()->viewport()->repaint();
        const double ms = timed.nsecsElapsed() / 1e6;
        paintMs += (timed.nsecsElapsed() - beforePaint) / 1e6;
        state.SetIterationTime(ms / 1000.0);
        worstMs = std::max(worstMs, ms);
        fading += screen->model()->fadingCount();
        ++frames;
        // Timers (fresh marks, fade ticks, the follow animation) until the next frame.
        runEventsFor(int(std::max<qint64>(1, 16 - (clock.elapsed() - frameStart))));
    }
    state.counters["worst_ms"] = worstMs;
    state.counters["paint_ms"] = paintMs / double(std::max(1LL, frames));
    state.counters["fading_rows"] = fading / double(std::max(1LL, frames));
    state.counters["shown"] = screen->shownCount();
}

// A full list repainted with nothing else going on: the window, then the list's viewport alone.
void BM_LiveRepaintOnly(benchmark::State &state)
{
    EngineClient engine;
    engine.setProxyRunning(true);
    Host host;
    auto *screen = new LiveTrafficScreen(AppContext{nullptr, &engine, nullptr, nullptr});
    host.layout()->addWidget(screen);
    host.show();
    for (int i = 0; i < 300; ++i)
        engine.handleEvent(requestEvent(i));
    engine.flushTraffic();
    runEventsFor(50);
    QWidget *target = state.range(0) ? static_cast<QWidget *>(&host) : screen->list()->viewport();
    for (auto _ : state)
        target->repaint();
}

QByteArray minifiedJson(qsizetype bytes)
{
    QByteArray body = "[";
    int i = 0;
    while (body.size() < bytes) {
        body += "{\"id\":" + QByteArray::number(i) + ",\"name\":\"user" + QByteArray::number(i + 1)
                + "\",\"email\":\"u@example.com\",\"active\":true,\"score\":12.5,\"tags\":[\"a\",\"b\"],\"manager\":null},";
        ++i;
    }
    body.chop(1);
    return body + "]";
}

QByteArray recordWithBody(const char *id, const QByteArray &body)
{
    QByteArray escaped = body;
    escaped.replace("\\", "\\\\").replace("\"", "\\\"");
    return QByteArray(R"({"id":")") + id + R"(","time":"10:42:07","method":"GET","host":"api.acme.dev","path":"/v2/users",)"
           R"("status":200,"latencyMs":12,"injected":false,"reqHeaders":{"Accept":"application/json"},"respBody":")"
           + escaped + "\"}";
}

// The panel alone: a fetched record with a 1 MB body replaces the list's copy and is painted.
void BM_DetailPanel1MB(benchmark::State &state)
{
    EngineClient engine;
    Host host;
    auto *panel = new HistoryDetailPanel(&engine, [] {}, [] {});
    host.layout()->addWidget(panel);
    host.show();
    TrafficRecord record;
    record.id = "h1";
    record.host = "api.acme.dev";
    record.path = "/v2/users";
    const std::string body = minifiedJson(1 << 20).toStdString();
    bool flip = false;
    for (auto _ : state) {
        TrafficRecord next = record;
        next.respBody = body + (flip ? " " : ""); // a different body each time, so it is really set
        flip = !flip;
        panel->setRecord(next, false);
        host.repaint();
    }
}

// Select to painted panel through the engine link and a loopback server, as the user sees it.
void BM_SelectRecord(benchmark::State &state)
{
    QTemporaryDir dir;
    Preferences::instance().useFile(dir.filePath(QStringLiteral("prefs.ini")));
    const QByteArray record = recordWithBody("big", minifiedJson(qsizetype(state.range(0))));
    const QByteArray list = "[" + recordWithBody("big", "") + "," + recordWithBody("small", "{}") + "]";
    FakeControlServer server;
    server.setResponder([&](const RecordedRequest &request) {
        CannedReply reply;
        if (request.path() == "/events" || request.path() == "/health")
            reply.hold = true;
        else if (request.path() == "/traffic")
            reply.body = list;
        else if (request.path() == "/traffic/big")
            reply.body = record;
        else if (request.path() == "/traffic/small")
            reply.body = recordWithBody("small", "{}");
        return reply;
    });
    EngineClient engine;
    engine.ingestOutput("KESTRION_CONTROL_PORT=" + QByteArray::number(server.port()) + "\n");
    Host host;
    auto *screen = new HistoryScreen(AppContext{nullptr, &engine, nullptr, nullptr});
    host.layout()->addWidget(screen);
    host.show();
    while (screen->model()->records().size() < 2)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

    // The longest gap between ticks of a 1 ms timer: how long the window could not react.
    QElapsedTimer gapClock;
    qint64 lastTick = 0;
    qint64 worstGap = 0;
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = gapClock.nsecsElapsed();
        worstGap = std::max(worstGap, now - lastTick);
        lastTick = now;
    });
    for (auto _ : state) {
        screen->select(QStringLiteral("small"));
        while (screen->loadingDetail())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QElapsedTimer timed;
        gapClock.start();
        lastTick = 0;
        ticker.start();
        timed.start();
        screen->select(QStringLiteral("big"));
        while (screen->loadingDetail())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        host.repaint();
        state.SetIterationTime(timed.nsecsElapsed() / 1e9);
        ticker.stop();
    }
    state.counters["worst_stall_ms"] = double(worstGap) / 1e6;
}

} // namespace

BENCHMARK(BM_LiveTrafficFrame)
    ->Args({100, 0})
    ->Args({1000, 0})
    ->Args({1000, 1})
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Iterations(150)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LiveRepaintOnly)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetailPanel1MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectRecord)->Arg(1 << 20)->Arg(10 << 20)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return benchsupport::runWidgetBenchmarks(argc, argv);
}
