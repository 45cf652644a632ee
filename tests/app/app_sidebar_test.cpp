// The sidebar against an engine link that holds routes and projects but runs no engine.
#include "app/app_sidebar.h"
#include "app/app_state.h"
#include "app/route_tree_model.h"
#include "design/palette.h"
#include "design/shell_widgets.h"
#include "design/snow_context_menu.h"
#include "design/snow_menu_popup.h"
#include "design/sidebar_row.h"
#include "design/snow_dropdown.h"
#include "engine/engine_client.h"
#include "support/test_support.h"

#include "app/qt_printers.h"
#include "app/test_routes.h"

#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using testroutes::route;

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

    void SetUp() override
    {
        sidebar.resize(AppSidebar::Width, 820);
        sidebar.show();
    }
    void TearDown() override
    {
        if (tree()->contextMenu()->isOpen())
            tree()->contextMenu()->menu()->close();
    }
    void clickRoute(const QString &id, Qt::MouseButton button = Qt::LeftButton)
    {
        const QRect row = tree()->routeRect(id);
        ASSERT_FALSE(row.isEmpty()) << id.toStdString();
        QTest::mouseClick(tree()->viewport(), button, {}, row.center());
    }
    void clickBlock(const QString &label)
    {
        const QRect row = tree()->blockRect(label);
        ASSERT_FALSE(row.isEmpty()) << label.toStdString();
        QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, row.center());
    }
    // A right press as the user makes it; returns the entries of the menu that opened, if one did.
    QStringList rightPress(const QRect &row)
    {
        QTest::mousePress(tree()->viewport(), Qt::RightButton, {}, row.center());
        SnowContextMenu *menu = tree()->contextMenu();
        if (!menu->isOpen())
            return {};
        const QStringList shown = titles(menu->menu()->currentItems());
        menu->menu()->close();
        return shown;
    }
    bool selectedRow(const QString &id)
    {
        return tree()->treeModel()->routeIndex(id).data(RouteTreeModel::SelectedRole).toBool();
    }
    int blockCount(const QString &label)
    {
        return tree()->treeModel()->blockIndex(label).data(RouteTreeModel::CountRole).toInt();
    }
};

} // namespace

TEST_F(Sidebar, NoRoutesShowsTheEmptyNoteOnlyWhileOpen)
{
    EXPECT_TRUE(sidebar.routesEmptyNote()->isVisible());
    EXPECT_FALSE(tree()->isVisible());
    const int openHeight = sidebar.routesEmptyNote()->height();
    EXPECT_EQ(sidebar.routesFoldDuration(), 150);
    sidebar.setRoutesFoldDuration(30);
    sidebar.setRoutesOpen(false);
    EXPECT_FALSE(sidebar.routesOpen());
    // The section folds over its length, still showing while it shrinks, and then shows nothing.
    EXPECT_TRUE(sidebar.routesAnimating());
    EXPECT_TRUE(sidebar.routesEmptyNote()->isVisible());
    ASSERT_TRUE(testsupport::waitFor([this] { return !sidebar.routesAnimating(); }, 2000));
    EXPECT_FALSE(sidebar.routesEmptyNote()->isVisible());
    engine.setEndpoints({route("a", "h")});
    EXPECT_FALSE(tree()->isVisible());
    EXPECT_FALSE(sidebar.routesEmptyNote()->isVisibleTo(&sidebar));

    sidebar.setRoutesOpen(true);
    EXPECT_TRUE(tree()->isVisible());
    EXPECT_FALSE(sidebar.routesEmptyNote()->isVisible());
    ASSERT_TRUE(testsupport::waitFor([this] { return !sidebar.routesAnimating(); }, 2000));
    QApplication::processEvents();
    EXPECT_EQ(tree()->visibleRegion().boundingRect().height(), tree()->height());

    // Open again with no routes: the note comes back at its full height.
    engine.setEndpoints({});
    sidebar.setRoutesOpen(false);
    sidebar.setRoutesOpen(true);
    ASSERT_TRUE(testsupport::waitFor([this] { return !sidebar.routesAnimating(); }, 2000));
    QApplication::processEvents();
    EXPECT_TRUE(sidebar.routesEmptyNote()->isVisible());
    EXPECT_EQ(sidebar.routesEmptyNote()->height(), openHeight);
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
    const int openHeight = tree()->height();
    clickBlock("api");
    EXPECT_TRUE(tree()->isFolded("api"));
    EXPECT_TRUE(tree()->visibleRouteIDs("api").isEmpty());
    EXPECT_TRUE(tree()->routeRect("1").isEmpty());
    EXPECT_EQ(tree()->height(), openHeight - 28);
    engine.setEndpoints({route("1", "api"), route("2", "api")});
    EXPECT_TRUE(tree()->isFolded("api"));
    EXPECT_EQ(blockCount("api"), 2);
    clickBlock("api");
    EXPECT_EQ(tree()->visibleRouteIDs("api"), (QStringList{"1", "2"}));
    // Group folding is kept apart from host folding.
    engine.setGroup("1", "g");
    EXPECT_FALSE(tree()->isFolded("g"));
}

