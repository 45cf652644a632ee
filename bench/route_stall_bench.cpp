// The longest stall of the real window's event loop, on the stand-in engine, while it imports a 30 MB capture
// of 5,000 requests and while it switches to the project of 5,000 routes that makes (and back to a small one),
// the routes screen shown. A 1 ms timer measures the largest gap between its ticks. Goal: no stall over 50 ms.
// Also the quit's own share: what the link does before it asks the engine to stop, with a push of that list
// pending.
#include "bench_support.h"

#include "app/app_state.h"
#include "app/root_view.h"
#include "app/shell_registry.h"
#include "engine/engine_client.h"
#include "main/screen_catalog.h"
#include "platform/preferences.h"
#include "support/temp_preferences.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace {

constexpr double StallGoalMs = 50;
constexpr int Routes = 5000;

// Runs the event loop until the condition holds; false when it did not within the limit.
bool runUntil(const std::function<bool()> &condition, int timeoutMs = 60000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// The largest gap between the ticks of a 1 ms timer on the GUI thread, while it lives.
class StallWatch
{
public:
    StallWatch()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longestNs = std::max(m_longestNs, now - m_lastNs);
            m_lastNs = now;
        });
        m_clock.start();
        m_timer.start(1);
    }
    double longestMs() const { return double(m_longestNs) / 1e6; }
    double elapsedMs() const { return double(m_clock.nsecsElapsed()) / 1e6; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastNs = 0;
    qint64 m_longestNs = 0;
};

// A browser capture of `count` distinct JSON requests of about 6 KB each: 30 MB for 5,000.
QByteArray captureOf(int count)
{
    std::string entries;
    std::string body = R"({\"items\":[)";
    while (body.size() < 6000)
        body += R"({\"id\":12,\"name\":\"Widget\",\"tags\":[\"a\",\"b\"],\"price\":\"9.99\"},)";
    body += R"({\"id\":0}]})";
    for (int i = 0; i < count; ++i) {
        if (i)
            entries += ',';
        entries += R"({"startedDateTime":"2026-03-01T10:00:00.000Z","time":12,"request":{"method":"GET","url":)"
                   R"("https://api.example.com/v1/items/)"
                   + std::to_string(i) + R"(","httpVersion":"HTTP/2","headers":[],"queryString":[],"cookies":[],)"
                   R"("headersSize":-1,"bodySize":0},"response":{"status":200,"statusText":"OK","httpVersion":"HTTP/2",)"
                   R"("headers":[{"name":"content-type","value":"application/json"}],"cookies":[],"content":{"size":)"
                   + std::to_string(body.size()) + R"(,"mimeType":"application/json","text":")" + body
                   + R"("},"redirectURL":"","headersSize":-1,"bodySize":-1},"cache":{},"timings":{"wait":10}})";
    }
    return QByteArray::fromStdString(R"({"log":{"version":"1.2","creator":{"name":"bench","version":"1"},"entries":[)"
                                     + entries + "]}}");
}

int freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// The real window on a fresh engine, its routes screen shown, with a big project (the capture imported)
// and a small one.
class Window
{
public:
    Window()
    {
        Preferences::instance().setValue(PrefKey::ProxyPort, freePort());
        Preferences::instance().setValue(PrefKey::OnboardedV1, true);
        Preferences::instance().setValue(PrefKey::AnalyticsOptIn, false);
        installScreens(m_registry);
        RootView::Options options;
        options.arguments = {QStringLiteral("kestrion")};
        options.registry = &m_registry;
        const QString data = m_dir.filePath(QStringLiteral("engine"));
        options.prepareEngine = [data](EngineClient &engine) {
            engine.setEngineExecutable(QStringLiteral(KESTRION_BENCH_ENGINE));
            engine.setDataDirectory(data);
        };
        m_window = std::make_unique<RootView>(options);
        m_window->resize(1280, 820);
        m_window->show();
        m_ready = runUntil([this] {
            return engine().routesLoaded() && !engine().activeProjectID().isEmpty() && !engine().operationsUnderWay();
        });
        m_window->state()->setNav(NavItem::endpoints);
        QCoreApplication::processEvents();
    }
    ~Window()
    {
        m_window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    bool ready() const { return m_ready; }
    void repaint() { m_window->repaint(); }
    EngineClient &engine() const { return *m_window->engine(); }

    // Runs an operation with the stall watch on, until `done` holds and the frames it leads to are painted.
    double longestStall(const std::function<void()> &operation, const std::function<bool()> &done, double *tookMs)
    {
        StallWatch watch;
        operation();
        const bool finished = runUntil(done);
        *tookMs = watch.elapsedMs();
        // Delayed layouts and the paints after the change.
        runUntil([&] { return watch.elapsedMs() > *tookMs + 300; });
        return finished ? watch.longestMs() : -1;
    }

    bool switchTo(const QString &id, qsizetype routes, double *stallMs, double *tookMs)
    {
        *stallMs = longestStall([&] { engine().activateProject(id); },
                                [&] {
                                    return engine().activeProjectID() == id && !engine().isSwitchingProject()
                                           && !engine().operationsUnderWay() && engine().routesLoaded()
                                           && engine().endpoints().size() == routes;
                                },
                                tookMs);
        return *stallMs >= 0;
    }

    std::optional<QString> createProject(const QString &name)
    {
        std::optional<std::optional<QString>> made;
        engine().createProject(name, [&](const std::optional<QString> &id) { made = id; });
        if (!runUntil([&] { return made.has_value(); }))
            return std::nullopt;
        return *made;
    }

private:
    testsupport::TemporaryPreferencesDir m_dir;
    ShellRegistry m_registry;
    std::unique_ptr<RootView> m_window;
    bool m_ready = false;
};

// The window with the big project imported once, for every benchmark of the program; gone before the
// application object.
struct Loaded
{
    std::unique_ptr<Window> window = std::make_unique<Window>();
    QString big;
    QString small;
    double importStallMs = -1;
    double importMs = 0;

