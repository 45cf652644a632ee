// The traffic screens' pure decisions.
#include "screens/traffic/traffic_logic.h"

#include "design/palette.h"
#include "engine/records/route_records.h"

#include <algorithm>

namespace trafficlogic {

namespace {

QString q(const std::string &text)
{
    return QString::fromStdString(text);
}

QString joined(const std::optional<std::vector<std::string>> &types, const char *separator)
{
    QStringList parts;
    if (types)
        for (const std::string &type : *types)
            parts.append(q(type));
    return parts.join(QLatin1String(separator));
}

} // namespace

bool liveEntryMatches(const TrafficEntry &entry, const QString &filter)
{
    if (filter.isEmpty())
        return true;
    if (q(entry.path).contains(filter, Qt::CaseInsensitive))
        return true;
    if (q(entry.host).contains(filter, Qt::CaseInsensitive))
        return true;
    if (QString::number(entry.status).contains(filter))
        return true;
    const std::string_view method = rawValue(entry.method);
    return QString::fromLatin1(method.data(), qsizetype(method.size())).contains(filter, Qt::CaseInsensitive);
}

QColor warningInk(const Palette &palette)
{
    return palette.isDark ? Palette::yellow() : QColor(154, 107, 31);
}

QColor latencyColor(int latencyMs, const Palette &palette)
{
    return latencyMs > 1000 ? warningInk(palette) : palette.mutedForeground;
}

QString badgeMethod(const std::string &method)
{
    const QString upper = q(method).toUpper();
    const std::optional<HTTPMethod> known = httpMethodFromRaw(upper.toStdString());
    return known ? upper : QStringLiteral("GET");
}

QString noMatchTitle(const QString &filter)
{
    return QStringLiteral("No entries match \u201C") + filter + QStringLiteral("\u201D");
}

QString waitingText(int proxyPort)
{
    return QStringLiteral("Waiting for traffic \u2014 send a request through localhost:") + QString::number(proxyPort)
           + QStringLiteral(" and it appears here.");
}

QString historyEmptyMessage(int proxyPort)
{
    return QStringLiteral("Requests through localhost:") + QString::number(proxyPort)
           + QStringLiteral(" are recorded here.");
}

QString baselinesEmptyMessage(int proxyPort)
{
    return QStringLiteral("Pass JSON traffic through localhost:") + QString::number(proxyPort)
           + QStringLiteral("; successful responses train a per-route schema.");
}

QString driftEmptyMessage()
{
    return QStringLiteral("Responses are matched against a baseline learned from the first ")
           + QString::number(TrainingSamples) + QStringLiteral(" samples per route.");
}

QList<QPair<QString, QString>> sortedHeaders(const std::optional<std::map<std::string, std::string>> &headers)
{
    QList<QPair<QString, QString>> rows;
    if (!headers)
        return rows;
    // std::map already orders its keys by plain byte comparison.
    for (const auto &[name, value] : *headers)
        rows.append({q(name), q(value)});
    return rows;
}

std::vector<SchemaBaseline> sortedBaselines(const std::vector<SchemaBaseline> &baselines)
{
    std::vector<SchemaBaseline> sorted = baselines;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const SchemaBaseline &a, const SchemaBaseline &b) { return a.key < b.key; });
    return sorted;
}

QList<FieldLine> fieldLines(const SchemaBaseline &baseline)
{
    QList<FieldLine> lines;
    if (!baseline.sketch)
        return lines;
    for (const auto &[path, field] : baseline.sketch->paths) {
        QStringList types;
        for (const std::string &type : field.types)
            types.append(q(type));
        lines.append({q(path), types.join(QStringLiteral(" | ")), field.present < baseline.sketch->samples});
    }
    return lines;
}

int fieldCount(const SchemaBaseline &baseline)
{
    return baseline.sketch ? int(baseline.sketch->paths.size()) : 0;
}

QString stateChipText(const SchemaBaseline &baseline)
{
    if (baseline.locked)
        return QStringLiteral("watching");
    return QStringLiteral("learning ") + QString::number(baseline.samples) + QLatin1Char('/')
           + QString::number(TrainingSamples);
}

QColor severityDotColor(const std::string &severity)
{
    if (severity == "breaking")
        return Palette::red();
    if (severity == "warning")
        return Palette::yellow();
    return Palette::purple();
}

QColor severityInk(const std::string &severity, const Palette &palette)
{
    if (severity == "breaking")
        return palette.isDark ? QColor(0xFF, 0x6B, 0x6B) : QColor(0xE0, 0x31, 0x31);
    if (severity == "warning")
        return warningInk(palette);
    return palette.isDark ? Palette::blue() : QColor(0x35, 0x63, 0xE9);
}

TransitionChips transitionChips(const SchemaChange &change)
{
    TransitionChips chips;
    const QString before = joined(change.baseline, "|");
    const QString after = joined(change.actual, "|");
    if (!before.isEmpty() && !after.isEmpty()) {
        chips.before = before;
        chips.after = after;
        chips.arrow = true;
    } else if (const std::optional<std::string> transition = change.transition()) {
        chips.after = q(*transition);
    }
    return chips;
}

QString breakingTag(int count)
{
    return QString::number(count) + QStringLiteral(" breaking");
}

QString warningTag(int count)
{
    return QString::number(count) + QStringLiteral(" warning");
}

} // namespace trafficlogic
