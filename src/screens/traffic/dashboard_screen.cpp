// The dashboard: the page, its top rows (first run, statistics, call-to-action strip), the actions and
// the refresh that recomputes every value from the engine link and sets it in place; the cards are in
// dashboard_cards.cpp.
#include "screens/traffic/dashboard_screen.h"

#include "app/app_state.h"
#include "app/file_actions.h"
#include "app/header_logic.h"
#include "design/badges.h"
#include "design/card.h"
#include "design/fonts.h"
#include "design/indicators.h"
#include "design/ks_button.h"
#include "design/palette.h"
#include "design/shell_widgets.h"
#include "design/snow_empty_state.h"
#include "design/snow_select.h"
#include "engine/engine_client.h"
#include "engine/records/mock_data.h"
#include "screens/traffic/dashboard_screen_parts.h"
#include "screens/traffic/dashboard_widgets.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPointer>
#include <QScrollArea>
#include <QUrl>
#include <QVBoxLayout>

using namespace DashboardLogic;

namespace {

constexpr int ColumnMaxWidth = 980;

} // namespace

using namespace DashboardParts;

DashboardScreen::DashboardScreen(const AppContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_scroll(new QScrollArea(this))
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(m_scroll);
    m_scroll->setFrameShape(QFrame::NoFrame);
    // The page scrolls to whatever Tab lands on inside it; a stop of its own would show nothing.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
    useThinScrollBars(m_scroll);

    auto *page = new QWidget;
    auto *centring = new QHBoxLayout(page);
    centring->setContentsMargins(24, 12, 24, 32);
    centring->setSpacing(0);
    QVBoxLayout *sections = nullptr;
    QWidget *content = column(16, &sections, page);
    content->setMaximumWidth(ColumnMaxWidth);
    centring->addStretch(0);
    centring->addWidget(content, 1);
    centring->addStretch(0);

    sections->addWidget(buildFirstRun());
    sections->addWidget(buildStatRow());
    sections->addWidget(buildCtaStrip());
    sections->addWidget(buildSetupCard());
    sections->addWidget(buildAttention());
    sections->addWidget(buildSessionCard());
    sections->addWidget(buildSimulateCard());
    sections->addStretch(1);

    m_scroll->setWidget(page);
    page->setAutoFillBackground(false);
    m_scroll->viewport()->setAutoFillBackground(false);

    EngineClient *engine = context.engine;
    for (auto signal : {&EngineClient::endpointsChanged, &EngineClient::trafficChanged,
                        &EngineClient::proxyRunningChanged, &EngineClient::healthChanged,
                        &EngineClient::environmentsChanged, &EngineClient::activeEnvIDChanged,
                        &EngineClient::chaosPresetsChanged, &EngineClient::activeChaosIdChanged,
                        &EngineClient::caInfoChanged, &EngineClient::caTrustedOnMacChanged,
                        &EngineClient::schemaDriftsChanged, &EngineClient::unseenDriftChanged})
        connect(engine, signal, this, &DashboardScreen::refresh);
    refresh();
}

// ---- Building (once) ----

