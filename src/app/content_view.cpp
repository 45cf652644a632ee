// Main window layout, screen switch, trailing column, sheets, onboarding and import banner.
#include "app/content_view.h"

#include "app/app_sidebar.h"
#include "app/app_state.h"
#include "app/focus_order.h"
#include "app/command_palette.h"
#include "app/header_logic.h"
#include "app/main_header.h"
#include "app/right_info_panel.h"
#include "app/sheet_presenter.h"
#include "app/shell_registry.h"
#include "app/window_geometry.h"
#include "design/fonts.h"
#include "design/shell_widgets.h"
#include "design/snow_toast.h"
#include "engine/engine_client.h"
#include "engine/import_summary_logic.h"
#include "platform/preferences.h"

#include <QApplication>
#include <QScrollArea>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScreen>
#include <QVBoxLayout>

namespace {

constexpr int BannerBottomPadding = 26;
constexpr int BannerSideMargin = 24;
constexpr int BannerMaxWidth = 640;

} // namespace

PlaceholderScreen::PlaceholderScreen(NavItem item, QWidget *parent)
    : QWidget(parent)
    , m_item(item)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->addWidget(new ShellText(Nav::title(item), Fonts::ksGreeting(), [](const Palette &p) { return p.foreground; },
                                    this));
    column->addStretch(1);
}

QString PlaceholderScreen::title() const
{
    return Nav::title(m_item);
}

