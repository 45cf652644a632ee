// How long one keystroke in the route inspector takes with 5,000 routes in 40 groups, on the real widgets:
// the save into the route list (and the push snapshot), the rows that follow it, and the frame.
#include "bench_support.h"

#include "app/app_sidebar.h"
#include "app/app_state.h"
#include "app/content_view.h"
#include "app/shell_registry.h"
#include "design/snow_text_field.h"
#include "engine/engine_client.h"
#include "platform/preferences.h"
#include "screens/routes/endpoints_screen.h"
#include "screens/routes/inspector_model.h"
#include "screens/routes/inspector_view.h"
#include "screens/routes/routes_catalog.h"

#include <QLineEdit>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

using benchsupport::manyRoutes;
using benchsupport::press;

// Types "x" into the path field and takes it back, in turn; each keystroke saves the route.
template <typename Frame>
void typeInPath(benchmark::State &state, InspectorView &inspector, Frame frame)
{
    QLineEdit *path = inspector.pathField()->lineEdit();
    path->setFocus();
    path->end(false);
    bool typed = false;
    for (auto _ : state) {
        if (typed)
            press(path, Qt::Key_Backspace, QString());
        else
            press(path, Qt::Key_X, QStringLiteral("x"));
        typed = !typed;
        frame();
    }
}

// The whole window: sidebar tree, routes screen and the inspector of the route in the middle of the list.
void BM_InspectorKeystrokeInWindow(benchmark::State &state)
{
    QTemporaryDir dir;
    Preferences::instance().useFile(dir.filePath(QStringLiteral("prefs.ini")));
    Preferences::instance().setValue(PrefKey::OnboardedV1, true);
    AppState app;
    EngineClient engine;
    engine.setEndpoints(manyRoutes(5000, 40));
    ShellRegistry registry;
    installRoutesScreens(registry);
    ContentView window(AppContext{&app, &engine, nullptr, nullptr}, registry);
    window.resize(1280, 820);
    window.show();
    app.setNav(NavItem::endpoints);
    app.setSelectedEndpointID(QStringLiteral("r-2500"));
    QCoreApplication::processEvents();
    // Outside an event loop deleteLater never runs: the application's loop would already have dropped
    // the info panel the inspector replaced, so it must not rebuild on every keystroke here either.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    auto *inspector = qobject_cast<InspectorView *>(window.inspector());
    if (!inspector) {
        state.SkipWithError("no inspector");
        return;
    }
    // The frame a keystroke leads to: the posted layout and update requests, painting what they dirtied.
    typeInPath(state, *inspector, [] { QCoreApplication::processEvents(); });
    state.counters["path"] = double(engine.endpoints()[2500].path.size());
}
BENCHMARK(BM_InspectorKeystrokeInWindow)->Unit(benchmark::kMillisecond);

// The inspector alone beside the 5,000-route list: save, push snapshot and the inspector's own frame.
void BM_InspectorKeystrokeAlone(benchmark::State &state)
{
    AppState app;
    EngineClient engine;
    engine.setEndpoints(manyRoutes(5000, 40));
    InspectorView inspector(AppContext{&app, &engine, nullptr, nullptr}, engine.endpoints()[2500]);
    inspector.resize(InspectorView::PanelWidth, 820);
    inspector.show();
    QCoreApplication::processEvents();
    typeInPath(state, inspector, [] { QCoreApplication::processEvents(); });
}
BENCHMARK(BM_InspectorKeystrokeAlone)->Unit(benchmark::kMillisecond);

// The save path without widgets: the draft's change, the route replaced in the list, the push snapshot.
void BM_CommitOnly(benchmark::State &state)
{
    EngineClient engine;
    engine.setEndpoints(manyRoutes(5000, 40));
    InspectorModel model(&engine, engine.endpoints()[2500]);
    bool typed = false;
    const QString base = model.pathText();
    for (auto _ : state) {
        model.setPathText(typed ? base : base + QStringLiteral("x"));
        typed = !typed;
    }
}
BENCHMARK(BM_CommitOnly)->Unit(benchmark::kMillisecond);

// What one route edit costs each list that shows the routes, alone (the rows that follow a save).
template <typename Widget>
void rowsFollowOneEdit(benchmark::State &state)
{
    AppState app;
    app.setNav(NavItem::endpoints);
    EngineClient engine;
    engine.setEndpoints(manyRoutes(5000, 40));
    Widget widget(AppContext{&app, &engine, nullptr, nullptr});
    widget.resize(800, 800);
    widget.show();
    QCoreApplication::processEvents();
    Endpoint edited = engine.endpoints()[2500];
    for (auto _ : state) {
        edited.path += "x";
        engine.updateEndpoint(edited);
        QCoreApplication::processEvents();
    }
}

void BM_SidebarFollowsOneEdit(benchmark::State &state)
{
    rowsFollowOneEdit<AppSidebar>(state);
}
BENCHMARK(BM_SidebarFollowsOneEdit)->Unit(benchmark::kMillisecond);

void BM_RoutesScreenFollowsOneEdit(benchmark::State &state)
{
    rowsFollowOneEdit<EndpointsScreen>(state);
}
BENCHMARK(BM_RoutesScreenFollowsOneEdit)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return benchsupport::runWidgetBenchmarks(argc, argv);
}