QWidget *DashboardScreen::buildFirstRun()
{
    m_firstRun = new FirstRunPanel;
    m_firstRun->setDropHandler([this](const QMimeData *mime) { return handleDrop(mime); });
    auto *layout = new QVBoxLayout(m_firstRun);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->setSpacing(16);

    auto *actions = new QWidget;
    auto *row = new QHBoxLayout(actions);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    QPointer<EngineClient> engine(m_context.engine);
    QPointer<AppState> state(m_context.state);
    row->addWidget(new PrimaryButton(QStringLiteral("Import file\u2026"), QStringLiteral("folder"), KSButton::Size::md,
                                     false, false, [this] { browse(); }, actions));
    row->addWidget(new SecondaryButton(QStringLiteral("Load demo"), QStringLiteral("sparkles"), false,
                                       KSButton::Size::md, false, false,
                                       [engine] {
                                           if (!engine)
                                               return;
                                           const auto &demo = MockData::endpoints();
                                           engine->replaceEndpoints(QList<Endpoint>(demo.begin(), demo.end()));
                                       },
                                       actions));
    row->addWidget(new SecondaryButton(QStringLiteral("New route"), QStringLiteral("plus"), false, KSButton::Size::md,
                                       false, false,
                                       [state] {
                                           if (state)
                                               state->setShowNewRoute(true);
                                       },
                                       actions));
    actions->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    auto *empty = new SnowEmptyState(
        QStringLiteral("square.and.arrow.down"), QStringLiteral("Create your first mocks"),
        QStringLiteral("Drop a .har, Charles session, Postman, or .json file \u2014 Kestrion turns it into editable "
                       "mock routes you can serve and tune instantly."),
        Palette::primary(), false, actions, m_firstRun);
    layout->addStretch(1);
    layout->addWidget(empty, 0);
    auto *caption = new ShellText(QStringLiteral("Supports HAR \u00b7 Charles \u00b7 Postman \u00b7 Raw JSON"),
                                  Fonts::inter(11), mutedForeground(), m_firstRun);
    caption->setElideMode(Qt::ElideNone);
    layout->addWidget(caption, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return m_firstRun;
}

QWidget *DashboardScreen::buildStatRow()
{
    m_statRow = new QWidget;
    auto *row = new QHBoxLayout(m_statRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(16);
    m_stats = {new StatCard(QStringLiteral("Requests"), Palette::bg3(), m_statRow),
               new StatCard(QStringLiteral("Active routes"), Palette::bg4(), m_statRow),
               new StatCard(QStringLiteral("Hit rate"), std::nullopt, m_statRow),
               new StatCard(QStringLiteral("Chaos"), Palette::bg4(), m_statRow)};
    for (StatCard *card : m_stats)
        row->addWidget(card, 1, Qt::AlignVCenter);
    return m_statRow;
}

QWidget *DashboardScreen::buildCtaStrip()
{
    m_ctaStrip = new QWidget;
    auto *row = new QHBoxLayout(m_ctaStrip);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    m_primary = new PrimaryButton({}, {}, KSButton::Size::md, false, false, [this] { run(m_primaryAction); },
                                  m_ctaStrip);
    row->addWidget(m_primary, 0, Qt::AlignVCenter);
    m_restart = new KSButton(QStringLiteral("Restart"), {}, KSButton::Variant::ghost, KSButton::Size::sm, false, false,
                             false, [this] { run(Action::restartProxy); }, m_ctaStrip);
    m_stop = new KSButton(QStringLiteral("Stop"), {}, KSButton::Variant::ghost, KSButton::Size::sm, false, false,
                          false, [this] { run(Action::stopProxy); }, m_ctaStrip);
    row->addWidget(m_restart, 0, Qt::AlignVCenter);
    row->addWidget(m_stop, 0, Qt::AlignVCenter);

    m_envSelect = new SnowSelect(m_ctaStrip);
    m_envSelect->setIcon(QStringLiteral("curlybraces"));
    m_envSelect->setBoxWidth(200);
    m_envSelect->setSize(KSButton::Size::sm);
    m_envSelect->setMenuWidth(220);
    m_envSelect->setItemsProvider([this] { return envItems(); });
    row->addWidget(m_envSelect, 0, Qt::AlignVCenter);

    m_chaosTag = new SnowTag({}, SnowTag::Tone::error, QStringLiteral("tornado"), false, m_ctaStrip);
    row->addWidget(m_chaosTag, 0, Qt::AlignVCenter);
    row->addStretch(1);

    auto *status = new QWidget(m_ctaStrip);
    auto *statusRow = new QHBoxLayout(status);
    statusRow->setContentsMargins(0, 0, 0, 0);
    statusRow->setSpacing(6);
    m_statusDot = new StatusDot(Palette::light().mutedForeground, 7, false, status);
    m_statusText = new ShellText({}, Fonts::ksMeta(), mutedForeground(), status);
    statusRow->addWidget(m_statusDot, 0, Qt::AlignVCenter);
    statusRow->addWidget(m_statusText, 1, Qt::AlignVCenter);
    row->addWidget(status, 0, Qt::AlignVCenter);
    return m_ctaStrip;
}

// ---- Actions ----

void DashboardScreen::run(Action action)
{
    EngineClient *engine = m_context.engine;
    AppState *state = m_context.state;
    switch (action) {
    case Action::none:
        return;
    case Action::startProxy:
        engine->startProxy();
        return;
    case Action::restartProxy:
        engine->restartProxy();
        return;
    case Action::stopProxy:
        engine->stopProxy();
        return;
    case Action::trustCA:
        engine->trustCAOnMac();
        return;
    case Action::generateCA:
        engine->generateCA();
        return;
    case Action::stopChaos:
        // The active id toggles chaos off.
        engine->setChaosPreset(engine->activeChaosId());
        return;
    case Action::openLiveTraffic:
        state->select(NavItem::liveTraffic);
        return;
    case Action::openDevices:
        state->select(NavItem::devices);
        return;
    case Action::openSchema:
        state->select(NavItem::schema);
        return;
    case Action::openEndpoints:
        state->select(NavItem::endpoints);
        return;
    }
}

void DashboardScreen::browse()
{
    FileActions::importFile(m_context.engine, window());
}

bool DashboardScreen::handleDrop(const QMimeData *mime)
{
    const std::optional<QUrl> url = FileActions::firstDroppedFile(mime);
    return url && FileActions::importCheckedFile(m_context.engine, *url);
}

QList<SnowMenuItem> DashboardScreen::envItems() const
{
    QPointer<EngineClient> engine(m_context.engine);
    QPointer<AppState> state(m_context.state);
    QList<SnowMenuItem> items;
    for (const EnvEntry &entry : envEntries(engine->environments(), engine->activeEnvID())) {
        items.append(SnowMenuItem::entry(entry.name, {},
                                         [engine, id = entry.id] {
                                             if (!engine)
                                                 return;
                                             engine->chooseEnvironment(id);
                                         },
                                         SnowMenuItem::Tone::normal, entry.checked));
    }
    if (!items.isEmpty())
        items.append(SnowMenuItem::divider());
    items.append(SnowMenuItem::entry(QStringLiteral("Manage environments\u2026"), QStringLiteral("slider.horizontal.3"),
                                     [state] {
                                         if (state)
                                             state->setShowManageEnvironments(true);
                                     }));
    return items;
}

// ---- Values (every refresh) ----

bool DashboardScreen::event(QEvent *event)
{
    // Colours picked per scheme (the status dot) follow a theme change.
    if (event->type() == PaletteHost::changedEventType())
        refresh();
    return QWidget::event(event);
}

void DashboardScreen::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Palette::of(this).background);
}

