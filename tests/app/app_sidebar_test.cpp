// The sidebar against an engine link that holds routes and projects but runs no engine.
#include "app/app_sidebar.h"
#include "app/app_state.h"
#include "design/sidebar_row.h"
#include "design/snow_dropdown.h"
#include "engine/engine_client.h"
#include "support/test_support.h"

#include "app/qt_printers.h"

#include <QTest>

#include <gtest/gtest.h>

namespace {

Endpoint route(const std::string &id, const std::string &host, const std::string &group = {}, bool active = true)
{
    Endpoint e;
    e.id = id;
    e.host = host;
    e.path = "/" + id;
    e.group = group;
    e.active = active;
    return e;
}

QStringList titles(const QList<SnowMenuItem> &items)
{
    QStringList out;
    for (const auto &item : items)
        out << (item.isDivider ? QStringLiteral("—") : item.title);
    return out;
}

const SnowMenuItem &itemTitled(const QList<SnowMenuItem> &items, const QString &title)
{
    for (const auto &item : items) {
        if (item.title == title)
            return item;
    }
    static SnowMenuItem none;
    ADD_FAILURE() << "no entry " << title.toStdString();
    return none;
}

class Sidebar : public ::testing::Test
{
protected:
    AppState state;
    EngineClient engine;
    AppSidebar sidebar{AppContext{&state, &engine, nullptr, nullptr}};
    RouteTreeView *tree() { return sidebar.routeTree(); }
};

} // namespace

TEST_F(Sidebar, NoRoutesShowsTheEmptyNoteOnlyWhileOpen)
{
    sidebar.show();
    EXPECT_TRUE(sidebar.routesEmptyNote()->isVisible());
    EXPECT_FALSE(tree()->isVisible());
    sidebar.setRoutesOpen(false);
    EXPECT_FALSE(sidebar.routesEmptyNote()->isVisible());
    engine.setEndpoints({route("a", "h")});
    EXPECT_FALSE(tree()->isVisible());
    sidebar.setRoutesOpen(true);
    EXPECT_TRUE(tree()->isVisible());
    EXPECT_FALSE(sidebar.routesEmptyNote()->isVisible());
}

TEST_F(Sidebar, HostBlocksInFirstAppearanceOrderThenGroupsOnceOneRouteHasAGroup)
{
    engine.setEndpoints({route("1", "B"), route("2", "A"), route("3", "B")});
    EXPECT_FALSE(tree()->showsGroups());
    EXPECT_EQ(tree()->blockLabels(), (QStringList{"B", "A"}));
    EXPECT_EQ(tree()->visibleRouteIDs("B"), (QStringList{"1", "3"}));

    engine.setGroup("2", "beta");
    EXPECT_TRUE(tree()->showsGroups());
    EXPECT_EQ(tree()->blockLabels(), (QStringList{"beta", "Ungrouped"}));
    EXPECT_EQ(tree()->visibleRouteIDs("Ungrouped"), (QStringList{"1", "3"}));
    engine.setGroup("2", "");
    EXPECT_FALSE(tree()->showsGroups());
}

TEST_F(Sidebar, FoldedHostStaysFoldedWhenItsRoutesChange)
{
    engine.setEndpoints({route("1", "api")});
    QTest::mouseClick(tree()->blockHeader("api"), Qt::LeftButton);
    EXPECT_TRUE(tree()->isFolded("api"));
    EXPECT_TRUE(tree()->visibleRouteIDs("api").isEmpty());
    engine.setEndpoints({route("1", "api"), route("2", "api")});
    EXPECT_TRUE(tree()->isFolded("api"));
    EXPECT_EQ(tree()->blockHeader("api")->findChild<SidebarCount *>()->count(), 2);
    // Group folding is kept apart from host folding.
    engine.setGroup("1", "g");
    EXPECT_FALSE(tree()->isFolded("g"));
}

TEST_F(Sidebar, RouteRowsAreReusedAcrossChanges)
{
    engine.setEndpoints({route("1", "api"), route("2", "api", {}, false)});
    SidebarRow *row = tree()->routeRow("1");
    engine.setEndpoints({route("2", "api"), route("1", "api")});
    EXPECT_EQ(tree()->routeRow("1"), row);
    EXPECT_EQ(tree()->visibleRouteIDs("api"), (QStringList{"2", "1"}));
}

TEST_F(Sidebar, RouteMenuOrderChecksAndDisableEnableWording)
{
    engine.setEndpoints({route("1", "h", "beta"), route("2", "h", "Alpha", false), route("3", "h")});
    EXPECT_EQ(titles(tree()->routeMenuItems("1")),
              (QStringList{"Duplicate route", "Disable route", "—", "Move to group", "Ungrouped", "Alpha", "beta",
                           "New group…", "—", "Delete route"}));
    const auto menu = tree()->routeMenuItems("1");
    EXPECT_TRUE(itemTitled(menu, "beta").checked);
    EXPECT_FALSE(itemTitled(menu, "Ungrouped").checked);
    EXPECT_TRUE(itemTitled(menu, "Move to group").isHeader);
    EXPECT_EQ(itemTitled(menu, "Delete route").tone, SnowMenuItem::Tone::destructive);
    EXPECT_TRUE(itemTitled(tree()->routeMenuItems("3"), "Ungrouped").checked);
    EXPECT_EQ(itemTitled(tree()->routeMenuItems("2"), "Enable route").icon, "play.circle");

    itemTitled(tree()->routeMenuItems("3"), "Alpha").action();
    EXPECT_EQ(engine.endpoints()[2].group, "Alpha");
    itemTitled(tree()->routeMenuItems("2"), "Enable route").action();
    EXPECT_TRUE(engine.endpoints()[1].active);
}