TEST_F(Sidebar, RowsSitWhereTheTreeLaysThemOut)
{
    engine.setEndpoints({route("1", "api"), route("2", "api", {}, false), route("3", "cdn")});
    // Header 30, then rows of 26 indented 14, 2 apart; the tree is exactly as tall as its rows.
    EXPECT_EQ(tree()->blockRect("api"), QRect(0, 0, tree()->viewport()->width(), 30));
    EXPECT_EQ(tree()->routeRect("1"), QRect(14, 32, tree()->viewport()->width() - 14, 26));
    EXPECT_EQ(tree()->routeRect("2").top(), 60);
    EXPECT_EQ(tree()->blockRect("cdn").top(), 88);
    EXPECT_EQ(tree()->height(), 88 + 30 + 2 + 26);

    engine.setEndpoints({route("2", "api"), route("1", "api")});
    EXPECT_EQ(tree()->visibleRouteIDs("api"), (QStringList{"2", "1"}));
    EXPECT_LT(tree()->routeRect("2").top(), tree()->routeRect("1").top());
    // The gaps between rows and the guide strip take no clicks.
    QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, QPoint(6, tree()->routeRect("2").center().y()));
    QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, QPoint(60, 31));
    EXPECT_FALSE(state.selectedEndpointID().has_value());
    EXPECT_EQ(state.nav(), NavItem::dashboard);
}

TEST_F(Sidebar, HoverFollowsThePointerAndLeavesWithIt)
{
    engine.setEndpoints({route("1", "api")});
    QTest::mouseMove(tree()->viewport(), tree()->routeRect("1").center());
    EXPECT_EQ(tree()->hoveredIndex(), tree()->treeModel()->routeIndex("1"));
    QTest::mouseMove(tree()->viewport(), tree()->blockRect("api").center());
    EXPECT_EQ(tree()->hoveredIndex(), tree()->treeModel()->blockIndex("api"));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(tree()->viewport(), &leave);
    EXPECT_FALSE(tree()->hoveredIndex().isValid());
}

