// How long one keystroke in the route inspector takes with 5,000 routes in 40 groups, on the real widgets:
// the save into the route list (and the push snapshot), the rows that follow it, and the frame; and how
// long the window stalls when a route with a 4 MB body is selected, edited and typed into.
#include "bench_support.h"

#include "app/app_sidebar.h"
#include "app/app_state.h"
#include "app/content_view.h"
#include "app/shell_registry.h"
#include "design/exact_plain_text_edit.h"
#include "design/code_text_field.h"
#include "design/code_text_view.h"
#include "design/growing_text_field.h"
#include "design/ks_button.h"
#include "design/snow_text_field.h"
#include "engine/engine_client.h"
#include "platform/preferences.h"
#include "screens/routes/endpoints_screen.h"
#include "screens/routes/inspector_model.h"
#include "screens/routes/inspector_view.h"
#include "screens/routes/response_section.h"
#include "screens/routes/routes_catalog.h"
#include "screens/routes/sequence_section.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <memory>

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

// A generated body of about `bytes`: pretty-printed JSON, one field a line, as the generators write it.
std::string largeJsonBody(std::size_t bytes)
{
    std::string body = "[\n";
    for (int i = 0; body.size() < bytes; ++i) {
        const std::string n = std::to_string(i);
        body += "  {\n    \"id\": " + n + ",\n    \"name\": \"User " + n + "\",\n    \"email\": \"user" + n
                + "@example.com\",\n    \"active\": true,\n    \"score\": 12.5,\n    \"tags\": [\"a\", \"b\"],\n"
                  "    \"manager\": null\n  },\n";
    }
    body.resize(body.rfind(','));
    return body + "\n]";
}

// A generated body of about `bytes` on one line, as minified JSON comes.
std::string oneLineJsonBody(std::size_t bytes)
{
    std::string body = "[";
    for (int i = 0; body.size() < bytes; ++i) {
        const std::string n = std::to_string(i);
        body += "{\"id\":" + n + ",\"name\":\"User " + n + "\",\"email\":\"user" + n
                + "@example.com\",\"active\":true,\"score\":12.5,\"tags\":[\"a\",\"b\"],\"manager\":null},";
    }
    body.back() = ']';
    return body;
}

// The longest time the event loop could not run a 1 ms timer while `work` ran and `done` came true.
class StallClock
{
public:
    StallClock()
    {
        m_ticker.setInterval(1);
        QObject::connect(&m_ticker, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            qint64 &worst = m_after ? m_worstAfter : m_worst;
            worst = std::max(worst, now - m_last);
            m_last = now;
        });
    }

    // Returns the time from the start of `work` until `done` held. Stalls are looked for `afterMs` longer,
    // for the work that follows (a save, colours arriving).
    qint64 measure(const std::function<void()> &work, const std::function<bool()> &done, int afterMs = 0)
    {
        m_clock.start();
        m_last = 0;
        m_ticker.start();
        work();
        while (!done())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::processEvents();
        const qint64 took = m_clock.nsecsElapsed();
        m_worst = std::max(m_worst, took - m_last);
        m_after = true;
        while (m_clock.nsecsElapsed() - took < qint64(afterMs) * 1000000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        m_worstAfter = std::max(m_worstAfter, m_clock.nsecsElapsed() - m_last);
        m_after = false;
        m_ticker.stop();
        return took;
    }

    double worstMs() const { return double(m_worst) / 1e6; }
    // The worst in the time looked at after `done`.
    double worstAfterMs() const { return double(m_worstAfter) / 1e6; }

private:
    QTimer m_ticker;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_worst = 0;
    qint64 m_worstAfter = 0;
    bool m_after = false;
};

struct LargeBodyWindow
{
    QTemporaryDir dir;
    AppState app;
    EngineClient engine;
    ShellRegistry registry;
    std::unique_ptr<ContentView> window;

    explicit LargeBodyWindow(std::string body = largeJsonBody(4u << 20))
    {
        Preferences::instance().useFile(dir.filePath(QStringLiteral("prefs.ini")));
        Preferences::instance().setValue(PrefKey::OnboardedV1, true);
        QList<Endpoint> routes = manyRoutes(200, 8);
        routes[100].body = std::move(body);
        engine.setEndpoints(routes);
        installRoutesScreens(registry);
        window = std::make_unique<ContentView>(AppContext{&app, &engine, nullptr, nullptr}, registry);
        window->resize(1280, 820);
        window->show();
        app.setNav(NavItem::endpoints);
        QCoreApplication::processEvents();
    }

    InspectorView *inspector()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return qobject_cast<InspectorView *>(window->inspector());
    }

    // The inspector in view, leaving the one it replaced to go in whichever turn the window gives it.
    InspectorView *shownInspector() const { return qobject_cast<InspectorView *>(window->inspector()); }

    // Lets the window finish with the last selection, as it does between two clicks.
    void settle()
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 100)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void select(const char *id)
    {
        app.setSelectedEndpointID(QString::fromLatin1(id));
    }
};

