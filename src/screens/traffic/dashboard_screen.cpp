// The dashboard: built once, then every value is recomputed from the engine link and set in place.
#include "screens/traffic/dashboard_screen.h"

#include "app/app_state.h"
#include "app/file_actions.h"
#include "app/header_logic.h"
#include "design/activity_graph.h"
#include "design/badges.h"
#include "design/card.h"
#include "design/fonts.h"
#include "design/indicators.h"
#include "design/ks_button.h"
#include "design/palette.h"
#include "design/shell_widgets.h"
#include "design/snow_empty_state.h"
#include "design/snow_progress_bar.h"
#include "design/snow_select.h"
#include "engine/engine_client.h"
#include "engine/records/mock_data.h"
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

ColorRole foreground()
{
    return [](const Palette &p) { return p.foreground; };
}

ColorRole mutedForeground()
{
    return [](const Palette &p) { return p.mutedForeground; };
}

// A column widget without margins whose content stretches to the width it is given.
QWidget *column(int spacing, QVBoxLayout **layout, QWidget *parent = nullptr)
{
    auto *box = new QWidget(parent);
    auto *body = new QVBoxLayout(box);
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(spacing);
    box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    *layout = body;
    return box;
}

template <class W, class V> void setVisibleIfChanged(W *widget, V visible)
{
    if (widget->isVisibleTo(widget->parentWidget()) != bool(visible))
        widget->setVisible(bool(visible));
}

} // namespace