    Loaded()
    {
        if (!window->ready())
            return;
        const std::optional<QString> smallId = window->createProject(QStringLiteral("Small"));
        if (!smallId)
            return;
        small = *smallId;
        big = window->engine().activeProjectID();
        const QByteArray capture = captureOf(Routes);
        bool imported = false;
        importStallMs = window->longestStall(
            [&] { window->engine().importData(capture, QStringLiteral("big.har"), [&] { imported = true; }); },
            [&] { return imported && window->engine().endpoints().size() == Routes; }, &importMs);
    }
};

std::unique_ptr<Loaded> g_loaded;

Loaded &loaded()
{
    if (!g_loaded)
        g_loaded = std::make_unique<Loaded>();
    return *g_loaded;
}

void BM_ImportCapture30MB(benchmark::State &state)
{
    Loaded &setup = loaded();
    for (auto _ : state) {
        if (setup.importStallMs < 0) {
            state.SkipWithError("the capture was not imported");
            return;
        }
        state.SetIterationTime(setup.importMs / 1000);
    }
    state.counters["routes"] = double(setup.window->engine().endpoints().size());
    state.counters["longest_stall_ms"] = setup.importStallMs;
    state.counters["goal_ms"] = StallGoalMs;
}
BENCHMARK(BM_ImportCapture30MB)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// Each iteration switches to the small project and back to the big one; the stalls of either way.
void BM_SwitchTo5000Routes(benchmark::State &state)
{
    Loaded &setup = loaded();
    double longestBig = 0;
    double longestSmall = 0;
    for (auto _ : state) {
        double stall = 0;
        double took = 0;
        if (setup.big.isEmpty() || !setup.window->switchTo(setup.small, 0, &stall, &took)) {
            state.SkipWithError("the switch to the small project did not end");
            return;
        }
        longestSmall = std::max(longestSmall, stall);
        if (!setup.window->switchTo(setup.big, Routes, &stall, &took)) {
            state.SkipWithError("the switch to the big project did not end");
            return;
        }
        longestBig = std::max(longestBig, stall);
        state.SetIterationTime(took / 1000);
    }
    state.counters["longest_stall_ms"] = longestBig;
    state.counters["to_small_stall_ms"] = longestSmall;
    state.counters["goal_ms"] = StallGoalMs;
}
BENCHMARK(BM_SwitchTo5000Routes)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// The window's own share of showing a new list of 5,000 routes (every view of the list rebuilt and painted),
// which stays on its thread: the longest part of a switch or an import once the list is read.
void BM_WindowShows5000Routes(benchmark::State &state)
{
    Loaded &setup = loaded();
    EngineClient &engine = setup.window->engine();
    if (engine.endpoints().size() != Routes) {
        state.SkipWithError("the big project is not shown");
        return;
    }
    const QList<Endpoint> shown = engine.endpoints();
    QList<Endpoint> renamed = shown;
    for (Endpoint &route : renamed)
        route.id += "-b";
    bool other = false;
    for (auto _ : state) {
        engine.setEndpoints(other ? shown : renamed);
        QCoreApplication::sendPostedEvents();
        setup.window->repaint();
        other = !other;
    }
    state.counters["goal_ms"] = StallGoalMs;
    engine.setEndpoints(shown);
}
BENCHMARK(BM_WindowShows5000Routes)->Unit(benchmark::kMillisecond);

// One route edited and its push pending behind the landed push of the whole list: what the quit spends on
// naming the routes the engine has not taken, before it asks the engine to stop.
void BM_QuitNamesUnsentRoutes(benchmark::State &state)
{
    Loaded &setup = loaded();
    EngineClient &engine = setup.window->engine();
    if (engine.endpoints().size() != Routes) {
        state.SkipWithError("the big project is not shown");
        return;
    }
    // The whole list pushed and taken, then one edit that waits out its debounce.
    engine.setPushDebounceMs(0);
    bool landed = false;
    QObject::connect(&engine, &EngineClient::routePushLanded, &engine, [&] { landed = true; },
                     Qt::SingleShotConnection);
    engine.replaceEndpoints(engine.endpoints());
    if (!runUntil([&] { return landed && !engine.routePushPending(); })) {
        state.SkipWithError("the pushed list was not taken");
        return;
    }
    engine.setPushDebounceMs(60000);
    Endpoint edited = engine.endpoints().first();
    ++edited.latency;
    engine.updateEndpoint(edited);
    qsizetype named = 0;
    for (auto _ : state)
        named = engine.unsentRouteIds().size();
    state.counters["unsent_routes"] = double(named);
    engine.setPushDebounceMs(RouteList::PushDebounceMs);
}
BENCHMARK(BM_QuitNamesUnsentRoutes)->Unit(benchmark::kMillisecond);

// The quit itself with that project shown and one edit still waiting out its debounce: from its start until
// the engine is gone. Goal: within the quit's 3 s. Last, as it ends the engine.
void BM_QuitWith5000Routes(benchmark::State &state)
{
    Loaded &setup = loaded();
    EngineClient &engine = setup.window->engine();
    if (engine.endpoints().size() != Routes) {
        state.SkipWithError("the big project is not shown");
        return;
    }
    for (auto _ : state) {
        engine.setPushDebounceMs(RouteList::PushDebounceMs);
        Endpoint edited = engine.endpoints().last();
        ++edited.latency;
        engine.updateEndpoint(edited);
        QElapsedTimer quit;
        quit.start();
        engine.shutdown();
        state.SetIterationTime(double(quit.nsecsElapsed()) / 1e9);
    }
    state.counters["goal_ms"] = 3000;
}
BENCHMARK(BM_QuitWith5000Routes)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Fonts::registerApplicationFonts();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    g_loaded.reset();
    benchmark::Shutdown();
    return 0;
}
