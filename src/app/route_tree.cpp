// Host blocks, group sections, dominant method and initials.
#include "app/route_tree.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <array>
#include <unordered_map>

namespace RouteTree {

namespace {

// Groups route positions by a key in order of first appearance; keys are views into the routes.
template <typename KeyOf>
QList<PositionBlock> blocksBy(const QList<Endpoint> &routes, KeyOf keyOf)
{
    QList<PositionBlock> blocks;
    std::unordered_map<std::string_view, qsizetype> index;
    for (qsizetype i = 0; i < routes.size(); ++i) {
        const std::string_view key = keyOf(routes[i]);
        auto found = index.find(key);
        if (found == index.end()) {
            found = index.emplace(key, blocks.size()).first;
            blocks.append(PositionBlock{std::string(key), {}});
        }
        blocks[found->second].positions.append(int(i));
    }
    return blocks;
}

QList<Block> copiedRoutes(const QList<Endpoint> &routes, const QList<PositionBlock> &blocks)
{
    QList<Block> result;
    result.reserve(blocks.size());
    for (const PositionBlock &block : blocks) {
        Block copy{block.label, {}};
        copy.routes.reserve(block.positions.size());
        for (int position : block.positions)
            copy.routes.append(routes[position]);
        result.append(std::move(copy));
    }
    return result;
}

QByteArray composed(const std::string &text)
{
    return QString::fromStdString(text).normalized(QString::NormalizationForm_C).toUtf8();
}

// The first user-perceived characters of a word.
QString leadingGraphemes(const QString &word, int count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, word);
    qsizetype end = 0;
    for (int i = 0; i < count; ++i) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            break;
        end = next;
    }
    return word.left(end);
}

} // namespace

QList<PositionBlock> hostGroupPositions(const QList<Endpoint> &routes)
{
    return blocksBy(routes, [](const Endpoint &route) { return std::string_view(route.host); });
}

QList<Block> hostGroups(const QList<Endpoint> &routes)
{
    return copiedRoutes(routes, hostGroupPositions(routes));
}

bool hasGroups(const QList<Endpoint> &routes)
{
    return std::any_of(routes.begin(), routes.end(), [](const Endpoint &route) { return !route.group.empty(); });
}

std::string_view sectionLabelView(const Endpoint &route)
{
    return route.group.empty() ? std::string_view(ungroupedLabel) : std::string_view(route.group);
}

std::string sectionLabel(const Endpoint &route)
{
    return std::string(sectionLabelView(route));
}

bool labelLess(const std::string &a, const std::string &b)
{
    if (a == ungroupedLabel)
        return false;
    if (b == ungroupedLabel)
        return true;
    // UTF-8 byte order is code point order.
    const QByteArray ca = composed(a);
    const QByteArray cb = composed(b);
    if (ca != cb)
        return ca < cb;
    return a < b;
}

QList<PositionBlock> groupSectionPositions(const QList<Endpoint> &routes)
{
    QList<PositionBlock> sections = blocksBy(routes, sectionLabelView);
    std::stable_sort(sections.begin(), sections.end(),
                     [](const PositionBlock &a, const PositionBlock &b) { return labelLess(a.label, b.label); });
    return sections;
}

QList<Block> groupSections(const QList<Endpoint> &routes)
{
    return copiedRoutes(routes, groupSectionPositions(routes));
}

FilterText filterText(const Endpoint &route)
{
    return filterText(QString::fromStdString(route.path), QString::fromStdString(route.host), route.method);
}

FilterText filterText(const QString &path, const QString &host, HTTPMethod method)
{
    return FilterText{path.toLower(), host.toLower(), QString::fromLatin1(rawValue(method)).toLower()};
}

bool matchesFilter(const FilterText &text, const QString &loweredFilter)
{
    // Path, host, method: the first hit decides.
    return loweredFilter.isEmpty() || text.path.contains(loweredFilter) || text.host.contains(loweredFilter)
           || text.method.contains(loweredFilter);
}

bool matchesFilter(const Endpoint &route, const QString &loweredFilter)
{
    return loweredFilter.isEmpty() || matchesFilter(filterText(route), loweredFilter);
}

QList<Endpoint> filtered(const QList<Endpoint> &routes, const QString &filter)
{
    if (filter.isEmpty())
        return routes;
    const QString needle = filter.toLower();
    QList<Endpoint> result;
    for (const Endpoint &route : routes) {
        if (matchesFilter(route, needle))
            result.append(route);
    }
    return result;
}

namespace {

using MethodCounts = std::array<int, allHTTPMethods.size()>;

HTTPMethod mostCounted(const MethodCounts &counts)
{
    HTTPMethod best = HTTPMethod::GET;
    int bestCount = -1;
    for (HTTPMethod method : allHTTPMethods) {
        const int count = counts[static_cast<size_t>(method)];
        if (count > bestCount) {
            best = method;
            bestCount = count;
        }
    }
    return best;
}

} // namespace

HTTPMethod dominantMethod(const QList<Endpoint> &routes)
{
    MethodCounts counts{};
    for (const Endpoint &route : routes)
        ++counts[static_cast<size_t>(route.method)];
    return mostCounted(counts);
}

HTTPMethod dominantMethod(const QList<Endpoint> &routes, const QList<int> &positions)
{
    MethodCounts counts{};
    for (int position : positions)
        ++counts[static_cast<size_t>(routes[position].method)];
    return mostCounted(counts);
}

QString initials(const QString &name)
{
    // Only U+0020 separates words: tabs and line ends stay inside a word.
    const QStringList words = name.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QString letters;
    if (words.isEmpty())
        return QStringLiteral("?");
    if (words.size() >= 2)
        letters = leadingGraphemes(words[0], 1) + leadingGraphemes(words[1], 1);
    else
        letters = leadingGraphemes(words[0], 2);
    return letters.toUpper();
}

} // namespace RouteTree