TEST_F(Sidebar, ClickingARouteOpensItWithOneHistoryEntry)
{
    engine.setEndpoints({route("1", "api"), route("2", "api")});
    clickRoute("2");
    EXPECT_EQ(state.nav(), NavItem::endpoints);
    EXPECT_EQ(state.selectedEndpointID(), std::optional<QString>("2"));
    EXPECT_EQ(state.backStack(), (QList<NavItem>{NavItem::dashboard}));
    EXPECT_TRUE(selectedRow("2"));
    // Again: still selected, no further history.
    clickRoute("2");
    EXPECT_EQ(state.selectedEndpointID(), std::optional<QString>("2"));
    EXPECT_EQ(state.backStack(), (QList<NavItem>{NavItem::dashboard}));
    // A right click selects nothing.
    clickRoute("1", Qt::RightButton);
    tree()->contextMenu()->menu()->close();
    EXPECT_EQ(state.selectedEndpointID(), std::optional<QString>("2"));
    // A press that ends on another row is no tap.
    QTest::mousePress(tree()->viewport(), Qt::LeftButton, {}, tree()->routeRect("1").center());
    QTest::mouseRelease(tree()->viewport(), Qt::LeftButton, {}, tree()->routeRect("2").center());
    EXPECT_EQ(state.selectedEndpointID(), std::optional<QString>("2"));
}

TEST_F(Sidebar, RightPressOpensTheRowOrGroupMenuBelowItsRow)
{
    engine.setEndpoints({route("1", "h", "beta"), route("2", "h")});
    EXPECT_EQ(rightPress(tree()->routeRect("1")),
              (QStringList{"Duplicate route", "Disable route", "—", "Move to group", "Ungrouped", "beta",
                           "New group…", "—", "Delete route"}));
    EXPECT_EQ(tree()->contextMenu()->menu()->width(), 220);
    EXPECT_EQ(rightPress(tree()->blockRect("beta")), (QStringList{"Rename group…"}));
    EXPECT_EQ(tree()->contextMenu()->menu()->width(), 190);
    // "Ungrouped" has no menu; the right press neither opens one nor folds the section.
    EXPECT_EQ(rightPress(tree()->blockRect("Ungrouped")), QStringList{});
    EXPECT_FALSE(tree()->isFolded("Ungrouped"));

    // The menu hangs below the pressed row.
    const QRect row = tree()->routeRect("2");
    QTest::mousePress(tree()->viewport(), Qt::RightButton, {}, row.center());
    ASSERT_TRUE(tree()->contextMenu()->isOpen());
    SnowMenuPopup *popup = tree()->contextMenu()->menu()->popup();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->anchor(), QRect(tree()->viewport()->mapToGlobal(row.topLeft()), row.size()));
    // Choosing an entry acts on the route the menu was opened for.
    itemTitled(tree()->contextMenu()->menu()->currentItems(), "beta").action();
    EXPECT_EQ(engine.endpoints()[1].group, "beta");
}

TEST_F(Sidebar, HostHeadersHaveNoMenu)
{
    engine.setEndpoints({route("1", "api")});
    EXPECT_EQ(rightPress(tree()->blockRect("api")), QStringList{});
    EXPECT_FALSE(tree()->isFolded("api"));
}

