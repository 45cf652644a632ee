// Host blocks, group sections, dominant method and initials.
#include "app/route_tree.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <array>
#include <unordered_map>

namespace RouteTree {

namespace {

// Groups routes by a key in order of first appearance.
template <typename KeyOf>
QList<Block> blocksBy(const QList<Endpoint> &routes, KeyOf keyOf)
{
    QList<Block> blocks;
    std::unordered_map<std::string, qsizetype> index;
    for (const Endpoint &route : routes) {
        std::string key = keyOf(route);
        auto found = index.find(key);
        if (found == index.end()) {
            found = index.emplace(key, blocks.size()).first;
            blocks.append(Block{std::move(key), {}});
        }
        blocks[found->second].routes.append(route);
    }
    return blocks;
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

QList<Block> hostGroups(const QList<Endpoint> &routes)
{
    return blocksBy(routes, [](const Endpoint &route) { return route.host; });
}

bool hasGroups(const QList<Endpoint> &routes)
{
    return std::any_of(routes.begin(), routes.end(), [](const Endpoint &route) { return !route.group.empty(); });
}

std::string sectionLabel(const Endpoint &route)
{
    return route.group.empty() ? std::string(ungroupedLabel) : route.group;
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

QList<Block> groupSections(const QList<Endpoint> &routes)
{
    QList<Block> sections = blocksBy(routes, sectionLabel);
    std::stable_sort(sections.begin(), sections.end(),
                     [](const Block &a, const Block &b) { return labelLess(a.label, b.label); });
    return sections;
}

FilterText filterText(const Endpoint &route)
{
    return FilterText{QString::fromStdString(route.path).toLower(), QString::fromStdString(route.host).toLower(),
                      QString::fromLatin1(rawValue(route.method)).toLower()};
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

HTTPMethod dominantMethod(const QList<Endpoint> &routes)
{
    std::array<int, allHTTPMethods.size()> counts{};
    for (const Endpoint &route : routes)
        ++counts[static_cast<size_t>(route.method)];
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
