// Command palette matching and what Return opens.
#include "app/command_palette_logic.h"

#include "app/qt_printers.h"
#include "app/test_routes.h"

#include <gtest/gtest.h>

using namespace PaletteSearch;

namespace {

using testroutes::route;

const QList<Endpoint> &routes = testroutes::paletteRoutes;

} // namespace

TEST(PaletteMatching, EmptyQueryListsEveryScreenAndRoute)
{
    EXPECT_EQ(navResults("").size(), 7);
    EXPECT_EQ(routeResults(routes, "").size(), 3);
}

TEST(PaletteMatching, ScreenTitlesMatchCaseInsensitively)
{
    EXPECT_EQ(navResults("his"), (QList<NavItem>{NavItem::history}));
    EXPECT_EQ(navResults("TRAFF"), (QList<NavItem>{NavItem::liveTraffic}));
    EXPECT_EQ(navResults(" "), (QList<NavItem>{NavItem::liveTraffic, NavItem::schema}));
    EXPECT_TRUE(navResults("get").isEmpty());
}

TEST(PaletteMatching, RoutesMatchPathHostOrMethodLowerCased)
{
    auto idsOf = [](const QList<Endpoint> &list) {
        QStringList out;
        for (const auto &r : list)
            out << QString::fromStdString(r.id);
        return out;
    };
    EXPECT_EQ(idsOf(routeResults(routes, "GET")), (QStringList{"r2"}));
    EXPECT_EQ(idsOf(routeResults(routes, "get")), (QStringList{"r2"}));
    EXPECT_EQ(idsOf(routeResults(routes, "SHELF")), (QStringList{"r3"}));
    EXPECT_EQ(idsOf(routeResults(routes, "ITEMS")), (QStringList{"r3"}));
    EXPECT_EQ(idsOf(routeResults(routes, "acme")), (QStringList{"r1", "r2"}));
    EXPECT_EQ(idsOf(routeResults(routes, "o")), (QStringList{"r1", "r2"}));
    EXPECT_TRUE(routeResults(routes, " ").isEmpty());
}

TEST(PaletteActivateFirst, OnlyScreensMatchOpensTheScreen)
{
    const QString q = "his";
    EXPECT_EQ(activateFirst(navResults(q), routeResults(routes, q), q), Activation(OpenScreen{NavItem::history}));
}

TEST(PaletteActivateFirst, RouteWinsWhenBothMatch)
{
    // "de" is in "Devices" and in the hosts "api.acme.dev" and "cdn.acme.dev".
    const QString q = "de";
    ASSERT_FALSE(navResults(q).isEmpty());
    EXPECT_EQ(activateFirst(navResults(q), routeResults(routes, q), q), Activation(OpenRoute{"r1"}));
}

TEST(PaletteActivateFirst, EmptyQueryOpensFirstRouteOrDashboard)
{
    EXPECT_EQ(activateFirst(navResults(""), routeResults(routes, ""), ""), Activation(OpenRoute{"r1"}));
    EXPECT_EQ(activateFirst(navResults(""), routeResults({}, ""), ""), Activation(OpenScreen{NavItem::dashboard}));
}

TEST(PaletteActivateFirst, NothingMatchesDoesNothing)
{
    const QString q = "zzz";
    EXPECT_TRUE(std::holds_alternative<std::monostate>(activateFirst(navResults(q), routeResults(routes, q), q)));
}