TEST_F(Sidebar, RendersTheTreeInBothPalettes)
{
    engine.setProjects({Project{"p1", "Acme Store", 0, ""}});
    engine.setActiveProjectID("p1");
    engine.setEndpoints({route("users", "api.acme.dev"), route("orders", "api.acme.dev", {}, false),
                         route("products/:id", "api.acme.dev"), route("assets", "cdn.acme.dev"),
                         route("fonts", "static.acme.dev")});
    clickRoute("products/:id");
    clickBlock("static.acme.dev");
    QTest::mouseMove(tree()->viewport(), tree()->routeRect("users").center());
    QApplication::processEvents();
    const QString light = testsupport::saveRender(&sidebar, "shell", "sidebar-tree-light");
    EXPECT_FALSE(QImage(light).isNull());

    engine.setGroup("orders", "Billing");
    engine.setGroup("users", "auth");
    PaletteHost::set(&sidebar, Palette::dark());
    QTest::mouseMove(tree()->viewport(), tree()->blockRect("auth").center());
    QApplication::processEvents();
    const QString dark = testsupport::saveRender(&sidebar, "shell", "sidebar-tree-dark");
    const QImage darkImage(dark);
    ASSERT_FALSE(darkImage.isNull());
    // The dark sidebar really is dark, and the guide line shows lighter than the ground beside it.
    EXPECT_LT(darkImage.pixelColor(4, 4).lightness(), 80);
    const qreal ratio = darkImage.devicePixelRatio();
    const QPoint guide = tree()->mapTo(&sidebar, QPoint(12, tree()->routeRect("orders").center().y()));
    EXPECT_GT(darkImage.pixelColor(guide * ratio).lightness(),
              darkImage.pixelColor((guide - QPoint(4, 0)) * ratio).lightness());
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

    clickRoute("1");
    EXPECT_FALSE(sidebar.navRow(NavItem::endpoints)->isActive());
    EXPECT_TRUE(selectedRow("1"));
    // Tapping "Endpoints" keeps the selection and adds no history entry.
    QTest::mouseClick(sidebar.navRow(NavItem::endpoints), Qt::LeftButton);
    EXPECT_EQ(state.selectedEndpointID(), std::optional<QString>("1"));
    EXPECT_EQ(state.backStack(), (QList<NavItem>{NavItem::dashboard}));
    QTest::mouseClick(sidebar.navRow(NavItem::devices), Qt::LeftButton);
    EXPECT_FALSE(state.selectedEndpointID().has_value());
    EXPECT_TRUE(sidebar.navRow(NavItem::devices)->isActive());
    EXPECT_FALSE(selectedRow("1"));
}

TEST_F(Sidebar, FooterRowsBothOpenSettings)
{
    QTest::mouseClick(sidebar.assistantRow(), Qt::LeftButton);
    EXPECT_TRUE(state.showSettings());
    state.setShowSettings(false);
    QTest::mouseClick(sidebar.settingsRow(), Qt::LeftButton);
    EXPECT_TRUE(state.showSettings());
}

TEST_F(Sidebar, TabWalksTheRowsTopToBottomAndReturnOrSpaceOpensOne)
{
    sidebar.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sidebar));
    const auto tab = [](Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        EXPECT_TRUE(testsupport::pressKey(Qt::Key_Tab, modifiers));
        return QApplication::focusWidget();
    };
    // From the project switcher: the new-route button, then every navigation row in the order shown.
    sidebar.projectSwitcher()->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), sidebar.projectSwitcher());
    EXPECT_NE(tab(), nullptr);
    const NavItem order[] = {NavItem::dashboard, NavItem::endpoints, NavItem::liveTraffic, NavItem::history,
                             NavItem::schema, NavItem::certificates, NavItem::devices};
    for (NavItem item : order)
        EXPECT_EQ(tab(), sidebar.navRow(item)) << int(item);
    EXPECT_EQ(tab(Qt::ShiftModifier), sidebar.navRow(NavItem::certificates));
    EXPECT_EQ(tab(Qt::ShiftModifier), sidebar.navRow(NavItem::schema));
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Return));
    EXPECT_EQ(state.nav(), NavItem::schema);
    EXPECT_EQ(tab(Qt::ShiftModifier), sidebar.navRow(NavItem::history));
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Space));
    EXPECT_EQ(state.nav(), NavItem::history);

    // Past the last row: the routes section's fold and add buttons, then the route tree, whose rows the
    // arrows walk; Return opens the route the ring is on, Space folds a block.
    engine.setEndpoints({route("1", "api.shop.dev"), route("2", "api.shop.dev")});
    sidebar.navRow(NavItem::devices)->setFocus(Qt::TabFocusReason);
    EXPECT_NE(tab(), tree());
    EXPECT_NE(tab(), tree());
    ASSERT_EQ(tab(), tree());
    EXPECT_EQ(tree()->keyboardRow(), tree()->treeModel()->blockIndex("api.shop.dev"));
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Down));
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Down));
    EXPECT_EQ(tree()->keyboardRow(), tree()->treeModel()->routeIndex("2"));
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Return));
    EXPECT_EQ(state.selectedEndpointID(), std::optional<QString>("2"));
    EXPECT_EQ(state.nav(), NavItem::endpoints);
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Home));
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Space));
    EXPECT_TRUE(tree()->isFolded("api.shop.dev"));
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Space));
    EXPECT_FALSE(tree()->isFolded("api.shop.dev"));
    for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
        PaletteHost::set(&sidebar, *palette);
        testsupport::saveRender(&sidebar, QStringLiteral("app"),
                                palette->isDark ? QStringLiteral("sidebar-keyboard-row-dark")
                                                : QStringLiteral("sidebar-keyboard-row-light"));
    }
    PaletteHost::set(&sidebar, Palette::light());

    // The footer rows follow the sections above them.
    EXPECT_EQ(tab(), sidebar.assistantRow());
    EXPECT_EQ(tab(), sidebar.settingsRow());
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Return));
    EXPECT_TRUE(state.showSettings());
}

