// The main header bar and its two menus.
#include "app/main_header.h"

#include "app/app_state.h"
#include "app/environment_picker.h"
#include "app/file_actions.h"
#include "app/header_logic.h"
#include "design/badges.h"
#include "design/fonts.h"
#include "design/indicators.h"
#include "design/shell_widgets.h"
#include "design/snow_dropdown.h"
#include "design/snow_select.h"
#include "engine/engine_client.h"
#include "engine/records/mock_data.h"

#include <QCoreApplication>
#include <QBoxLayout>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QShortcut>

namespace {

constexpr int Padding = 16;
constexpr int Spacing = 8;

QColor liveGreen()
{
    return QColor(0x1F, 0x8A, 0x50);
}

QColor blackAt(qreal opacity)
{
    return QColor(0, 0, 0, int(opacity * 255 + 0.5));
}

// Text fields claim Ctrl+K for themselves ("delete to end of line"); in the owner's window the
// shortcut wins, so the palette opens wherever the focus is.
class ShortcutBeforeTextFields final : public QObject
{
public:
    ShortcutBeforeTextFields(const QKeySequence &keys, QWidget *owner)
        : QObject(owner)
        , m_keys(keys)
        , m_owner(owner)
    {
        QCoreApplication::instance()->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::ShortcutOverride || !watched->isWidgetType())
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if (QKeySequence(key->keyCombination()) != m_keys
            || static_cast<QWidget *>(watched)->window() != m_owner->window())
            return false;
        // Left unaccepted, the override lets the window's shortcut run.
        event->ignore();
        return true;
    }

private:
    QKeySequence m_keys;
    QWidget *m_owner;
};

} // namespace

