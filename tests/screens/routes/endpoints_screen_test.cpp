// The routes screen: filter, grouping and order, selection, switch, menus, empty states and renders.
#include "app/route_actions.h"
#include "design/badges.h"
#include "design/search_field.h"
#include "design/snow_context_menu.h"
#include "design/snow_empty_state.h"
#include "design/snow_menu_popup.h"
#include "design/snow_text.h"
#include "engine/records/mock_data.h"
#include "routes_test_support.h"
#include "screens/routes/endpoints_screen.h"
#include "screens/routes/route_list_model.h"
#include "screens/routes/route_table_view.h"
#include "screens/routes/row_hover_fade.h"

#include <QAbstractItemModelTester>
#include <QLineEdit>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using routestest::route;

namespace {

QList<Endpoint> sampleRoutes()
{
    return {
        route("r1", HTTPMethod::GET, "api.shop.dev", "/v1/cart"),
        route("r2", HTTPMethod::POST, "api.shop.dev", "/v1/Items"),
        route("r3", HTTPMethod::DELETE, "target.example", "/budget/404"),
        route("r4", HTTPMethod::PUT, "api.shop.dev", "/a path"),
    };
}

class RoutesScreen : public ::testing::Test
{
protected:
    void SetUp() override
    {
        objects.engine.setEndpoints(sampleRoutes());
        screen = std::make_unique<EndpointsScreen>(objects.context());
        screen->resize(900, 600);
        tester = std::make_unique<QAbstractItemModelTester>(screen->model(),
                                                            QAbstractItemModelTester::FailureReportingMode::Fatal);
    }

    QStringList shown() const { return screen->model()->shownRouteIDs(); }

