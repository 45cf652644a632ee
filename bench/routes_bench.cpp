// How long one keystroke in the routes screen's filter takes with 5,000 routes in 40 groups, on the real widgets.
#include "bench_support.h"

#include "app/app_state.h"
#include "design/search_field.h"
#include "engine/engine_client.h"
#include "screens/routes/endpoints_screen.h"
#include "screens/routes/route_list_model.h"
#include "screens/routes/routes_logic.h"

#include <QLineEdit>

#include <memory>

#include <benchmark/benchmark.h>

namespace {

using benchsupport::manyRoutes;
using benchsupport::press;

// One keystroke, then the frame it leads to: the delayed list layout and a paint of the whole screen.
void keystroke(EndpointsScreen &screen, Qt::Key key, const QString &text)
{
    press(screen.filterField()->lineEdit(), key, text);
    QCoreApplication::processEvents();
    screen.repaint();
}

// A shown routes screen over 5,000 routes in 40 groups, its filter field focused.
struct ShownScreen
{
    AppState app;
    EngineClient engine;
    std::unique_ptr<EndpointsScreen> screen;

    ShownScreen()
    {
        engine.setEndpoints(manyRoutes(5000, 40));
        screen = std::make_unique<EndpointsScreen>(AppContext{&app, &engine, nullptr, nullptr});
        screen->resize(1000, 700);
        screen->show();
        QCoreApplication::processEvents();
        screen->filterField()->lineEdit()->setFocus();
    }

    // Types `first`, then in turn types `next` and takes it back: one keystroke per iteration.
    void typeInTurns(benchmark::State &state, const QString &first, Qt::Key nextKey, const QString &next)
    {
        for (const QChar c : first)
            keystroke(*screen, Qt::Key(c.toUpper().unicode()), QString(c));
        bool typed = false;
        for (auto _ : state) {
            if (typed)
                keystroke(*screen, Qt::Key_Backspace, QString());
            else
                keystroke(*screen, nextKey, next);
            typed = !typed;
        }
    }
};

// "svc" lists every route; "svc1" a seventh of them: each keystroke changes which rows are listed.
void BM_FilterKeystroke(benchmark::State &state)
{
    ShownScreen shown;
    shown.typeInTurns(state, QStringLiteral("svc"), Qt::Key_1, QStringLiteral("1"));
    state.counters["routes_svc"] = double(RoutesLogic::filterPositions(shown.engine.endpoints(), "svc").size());
    state.counters["routes_svc1"] = double(RoutesLogic::filterPositions(shown.engine.endpoints(), "svc1").size());
}
BENCHMARK(BM_FilterKeystroke)->Unit(benchmark::kMillisecond);

// "/" and "/v" both keep every row: the cost when only the text changes.
void BM_FilterKeystrokeAllMatch(benchmark::State &state)
{
    ShownScreen shown;
    shown.typeInTurns(state, QStringLiteral("/"), Qt::Key_V, QStringLiteral("v"));
}
BENCHMARK(BM_FilterKeystrokeAllMatch)->Unit(benchmark::kMillisecond);

// What painting the whole screen costs without any change (the floor under a keystroke's frame).
void BM_RepaintOnly(benchmark::State &state)
{
    ShownScreen shown;
    for (auto _ : state)
        shown.screen->repaint();
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
    return benchsupport::runWidgetBenchmarks(argc, argv);
}