MainHeader::MainHeader(const AppContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
{
    setFixedHeight(Height);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(Padding, 0, Padding, 1);
    row->setSpacing(Spacing);

    AppState *state = context.state;
    m_back = navArrow(QStringLiteral("chevron.left"), [state] { return !state->backStack().isEmpty(); },
                      [state] { state->goBack(); });
    m_forward = navArrow(QStringLiteral("chevron.right"), [state] { return !state->forwardStack().isEmpty(); },
                         [state] { state->goForward(); });
    row->addWidget(m_back);
    row->addWidget(m_forward);

    m_crumbs = new QWidget(this);
    auto *crumbs = new QHBoxLayout(m_crumbs);
    crumbs->setContentsMargins(4, 0, 0, 0);
    crumbs->setSpacing(6);
    auto muted = [](const Palette &p) { return p.mutedForeground; };
    auto faint = [](const Palette &p) { return p.faint; };
    // The bar decides how much of the project name and the path shows (fitBar); the texts elide on their own
    // only if a layout pass gives them less than that.
    m_project = new ShellText({}, Fonts::inter(13), muted, m_crumbs);
    m_project->setElideMode(Qt::ElideRight);
    m_screen = new ShellText({}, Fonts::inter(13, QFont::Medium), {}, m_crumbs);
    m_screen->setElideMode(Qt::ElideNone);
    m_pathSlash = new ShellText(QStringLiteral("/"), Fonts::inter(13), faint, m_crumbs);
    m_pathSlash->setElideMode(Qt::ElideNone);
    m_path = new ShellText({}, Fonts::inter(13, QFont::Medium), {}, m_crumbs);
    m_path->setElideMode(Qt::ElideMiddle);
    m_projectSlash = new ShellText(QStringLiteral("/"), Fonts::inter(13), faint, m_crumbs);
    m_projectSlash->setElideMode(Qt::ElideNone);
    crumbs->addWidget(m_project);
    crumbs->addWidget(m_projectSlash);
    crumbs->addWidget(m_screen);
    crumbs->addWidget(m_pathSlash);
    crumbs->addWidget(m_path);
    crumbs->addStretch(1);
    m_crumbs->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    row->addWidget(m_crumbs, 1);

    row->addWidget(buildSearchTrigger());
    m_compactSearch = new IconButton(QStringLiteral("magnifyingglass"), 28, 13, {}, this);
    connect(m_compactSearch, &IconButton::clicked, this, [state] { state->setShowSearch(true); });
    row->addWidget(m_compactSearch);

    m_environments = new EnvironmentPicker(context, this);
    row->addWidget(m_environments);

    m_theme = new IconButton({}, 28, 14, {}, this);
    connect(m_theme, &IconButton::clicked, this, [state] { state->cycleTheme(); });
    row->addWidget(m_theme);

    row->addWidget(buildProxyChip());
    row->addWidget(buildActionsMenu());

    m_infoToggle = new IconButton(QStringLiteral("sidebar.right"), 28, 14, {}, this);
    m_infoToggle->setToolTip(QStringLiteral("Toggle info panel"));
    connect(m_infoToggle, &IconButton::clicked, this, &MainHeader::showInfoToggled);
    row->addWidget(m_infoToggle);

    // The layout squeezes nothing: fitBar() decides what gives way and sets each item's size.
    for (QWidget *w : {static_cast<QWidget *>(m_back), static_cast<QWidget *>(m_forward),
                       static_cast<QWidget *>(m_compactSearch), static_cast<QWidget *>(m_environments),
                       static_cast<QWidget *>(m_theme), static_cast<QWidget *>(m_chip),
                       static_cast<QWidget *>(m_actions), static_cast<QWidget *>(m_infoToggle)})
        w->setSizePolicy(QSizePolicy::Fixed, w->sizePolicy().verticalPolicy());

    // The search trigger's shortcut works anywhere in the window.
    auto *shortcut = new QShortcut(searchShortcut(), this);
    shortcut->setContext(Qt::WindowShortcut);
    new ShortcutBeforeTextFields(searchShortcut(), this);
    connect(shortcut, &QShortcut::activated, this, [state] { state->setShowSearch(true); });

    EngineClient *engine = context.engine;
    connect(state, &AppState::navChanged, this, &MainHeader::refreshNavigation);
    connect(state, &AppState::selectedEndpointIDChanged, this, &MainHeader::refreshNavigation);
    connect(engine, &EngineClient::endpointsChanged, this, &MainHeader::refreshNavigation);
    connect(engine, &EngineClient::projectsChanged, this, &MainHeader::refreshNavigation);
    connect(engine, &EngineClient::activeProjectIDChanged, this, &MainHeader::refreshNavigation);
    connect(engine, &EngineClient::proxyRunningChanged, this, &MainHeader::refreshProxy);
    connect(engine, &EngineClient::healthChanged, this, &MainHeader::refreshProxy);
    connect(state, &AppState::themeChanged, this, &MainHeader::refreshTheme);

    setShowInfo(true);
    refreshNavigation();
    refreshProxy();
    refreshTheme();
}

IconButton *MainHeader::navArrow(const QString &symbol, std::function<bool()> enabled, std::function<void()> action)
{
    auto *arrow = new IconButton(symbol, 26, 12, {}, this);
    // A disabled arrow still takes the click but does nothing.
    connect(arrow, &IconButton::clicked, this, [enabled, action] {
        if (enabled())
            action();
    });
    return arrow;
}

QWidget *MainHeader::buildSearchTrigger()
{
    m_search = new PlainButton(this);
    m_search->setFixedSize(SearchWidth, 28);
    m_search->setFill([](const Palette &p, bool, bool) { return p.inputBackground; }, 8);
    auto *row = new QHBoxLayout(m_search);
    row->setContentsMargins(10, 0, 10, 0);
    row->setSpacing(7);
    auto faint = [](const Palette &p) { return p.faint; };
    row->addWidget(new SymbolLabel(QStringLiteral("magnifyingglass"), 11, faint, m_search));
    row->addWidget(new ShellText(QStringLiteral("Search"), Fonts::inter(12), faint, m_search));
    row->addStretch(1);
    row->addSpacing(8 - 7);
    // The hint names the shortcut as this platform writes it ("Ctrl+K" here), since that is the key to press.
    auto *keys = new KeyCap(searchShortcut().toString(QKeySequence::NativeText), m_search);
    keys->setAttribute(Qt::WA_TransparentForMouseEvents);
    row->addWidget(keys);
    AppState *state = m_context.state;
    connect(m_search, &PlainButton::clicked, this, [state] { state->setShowSearch(true); });
    return m_search;
}

QWidget *MainHeader::buildProxyChip()
{
    m_chip = new SnowDropdown(this);
    m_chip->setMenuWidth(180);
    m_chip->setItemsProvider([this] { return statusItems(); });
    m_chipBox = new FilledBox({}, 8);
    m_chipBox->setFixedHeight(24);
    auto *row = new QHBoxLayout(m_chipBox);
    row->setContentsMargins(10, 0, 10, 0);
    row->setSpacing(6);
    m_chipDot = new StatusDot(liveGreen(), 6, false, m_chipBox);
    m_chipText = new ShellText({}, Fonts::inter(11, QFont::Medium), {}, m_chipBox);
    m_chipText->setElideMode(Qt::ElideNone);
    m_chipChevron = new SymbolLabel(QStringLiteral("chevron.down"), 8, {}, m_chipBox);
    row->addWidget(m_chipDot);
    row->addWidget(m_chipText);
    row->addWidget(m_chipChevron);
    m_chip->setLabelWidget(m_chipBox);
    m_chip->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return m_chip;
}

QWidget *MainHeader::buildActionsMenu()
{
    m_actions = new SnowDropdown(this);
    m_actions->setMenuWidth(220);
    m_actions->setToolTip(QStringLiteral("Actions"));
    m_actions->setItemsProvider([this] { return actionItems(); });
    auto *label = new QWidget;
    label->setFixedSize(28, 28);
    auto *layout = new QHBoxLayout(label);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new SymbolLabel(QStringLiteral("ellipsis"), 14, [](const Palette &p) { return p.mutedForeground; },
                                      label),
                      0, Qt::AlignCenter);
    m_actions->setLabelWidget(label);
    m_actions->setFixedSize(28, 28);
    return m_actions;
}