// Selects r-100 after the window settled on r-3, as between two clicks, until its body is shown.
void selectLargeRoute(benchmark::State &state, LargeBodyWindow &w)
{
    StallClock stalls;
    for (auto _ : state) {
        w.select("r-3");
        w.settle();
        const qint64 took = stalls.measure([&] { w.select("r-100"); }, [&] {
            InspectorView *inspector = w.shownInspector();
            return inspector && inspector->responseSection()->bodyShown();
        });
        state.SetIterationTime(double(took) / 1e9);
    }
    state.counters["worst_stall_ms"] = stalls.worstMs();
}

// Selecting the route with a 4 MB body in the window, until its body is shown coloured and painted.
void BM_SelectLargeBodyRoute(benchmark::State &state)
{
    LargeBodyWindow w;
    selectLargeRoute(state, w);
}
BENCHMARK(BM_SelectLargeBodyRoute)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// "Edit" on the 4 MB body, until the editor holds it.
void BM_EditLargeBody(benchmark::State &state)
{
    LargeBodyWindow w;
    StallClock stalls;
    for (auto _ : state) {
        w.select("r-3");
        QCoreApplication::processEvents();
        w.select("r-100");
        InspectorView *inspector = w.inspector();
        ResponseSection *body = inspector->responseSection();
        while (!body->bodyShown())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const qint64 took = stalls.measure([&] { body->editButton()->trigger(); },
                                           [&] { return body->editor() && body->editor()->isVisible(); });
        state.SetIterationTime(double(took) / 1e9);
    }
    state.counters["worst_stall_ms"] = stalls.worstMs();
}
BENCHMARK(BM_EditLargeBody)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// Selecting the route whose body is one line of 4 MB (minified JSON), until its body is shown coloured.
void BM_SelectOneLineBodyRoute(benchmark::State &state)
{
    LargeBodyWindow w(oneLineJsonBody(4u << 20));
    selectLargeRoute(state, w);
}
BENCHMARK(BM_SelectOneLineBodyRoute)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// "Edit" on a one-line body of the given KB, until the editor shows it.
void BM_EditOneLineBody(benchmark::State &state)
{
    LargeBodyWindow w(oneLineJsonBody(std::size_t(state.range(0)) << 10));
    StallClock stalls;
    for (auto _ : state) {
        w.select("r-3");
        QCoreApplication::processEvents();
        w.select("r-100");
        ResponseSection *body = w.inspector()->responseSection();
        while (!body->bodyShown())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const qint64 took = stalls.measure([&] { body->editButton()->trigger(); }, [&] { return body->bodyShown(); });
        state.SetIterationTime(double(took) / 1e9);
    }
    state.counters["worst_stall_ms"] = stalls.worstMs();
}
BENCHMARK(BM_EditOneLineBody)->Arg(100)->Arg(4096)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// "Add step" on a route whose body is one line of the given KB: the step's body box takes the body.
void BM_AddStepOneLineBody(benchmark::State &state)
{
    LargeBodyWindow w(oneLineJsonBody(std::size_t(state.range(0)) << 10));
    StallClock stalls;
    for (auto _ : state) {
        w.select("r-3");
        QCoreApplication::processEvents();
        w.select("r-100");
        InspectorView *inspector = w.inspector();
        while (!inspector->responseSection()->bodyShown())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        SequenceSection *sequence = inspector->sequenceSection();
        inspector->scrollArea()->ensureWidgetVisible(sequence->addButton());
        QCoreApplication::processEvents();
        const qint64 took = stalls.measure([&] { sequence->addButton()->trigger(); }, [&] {
            const QList<SequenceStepCard *> cards = sequence->cards();
            return cards.size() == 1 && cards[0]->isVisible()
                && ((cards[0]->lineBodyField() && cards[0]->lineBodyField()->isVisible())
                    || cards[0]->bodyField()->isVisible());
        });
        state.SetIterationTime(double(took) / 1e9);
        // The next iteration starts again from a route without steps.
        inspector->model()->deleteStep(inspector->model()->sequence().front().id);
    }
    state.counters["worst_stall_ms"] = stalls.worstMs();
}
BENCHMARK(BM_AddStepOneLineBody)->Arg(200)->Arg(4096)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// One keystroke in the open editor of the 4 MB body, and the frame it leads to: the save, the rows that
// follow it and the painting.
void BM_KeystrokeInLargeBodyEditor(benchmark::State &state)
{
    LargeBodyWindow w;
    w.select("r-100");
    InspectorView *inspector = w.inspector();
    ResponseSection *body = inspector->responseSection();
    while (!body->bodyShown())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    body->editButton()->trigger();
    while (!body->editor() || !body->editor()->isVisible())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QPlainTextEdit *editor = body->editor();
    editor->setFocus();
    QTextCursor cursor = editor->textCursor();
    cursor.setPosition(200);
    editor->setTextCursor(cursor);
    QCoreApplication::processEvents();
    bool typed = false;
    for (auto _ : state) {
        if (typed)
            press(editor, Qt::Key_Backspace, QString());
        else
            press(editor, Qt::Key_X, QStringLiteral("x"));
        typed = !typed;
        QCoreApplication::processEvents();
    }
    state.counters["body_bytes"] = double(w.engine.endpoints()[100].body.size());
}
BENCHMARK(BM_KeystrokeInLargeBodyEditor)->Unit(benchmark::kMillisecond);