ContentView::ContentView(const AppContext &context, ShellRegistry &registry, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_registry(registry)
{
    setMinimumSize(WindowGeometry::minimumWidth, WindowGeometry::minimumHeight);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    m_sidebar = new AppSidebar(context, this);
    row->addWidget(m_sidebar);
    row->addWidget(new Rule(Qt::Vertical, this));

    auto *main = new QWidget(this);
    auto *column = new QVBoxLayout(main);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_header = new MainHeader(context, main);
    column->addWidget(m_header);
    auto *screenArea = new QWidget(main);
    m_screenHost = new QVBoxLayout(screenArea);
    m_screenHost->setContentsMargins(0, 0, 0, 0);
    m_screenHost->setSpacing(0);
    column->addWidget(screenArea, 1);
    row->addWidget(main, 1);

    m_trailing = new QWidget(this);
    m_trailingHost = new QHBoxLayout(m_trailing);
    m_trailingHost->setContentsMargins(0, 0, 0, 0);
    m_trailingHost->setSpacing(0);
    m_trailingHost->addWidget(new Rule(Qt::Vertical, m_trailing));
    row->addWidget(m_trailing);
    m_trailing->hide();
    m_trailingAnimation = new QPropertyAnimation(m_trailing, "maximumWidth", this);
    m_trailingAnimation->setDuration(200);
    m_trailingAnimation->setEasingCurve(QEasingCurve::InOutCubic);
    connect(m_trailingAnimation, &QPropertyAnimation::finished, this, [this] {
        if (!m_trailingShown)
            m_trailing->hide();
        m_trailing->setMaximumWidth(QWIDGETSIZE_MAX);
    });

    m_banner = new SnowToast({}, SnowToast::Tone::success, this);
    m_banner->hide();
    m_bannerTimer.setSingleShot(true);
    m_bannerTimer.setInterval(BannerWaitMs);
    connect(&m_bannerTimer, &QTimer::timeout, this, [this] { m_context.engine->setImportSummary(std::nullopt); });

    m_sheets = new SheetPresenter(context.state, this,
                                  [this](SheetFlag flag, QWidget *parent) { return buildSheet(flag, parent); });

    connect(m_header, &MainHeader::showInfoToggled, this, [this] { setShowInfo(!m_showInfo); });
    AppState *state = context.state;
    EngineClient *engine = context.engine;
    connect(state, &AppState::navChanged, this, [this] {
        showScreen();
        updateTrailing();
    });
    connect(state, &AppState::selectedEndpointIDChanged, this, &ContentView::updateTrailing);
    connect(engine, &EngineClient::endpointsChanged, this, &ContentView::updateTrailing);
    connect(engine, &EngineClient::activeProjectIDChanged, this, &ContentView::updateTrailing);
    connect(engine, &EngineClient::importSummaryChanged, this, &ContentView::updateBanner);
    connect(engine, &EngineClient::notice, this, &ContentView::showNotice);

    showScreen();
    updateTrailing();
    updateBanner();
}

QWidget *ContentView::buildSheet(SheetFlag flag, QWidget *parent)
{
    if (flag == SheetFlag::search)
        return new CommandPalette(m_context, parent);
    if (flag == SheetFlag::onboarding) {
        const auto *factory = m_registry.onboarding();
        if (!factory)
            return nullptr;
        return (*factory)(m_context, [] { Preferences::instance().setValue(PrefKey::OnboardedV1, true); }, parent);
    }
    const auto *factory = m_registry.sheet(flag);
    return factory ? (*factory)(m_context, parent) : nullptr;
}

void ContentView::setShowInfo(bool shown)
{
    m_showInfo = shown;
    m_header->setShowInfo(shown);
    updateTrailing();
}

const Endpoint *ContentView::inspectorEndpoint() const
{
    return HeaderLogic::inspectorEndpoint(m_context.state->nav(), m_context.state->selectedEndpointID(),
                                          m_context.engine->endpoints());
}

namespace {

// Takes a column out of the layout at once; the widget itself goes when the event loop next runs.
template <typename T>
void discard(QLayout *layout, QPointer<T> &widget)
{
    if (!widget)
        return;
    layout->removeWidget(widget);
    widget->hide();
    widget->deleteLater();
    widget = nullptr;
}

// As discard(), but the widget goes a turn later, after its successor was built and painted: tearing down an
// inspector takes about as long as building one, too long to share one turn with it.
template <typename T>
void retire(QLayout *layout, QPointer<T> &widget)
{
    if (!widget)
        return;
    layout->removeWidget(widget);
    widget->hide();
    QTimer::singleShot(1, widget, [gone = widget.data()] { gone->deleteLater(); });
    widget = nullptr;
}

} // namespace

void ContentView::showScreen()
{
    const NavItem nav = m_context.state->nav();
    if (m_screen && m_screenItem == nav)
        return;
    // A screen is built anew each time it is navigated to.
    discard(m_screenHost, m_screen);
    QWidget *host = m_screenHost->parentWidget();
    const auto *factory = m_registry.screen(nav);
    m_screen = factory ? (*factory)(m_context, host) : new PlaceholderScreen(nav, host);
    m_screenItem = nav;
    m_screenHost->addWidget(m_screen);
    m_screen->show();
}

void ContentView::updateTrailing()
{
    const auto *inspectorFactory = m_registry.inspector();
    const Endpoint *route = inspectorFactory ? inspectorEndpoint() : nullptr;

    if (route) {
        // Keyed by project too: a duplicated project holds routes with the same ids.
        const QString id = m_context.engine->activeProjectID() + QLatin1Char('\n') + QString::fromStdString(route->id);
        discard(m_trailingHost, m_infoPanel);
        // Another route gets a fresh inspector; the same route keeps its editing state.
        if (!m_inspector || m_inspectorID != id) {
            retire(m_trailingHost, m_inspector);
            m_inspector = (*inspectorFactory)(m_context, *route, m_trailing);
            m_inspectorID = id;
            m_trailingHost->addWidget(m_inspector);
        }
        setTrailingShown(true);
        return;
    }
    discard(m_trailingHost, m_inspector);
    m_inspectorID.clear();
    if (m_showInfo && m_context.state->nav() != NavItem::dashboard) {
        if (!m_infoPanel) {
            m_infoPanel = new RightInfoPanel(m_context, m_trailing);
            m_trailingHost->addWidget(m_infoPanel);
        }
        setTrailingShown(true);
        return;
    }
    // Off screen the panel is dropped, so it comes back on its Info tab.
    discard(m_trailingHost, m_infoPanel);
    setTrailingShown(false);
}

void ContentView::setTrailingShown(bool shown)
{
    if (shown == m_trailingShown)
        return;
    m_trailingShown = shown;
    m_trailingAnimation->stop();
    if (!isVisible()) {
        // Nothing to watch yet: take the end state at once.
        m_trailing->setMaximumWidth(QWIDGETSIZE_MAX);
        m_trailing->setVisible(shown);
        return;
    }
    const int full = m_trailing->sizeHint().width();
    const int from = m_trailing->isVisible() ? qMin(m_trailing->width(), full) : 0;
    m_trailingAnimation->setStartValue(from);
    m_trailingAnimation->setEndValue(shown ? full : 0);
    m_trailing->setMaximumWidth(from);
    m_trailing->show();
    m_trailingAnimation->start();
}

void ContentView::updateBanner()
{
    const std::optional<QString> &summary = m_context.engine->importSummary();
    if (!summary) {
        m_bannerTimer.stop();
        m_banner->hide();
        return;
    }
    showBanner(*summary, isSuccessfulImportSummary(*summary));
}

void ContentView::showNotice(const QString &message)
{
    showBanner(message, false);
}

void ContentView::showBanner(const QString &text, bool success)
{
    m_banner->setText(text);
    m_banner->setTone(success ? SnowToast::Tone::success : SnowToast::Tone::error);
    // A new text replaces the old one in place and gets its own 4 s.
    m_bannerTimer.start();
    placeBanner();
    m_banner->show();
    m_banner->raise();
}

void ContentView::placeBanner()
{
    // A long summary wraps rather than running past the window's edges.
    const QSize size = m_banner->sizeFor(qMin(BannerMaxWidth, width() - 2 * BannerSideMargin));
    m_banner->setGeometry((width() - size.width()) / 2, height() - BannerBottomPadding - size.height(), size.width(),
                          size.height());
}

bool ContentView::focusNextPrevChild(bool next)
{
    const QList<QWidget *> order = FocusOrder::byRegion(
        FocusOrder::reachable(this), {m_sidebar, m_header, m_screenHost->parentWidget(), m_trailing});
    QWidget *target = FocusOrder::step(order, QApplication::focusWidget(), next);
    if (!target)
        return QWidget::focusNextPrevChild(next);
    target->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    // Tab from another region never passes the scroll area's own move, which scrolls to what it lands on.
    for (QWidget *up = target->parentWidget(); up && up != this; up = up->parentWidget())
        if (auto *area = qobject_cast<QScrollArea *>(up); area && area->widget() && area->widget()->isAncestorOf(target))
            area->ensureWidgetVisible(target);
    return true;
}

void ContentView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeBanner();
}

void ContentView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Palette::of(this).background);
}

void ContentView::checkOnboarding()
{
    if (!Preferences::instance().boolValue(PrefKey::OnboardedV1, false))
        m_context.state->setShowOnboarding(true);
}

void ContentView::configure(QWidget *window)
{
    if (!window)
        return;
    const Palette palette = Palette::of(this);
    window->setAttribute(Qt::WA_OpaquePaintEvent, false);
    window->setAutoFillBackground(true);
    QPalette windowPalette = window->palette();
    windowPalette.setColor(QPalette::Window, palette.isDark ? QColor(42, 42, 42) : QColor(Qt::white));
    window->setPalette(windowPalette);

    if (!(window->windowState() & Qt::WindowFullScreen) && !WindowGeometry::firstSizingDone()) {
        QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
        if (screen && WindowGeometry::claimFirstSizing())
            window->setGeometry(WindowGeometry::firstFrame(screen->availableGeometry()).toRect());
    }
    if (!window->isVisible()) {
        window->show();
        window->raise();
        window->activateWindow();
    }
}
