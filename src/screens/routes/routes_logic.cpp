// Filter, sections and row texts of the routes screen.
#include "screens/routes/routes_logic.h"

#include "app/route_tree.h"

#include <QFontMetricsF>

#include <algorithm>
#include <unordered_map>

namespace RoutesLogic {

QList<int> filterPositions(const QList<Endpoint> &routes, const QString &filter)
{
    QList<int> positions;
    positions.reserve(routes.size());
    const QString needle = filter.toLower();
    for (qsizetype i = 0; i < routes.size(); ++i) {
        if (RouteTree::matchesFilter(routes[i], needle))
            positions.append(int(i));
    }
    return positions;
}

QList<int> filterPositions(const QList<RouteTree::FilterText> &texts, const QString &filter)
{
    QList<int> positions;
    positions.reserve(texts.size());
    const QString needle = filter.toLower();
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (RouteTree::matchesFilter(texts[i], needle))
            positions.append(int(i));
    }
    return positions;
}

QList<Section> sections(const QList<Endpoint> &routes, const QList<int> &positions)
{
    struct Bucket
    {
        std::string label;
        QList<int> routes;
    };
    std::vector<Bucket> buckets;
    std::unordered_map<std::string_view, std::size_t> index;
    for (int position : positions) {
        const std::string_view label = RouteTree::sectionLabelView(routes[position]);
        auto found = index.find(label);
        if (found == index.end()) {
            found = index.emplace(label, buckets.size()).first;
            buckets.push_back(Bucket{std::string(label), {}});
        }
        buckets[found->second].routes.append(position);
    }
    std::stable_sort(buckets.begin(), buckets.end(),
                     [](const Bucket &a, const Bucket &b) { return RouteTree::labelLess(a.label, b.label); });
    QList<Section> result;
    result.reserve(qsizetype(buckets.size()));
    for (Bucket &bucket : buckets)
        result.append(Section{QString::fromStdString(bucket.label), std::move(bucket.routes)});
    return result;
}

namespace {

Listing listingOf(const QList<Endpoint> &routes, QList<int> filtered)
{
    Listing out;
    out.filtered = std::move(filtered);
    out.hasGroups = std::any_of(out.filtered.begin(), out.filtered.end(),
                                [&routes](int position) { return !routes[position].group.empty(); });
    if (out.hasGroups)
        out.sections = sections(routes, out.filtered);
    return out;
}

} // namespace

Listing listing(const QList<Endpoint> &routes, const QString &filter)
{
    return listingOf(routes, filterPositions(routes, filter));
}

Listing listing(const QList<Endpoint> &routes, const QList<RouteTree::FilterText> &texts, const QString &filter)
{
    return listingOf(routes, filterPositions(texts, filter));
}

ElidedAddress elideAddress(const QString &host, const QFont &hostFont, const QString &path, const QFont &pathFont,
                           qreal width)
{
    // The address as units (a character, or a surrogate pair) with their advances and their part.
    struct Unit
    {
        QString text;
        qreal advance;
        bool inHost;
    };
    std::vector<Unit> units;
    qreal total = 0;
    const auto add = [&](const QString &text, const QFont &font, bool inHost) {
        const QFontMetricsF metrics(font);
        for (qsizetype i = 0; i < text.size(); ++i) {
            const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
            const QString unit = text.mid(i, length);
            units.push_back(Unit{unit, metrics.horizontalAdvance(unit), inHost});
            total += units.back().advance;
            i += length - 1;
        }
    };
    add(host, hostFont, true);
    add(path, pathFont, false);
    if (total <= width)
        return ElidedAddress{host, path, false, {}, {}};

    const qreal budget = qMax<qreal>(0, width - QFontMetricsF(pathFont).horizontalAdvance(QStringLiteral("…")));
    // Half the room for the start; what the start leaves unused goes to the end.
    std::size_t front = 0;
    qreal used = 0;
    while (front < units.size() && used + units[front].advance <= budget / 2) {
        used += units[front].advance;
        ++front;
    }
    std::size_t back = units.size();
    while (back > front && used + units[back - 1].advance <= budget) {
        used += units[back - 1].advance;
        --back;
    }
    ElidedAddress out;
    out.elided = true;
    for (std::size_t i = 0; i < front; ++i)
        (units[i].inHost ? out.hostStart : out.pathStart) += units[i].text;
    for (std::size_t i = back; i < units.size(); ++i)
        (units[i].inHost ? out.hostEnd : out.pathEnd) += units[i].text;
    return out;
}

QString latencyText(int latencyMs)
{
    return QString::number(latencyMs) + QStringLiteral("ms");
}

QColor latencyColor(int latencyMs, const Palette &palette)
{
    if (latencyMs <= 1000)
        return palette.mutedForeground;
    return palette.isDark ? Palette::yellow() : QColor(154, 107, 31);
}

QString noMatchTitle(const QString &filter)
{
    return QStringLiteral("No routes match “") + filter + QStringLiteral("”");
}

} // namespace RoutesLogic
