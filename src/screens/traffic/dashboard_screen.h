// DashboardScreen: the home screen: statistics, call-to-action strip, setup checklist, alerts,
// session card, chaos presets, and the first-run panel that takes dropped capture files.
#pragma once

#include "app/app_context.h"
#include "design/snow_menu_item.h"
#include "screens/traffic/dashboard_logic.h"

#include <QList>
#include <QWidget>

#include <array>

class ActivityGraph;
class AlertRow;
class Card;
class ChipGrid;
class FirstRunPanel;
class KSButton;
class MetricTile;
class PrimaryButton;
class QMimeData;
class QScrollArea;
class RecentRow;
class SnowDivider;
class SnowProgressBar;
class SnowSelect;
class SnowTag;
class StatCard;
class StatusDot;
class StepRow;
class ShellText;

class DashboardScreen final : public QWidget
{
    Q_OBJECT
public:
    explicit DashboardScreen(const AppContext &context, QWidget *parent = nullptr);

    // Opens the file chooser and imports the chosen file.
    void browse();
    // Imports the first file of a drop; false (the drop refused) when it carries none that can be imported.
    bool handleDrop(const QMimeData *mime);
    // The environment menu as it would open now.
    QList<SnowMenuItem> envItems() const;
    // Recomputes every value from the engine link and updates the widgets in place.
    void refresh();

    // The pieces, for tests and the snapshot runner.
    FirstRunPanel *firstRunPanel() const { return m_firstRun; }
    const std::array<StatCard *, 4> &statCards() const { return m_stats; }
    PrimaryButton *primaryButton() const { return m_primary; }
    KSButton *restartButton() const { return m_restart; }
    KSButton *stopButton() const { return m_stop; }
    SnowSelect *envSelect() const { return m_envSelect; }
    SnowTag *chaosTag() const { return m_chaosTag; }
    StatusDot *statusDot() const { return m_statusDot; }
    ShellText *statusText() const { return m_statusText; }
    QWidget *statRow() const { return m_statRow; }
    QWidget *ctaStrip() const { return m_ctaStrip; }
    Card *setupCard() const { return m_setupCard; }
    ShellText *setupCount() const { return m_setupCount; }
    SnowProgressBar *setupProgress() const { return m_setupProgress; }
    const std::array<StepRow *, DashboardLogic::StepCount> &stepRows() const { return m_steps; }
    Card *attentionCard() const { return m_attention; }
    // The alert rows shown now, in order.
    QList<AlertRow *> shownAlerts() const;
    int shownAlertDividers() const;
    Card *sessionCard() const { return m_sessionCard; }
    ShellText *hitRateText() const { return m_hitRate; }
    ShellText *servedText() const { return m_served; }
    SnowProgressBar *servedBar() const { return m_servedBar; }
    MetricTile *interceptedTile() const { return m_intercepted; }
    MetricTile *errorTile() const { return m_errors; }
    MetricTile *latencyTile() const { return m_latency; }
    ActivityGraph *pulseGraph() const { return m_pulse; }
    QList<RecentRow *> shownRecentRows() const;
    Card *simulateCard() const { return m_simulateCard; }
    SnowTag *injectingTag() const { return m_injecting; }
    ShellText *chaosOffText() const { return m_chaosOff; }
    ChipGrid *chipGrid() const { return m_chips; }
    QScrollArea *scrollArea() const { return m_scroll; }

protected:
    bool event(QEvent *event) override;
    // The window background, so the screen renders whole on its own.
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *buildFirstRun();
    QWidget *buildStatRow();
    QWidget *buildCtaStrip();
    Card *buildSetupCard();
    Card *buildAttention();
    Card *buildSessionCard();
    Card *buildSimulateCard();
    void run(DashboardLogic::Action action);
    void refreshStrip(bool hasTraffic);
    void refreshSetup();
    void refreshAlerts();
    void refreshSession(const DashboardLogic::TrafficMetrics &metrics);
    void refreshChaos();

    AppContext m_context;
    QScrollArea *m_scroll;
    FirstRunPanel *m_firstRun = nullptr;
    QWidget *m_statRow = nullptr;
    std::array<StatCard *, 4> m_stats{};
    QWidget *m_ctaStrip = nullptr;
    PrimaryButton *m_primary = nullptr;
    DashboardLogic::Action m_primaryAction = DashboardLogic::Action::none;
    KSButton *m_restart = nullptr;
    KSButton *m_stop = nullptr;
    SnowSelect *m_envSelect = nullptr;
    SnowTag *m_chaosTag = nullptr;
    StatusDot *m_statusDot = nullptr;
    ShellText *m_statusText = nullptr;
    Card *m_setupCard = nullptr;
    ShellText *m_setupCount = nullptr;
    SnowProgressBar *m_setupProgress = nullptr;
    std::array<StepRow *, DashboardLogic::StepCount> m_steps{};
    Card *m_attention = nullptr;
    std::array<AlertRow *, 4> m_alerts{};
    std::array<SnowDivider *, 3> m_alertDividers{};
    Card *m_sessionCard = nullptr;
    ShellText *m_hitRate = nullptr;
    ShellText *m_served = nullptr;
    SnowProgressBar *m_servedBar = nullptr;
    MetricTile *m_intercepted = nullptr;
    MetricTile *m_errors = nullptr;
    MetricTile *m_latency = nullptr;
    ActivityGraph *m_pulse = nullptr;
    std::array<RecentRow *, DashboardLogic::RecentCount> m_recent{};
    Card *m_simulateCard = nullptr;
    SnowTag *m_injecting = nullptr;
    ShellText *m_chaosOff = nullptr;
    ChipGrid *m_chips = nullptr;
    QList<QString> m_chipIds;
};
