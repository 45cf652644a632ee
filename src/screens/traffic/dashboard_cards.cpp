// The dashboard's cards (setup checklist, attention alerts, this session, simulate conditions): each is
// built once, then its values are set in place on every refresh.
#include "screens/traffic/dashboard_screen.h"

#include "design/activity_graph.h"
#include "design/badges.h"
#include "design/card.h"
#include "design/fonts.h"
#include "design/indicators.h"
#include "design/ks_button.h"
#include "design/palette.h"
#include "design/shell_widgets.h"
#include "design/snow_progress_bar.h"
#include "engine/engine_client.h"
#include "screens/traffic/dashboard_screen_parts.h"
#include "screens/traffic/dashboard_widgets.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QVBoxLayout>

using namespace DashboardLogic;
using namespace DashboardParts;

// ---- Building (once) ----

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

// ---- Values (every refresh) ----

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