    routestest::Objects objects;
    std::unique_ptr<EndpointsScreen> screen;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

} // namespace

TEST_F(RoutesScreen, FilterSearchesPathHostAndMethodOnly)
{
    struct Case
    {
        QString filter;
        QStringList expected;
    };
    const Case cases[] = {
        // "get" is GET's method and also inside "target" and "budget".
        {"get", {"r1", "r3"}},
        {"GET", {"r1", "r3"}},
        // One blank is not ignored: only the path with a blank passes.
        {" ", {"r4"}},
        // Status is never searched; a path holding "404" is.
        {"404", {"r3"}},
        {"ITEMS", {"r2"}},
        {"", {"r1", "r2", "r3", "r4"}},
    };
    for (const Case &c : cases) {
        screen->setFilter(c.filter);
        EXPECT_EQ(shown(), c.expected) << c.filter.toStdString();
        EXPECT_EQ(screen->countBadge()->count(), c.expected.size());
    }
    // A route whose only 404 is its status does not match.
    QList<Endpoint> routes = objects.engine.endpoints();
    routes[0].status = 404;
    objects.engine.setEndpoints(routes);
    screen->setFilter(QStringLiteral("404"));
    EXPECT_EQ(shown(), QStringList({"r3"}));
}

TEST_F(RoutesScreen, TypingInTheFieldFiltersAndNoMatchSaysSo)
{
    QTest::keyClicks(screen->filterField()->lineEdit(), QStringLiteral("zzz"));
    EXPECT_EQ(screen->filter(), QStringLiteral("zzz"));
    EXPECT_EQ(screen->panelState(), EndpointsScreen::PanelState::noMatch);
    ASSERT_NE(screen->emptyState(), nullptr);
    EXPECT_EQ(screen->emptyState()->titleText()->text(), QStringLiteral("No routes match “zzz”"));
    EXPECT_EQ(screen->countBadge()->count(), 0);
    // "Clear filter" brings every route back and empties the field.
    screen->setFilter(QString());
    EXPECT_EQ(screen->filterField()->text(), QString());
    EXPECT_EQ(screen->panelState(), EndpointsScreen::PanelState::flat);
    EXPECT_EQ(screen->emptyState(), nullptr);
}

TEST_F(RoutesScreen, GroupsOrderedWithUngroupedLastAndFilterDecidesGrouping)
{
    objects.engine.setEndpoints({
        route("a", HTTPMethod::GET, "h", "/one", "payments"),
        route("b", HTTPMethod::GET, "h", "/two"),
        route("c", HTTPMethod::GET, "h", "/three", "Auth"),
        route("d", HTTPMethod::GET, "h", "/four", "Ungrouped"),
        route("e", HTTPMethod::GET, "h", "/five", "payments"),
    });
    EXPECT_EQ(screen->panelState(), EndpointsScreen::PanelState::grouped);
    EXPECT_EQ(screen->model()->sectionLabels(), QStringList({"Auth", "payments", "Ungrouped"}));
    // Inside a section routes keep list order; a route stored as "Ungrouped" joins the empty ones.
    EXPECT_EQ(shown(), QStringList({"c", "a", "e", "b", "d"}));
    const int header = screen->model()->rowOfHeader(QStringLiteral("payments"));
    EXPECT_EQ(screen->model()->index(header).data(RouteListModel::CountRole).toInt(), 2);

    // Only ungrouped routes pass: a flat list without any header.
    screen->setFilter(QStringLiteral("/two"));
    EXPECT_EQ(screen->panelState(), EndpointsScreen::PanelState::flat);
    EXPECT_EQ(screen->model()->rowCount(), 1);
    // One grouped route passes: the ungrouped one is listed under "Ungrouped" at the end.
    screen->setFilter(QStringLiteral("o"));
    EXPECT_EQ(screen->model()->sectionLabels(), QStringList({"payments", "Ungrouped"}));
    screen->setFilter(QStringLiteral("/t"));
    EXPECT_EQ(screen->model()->sectionLabels(), QStringList({"Auth", "Ungrouped"}));
    // The header counts only routes that passed the filter.
    screen->setFilter(QStringLiteral("/one"));
    EXPECT_EQ(screen->model()->index(0).data(RouteListModel::CountRole).toInt(), 1);
}

TEST_F(RoutesScreen, CollapsedLabelsSurviveTheirAbsence)
{
    objects.engine.setEndpoints({
        route("a", HTTPMethod::GET, "h", "/one", "Auth"),
        route("b", HTTPMethod::GET, "h", "/two"),
    });
    screen->table()->clickRow(screen->model()->rowOfHeader(QStringLiteral("Auth")), {});
    EXPECT_EQ(shown(), QStringList({"b"}));
    EXPECT_TRUE(screen->model()->index(0).data(RouteListModel::CollapsedRole).toBool());
    EXPECT_EQ(screen->model()->index(0).data(RouteListModel::CountRole).toInt(), 1);
    screen->setFilter(QStringLiteral("two"));
    screen->setFilter(QString());
    EXPECT_EQ(shown(), QStringList({"b"})) << "still folded when it comes back";
    screen->table()->clickRow(0, {});
    EXPECT_EQ(shown(), QStringList({"a", "b"}));
}

TEST_F(RoutesScreen, ClicksSelectDeselectAndTheSwitchFlipsOnlyTheRoute)
{
    screen->show();
    RouteTableView *table = screen->table();
    const QRect r2 = table->routeRect(QStringLiteral("r2"));
    ASSERT_FALSE(r2.isEmpty());
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, r2.center() - QPoint(r2.width() / 4, 0));
    EXPECT_EQ(objects.state.selectedEndpointID(), std::optional<QString>("r2"));
    EXPECT_TRUE(screen->model()->index(1).data(RouteListModel::SelectedRole).toBool());
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, r2.center() - QPoint(r2.width() / 4, 0));
    EXPECT_EQ(objects.state.selectedEndpointID(), std::nullopt);

    objects.state.setSelectedEndpointID(QStringLiteral("r1"));
    QSignalSpy resets(screen->model(), &QAbstractItemModel::modelReset);
    QSignalSpy changes(screen->model(), &QAbstractItemModel::dataChanged);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, RouteTable::switchRect(r2).center());
    EXPECT_FALSE(objects.engine.endpoints()[1].active);
    EXPECT_EQ(objects.state.selectedEndpointID(), std::optional<QString>("r1")) << "the switch leaves the selection";
    // The flip repaints that one row in place.
    EXPECT_EQ(resets.count(), 0);
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.first().at(0).toModelIndex().row(), 1);
    EXPECT_FALSE(screen->model()->index(1).data(RouteListModel::ActiveRole).toBool());
}

TEST_F(RoutesScreen, DeleteAndDuplicateThroughTheRowMenu)
{
    auto run = [&](const QString &id, const QString &title) {
        routestest::runEntry(screen->moveItems(id), title);
        return !::testing::Test::HasFailure();
    };
    objects.state.setSelectedEndpointID(QStringLiteral("r2"));
    // Deleting another route keeps the selection; deleting the selected one clears it.
    ASSERT_TRUE(run(QStringLiteral("r3"), QStringLiteral("Delete route")));
    EXPECT_EQ(objects.state.selectedEndpointID(), std::optional<QString>("r2"));
    ASSERT_TRUE(run(QStringLiteral("r2"), QStringLiteral("Delete route")));
    EXPECT_EQ(objects.state.selectedEndpointID(), std::nullopt);
    EXPECT_EQ(shown(), QStringList({"r1", "r4"}));

    // The duplicate sits right below its source and is selected, without a history entry.
    objects.state.setNav(NavItem::endpoints);
    const auto backBefore = objects.state.backStack();
    ASSERT_TRUE(run(QStringLiteral("r1"), QStringLiteral("Duplicate route")));
    const QStringList after = shown();
    ASSERT_EQ(after.size(), 3);
    EXPECT_EQ(after[0], QStringLiteral("r1"));
    EXPECT_EQ(objects.state.selectedEndpointID(), std::optional<QString>(after[1]));
    EXPECT_TRUE(screen->model()->index(1).data(RouteListModel::SelectedRole).toBool());
    EXPECT_EQ(after[2], QStringLiteral("r4"));
    EXPECT_EQ(objects.state.backStack(), backBefore);
}