// One keystroke in the middle of the open editor of a 4 MB one-line body, and the frame it leads to.
void BM_KeystrokeInOneLineBodyEditor(benchmark::State &state)
{
    LargeBodyWindow w(oneLineJsonBody(4u << 20));
    w.select("r-100");
    ResponseSection *body = w.inspector()->responseSection();
    while (!body->bodyShown())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    body->editButton()->trigger();
    while (!body->bodyShown())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    CodeTextView *editor = body->lineEditor();
    if (!editor) {
        state.SkipWithError("no line editor");
        return;
    }
    editor->setFocus();
    editor->setCursorPosition(editor->text().size() / 2);
    QCoreApplication::processEvents();
    bool typed = false;
    for (auto _ : state) {
        if (typed)
            press(editor, Qt::Key_Backspace, QString());
        else
            press(editor, Qt::Key_X, QStringLiteral("x"));
        typed = !typed;
        QCoreApplication::processEvents();
    }
    state.counters["body_bytes"] = double(w.engine.endpoints()[100].body.size());
}
BENCHMARK(BM_KeystrokeInOneLineBodyEditor)->Unit(benchmark::kMillisecond);

// Ctrl+V in a text box, as the keyboard sends it.
void pasteInto(QWidget *target)
{
    QKeyEvent down(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier, QString());
    QCoreApplication::sendEvent(target, &down);
    QKeyEvent up(QEvent::KeyRelease, Qt::Key_V, Qt::ControlModifier, QString());
    QCoreApplication::sendEvent(target, &up);
}

// A paste of one line of the given KB of JSON over the whole short body of r-3 in its open editor, until the
// body holds it and the editor shows it (worst_stall_ms); then half a second more, over the push of the route
// list to the engine that follows every edit (worst_stall_after_ms).
void BM_PasteOneLineIntoShortBody(benchmark::State &state)
{
    LargeBodyWindow w;
    const QString pasted = QString::fromStdString(oneLineJsonBody(std::size_t(state.range(0)) << 10));
    QApplication::clipboard()->setText(pasted);
    w.select("r-3");
    InspectorView *inspector = w.inspector();
    ResponseSection *body = inspector->responseSection();
    const QString shortBody = inspector->model()->bodyText();
    body->editButton()->trigger();
    StallClock stalls;
    for (auto _ : state) {
        inspector->model()->setBodyText(shortBody);
        QCoreApplication::processEvents();
        QPlainTextEdit *editor = body->editor();
        if (!editor || !editor->isVisible()) {
            state.SkipWithError("no text editor for the short body");
            return;
        }
        editor->setFocus();
        editor->selectAll();
        const qint64 took = stalls.measure([&] { pasteInto(editor); }, [&] {
            return inspector->model()->bodyText().size() == pasted.size() && body->bodyShown();
        }, 500);
        state.SetIterationTime(double(took) / 1e9);
    }
    state.counters["worst_stall_ms"] = stalls.worstMs();
    state.counters["worst_stall_after_ms"] = stalls.worstAfterMs();
}
BENCHMARK(BM_PasteOneLineIntoShortBody)->Arg(4096)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// The same paste into the empty body box of a step.
void BM_PasteOneLineIntoStepBox(benchmark::State &state)
{
    LargeBodyWindow w;
    const QString pasted = QString::fromStdString(oneLineJsonBody(std::size_t(state.range(0)) << 10));
    QApplication::clipboard()->setText(pasted);
    w.select("r-3");
    InspectorView *inspector = w.inspector();
    InspectorModel *model = inspector->model();
    StallClock stalls;
    for (auto _ : state) {
        while (!model->sequence().empty())
            model->deleteStep(model->sequence().front().id);
        model->setBodyText({});
        model->addStep();
        QCoreApplication::processEvents();
        SequenceStepCard *card = inspector->sequenceSection()->cards().value(0);
        if (!card) {
            state.SkipWithError("no step card");
            return;
        }
        inspector->scrollArea()->ensureWidgetVisible(card);
        QPlainTextEdit *box = card->bodyField()->editor();
        box->setFocus();
        QCoreApplication::processEvents();
        const qint64 took = stalls.measure([&] { pasteInto(box); }, [&] {
            return qsizetype(model->sequence().front().body.size()) == pasted.size() && card->lineBodyField()
                && card->lineBodyField()->isVisible();
        }, 500);
        state.SetIterationTime(double(took) / 1e9);
    }
    state.counters["worst_stall_ms"] = stalls.worstMs();
    state.counters["worst_stall_after_ms"] = stalls.worstAfterMs();
}
BENCHMARK(BM_PasteOneLineIntoStepBox)->Arg(4096)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return benchsupport::runWidgetBenchmarks(argc, argv);
}
