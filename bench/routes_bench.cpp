// How long one keystroke in the routes screen's filter takes with 5,000 routes in 40 groups, on the real widgets.
#include "app/app_state.h"
#include "design/search_field.h"
#include "engine/engine_client.h"
#include "screens/routes/endpoints_screen.h"
#include "screens/routes/route_list_model.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include <benchmark/benchmark.h>

namespace {

QList<Endpoint> manyRoutes(int count, int groups)
{
    QList<Endpoint> routes;
    routes.reserve(count);
    for (int i = 0; i < count; ++i) {
        Endpoint e;
        e.id = "r-" + std::to_string(i);
        e.method = allHTTPMethods[std::size_t(i) % allHTTPMethods.size()];
        e.host = "svc" + std::to_string(i % 7) + ".example.com";
        e.path = "/v" + std::to_string(1 + i % 3) + "/items/" + std::to_string(i) + "/detail";
        e.status = 200 + (i % 5) * 100;
        e.latency = (i * 37) % 1500;
        e.group = "Group " + std::to_string(i % groups);
        e.body = "{\n  \"ok\": true\n}";
        routes.append(std::move(e));
    }
    return routes;
}

void press(QWidget *target, Qt::Key key, const QString &text)
{
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(target, &down);
    QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(target, &up);
}

// One keystroke, then the frame it leads to: the delayed list layout and a paint of the whole screen.
void keystroke(EndpointsScreen &screen, Qt::Key key, const QString &text)
{
    press(screen.filterField()->lineEdit(), key, text);
    QCoreApplication::processEvents();
    screen.repaint();
}

// Typing the "1" of "/items/1…" and taking it back, in turn: each is one keystroke that changes
// which of the 5,000 rows are listed.
void BM_FilterKeystroke(benchmark::State &state)
{
    AppState app;
    EngineClient engine;
    engine.setEndpoints(manyRoutes(5000, 40));
    EndpointsScreen screen(AppContext{&app, &engine, nullptr, nullptr});
    screen.resize(1000, 700);
    screen.show();
    QCoreApplication::processEvents();
    screen.filterField()->lineEdit()->setFocus();
    keystroke(screen, Qt::Key_S, QStringLiteral("s"));
    bool typed = false;
    for (auto _ : state) {
        if (typed)
            keystroke(screen, Qt::Key_Backspace, QString());
        else
            keystroke(screen, Qt::Key_1, QStringLiteral("1"));
        typed = !typed;
    }
    state.counters["rows"] = screen.model()->rowCount();
}
BENCHMARK(BM_FilterKeystroke)->Unit(benchmark::kMillisecond);

// The same with a filter that keeps every row: the cost when nothing but the text changes.
void BM_FilterKeystrokeAllMatch(benchmark::State &state)
{
    AppState app;
    EngineClient engine;
    engine.setEndpoints(manyRoutes(5000, 40));
    EndpointsScreen screen(AppContext{&app, &engine, nullptr, nullptr});
    screen.resize(1000, 700);
    screen.show();
    QCoreApplication::processEvents();
    screen.filterField()->lineEdit()->setFocus();
    keystroke(screen, Qt::Key_Slash, QStringLiteral("/"));
    bool typed = false;
    for (auto _ : state) {
        if (typed)
            keystroke(screen, Qt::Key_Backspace, QString());
        else
            keystroke(screen, Qt::Key_V, QStringLiteral("v"));
        typed = !typed;
    }
}
BENCHMARK(BM_FilterKeystrokeAllMatch)->Unit(benchmark::kMillisecond);

// What painting the whole screen costs without any change (the floor under a keystroke's frame).
void BM_RepaintOnly(benchmark::State &state)
{
    AppState app;
    EngineClient engine;
    engine.setEndpoints(manyRoutes(5000, 40));
    EndpointsScreen screen(AppContext{&app, &engine, nullptr, nullptr});
    screen.resize(1000, 700);
    screen.show();
    QCoreApplication::processEvents();
    for (auto _ : state)
        screen.repaint();
}
BENCHMARK(BM_RepaintOnly)->Unit(benchmark::kMillisecond);

// The model's share of a keystroke: filter, sections and the row diff, without any view.
void BM_ModelFilterOnly(benchmark::State &state)
{
    AppState app;
    EngineClient engine;
    engine.setEndpoints(manyRoutes(5000, 40));
    RouteListModel model(&app, &engine);
    bool typed = false;
    for (auto _ : state) {
        model.setFilter(typed ? QStringLiteral("s") : QStringLiteral("s1"));
        typed = !typed;
    }
}
BENCHMARK(BM_ModelFilterOnly)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
