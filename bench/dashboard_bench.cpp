// Dashboard benchmark: the real screen offscreen with a full traffic list; each iteration is one
// traffic flush (append, trim to 300) followed by the refresh it causes and, optionally, a repaint.
#include "bench_support.h"

#include "app/app_state.h"
#include "design/fonts.h"
#include "engine/engine_client.h"
#include "platform/preferences.h"
#include "screens/traffic/dashboard_screen.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <string>

namespace {

#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 at -O3 takes a concatenated string's length as possibly above PTRDIFF_MAX here and warns
// about an overlapping copy that cannot happen (a known false positive of -Wrestrict on std::string).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
#endif
TrafficEntry entry(int i)
{
    TrafficEntry e;
    e.id = "t" + std::to_string(i);
    e.timestamp = "2026-12-07T10:00:00.123Z";
    e.host = "api.acme-demo.dev";
    e.path = "/v2/users/" + std::to_string(i) + "/profile";
    e.status = i % 9 == 0 ? 503 : 200;
    e.latency = i % 300;
    e.injected = i % 2 == 0;
    return e;
}

Endpoint route(int i)
{
    Endpoint r;
    r.id = "r" + std::to_string(i);
    r.path = "/v2/r" + std::to_string(i);
    r.active = i % 5 != 0;
    return r;
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

void BM_DashboardFlush(benchmark::State &state)
{
    const bool paint = state.range(0) != 0;
    const int perFlush = int(state.range(1));
    QTemporaryDir dir;
    Preferences::instance().useFile(dir.filePath(QStringLiteral("prefs.ini")));
    AppState appState;
    EngineClient engine;
    QList<Endpoint> routes;
    for (int i = 0; i < 40; ++i)
        routes.append(route(i));
    engine.setEndpoints(routes);
    engine.setProxyRunning(true);
    engine.setChaosPresets({ChaosPreset{"slow-3g", "Slow 3G", {{"latency", 1.0, {}, {}, 400, 2000}}},
                            ChaosPreset{"flaky-network", "Flaky network", {{"drop", 0.1, {}, {}, {}, {}}}}});
    QList<TrafficEntry> traffic;
    for (int i = 0; i < 300; ++i)
        traffic.append(entry(i));
    engine.setTraffic(traffic);

    DashboardScreen screen(AppContext{&appState, &engine, nullptr, nullptr});
    screen.resize(1000, 1100);
    screen.show();
    QApplication::processEvents();
    QImage image(screen.size(), QImage::Format_ARGB32_Premultiplied);

    int next = 300;
    for (auto _ : state) {
        for (int i = 0; i < perFlush; ++i)
            traffic.append(entry(next++));
        traffic.remove(0, traffic.size() - 300);
        engine.setTraffic(traffic);
        if (paint) {
            QPainter painter(&image);
            screen.render(&painter);
        }
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["traffic"] = double(engine.traffic().size());
}

} // namespace

// Flushes of 1 and 100 new entries (100 ms batches at 10 and 1,000 events/s), without and with a repaint.
BENCHMARK(BM_DashboardFlush)->Args({0, 1})->Args({0, 100})->Args({1, 1})->Args({1, 100})->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    return benchsupport::runWidgetBenchmarks(argc, argv, benchsupport::AppFonts::registered);
}