DashboardScreen::DashboardScreen(const AppContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_scroll(new QScrollArea(this))
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(m_scroll);
    m_scroll->setFrameShape(QFrame::NoFrame);
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

Card *DashboardScreen::buildSetupCard()
{
    QVBoxLayout *body = nullptr;
    QWidget *content = column(16, &body);
    m_setupCount = new ShellText({}, Fonts::ksMeta(), mutedForeground());
    m_setupCount->setElideMode(Qt::ElideNone);
    body->addWidget(new CardHeader(QStringLiteral("Get set up"), m_setupCount, content));
    m_setupProgress = new SnowProgressBar(content);
    body->addWidget(m_setupProgress);
    QVBoxLayout *list = nullptr;
    QWidget *steps = column(0, &list, content);
    for (int i = 0; i < StepCount; ++i) {
        m_steps[std::size_t(i)] = new StepRow(steps);
        connect(m_steps[std::size_t(i)], &StepRow::actionRequested, this, &DashboardScreen::run);
        list->addWidget(m_steps[std::size_t(i)]);
        if (i + 1 < StepCount)
            list->addWidget(new SnowDivider(false, 0, steps));
    }
    body->addWidget(steps);
    m_setupCard = new Card(20, 16, content);
    return m_setupCard;
}

Card *DashboardScreen::buildAttention()
{
    QVBoxLayout *list = nullptr;
    QWidget *content = column(0, &list);
    for (std::size_t i = 0; i < m_alerts.size(); ++i) {
        m_alerts[i] = new AlertRow(content);
        connect(m_alerts[i], &AlertRow::actionRequested, this, &DashboardScreen::run);
        list->addWidget(m_alerts[i]);
        if (i < m_alertDividers.size()) {
            m_alertDividers[i] = new SnowDivider(false, 0, content);
            list->addWidget(m_alertDividers[i]);
        }
    }
    m_attention = new Card(8, 16, content);
    return m_attention;
}

Card *DashboardScreen::buildSessionCard()
{
    QVBoxLayout *body = nullptr;
    QWidget *content = column(16, &body);
    body->addWidget(new CardHeader(QStringLiteral("This session"),
                                   new KSButton(QStringLiteral("View live traffic"), {}, KSButton::Variant::text,
                                                KSButton::Size::sm, false, false, false,
                                                [this] { run(Action::openLiveTraffic); }),
                                   content));

    QVBoxLayout *hitBlock = nullptr;
    QWidget *hit = column(2, &hitBlock, content);
    auto *hitRow = new QHBoxLayout;
    hitRow->setSpacing(8);
    m_hitRate = new ShellText({}, Fonts::ksStat(), foreground(), hit);
    m_hitRate->setElideMode(Qt::ElideNone);
    // Bottoms aligned, the smaller text lifted by the difference in descent: the baselines meet.
    auto *servedBox = new QWidget(hit);
    auto *servedLift = new QVBoxLayout(servedBox);
    servedLift->setContentsMargins(0, 0, 0,
                                   QFontMetrics(Fonts::ksStat()).descent() - QFontMetrics(Fonts::ksBody()).descent());
    m_served = new ShellText({}, Fonts::ksBody(), mutedForeground(), servedBox);
    servedLift->addWidget(m_served);
    hitRow->addWidget(m_hitRate, 0, Qt::AlignBottom);
    hitRow->addWidget(servedBox, 1, Qt::AlignBottom);
    hitBlock->addLayout(hitRow);
    m_servedBar = new SnowProgressBar(hit);
    m_servedBar->setTint(Palette::mint());
    hitBlock->addWidget(m_servedBar);
    body->addWidget(hit);

    body->addWidget(new SnowDivider(false, 0, content));

    auto *metrics = new QWidget(content);
    auto *metricsRow = new QHBoxLayout(metrics);
    metricsRow->setContentsMargins(0, 0, 0, 0);
    metricsRow->setSpacing(16);
    m_intercepted = new MetricTile(QStringLiteral("Intercepted"), metrics);
    m_errors = new MetricTile(QStringLiteral("Error responses"), metrics);
    m_latency = new MetricTile(QStringLiteral("Injected latency"), metrics);
    for (MetricTile *tile : {m_intercepted, m_errors, m_latency})
        metricsRow->addWidget(tile, 0, Qt::AlignVCenter);
    metricsRow->addStretch(1);
    auto *pulseBlock = new QWidget(metrics);
    auto *pulseColumn = new QVBoxLayout(pulseBlock);
    pulseColumn->setContentsMargins(0, 0, 0, 0);
    pulseColumn->setSpacing(2);
    auto *pulseTitle = new ShellText(QStringLiteral("Traffic pulse"), Fonts::ksMeta(), mutedForeground(), pulseBlock);
    pulseTitle->setElideMode(Qt::ElideNone);
    pulseColumn->addWidget(pulseTitle, 0, Qt::AlignRight);
    m_pulse = new ActivityGraph({}, PulseCells, pulseBlock);
    m_pulse->setFixedSize(200, m_pulse->heightForWidth(200));
    pulseColumn->addWidget(m_pulse, 0, Qt::AlignRight);
    metricsRow->addWidget(pulseBlock, 0, Qt::AlignVCenter);
    body->addWidget(metrics);

    body->addWidget(new SnowDivider(false, 0, content));

    QVBoxLayout *recentList = nullptr;
    QWidget *recent = column(0, &recentList, content);
    for (RecentRow *&row : m_recent) {
        row = new RecentRow(recent);
        connect(row, &PlainButton::clicked, this, [this] { run(Action::openLiveTraffic); });
        recentList->addWidget(row);
    }
    body->addWidget(recent);

    m_sessionCard = new Card(20, 16, content);
    return m_sessionCard;
}

Card *DashboardScreen::buildSimulateCard()
{
    QVBoxLayout *body = nullptr;
    QWidget *content = column(12, &body);
    auto *trailing = new QWidget;
    auto *trailingRow = new QHBoxLayout(trailing);
    trailingRow->setContentsMargins(0, 0, 0, 0);
    m_injecting = new SnowTag(QStringLiteral("Injecting"), SnowTag::Tone::error, QStringLiteral("tornado"), false,
                              trailing);
    m_chaosOff = new ShellText(QStringLiteral("Off"), Fonts::ksMeta(), mutedForeground(), trailing);
    m_chaosOff->setElideMode(Qt::ElideNone);
    trailingRow->addWidget(m_injecting);
    trailingRow->addWidget(m_chaosOff);
    body->addWidget(new CardHeader(QStringLiteral("Simulate conditions"), trailing, content));
    auto *description = new ShellText(QStringLiteral("Inject real-world failures \u2014 one click arms every route."),
                                      Fonts::ksMeta(), mutedForeground(), content);
    body->addWidget(description);
    m_chips = new ChipGrid(content);
    connect(m_chips, &ChipGrid::chipClicked, this, [this](int index) {
        if (index < m_chipIds.size())
            m_context.engine->setChaosPreset(m_chipIds[index]);
    });
    body->addWidget(m_chips);
    m_simulateCard = new Card(20, 16, content);
    return m_simulateCard;
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

void DashboardScreen::refreshSetup()
{
    if (!m_setupCard->isVisibleTo(this))
        return;
    const EngineClient *engine = m_context.engine;
    SetupState setup;
    setup.routeCount = engine->endpoints().size();
    setup.trafficCount = engine->sessionRequestCount();
    setup.proxyRunning = engine->proxyRunning();
    setup.proxyPort = engine->proxyPort();
    setup.caGenerated = engine->caInfo() && engine->caInfo()->generated;
    setup.caTrustedOnMac = engine->caTrustedOnMac();
    const auto steps = setupSteps(setup);
    const int done = completedSteps(steps);
    m_setupCount->setText(QString::number(done) + QStringLiteral(" of ") + QString::number(StepCount));
    const double fraction = double(done) / StepCount;
    if (m_setupProgress->value() != fraction)
        m_setupProgress->setValue(fraction);
    for (std::size_t i = 0; i < steps.size(); ++i)
        m_steps[i]->setStep(steps[i]);
}

void DashboardScreen::refreshAlerts()
{
    const EngineClient *engine = m_context.engine;
    const QList<AttentionItem> items
        = alerts(alertState(activeChaos(engine->chaosPresets(), engine->activeChaosId()), engine->schemaDrifts(),
                            engine->unseenDrift(), engine->endpoints()));
    setVisibleIfChanged(m_attention, !items.isEmpty());
    for (std::size_t i = 0; i < m_alerts.size(); ++i) {
        const bool shown = qsizetype(i) < items.size();
        if (shown)
            m_alerts[i]->setItem(items[qsizetype(i)]);
        setVisibleIfChanged(m_alerts[i], shown);
        if (i < m_alertDividers.size())
            setVisibleIfChanged(m_alertDividers[i], qsizetype(i) + 1 < items.size());
    }
}

void DashboardScreen::refreshSession(const TrafficMetrics &metrics)
{
    const Palette palette = Palette::of(this);
    m_hitRate->setText(QString::number(hitRate(metrics.served, metrics.total)) + QStringLiteral("%"));
    m_served->setText(DashboardLogic::servedText(metrics.served, metrics.total));
    const double fraction = servedFraction(metrics.served, metrics.total);
    if (m_servedBar->value() != fraction)
        m_servedBar->setValue(fraction);
    m_intercepted->setValue(QString::number(metrics.total), std::nullopt);
    m_errors->setValue(QString::number(metrics.errors),
                       metrics.errors > 0 ? std::optional<QColor>(warningInk(palette)) : std::nullopt);
    m_latency->setValue(latencyText(metrics.avgInjectedLatency), std::nullopt);
    const QList<int> levels(metrics.pulse.begin(), metrics.pulse.end());
    if (m_pulse->values() != levels)
        m_pulse->setValues(levels);

    const QList<TrafficEntry> recent = recentEntries(m_context.engine->traffic());
    for (std::size_t i = 0; i < m_recent.size(); ++i) {
        const bool shown = qsizetype(i) < recent.size();
        if (shown)
            m_recent[i]->setEntry(recent[qsizetype(i)]);
        setVisibleIfChanged(m_recent[i], shown);
    }
}

void DashboardScreen::refreshChaos()
{
    const EngineClient *engine = m_context.engine;
    const QList<ChaosPreset> &presets = engine->chaosPresets();
    setVisibleIfChanged(m_simulateCard, !presets.isEmpty());
    if (presets.isEmpty())
        return;
    const QString activeId = engine->activeChaosId();
    setVisibleIfChanged(m_injecting, !activeId.isEmpty());
    setVisibleIfChanged(m_chaosOff, activeId.isEmpty());
    m_chips->setCount(int(presets.size()));
    m_chipIds.clear();
    for (int i = 0; i < presets.size(); ++i) {
        const ChaosPreset &preset = presets[i];
        const QString id = QString::fromStdString(preset.id);
        m_chipIds.append(id);
        ChaosChip *chip = m_chips->chip(i);
        chip->setPreset(chaosIcon(id), QString::fromStdString(preset.name), QString::fromStdString(preset.summary()));
        chip->setSelected(id == activeId);
    }
}

QList<AlertRow *> DashboardScreen::shownAlerts() const
{
    QList<AlertRow *> rows;
    for (AlertRow *row : m_alerts)
        if (row->isVisibleTo(m_attention))
            rows.append(row);
    return rows;
}

int DashboardScreen::shownAlertDividers() const
{
    int count = 0;
    for (SnowDivider *divider : m_alertDividers)
        count += divider->isVisibleTo(m_attention) ? 1 : 0;
    return count;
}

QList<RecentRow *> DashboardScreen::shownRecentRows() const
{
    QList<RecentRow *> rows;
    for (RecentRow *row : m_recent)
        if (row->isVisibleTo(m_sessionCard))
            rows.append(row);
    return rows;
}
