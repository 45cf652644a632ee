// The main window and its start-up task.
#include "app/root_view.h"

#include "app/app_state.h"
#include "app/content_view.h"
#include "app/sheet_presenter.h"
#include "app/shell_registry.h"
#include "app/window_geometry.h"
#include "design/palette.h"
#include "engine/engine_client.h"
#include "platform/analytics.h"
#include "platform/preferences.h"
#include "platform/simulator_manager.h"

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QVBoxLayout>

RootView::RootView()
    : RootView(Options{})
{
}

RootView::RootView(Options options)
    : QWidget(nullptr)
    , m_options(std::move(options))
    , m_state(new AppState(this))
    , m_engine(new EngineClient(this))
    , m_simulators(new SimulatorManager(this))
    , m_appearance(new SystemAppearance(this))
{
    Analytics *analytics = m_options.analytics ? m_options.analytics : &Analytics::shared();
    m_context = AppContext{m_state, m_engine, m_simulators, analytics};
    if (m_options.prepareEngine)
        m_options.prepareEngine(*m_engine);

    setWindowTitle(QStringLiteral("Kestrion"));
    setObjectName(QStringLiteral("main"));
    resize(WindowGeometry::defaultWidth, WindowGeometry::defaultHeight);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    ShellRegistry &registry = m_options.registry ? *m_options.registry : ShellRegistry::shared();
    m_content = new ContentView(m_context, registry, this);
    layout->addWidget(m_content);
    setMinimumSize(m_content->minimumSize());

    // Ctrl+Q quits from anywhere, an open sheet included (a shortcut of this window would be blocked
    // by the sheet): every window closes, and the last one closing ends the application.
    qApp->installEventFilter(this);

    connect(m_state, &AppState::themeChanged, this, &RootView::applyScheme);
    connect(m_appearance, &SystemAppearance::colorSchemeChanged, this, &RootView::applyScheme);
    applyScheme();
}

RootView::~RootView()
{
    // The engine goes with the window, whether or not the application is quitting.
    m_engine->shutdown();
}

ColorScheme RootView::resolvedScheme() const
{
    switch (m_state->theme()) {
    case AppTheme::light: return ColorScheme::light;
    case AppTheme::dark: return ColorScheme::dark;
    case AppTheme::system: return m_appearance->colorScheme();
    }
    return ColorScheme::light;
}

const Palette &RootView::paletteFor(ColorScheme scheme)
{
    return scheme == ColorScheme::dark ? Palette::dark() : Palette::light();
}

void RootView::applyScheme()
{
    const Palette &palette = paletteFor(resolvedScheme());
    PaletteHost::set(this, palette);
    m_content->sheets()->applyPalette(palette);
    // The window's own settings follow once it is on screen (configure would show it).
    if (m_shownOnce)
        m_content->configure(this);
}

bool RootView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (!key->isAutoRepeat() && QKeySequence(key->keyCombination()) == quitShortcut()) {
            QApplication::closeAllWindows();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool RootView::hasSnapshotArgument(const QStringList &arguments)
{
    return arguments.contains(QStringLiteral("--snapshot"));
}

void RootView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_content->configure(this);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    m_content->checkOnboarding();
    QTimer::singleShot(0, this, &RootView::runStartupTask);
}

void RootView::runStartupTask()
{
    if (m_startupRan)
        return;
    m_startupRan = true;
    const QStringList arguments = m_options.arguments.isEmpty() ? QCoreApplication::arguments() : m_options.arguments;
    if (hasSnapshotArgument(arguments))
        return;
    m_context.analytics->track(QStringLiteral("app_launch"), false);
    m_engine->boot(Preferences::instance().boolValue(PrefKey::AutostartPref, true));
}