TEST_F(RoutesScreen, MoveToGroupListsEveryGroupEvenFilteredOnes)
{
    objects.engine.setEndpoints({
        route("a", HTTPMethod::GET, "h", "/one", "beta"),
        route("b", HTTPMethod::GET, "h", "/two"),
        route("c", HTTPMethod::GET, "h", "/three", "Alpha"),
    });
    screen->setFilter(QStringLiteral("two"));
    QStringList titles;
    QList<SnowMenuItem> items = screen->moveItems(QStringLiteral("b"));
    for (const SnowMenuItem &item : items)
        titles.append(item.isDivider ? QStringLiteral("--") : item.title + (item.checked ? "*" : ""));
    EXPECT_EQ(titles, QStringList({"Duplicate route", "Disable route", "--", "Move to group", "Ungrouped*", "Alpha",
                                   "beta", "New group…", "--", "Delete route"}));
    items[6].action(); // "beta"
    EXPECT_EQ(objects.engine.endpoints()[1].group, "beta");
    EXPECT_EQ(screen->panelState(), EndpointsScreen::PanelState::grouped);
}

TEST_F(RoutesScreen, LoadDemoNeverReplacesRoutesThatArrived)
{
    objects.engine.setEndpoints({});
    EXPECT_EQ(screen->panelState(), EndpointsScreen::PanelState::emptyProject);
    // A load brought routes in after the empty state was drawn: the click must not replace them.
    objects.engine.setEndpoints({route("mine", HTTPMethod::GET, "h", "/mine")});
    screen->loadDemo();
    EXPECT_EQ(routestest::ids(objects.engine.endpoints()), QStringList({"mine"}));

    objects.engine.setEndpoints({});
    screen->loadDemo();
    EXPECT_EQ(objects.engine.endpoints().size(), qsizetype(MockData::endpoints().size()));
    EXPECT_NE(screen->panelState(), EndpointsScreen::PanelState::emptyProject);
}

TEST(RoutesScreenRender, WithRoutesEmptyAndFiltered)
{
    routestest::Objects objects;
    QList<Endpoint> routes;
    for (const Endpoint &e : MockData::endpoints())
        routes.append(e);
    routes[1].latency = 1000;
    routes[2].latency = 1001;
    routes[3].active = false;
    routes[4].host = "a-very-long-host-name.internal.example.com";
    routes[4].path = "/v2/organisations/:orgId/projects/:projectId/environments/:envId/variables";
    objects.engine.setEndpoints(routes);
    objects.state.setSelectedEndpointID(QString::fromStdString(routes[0].id));
    const QSize size(1000, 640);
    EXPECT_TRUE(routestest::renderBothThemes("screen_routes", size, [&] { return new EndpointsScreen(objects.context()); }));
    EXPECT_TRUE(routestest::renderBothThemes("screen_filtered_none", size, [&] {
        auto *screen = new EndpointsScreen(objects.context());
        screen->setFilter(QStringLiteral("nothing-like-this"));
        return screen;
    }));
    QList<Endpoint> grouped = routes;
    for (qsizetype i = 0; i < grouped.size(); ++i)
        grouped[i].group = i % 3 == 0 ? "" : (i % 3 == 1 ? "payments" : "Auth");
    objects.engine.setEndpoints(grouped);
    EXPECT_TRUE(routestest::renderBothThemes("screen_grouped_filtered", size, [&] {
        auto *screen = new EndpointsScreen(objects.context());
        screen->setFilter(QStringLiteral("v"));
        screen->model()->toggleCollapsed(QStringLiteral("payments"));
        return screen;
    }));
    objects.engine.setEndpoints({});
    EXPECT_TRUE(routestest::renderBothThemes("screen_empty", size, [&] { return new EndpointsScreen(objects.context()); }));
}