TEST_F(Sidebar, NewGroupAndRenameOpenersSetBothTargets)
{
    engine.setEndpoints({route("1", "h", "beta"), route("2", "h")});
    state.setGroupRenameFrom(QStringLiteral("stale"));
    itemTitled(tree()->routeMenuItems("2"), "New group…").action();
    EXPECT_TRUE(state.showNewGroup());
    EXPECT_EQ(state.groupAssignTarget(), std::optional<QString>("2"));
    EXPECT_FALSE(state.groupRenameFrom().has_value());
    state.setShowNewGroup(false);

    EXPECT_TRUE(tree()->groupMenuItems("Ungrouped").isEmpty());
    const auto rename = tree()->groupMenuItems("beta");
    ASSERT_EQ(titles(rename), (QStringList{"Rename group…"}));
    rename.first().action();
    EXPECT_EQ(state.groupRenameFrom(), std::optional<QString>("beta"));
    EXPECT_FALSE(state.groupAssignTarget().has_value());
}

TEST_F(Sidebar, DuplicateSelectsTheCopyWithoutHistoryAndDeleteClearsOnlyItsSelection)
{
    engine.setEndpoints({route("1", "h"), route("2", "h")});
    state.select(NavItem::history);
    tree()->duplicateRoute("1");
    ASSERT_EQ(engine.endpoints().size(), 3);
    const QString copy = QString::fromStdString(engine.endpoints()[1].id);
    EXPECT_TRUE(copy.startsWith("r-"));
    EXPECT_EQ(state.nav(), NavItem::endpoints);
    EXPECT_EQ(state.selectedEndpointID(), std::optional<QString>(copy));
    EXPECT_EQ(state.backStack(), (QList<NavItem>{NavItem::dashboard}));

    tree()->deleteRoute("2");
    EXPECT_EQ(state.selectedEndpointID(), std::optional<QString>(copy));
    tree()->deleteRoute(copy);
    EXPECT_FALSE(state.selectedEndpointID().has_value());
    EXPECT_EQ(state.nav(), NavItem::endpoints);
    EXPECT_EQ(engine.endpoints().size(), 1);
}

TEST_F(Sidebar, NavRowsActiveStateAndEndpointsCount)
{
    EXPECT_TRUE(sidebar.navRow(NavItem::dashboard)->isActive());
    EXPECT_FALSE(sidebar.navRow(NavItem::endpoints)->findChild<SidebarCount *>()->isVisibleTo(&sidebar));
    engine.setEndpoints({route("1", "h")});
    EXPECT_EQ(sidebar.navRow(NavItem::endpoints)->findChild<SidebarCount *>()->count(), 1);
    EXPECT_TRUE(sidebar.navRow(NavItem::endpoints)->findChild<SidebarCount *>()->isVisibleTo(&sidebar));

    QTest::mouseClick(tree()->routeRow("1"), Qt::LeftButton);
    EXPECT_FALSE(sidebar.navRow(NavItem::endpoints)->isActive());
    EXPECT_TRUE(tree()->routeRow("1")->isActive());
    // Tapping "Endpoints" keeps the selection and adds no history entry.
    QTest::mouseClick(sidebar.navRow(NavItem::endpoints), Qt::LeftButton);
    EXPECT_EQ(state.selectedEndpointID(), std::optional<QString>("1"));
    EXPECT_EQ(state.backStack(), (QList<NavItem>{NavItem::dashboard}));
    QTest::mouseClick(sidebar.navRow(NavItem::devices), Qt::LeftButton);
    EXPECT_FALSE(state.selectedEndpointID().has_value());
    EXPECT_TRUE(sidebar.navRow(NavItem::devices)->isActive());
}

TEST_F(Sidebar, FooterRowsBothOpenSettings)
{
    QTest::mouseClick(sidebar.assistantRow(), Qt::LeftButton);
    EXPECT_TRUE(state.showSettings());
    state.setShowSettings(false);
    QTest::mouseClick(sidebar.settingsRow(), Qt::LeftButton);
    EXPECT_TRUE(state.showSettings());
}

TEST_F(Sidebar, ProjectSwitcherWithoutProjectsAndWithOne)
{
    EXPECT_EQ(sidebar.activeProjectName(), "Kestrion");
    EXPECT_EQ(titles(sidebar.projectMenuItems()),
              (QStringList{"—", "New project…", "Import OpenAPI…", "Manage projects…"}));

    engine.setProjects({Project{"p1", "Shop", 0, ""}, Project{"p2", "Bank", 0, ""}});
    engine.setActiveProjectID("p1");
    EXPECT_EQ(sidebar.activeProjectName(), "Shop");
    const auto items = sidebar.projectMenuItems();
    EXPECT_EQ(titles(items).mid(0, 3), (QStringList{"Shop", "Bank", "—"}));
    EXPECT_TRUE(items[0].checked);
    EXPECT_FALSE(items[1].checked);
    // The active project again only clears the route selection.
    state.setNav(NavItem::endpoints);
    state.setSelectedEndpointID(QStringLiteral("r-1"));
    items[0].action();
    EXPECT_FALSE(state.selectedEndpointID().has_value());
    EXPECT_FALSE(engine.isSwitchingProject());
    itemTitled(items, "New project…").action();
    EXPECT_TRUE(state.showNewProject());
    itemTitled(items, "Manage projects…").action();
    EXPECT_TRUE(state.showManageProjects());
}