void MainHeader::setShowInfo(bool shown)
{
    m_showInfo = shown;
    m_infoToggle->setTint(shown ? ColorRole([](const Palette &p) { return p.foreground; })
                                : ColorRole([](const Palette &p) { return p.mutedForeground; }));
}

QList<SnowMenuItem> MainHeader::statusItems() const
{
    QPointer<EngineClient> engine(m_context.engine);
    if (m_context.engine->proxyRunning()) {
        return {
            SnowMenuItem::entry(QStringLiteral("Stop proxy"), QStringLiteral("stop.fill"), [engine] {
                if (engine)
                    engine->stopProxy();
            }, SnowMenuItem::Tone::destructive),
            SnowMenuItem::entry(QStringLiteral("Restart proxy"), QStringLiteral("arrow.clockwise"), [engine] {
                if (engine)
                    engine->restartProxy();
            }),
        };
    }
    return {SnowMenuItem::entry(QStringLiteral("Start proxy"), QStringLiteral("play.fill"), [engine] {
        if (engine)
            engine->startProxy();
    }, SnowMenuItem::Tone::accent)};
}

QList<SnowMenuItem> MainHeader::actionItems() const
{
    QPointer<EngineClient> engine(m_context.engine);
    QPointer<AppState> state(m_context.state);
    QPointer<QWidget> window(const_cast<MainHeader *>(this)->window());
    auto fileAction = [engine, window](void (*action)(EngineClient *, QWidget *)) {
        return [engine, window, action] {
            if (engine)
                action(engine, window);
        };
    };
    QList<SnowMenuItem> items = {
        SnowMenuItem::entry(QStringLiteral("Import file…"), QStringLiteral("tray.and.arrow.down"),
                            fileAction(&FileActions::importFile)),
        SnowMenuItem::entry(QStringLiteral("Import OpenAPI…"), QStringLiteral("square.and.arrow.down"),
                            fileAction(&FileActions::importOpenAPI)),
        SnowMenuItem::entry(QStringLiteral("Open profile…"), QStringLiteral("doc.badge.gearshape"),
                            fileAction(&FileActions::openProfile)),
        SnowMenuItem::entry(QStringLiteral("Export profile…"), QStringLiteral("square.and.arrow.up"),
                            fileAction(&FileActions::exportProfile)),
        SnowMenuItem::divider(),
        SnowMenuItem::entry(QStringLiteral("New route…"), QStringLiteral("plus"), [state] {
            if (state)
                state->setShowNewRoute(true);
        }),
    };
    if (!m_context.engine->endpoints().isEmpty()) {
        items.append(SnowMenuItem::entry(QStringLiteral("Clear session"), QStringLiteral("trash"), [engine] {
            if (!engine)
                return;
            engine->replaceEndpoints({});
        }, SnowMenuItem::Tone::destructive));
    } else {
        items.append(SnowMenuItem::entry(QStringLiteral("Load demo session"), QStringLiteral("sparkles"), [engine] {
            if (!engine)
                return;
            const auto &demo = MockData::endpoints();
            engine->replaceEndpoints(QList<Endpoint>(demo.begin(), demo.end()));
        }));
    }
    items.append(SnowMenuItem::entry(QStringLiteral("Clear traffic"), QStringLiteral("trash"), [engine] {
        if (engine)
            engine->clearTraffic();
    }));
    return items;
}