TEST_F(RoutesScreen, HoverEasesInAndSelectionWinsOverIt)
{
    screen->show();
    RouteTableView *table = screen->table();
    const RowHoverFade *fade = RowHoverFade::of(table);
    ASSERT_NE(fade, nullptr);
    const QRect r1 = table->routeRect(QStringLiteral("r1"));
    const QRect r2 = table->routeRect(QStringLiteral("r2"));
    // A point inside the row's padding, clear of badge and texts.
    const auto probe = [](const QRect &row) { return QPoint(row.left() + 4, row.center().y()); };
    QTest::mouseMove(table->viewport(), r2.center());
    ASSERT_TRUE(testsupport::waitFor([&] { return fade->progress(screen->model()->index(1)) == 1.0; }));
    const Palette palette = Palette::of(table);
    // r2 is hovered, r1 shows the bare background; a fill as it looks over that background:
    const QImage hovered = table->viewport()->grab().toImage();
    const auto over = [&](const QColor &fill) {
        QImage image(1, 1, QImage::Format_ARGB32);
        image.fill(hovered.pixelColor(probe(r1)));
        QPainter(&image).fillRect(0, 0, 1, 1, fill);
        return image.pixelColor(0, 0).rgb();
    };
    EXPECT_EQ(hovered.pixelColor(probe(r2)).rgb(), over(palette.subtle));
    EXPECT_NE(hovered.pixelColor(probe(r1)).rgb(), over(palette.subtle));

    // Moving on fades the first row out; a selected row under the pointer keeps the selected fill.
    objects.state.setSelectedEndpointID(QStringLiteral("r1"));
    QTest::mouseMove(table->viewport(), r1.center());
    ASSERT_TRUE(testsupport::waitFor([&] { return fade->progress(screen->model()->index(1)) == 0.0; }));
    const QImage selected = table->viewport()->grab().toImage();
    EXPECT_EQ(selected.pixelColor(probe(r1)).rgb(), over(palette.mutedStrong));
    EXPECT_EQ(selected.pixelColor(probe(r2)).rgb(), hovered.pixelColor(probe(r1)).rgb()) << "the row left behind faded out";
}

TEST_F(RoutesScreen, RightClickMenusOfRowsAndHeaders)
{
    objects.engine.setEndpoints({
        route("a", HTTPMethod::GET, "h", "/one", "Auth"),
        route("b", HTTPMethod::GET, "h", "/two"),
    });
    screen->show();
    RouteTableView *table = screen->table();
    SnowContextMenu *menu = table->contextMenu();
    const auto at = [&](const QRect &rect) { return table->viewport()->mapTo(table, rect.center()); };
    // "Ungrouped" offers no rename, so no menu opens there.
    EXPECT_FALSE(menu->openAt(at(table->headerRect(QStringLiteral("Ungrouped")))));
    ASSERT_TRUE(menu->openAt(at(table->headerRect(QStringLiteral("Auth")))));
    ASSERT_EQ(menu->menu()->currentItems().size(), 1);
    EXPECT_EQ(menu->menu()->currentItems().first().title, QStringLiteral("Rename group…"));
    menu->menu()->currentItems().first().action();
    EXPECT_EQ(objects.state.groupRenameFrom(), std::optional<QString>("Auth"));
    EXPECT_TRUE(objects.state.showNewGroup());
    menu->menu()->close();

    ASSERT_TRUE(menu->openAt(at(table->routeRect(QStringLiteral("b")))));
    EXPECT_EQ(menu->menu()->currentItems().size(), 9); // with the one group "Auth"
    EXPECT_EQ(menu->menu()->width(), 220);
    menu->menu()->close();
}

TEST_F(RoutesScreen, FoldingTurnsTheChevronAndEndsAtRest)
{
    objects.engine.setEndpoints({route("a", HTTPMethod::GET, "h", "/one", "Auth"), route("b", HTTPMethod::GET, "h", "/two")});
    RouteTableView *table = screen->table();
    EXPECT_EQ(table->chevronAngle(QStringLiteral("Auth"), false), 90);
    table->clickRow(screen->model()->rowOfHeader(QStringLiteral("Auth")), {});
    // The rows go at once; the chevron eases from 90 to 0.
    EXPECT_EQ(screen->model()->shownRouteIDs(), QStringList({"b"}));
    EXPECT_EQ(table->chevronAngle(QStringLiteral("Auth"), true), 90) << "no event has run yet: the turn starts at 90";
    ASSERT_TRUE(testsupport::waitFor([&] { return table->chevronAngle(QStringLiteral("Auth"), true) == 0; }));
    // Another section is not touched by that fold.
    EXPECT_EQ(table->chevronAngle(QStringLiteral("Ungrouped"), false), 90);
}
