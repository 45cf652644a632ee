// Dashboard decisions, kept apart from the widgets so they can be tested alone.
#include "screens/traffic/dashboard_logic.h"

#include "design/palette.h"

#include <algorithm>

namespace DashboardLogic {

QString counted(qint64 count, const QString &word)
{
    return QString::number(count) + QLatin1Char(' ') + word + (count == 1 ? QString() : QStringLiteral("s"));
}

int hitRate(qint64 served, qint64 total)
{
    if (total <= 0)
        return 0;
    return int((200 * served + total) / (2 * total));
}

double servedFraction(qint64 served, qint64 total)
{
    return total <= 0 ? 0.0 : double(served) / double(total);
}

bool isErrorStatus(int status)
{
    return status > 399;
}

int pulseLevel(qint64 count)
{
    if (count <= 1)
        return int(std::max<qint64>(count, 0));
    if (count <= 3)
        return 2;
    if (count <= 6)
        return 3;
    return 4;
}

std::array<int, PulseCells> pulse(qint64 entryCount)
{
    std::array<int, PulseCells> levels{};
    if (entryCount <= 0)
        return levels;
    const qint64 chunk = std::max<qint64>(1, (entryCount + PulseCells - 1) / PulseCells);
    for (int i = 0; i < PulseCells; ++i) {
        const qint64 start = i * chunk;
        const qint64 end = std::min<qint64>((i + 1) * chunk, entryCount);
        levels[std::size_t(i)] = pulseLevel(start < end ? end - start : 0);
    }
    return levels;
}

TrafficMetrics sessionMetrics(qint64 requests, qint64 injected, qint64 errors, qint64 injectedLatencyMs)
{
    TrafficMetrics metrics;
    metrics.total = requests;
    metrics.served = injected;
    metrics.errors = errors;
    metrics.avgInjectedLatency = injected > 0 ? int(injectedLatencyMs / injected) : 0;
    metrics.pulse = pulse(requests);
    return metrics;
}

QList<TrafficEntry> recentEntries(const QList<TrafficEntry> &traffic)
{
    QList<TrafficEntry> recent;
    for (qsizetype i = traffic.size() - 1; i >= 0 && recent.size() < RecentCount; --i)
        recent.append(traffic[i]);
    return recent;
}

QString latencyText(int averageMs)
{
    return averageMs == 0 ? QStringLiteral("\u2014") : QString::number(averageMs) + QStringLiteral("ms");
}

QString servedText(qint64 served, qint64 total)
{
    return QString::number(served) + QStringLiteral(" of ") + QString::number(total)
           + QStringLiteral(" served from mocks");
}

qint64 activeRouteCount(const QList<Endpoint> &endpoints)
{
    return std::count_if(endpoints.begin(), endpoints.end(), [](const Endpoint &e) { return e.active; });
}

std::optional<ChaosPreset> activeChaos(const QList<ChaosPreset> &presets, const QString &activeId)
{
    const std::string id = activeId.toStdString();
    for (const ChaosPreset &preset : presets) {
        if (preset.id == id)
            return preset;
    }
    return std::nullopt;
}

QString statusSubline(bool proxyRunning, qint64 routeCount, int proxyPort)
{
    if (proxyRunning)
        return QStringLiteral("Intercepting requests \u00b7 ") + counted(routeCount, QStringLiteral("route"))
               + QStringLiteral(" armed");
    return counted(routeCount, QStringLiteral("route")) + QStringLiteral(" ready \u00b7 start to intercept on :")
           + QString::number(proxyPort);
}

CallToAction primaryCTA(bool proxyRunning, bool hasTraffic)
{
    if (proxyRunning && hasTraffic)
        return {QStringLiteral("View live traffic"), QStringLiteral("waveform.path.ecg"), Action::openLiveTraffic};
    if (proxyRunning)
        return {QStringLiteral("Connect a device"), QStringLiteral("iphone"), Action::openDevices};
    return {QStringLiteral("Start proxy"), QStringLiteral("bolt.fill"), Action::startProxy};
}

bool caReady(const SetupState &state)
{
    return state.caGenerated && state.caTrustedOnMac;
}

std::array<SetupStep, StepCount> setupSteps(const SetupState &state)
{
    const QString port = QString::number(state.proxyPort);
    std::array<SetupStep, StepCount> steps;

    steps[0] = {0, QStringLiteral("square.and.arrow.down"), QStringLiteral("Load mock routes"),
                counted(state.routeCount, QStringLiteral("route")) + QStringLiteral(" armed"), true, {}, Action::none};

    steps[1] = {1, QStringLiteral("bolt.fill"), QStringLiteral("Start the proxy"),
                state.proxyRunning ? QStringLiteral("Live on :") + port : QStringLiteral("Intercept traffic on :") + port,
                state.proxyRunning, {}, Action::none};
    if (!state.proxyRunning) {
        steps[1].actionLabel = QStringLiteral("Start");
        steps[1].action = Action::startProxy;
    }

    const bool ready = caReady(state);
    steps[2] = {2, QStringLiteral("lock.shield"), QStringLiteral("Trust HTTPS"),
                ready                ? QStringLiteral("Root CA trusted on this computer")
                : state.caGenerated ? QStringLiteral("Trust the root CA to decrypt HTTPS")
                                     : QStringLiteral("Generate a root CA for HTTPS"),
                ready, {}, Action::none};
    if (!ready) {
        steps[2].actionLabel = state.caGenerated ? QStringLiteral("Trust") : QStringLiteral("Generate");
        steps[2].action = state.caGenerated ? Action::trustCA : Action::generateCA;
    }

    const bool seen = state.trafficCount > 0;
    steps[3] = {3, QStringLiteral("iphone"), QStringLiteral("Point a device at the proxy"),
                seen ? counted(state.trafficCount, QStringLiteral("request")) + QStringLiteral(" intercepted")
                     : QStringLiteral("Route a device or simulator through :") + port,
                seen, {}, Action::none};
    if (!seen) {
        steps[3].actionLabel = QStringLiteral("Set up");
        steps[3].action = Action::openDevices;
    }
    return steps;
}

int completedSteps(const std::array<SetupStep, StepCount> &steps)
{
    return int(std::count_if(steps.begin(), steps.end(), [](const SetupStep &s) { return s.done; }));
}

AlertState alertState(const std::optional<ChaosPreset> &activeChaos, const QList<SchemaDriftRecord> &drifts,
                      int unseenDrift, const QList<Endpoint> &endpoints)
{
    AlertState state;
    if (activeChaos)
        state.activeChaosName = QString::fromStdString(activeChaos->name);
    for (const SchemaDriftRecord &record : drifts)
        state.breakingChanges += record.breaking();
    state.unseenDrift = unseenDrift;
    for (const Endpoint &endpoint : endpoints) {
        if (endpoint.override != ErrorOverride::ok)
            ++state.forcedRoutes;
        if (!endpoint.active)
            ++state.disabledRoutes;
    }
    return state;
}

QList<AttentionItem> alerts(const AlertState &state)
{
    QList<AttentionItem> items;
    const QString dash = QStringLiteral(" \u2014 ");
    if (state.activeChaosName)
        items.append({QStringLiteral("chaos"), QStringLiteral("tornado"), SnowTag::Tone::error,
                      QStringLiteral("Chaos injection active") + dash + *state.activeChaosName, QStringLiteral("Stop"),
                      Action::stopChaos});
    if (state.breakingChanges >= 1 || state.unseenDrift >= 1)
        items.append({QStringLiteral("drift"), QStringLiteral("arrow.triangle.branch"), SnowTag::Tone::warning,
                      QStringLiteral("Schema drift detected") + dash
                          + counted(std::max<qint64>(state.unseenDrift, state.breakingChanges), QStringLiteral("change")),
                      QStringLiteral("Review"), Action::openSchema});
    if (state.forcedRoutes >= 1)
        items.append({QStringLiteral("forced"), QStringLiteral("exclamationmark.triangle"), SnowTag::Tone::warning,
                      counted(state.forcedRoutes, QStringLiteral("route")) + QStringLiteral(" forced to return errors"),
                      QStringLiteral("Review"), Action::openEndpoints});
    if (state.disabledRoutes >= 1)
        items.append({QStringLiteral("disabled"), QStringLiteral("pause.circle"), SnowTag::Tone::neutral,
                      counted(state.disabledRoutes, QStringLiteral("route")) + QStringLiteral(" disabled"),
                      QStringLiteral("Review"), Action::openEndpoints});
    return items;
}

QColor successInk(const Palette &palette)
{
    return palette.isDark ? Palette::green() : QColor(0x1F, 0x8A, 0x50);
}

QColor warningInk(const Palette &palette)
{
    return palette.isDark ? Palette::yellow() : QColor(0x9A, 0x6B, 0x1F);
}

QColor alertColor(SnowTag::Tone tone, const Palette &palette)
{
    if (tone == SnowTag::Tone::warning)
        return warningInk(palette);
    if (tone == SnowTag::Tone::error)
        return palette.errorRed();
    return palette.mutedForeground;
}

QString chaosIcon(const QString &presetId)
{
    if (presetId == QLatin1String("flaky-network"))
        return QStringLiteral("wifi.exclamationmark");
    if (presetId == QLatin1String("broken-backend"))
        return QStringLiteral("exclamationmark.triangle.fill");
    if (presetId == QLatin1String("rate-limited"))
        return QStringLiteral("gauge.with.dots.needle.33percent");
    if (presetId == QLatin1String("slow-3g"))
        return QStringLiteral("tortoise.fill");
    return QStringLiteral("bolt.trianglebadge.exclamationmark");
}

int chaosColumns(int width)
{
    constexpr int minimum = 210;
    constexpr int gap = 12;
    return std::max(1, (width + gap) / (minimum + gap));
}

QList<EnvEntry> envEntries(const QList<MockEnvironment> &environments, const QString &activeEnvID)
{
    QList<EnvEntry> entries;
    for (const MockEnvironment &environment : environments) {
        const QString id = QString::fromStdString(environment.id);
        entries.append({id, QString::fromStdString(environment.name), id == activeEnvID});
    }
    return entries;
}

} // namespace DashboardLogic