QStringList MainHeader::breadcrumb() const
{
    QStringList crumbs = {m_projectName, m_screen->text()};
    if (m_pathText)
        crumbs.append(*m_pathText);
    return crumbs;
}

bool MainHeader::screenCrumbIsCurrent() const
{
    return !m_pathText;
}

bool MainHeader::backEnabled() const
{
    return !m_context.state->backStack().isEmpty();
}

bool MainHeader::forwardEnabled() const
{
    return !m_context.state->forwardStack().isEmpty();
}

bool MainHeader::showsFullSearch() const
{
    return !m_search->isHidden();
}

QString MainHeader::proxyChipText() const
{
    return m_chipText->text();
}

QColor MainHeader::proxyDotColor() const
{
    return m_chipDot->color();
}

void MainHeader::refreshNavigation()
{
    const AppState *state = m_context.state;
    const EngineClient *engine = m_context.engine;
    m_projectName = HeaderLogic::projectName(engine->projects(), engine->activeProjectID());
    m_screen->setText(Nav::title(state->nav()));
    const auto path = HeaderLogic::selectedEndpointPath(state->nav(), state->selectedEndpointID(), engine->endpoints());
    m_pathText = path;
    m_path->setVisible(path.has_value());
    m_pathSlash->setVisible(path.has_value());
    m_screen->setFont(Fonts::inter(13, path ? QFont::Normal : QFont::Medium));
    m_screen->setColorRole(path ? ColorRole([](const Palette &p) { return p.mutedForeground; })
                                : ColorRole([](const Palette &p) { return p.foreground; }));

    auto arrowTint = [](bool enabled) {
        return enabled ? ColorRole([](const Palette &p) { return p.mutedForeground; })
                       : ColorRole([](const Palette &p) { return withOpacity(p.faint, 0.5); });
    };
    m_back->setTint(arrowTint(backEnabled()));
    m_forward->setTint(arrowTint(forwardEnabled()));
    fitBar();
}

void MainHeader::refreshProxy()
{
    const bool running = m_context.engine->proxyRunning();
    m_chipDot->setColor(running ? liveGreen() : Palette::of(this).mutedForeground);
    m_chipDot->setPulse(running);
    m_chipText->setText(running ? QStringLiteral("Live · :") + QString::number(m_context.engine->proxyPort())
                                : QStringLiteral("Stopped"));
    m_chipText->setColorRole(running ? ColorRole([](const Palette &) { return blackAt(0.75); })
                                     : ColorRole([](const Palette &p) { return p.mutedForeground; }));
    m_chipChevron->setColorRole(running ? ColorRole([](const Palette &) { return blackAt(0.5); })
                                        : ColorRole([](const Palette &p) { return p.faint; }));
    m_chipBox->setFillRole(running ? ColorRole([](const Palette &) { return Palette::mint(); })
                                   : ColorRole([](const Palette &p) { return p.subtle; }));
    m_chip->updateGeometry();
    fitBar();
}

