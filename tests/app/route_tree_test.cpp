// Host blocks, group sections and their order, dominant method and initials.
#include "app/route_tree.h"

#include "app/qt_printers.h"
#include "app/test_routes.h"

#include <gtest/gtest.h>

namespace {

using testroutes::route;

QStringList labels(const QList<RouteTree::Block> &blocks)
{
    QStringList out;
    for (const auto &b : blocks)
        out << b.title();
    return out;
}

QStringList ids(const QList<Endpoint> &routes)
{
    QStringList out;
    for (const auto &r : routes)
        out << QString::fromStdString(r.id);
    return out;
}

} // namespace

TEST(RouteTreeHosts, FirstAppearanceOrderWithRoutesInListOrder)
{
    const auto blocks = RouteTree::hostGroups({route("1", "B"), route("2", "A"), route("3", "B")});
    EXPECT_EQ(labels(blocks), (QStringList{"B", "A"}));
    EXPECT_EQ(ids(blocks[0].routes), (QStringList{"1", "3"}));
    EXPECT_EQ(ids(blocks[1].routes), (QStringList{"2"}));
}

TEST(RouteTreeHosts, ExactStringsIncludingCaseAndEmpty)
{
    const auto blocks = RouteTree::hostGroups({route("1", "api.x"), route("2", ""), route("3", "API.x"),
                                               route("4", "")});
    EXPECT_EQ(labels(blocks), (QStringList{"api.x", "", "API.x"}));
    EXPECT_EQ(ids(blocks[1].routes), (QStringList{"2", "4"}));
    EXPECT_TRUE(RouteTree::hostGroups({}).isEmpty());
}

TEST(RouteTreeGroups, UpperCaseBeforeLowerCaseAndUngroupedLast)
{
    const QList<Endpoint> routes = {route("1", "h", "beta"), route("2", "h", ""), route("3", "h", "Alpha"),
                                    route("4", "h", "alpha")};
    EXPECT_TRUE(RouteTree::hasGroups(routes));
    EXPECT_EQ(labels(RouteTree::groupSections(routes)), (QStringList{"Alpha", "alpha", "beta", "Ungrouped"}));
}

TEST(RouteTreeGroups, LiteralUngroupedJoinsTheUngroupedSection)
{
    const QList<Endpoint> routes = {route("1", "h", "Ungrouped"), route("2", "h", "zeta"), route("3", "h", "")};
    const auto sections = RouteTree::groupSections(routes);
    EXPECT_EQ(labels(sections), (QStringList{"zeta", "Ungrouped"}));
    EXPECT_EQ(ids(sections[1].routes), (QStringList{"1", "3"}));
}

TEST(RouteTreeGroups, SingleSpaceIsAGroupOfItsOwn)
{
    const QList<Endpoint> routes = {route("1", "h", " "), route("2", "h", "")};
    EXPECT_TRUE(RouteTree::hasGroups(routes));
    EXPECT_EQ(labels(RouteTree::groupSections(routes)), (QStringList{" ", "Ungrouped"}));
    EXPECT_FALSE(RouteTree::hasGroups({route("1", "h", ""), route("2", "h", "")}));
}

TEST(RouteTreeGroups, CodePointOrderBeyondTheBasicPlaneAndComposedForms)
{
    // U+FF21 (fullwidth A) sorts before U+1F680 (rocket) by code point, though not in UTF-16 order.
    const std::string rocket = "\xF0\x9F\x9A\x80";
    const std::string fullwidthA = "\xEF\xBC\xA1";
    EXPECT_TRUE(RouteTree::labelLess(fullwidthA, rocket));
    EXPECT_FALSE(RouteTree::labelLess(rocket, fullwidthA));
    // "é" composed and decomposed compare by their composed form, then stay in a fixed order.
    const std::string composed = "caf\xC3\xA9";
    const std::string decomposed = "cafe\xCC\x81";
    EXPECT_TRUE(RouteTree::labelLess(composed, "cafz") == RouteTree::labelLess(decomposed, "cafz"));
    EXPECT_NE(RouteTree::labelLess(composed, decomposed), RouteTree::labelLess(decomposed, composed));
    EXPECT_FALSE(RouteTree::labelLess("Ungrouped", "Ungrouped"));
    EXPECT_TRUE(RouteTree::labelLess("zzz", "Ungrouped"));
}

TEST(RouteTreeDominantMethod, MostUsedWinsAndTiesGoToDeclaredOrder)
{
    using M = HTTPMethod;
    EXPECT_EQ(RouteTree::dominantMethod({}), M::GET);
    EXPECT_EQ(RouteTree::dominantMethod({route("1", "h", "", M::GET), route("2", "h", "", M::POST),
                                         route("3", "h", "", M::GET), route("4", "h", "", M::GET)}),
              M::GET);
    EXPECT_EQ(RouteTree::dominantMethod({route("1", "h", "", M::DELETE), route("2", "h", "", M::PATCH),
                                         route("3", "h", "", M::PATCH)}),
              M::PATCH);
    // Two GET and two POST: GET, declared first; met in the other order still GET.
    EXPECT_EQ(RouteTree::dominantMethod({route("1", "h", "", M::POST), route("2", "h", "", M::POST),
                                         route("3", "h", "", M::GET), route("4", "h", "", M::GET)}),
              M::GET);
    EXPECT_EQ(RouteTree::dominantMethod({route("1", "h", "", M::CONNECT), route("2", "h", "", M::PUT)}), M::PUT);
}

TEST(RouteTreeInitials, WordsSpacesAndGraphemes)
{
    EXPECT_EQ(RouteTree::initials("alpha"), "AL");
    EXPECT_EQ(RouteTree::initials("x"), "X");
    EXPECT_EQ(RouteTree::initials("  alpha   beta gamma "), "AB");
    EXPECT_EQ(RouteTree::initials("alpha\tbeta"), "AL");
    EXPECT_EQ(RouteTree::initials(QString::fromUtf8("\xF0\x9F\x9A\x80 launch")), QString::fromUtf8("\xF0\x9F\x9A\x80L"));
    EXPECT_EQ(RouteTree::initials(QString::fromUtf8("\xC3\x9F")), "SS");
    EXPECT_EQ(RouteTree::initials(""), "?");
    EXPECT_EQ(RouteTree::initials("   "), "?");
    EXPECT_EQ(RouteTree::initials("Kestrion"), "KE");
    // A letter with a combining mark is one character.
    EXPECT_EQ(RouteTree::initials(QString::fromUtf8("e\xCC\x81z")), QString::fromUtf8("E\xCC\x81Z"));
}
