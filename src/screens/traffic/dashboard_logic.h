// Pure decisions of the dashboard: statistics, traffic metrics, pulse, setup steps, alerts and texts.
#pragma once

#include "design/badges.h"
#include "engine/records/chaos_records.h"
#include "engine/records/environment_records.h"
#include "engine/records/route_records.h"
#include "engine/records/schema_records.h"
#include "engine/records/traffic_records.h"

#include <QColor>
#include <QList>
#include <QString>

#include <array>
#include <optional>

struct Palette;

namespace DashboardLogic {

inline constexpr int PulseCells = 24;
inline constexpr int RecentCount = 5;
inline constexpr int StepCount = 4;

// "<n> <word>", with a plural "s" unless n is exactly 1.
QString counted(qint64 count, const QString &word);

// served / total as a whole percentage, halves rounded up, in integer arithmetic (floating point
// shows 57 for 23 of 40); 0 without traffic.
int hitRate(qint64 served, qint64 total);
// served / total for the progress bar; 0 without traffic.
double servedFraction(qint64 served, qint64 total);
bool isErrorStatus(int status);

// A pulse cell's level for the number of entries in it: 0, 1, 2 (2-3), 3 (4-6), 4 (7 or more).
int pulseLevel(qint64 count);
// The traffic list cut by position into 24 chunks of ceil(n / 24) entries, oldest first.
std::array<int, PulseCells> pulse(qint64 entryCount);

struct TrafficMetrics
{
    qint64 total = 0;
    qint64 served = 0; // injected entries
    qint64 errors = 0; // status 400 and above
    int avgInjectedLatency = 0;
    std::array<int, PulseCells> pulse{};
    bool operator==(const TrafficMetrics &) const = default;
};
// The metrics from the session's running counts, which go on past the entries the traffic list keeps.
TrafficMetrics sessionMetrics(qint64 requests, qint64 injected, qint64 errors, qint64 injectedLatencyMs);
// The five newest entries (all of them when fewer), newest first.
QList<TrafficEntry> recentEntries(const QList<TrafficEntry> &traffic);

// "—" when 0, else the number followed by "ms".
QString latencyText(int averageMs);
QString servedText(qint64 served, qint64 total);

qint64 activeRouteCount(const QList<Endpoint> &endpoints);
std::optional<ChaosPreset> activeChaos(const QList<ChaosPreset> &presets, const QString &activeId);
QString statusSubline(bool proxyRunning, qint64 routeCount, int proxyPort);

// What a dashboard button does; the screen maps each to an engine or navigation call.
enum class Action {
    none,
    startProxy,
    restartProxy,
    stopProxy,
    openLiveTraffic,
    openDevices,
    openSchema,
    openEndpoints,
    trustCA,
    generateCA,
    stopChaos,
};

struct CallToAction
{
    QString title;
    QString icon;
    Action action = Action::none;
    bool operator==(const CallToAction &) const = default;
};
CallToAction primaryCTA(bool proxyRunning, bool hasTraffic);

struct SetupState
{
    qint64 routeCount = 0;
    qint64 trafficCount = 0;
    bool proxyRunning = false;
    int proxyPort = 0;
    bool caGenerated = false; // caInfo present and generated
    bool caTrustedOnMac = false;
};

bool caReady(const SetupState &state);

struct SetupStep
{
    int id = 0;
    QString icon;
    QString title;
    QString detail;
    bool done = false;
    QString actionLabel; // empty: no button
    Action action = Action::none;
    bool operator==(const SetupStep &) const = default;
};
std::array<SetupStep, StepCount> setupSteps(const SetupState &state);
int completedSteps(const std::array<SetupStep, StepCount> &steps);

struct AlertState
{
    std::optional<QString> activeChaosName;
    qint64 breakingChanges = 0;
    int unseenDrift = 0;
    qint64 forcedRoutes = 0;
    qint64 disabledRoutes = 0;
};
AlertState alertState(const std::optional<ChaosPreset> &activeChaos, const QList<SchemaDriftRecord> &drifts,
                      int unseenDrift, const QList<Endpoint> &endpoints);

struct AttentionItem
{
    QString id;
    QString icon;
    SnowTag::Tone tone = SnowTag::Tone::neutral;
    QString title;
    QString actionLabel;
    Action action = Action::none;
    bool operator==(const AttentionItem &) const = default;
};
// Zero to four, always in the order chaos, drift, forced, disabled.
QList<AttentionItem> alerts(const AlertState &state);

// Colour pairs beyond the palette (dark first): success green / #1F8A50, warning yellow / #9A6B1F.
QColor successInk(const Palette &palette);
QColor warningInk(const Palette &palette);
// Warning tone: warning ink; error tone: the error red; anything else: mutedForeground.
QColor alertColor(SnowTag::Tone tone, const Palette &palette);

// A chaos preset's symbol by its id (exact match), with a fallback for unknown ids.
QString chaosIcon(const QString &presetId);
// Columns of at least 210 with 12 between them that fit the width; at least one.
int chaosColumns(int width);

struct EnvEntry
{
    QString id;
    QString name;
    bool checked = false;
    bool operator==(const EnvEntry &) const = default;
};
QList<EnvEntry> envEntries(const QList<MockEnvironment> &environments, const QString &activeEnvID);

} // namespace DashboardLogic