void MainHeader::refreshTheme()
{
    const AppTheme theme = m_context.state->theme();
    m_theme->setSymbol(HeaderLogic::themeSymbol(theme));
    m_theme->setToolTip(HeaderLogic::themeTooltip(theme));
}

void MainHeader::fitBar()
{
    HeaderLogic::HeaderItems items;
    items.bar = width();
    items.fixed = 2 * Padding;
    for (QWidget *w : {static_cast<QWidget *>(m_back), static_cast<QWidget *>(m_forward),
                       static_cast<QWidget *>(m_theme), static_cast<QWidget *>(m_chip),
                       static_cast<QWidget *>(m_actions), static_cast<QWidget *>(m_infoToggle)})
        items.fixed += qMax(w->sizeHint().width(), w->minimumWidth());
    // Between the nine items: the arrows, breadcrumb, search, picker, theme, chip, menu and toggle.
    items.fixed += 8 * Spacing;
    items.searchFull = SearchWidth;
    items.searchCompact = m_compactSearch->sizeHint().width();
    items.pickerFull = EnvironmentPicker::BoxWidth;
    items.pickerLeast = EnvironmentPicker::LeastWidth;
    items.pickerIcon = SnowSelect::iconOnlyWidth();

    const auto *crumbs = static_cast<QBoxLayout *>(m_crumbs->layout());
    const QMargins margins = crumbs->contentsMargins();
    const int slashes = m_projectSlash->sizeHint().width() * (m_pathText ? 2 : 1);
    const int gaps = crumbs->spacing() * (m_pathText ? 4 : 2);
    items.crumbsFixed = margins.left() + margins.right() + slashes + gaps + m_screen->sizeHint().width();
    // As a text's own size hint measures it.
    const QFontMetrics projectMetrics(m_project->font());
    const QFontMetrics pathMetrics(m_path->font());
    items.project = m_projectName;
    items.measureProject = [projectMetrics](const QString &text) { return projectMetrics.horizontalAdvance(text) + 1; };
    items.path = m_pathText;
    items.measurePath = [pathMetrics](const QString &text) { return pathMetrics.horizontalAdvance(text) + 1; };

    const HeaderLogic::HeaderFit fit = HeaderLogic::fitHeader(items);
    const bool full = fit.search == HeaderLogic::SearchForm::full;
    const bool changed = m_search->isHidden() == full || m_environments->isIconOnly() != fit.pickerIconOnly
                         || m_environments->width() != fit.picker || m_project->text() != fit.project
                         || m_path->text() != fit.path;
    if (!changed)
        return;
    m_search->setVisible(full);
    m_compactSearch->setVisible(!full);
    m_environments->setIconOnly(fit.pickerIconOnly);
    m_environments->setBoxWidth(fit.picker);
    m_project->setText(fit.project);
    m_path->setText(fit.path);
    // Laid out now rather than over the next few turns of the event loop, each nested layout on its own
    // request, so that no frame shows the crumbs shortened by the layout instead of by this fit.
    layout()->activate();
    m_crumbs->layout()->activate();
}

bool MainHeader::event(QEvent *event)
{
    // The stopped dot takes its colour from the palette in force, so a theme change re-reads it.
    if (event->type() == PaletteHost::changedEventType())
        refreshProxy();
    const bool handled = QWidget::event(event);
    // A child's size hint settles once it is shown and polished (the proxy chip's among them), so the
    // search's form is judged again whenever the bar's layout is asked to redo itself.
    if (event->type() == QEvent::LayoutRequest)
        fitBar();
    return handled;
}

void MainHeader::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fitBar();
}

void MainHeader::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter painter(this);
    painter.fillRect(rect(), palette.background);
    painter.fillRect(QRect(0, height() - 1, width(), 1), palette.border);
}