void DashboardScreen::refresh()
{
    const EngineClient *engine = m_context.engine;
    const bool firstRun = engine->endpoints().isEmpty();
    setVisibleIfChanged(m_firstRun, firstRun);
    for (QWidget *section : {static_cast<QWidget *>(m_statRow), m_ctaStrip})
        setVisibleIfChanged(section, !firstRun);
    if (firstRun) {
        for (QWidget *section : {m_setupCard, m_attention, m_sessionCard, m_simulateCard})
            setVisibleIfChanged(section, false);
        return;
    }

    const QList<TrafficEntry> &traffic = engine->traffic();
    // The list keeps only the newest entries; every number on the screen counts the session, which
    // goes on past them.
    const TrafficMetrics metrics = sessionMetrics(engine->sessionRequestCount(), engine->sessionInjectedCount(),
                                                  engine->sessionErrorCount(), engine->sessionInjectedLatencyMs());
    const std::optional<ChaosPreset> chaos = activeChaos(engine->chaosPresets(), engine->activeChaosId());

    m_stats[0]->setValue(QString::number(metrics.total));
    m_stats[1]->setValue(QString::number(activeRouteCount(engine->endpoints())));
    m_stats[2]->setValue(QString::number(hitRate(metrics.served, metrics.total)) + QStringLiteral("%"));
    m_stats[3]->setValue(chaos ? QString::fromStdString(chaos->name) : QStringLiteral("Off"));

    refreshStrip(!traffic.isEmpty());
    setVisibleIfChanged(m_setupCard, !(engine->proxyRunning() && !traffic.isEmpty()));
    refreshSetup();
    refreshAlerts();
    setVisibleIfChanged(m_sessionCard, !traffic.isEmpty());
    if (!traffic.isEmpty())
        refreshSession(metrics);
    refreshChaos();
}

void DashboardScreen::refreshStrip(bool hasTraffic)
{
    const EngineClient *engine = m_context.engine;
    const bool running = engine->proxyRunning();
    const CallToAction cta = primaryCTA(running, hasTraffic);
    m_primaryAction = cta.action;
    if (m_primary->title() != cta.title)
        m_primary->setTitle(cta.title);
    if (m_primary->icon() != cta.icon)
        m_primary->setIcon(cta.icon);
    setVisibleIfChanged(m_restart, running);
    setVisibleIfChanged(m_stop, running);

    const QString envName = HeaderLogic::activeEnvironmentName(engine->environments(), engine->activeEnvID());
    if (m_envSelect->value() != envName)
        m_envSelect->setValue(envName, false);

    const std::optional<ChaosPreset> chaos = activeChaos(engine->chaosPresets(), engine->activeChaosId());
    if (chaos) {
        const QString text = QStringLiteral("Chaos: ") + QString::fromStdString(chaos->name);
        if (m_chaosTag->text() != text)
            m_chaosTag->setText(text);
    }
    setVisibleIfChanged(m_chaosTag, chaos.has_value());

    const Palette palette = Palette::of(this);
    const QColor dot = running ? successInk(palette) : palette.mutedForeground;
    if (m_statusDot->color() != dot)
        m_statusDot->setColor(dot);
    if (m_statusDot->pulse() != running)
        m_statusDot->setPulse(running);
    m_statusText->setText(statusSubline(running, engine->endpoints().size(), engine->proxyPort()));
}