// With more routes than the window's height holds, a row taking the keyboard focus scrolls the list up or
// down as needed, never sideways.
TEST_F(Sidebar, FocusOnARowNeverScrollsTheListSideways)
{
    sidebar.resize(AppSidebar::Width, 740);
    QList<Endpoint> routes;
    for (int i = 0; i < 40; ++i)
        routes << route(std::to_string(i), "api.shop.dev");
    engine.setEndpoints(routes);
    sidebar.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sidebar));
    auto *scroll = sidebar.findChild<QScrollArea *>();
    ASSERT_NE(scroll, nullptr);
    ASSERT_TRUE(testsupport::waitFor([&] { return scroll->verticalScrollBar()->maximum() > 0; }));
    sidebar.navRow(NavItem::dashboard)->setFocus(Qt::TabFocusReason);
    for (int step = 0; step < 12; ++step) {
        ASSERT_TRUE(testsupport::pressKey(Qt::Key_Tab));
        QCoreApplication::processEvents();
        EXPECT_EQ(scroll->horizontalScrollBar()->value(), 0) << step;
        EXPECT_LE(scroll->widget()->width(), scroll->viewport()->width()) << step;
    }
    tree()->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_End));
    EXPECT_GT(scroll->verticalScrollBar()->value(), 0);
    EXPECT_EQ(scroll->horizontalScrollBar()->value(), 0);
    testsupport::saveRender(&sidebar, QStringLiteral("app"), QStringLiteral("sidebar-focus-overflowing-tree"));
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

TEST_F(Sidebar, TheRoutesToggleRingLeavesItsLabelWhole)
{
    sidebar.show();
    sidebar.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sidebar));
    QWidget *toggle = nullptr;
    for (ShellText *text : sidebar.findChildren<ShellText *>())
        if (text->text() == QStringLiteral("Mock routes"))
            toggle = text->parentWidget();
    ASSERT_NE(toggle, nullptr);
    sidebar.navRow(NavItem::devices)->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
    const QImage before = toggle->grab().toImage();
    for (int step = 0; step < 4 && QApplication::focusWidget() != toggle; ++step)
        ASSERT_TRUE(testsupport::pressKey(Qt::Key_Tab));
    ASSERT_EQ(QApplication::focusWidget(), toggle);
    QCoreApplication::processEvents();
    const QImage after = toggle->grab().toImage();
    // The ring changed the toggle's edge and not a pixel of its label and chevron.
    QRect label;
    for (QWidget *child : toggle->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
        label |= child->geometry();
    int edge = 0;
    int inside = 0;
    for (int y = 0; y < after.height(); ++y)
        for (int x = 0; x < after.width(); ++x)
            (label.contains(x, y) ? inside : edge) += before.pixel(x, y) != after.pixel(x, y) ? 1 : 0;
    EXPECT_GT(edge, toggle->width());
    EXPECT_EQ(inside, 0);
}
