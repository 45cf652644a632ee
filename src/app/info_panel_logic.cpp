// Activity buckets, flagged routes and the Info and Links tab texts.
#include "app/info_panel_logic.h"

#include "design/palette.h"

#include <algorithm>
#include <cmath>

namespace InfoPanel {

int activityLevel(qsizetype count)
{
    if (count <= 1)
        return int(std::max<qsizetype>(count, 0));
    if (count <= 3)
        return 2;
    if (count <= 6)
        return 3;
    return 4;
}

std::array<int, activityColumns> activityLevels(qsizetype trafficCount)
{
    std::array<int, activityColumns> levels{};
    if (trafficCount <= 0)
        return levels;
    const qsizetype size = std::max<qsizetype>(1, qsizetype(std::ceil(double(trafficCount) / activityColumns)));
    for (int i = 0; i < activityColumns; ++i) {
        const qsizetype lo = i * size;
        const qsizetype hi = std::min((i + 1) * size, trafficCount);
        levels[i] = activityLevel(lo < hi ? hi - lo : 0);
    }
    return levels;
}

bool isFlagged(const Endpoint &route)
{
    return route.status > 399 || route.override != ErrorOverride::ok || !route.sequence.empty() || !route.active;
}

QList<Endpoint> flagged(const QList<Endpoint> &routes)
{
    QList<Endpoint> result;
    for (const Endpoint &route : routes) {
        if (isFlagged(route))
            result.append(route);
    }
    return result;
}

QString engineText(const EngineStatus &status, bool proxyRunning)
{
    if (proxyRunning)
        return QStringLiteral("Live");
    switch (status.kind()) {
    case EngineStatus::Kind::Stopped: return QStringLiteral("Stopped");
    case EngineStatus::Kind::Starting: return QStringLiteral("Starting…");
    case EngineStatus::Kind::Healthy: return QStringLiteral("Healthy");
    case EngineStatus::Kind::Error: return QStringLiteral("Error");
    }
    return {};
}

QColor engineDotColor(const EngineStatus &status)
{
    switch (status.kind()) {
    case EngineStatus::Kind::Stopped: return QColor(142, 142, 147, 128); // the standard grey at 0.5
    case EngineStatus::Kind::Starting: return Palette::amber();
    case EngineStatus::Kind::Healthy: return Palette::success();
    case EngineStatus::Kind::Error: return Palette::danger();
    }
    return {};
}

std::optional<QString> activeChaosName(const QList<ChaosPreset> &presets, const QString &activeId)
{
    const std::string id = activeId.toStdString();
    for (const ChaosPreset &preset : presets) {
        if (preset.id == id)
            return QString::fromStdString(preset.name);
    }
    return std::nullopt;
}

QString proxyCommand(int proxyPort)
{
    return QStringLiteral("curl -x localhost:") + QString::number(proxyPort) + QStringLiteral(" http://<host>/<path>");
}

int proxyCommandKeptLength(const QString &command)
{
    const qsizetype url = command.indexOf(QLatin1Char(' '), command.indexOf(QLatin1String("localhost:")));
    return url < 0 ? 0 : int(url);
}

QString hostLink(const QString &host)
{
    return QStringLiteral("http://") + host;
}

} // namespace InfoPanel
