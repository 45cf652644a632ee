// The main window: the app-wide objects, the colour scheme, ContentView and the start-up task.
#pragma once

#include "app/app_context.h"
#include "app/system_appearance.h"

#include <QKeySequence>
#include <QStringList>
#include <QWidget>

class AppState;
class ContentView;
class EngineClient;
class ShellRegistry;
class SimulatorManager;
struct Palette;

class RootView final : public QWidget
{
    Q_OBJECT
public:
    struct Options
    {
        // The launch arguments read by the start-up task (the process's when empty).
        QStringList arguments;
        ShellRegistry *registry = nullptr; // the shared registry when null
        Analytics *analytics = nullptr;    // Analytics::shared() when null
        // Set up the engine link before the start-up task boots it (tests point it at temporaries).
        std::function<void(EngineClient &)> prepareEngine;
    };

    RootView();
    explicit RootView(Options options);
    ~RootView() override;

    AppState *state() const { return m_state; }
    EngineClient *engine() const { return m_engine; }
    SimulatorManager *simulators() const { return m_simulators; }
    SystemAppearance *systemAppearance() const { return m_appearance; }
    ContentView *content() const { return m_content; }
    const AppContext &context() const { return m_context; }

    static QKeySequence quitShortcut() { return QKeySequence(Qt::CTRL | Qt::Key_Q); }

    // Light or dark: the theme, or the system appearance while the theme is "system".
    ColorScheme resolvedScheme() const;
    static const Palette &paletteFor(ColorScheme scheme);
    // True once the start-up task has run (whether or not it booted the engine).
    bool startupRan() const { return m_startupRan; }
    // Exactly "--snapshot" among the arguments; a longer word does not count.
    static bool hasSnapshotArgument(const QStringList &arguments);

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void applyScheme();
    void runStartupTask();

    Options m_options;
    AppState *m_state;
    EngineClient *m_engine;
    SimulatorManager *m_simulators;
    SystemAppearance *m_appearance;
    AppContext m_context;
    ContentView *m_content;
    bool m_shownOnce = false;
    bool m_startupRan = false;
};
