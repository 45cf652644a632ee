// The routes screen and sheets joined to the main window through the catalog: the sheet flags open
// them in the window's dialogs, the screen shows beside the sidebar, and the header fits the smallest window.
#include "app/app_sidebar.h"
#include "app/content_view.h"
#include "app/environment_picker.h"
#include "app/main_header.h"
#include "app/sheet_presenter.h"
#include "app/shell_registry.h"
#include "design/keyboard_reach.h"
#include "design/keyboard_rows.h"
#include "design/ks_button.h"
#include "design/search_field.h"
#include "design/palette.h"
#include "design/shell_widgets.h"
#include "design/snow_menu_list.h"
#include "design/snow_menu_popup.h"
#include "design/snow_select.h"
#include "design/snow_slider.h"
#include "design/snow_text_field.h"
#include "design/status_code_field.h"
#include "engine/records/mock_data.h"
#include "routes_test_support.h"
#include "screens/settle_test_support.h"
#include "screens/routes/endpoints_screen.h"
#include "screens/routes/inspector_view.h"
#include "screens/routes/manage_environments_sheet.h"
#include "screens/routes/new_group_sheet.h"
#include "screens/routes/new_route_sheet.h"
#include "screens/routes/projects_sheets.h"
#include "screens/routes/route_list_model.h"
#include "screens/routes/route_table_view.h"
#include "screens/routes/routes_catalog.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class RoutesInWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        installRoutesScreens(registry);
        view = std::make_unique<ContentView>(objects.context(), registry);
        view->resize(1280, 820);
        view->show();
    }

    template <typename Sheet>
    Sheet *openSheet(SheetFlag flag)
    {
        objects.state.setSheetFlag(flag, true);
        SheetDialog *dialog = view->sheets()->dialog(flag);
        return dialog ? qobject_cast<Sheet *>(dialog->content()) : nullptr;
    }

    routestest::Objects objects;
    ShellRegistry registry;
    std::unique_ptr<ContentView> view;
};

} // namespace

TEST_F(RoutesInWindow, EveryFlagOpensItsSheet)
{
    EXPECT_NE(openSheet<NewRouteSheet>(SheetFlag::newRoute), nullptr);
    EXPECT_NE(openSheet<NewProjectSheet>(SheetFlag::newProject), nullptr);
    EXPECT_NE(openSheet<ManageProjectsSheet>(SheetFlag::manageProjects), nullptr);
    EXPECT_NE(openSheet<NewGroupSheet>(SheetFlag::newGroup), nullptr);
    EXPECT_NE(openSheet<ManageEnvironmentsSheet>(SheetFlag::manageEnvironments), nullptr);
    objects.state.select(NavItem::endpoints);
    EXPECT_NE(qobject_cast<EndpointsScreen *>(view->screen()), nullptr);
}

TEST_F(RoutesInWindow, CreateRouteClosesTheSheetAndOpensTheRoute)
{
    const std::vector<Endpoint> &demo = MockData::endpoints();
    objects.engine.setEndpoints(QList<Endpoint>(demo.begin(), demo.end()));
    objects.state.select(NavItem::dashboard);
    auto *sheet = openSheet<NewRouteSheet>(SheetFlag::newRoute);
    ASSERT_NE(sheet, nullptr);
    QTest::keyClicks(sheet->pathField()->lineEdit(), QStringLiteral("/v9/new"));
    QTest::keyClick(sheet->pathField()->lineEdit(), Qt::Key_Return);
    ASSERT_TRUE(testsupport::waitFor([&] { return !objects.state.showNewRoute(); }));
    EXPECT_EQ(objects.state.nav(), NavItem::endpoints);
    EXPECT_EQ(objects.state.selectedEndpointID(), std::optional<QString>(QString::fromStdString(objects.engine.endpoints().last().id)));
    auto *screen = qobject_cast<EndpointsScreen *>(view->screen());
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(screen->model()->shownRouteIDs().last(), QString::fromStdString(objects.engine.endpoints().last().id));
}

TEST_F(RoutesInWindow, KeyboardAloneWalksTheNewRouteSheetItsMenuTheWindowAndTheLatencySlider)
{
    using testsupport::pressKey;
    objects.engine.setEndpoints({routestest::route("r1", HTTPMethod::GET, "api.shop.dev", "/v1/users")});
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    auto *sheet = openSheet<NewRouteSheet>(SheetFlag::newRoute);
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(testsupport::waitFor([&] { return QGuiApplication::focusWindow() == sheet->window()->windowHandle(); }));
    const auto focused = [] { return QApplication::focusWidget(); };

    // Every control in reading order, round and round: Method, Status, Host, Path, Cancel, the close
    // button ("Create route" is off without a path, and Tab passes it by).
    EXPECT_EQ(focused(), sheet->statusField()->lineEdit());
    ASSERT_TRUE(pressKey(Qt::Key_Tab, Qt::ShiftModifier));
    EXPECT_EQ(focused(), sheet->methodSelect());
    QWidget *cancel = nullptr;
    for (KSButton *button : sheet->findChildren<KSButton *>())
        if (button->title() == QStringLiteral("Cancel"))
            cancel = button;
    ASSERT_NE(cancel, nullptr);
    const QList<QWidget *> order = {sheet->statusField()->lineEdit(), sheet->hostField()->lineEdit(),
                                    sheet->pathField()->lineEdit(), cancel, sheet->findChild<CircleIconButton *>(),
                                    sheet->methodSelect()};
    for (QWidget *next : order) {
        ASSERT_TRUE(pressKey(Qt::Key_Tab));
        EXPECT_EQ(focused(), next);
    }

    ASSERT_TRUE(testsupport::waitFor([&] { return testsupport::animationsSettled(sheet); }));
    testsupport::saveRender(sheet, QStringLiteral("routes"), QStringLiteral("sheet_new_route_method_focused"));

    // The method's menu: opened by a key at the current choice, arrows move, Return chooses, Escape leaves it.
    SnowSelect *select = sheet->methodSelect();
    ASSERT_TRUE(pressKey(Qt::Key_Down));
    ASSERT_TRUE(select->isOpen());
    SnowMenuList *list = select->menu()->popup()->list();
    EXPECT_EQ(list->hoveredIndex(), 0) << "GET, the current method";
    ASSERT_TRUE(pressKey(Qt::Key_Down));
    ASSERT_TRUE(pressKey(Qt::Key_Down));
    ASSERT_TRUE(pressKey(Qt::Key_Up));
    ASSERT_TRUE(pressKey(Qt::Key_Return));
    EXPECT_FALSE(select->isOpen());
    EXPECT_EQ(sheet->method(), HTTPMethod::POST);
    EXPECT_EQ(select->value(), QStringLiteral("POST"));
    ASSERT_TRUE(testsupport::waitFor([&] { return focused() == select; }));
    ASSERT_TRUE(pressKey(Qt::Key_Space));
    ASSERT_TRUE(select->isOpen());
    EXPECT_EQ(select->menu()->popup()->list()->hoveredIndex(), 1) << "POST, the current method";
    ASSERT_TRUE(pressKey(Qt::Key_End));
    ASSERT_TRUE(pressKey(Qt::Key_Escape));
    EXPECT_FALSE(select->isOpen());
    EXPECT_EQ(sheet->method(), HTTPMethod::POST);
    EXPECT_TRUE(objects.state.showNewRoute()) << "Escape closed the menu, not the sheet";
    ASSERT_TRUE(testsupport::waitFor([&] { return focused() == select; }));

    // Opened by a click, the keys work the same.
    QTest::mouseClick(select, Qt::LeftButton);
    ASSERT_TRUE(select->isOpen());
    ASSERT_TRUE(pressKey(Qt::Key_Down));
    ASSERT_TRUE(pressKey(Qt::Key_Down));
    ASSERT_TRUE(pressKey(Qt::Key_Return));
    EXPECT_FALSE(select->isOpen());
    EXPECT_EQ(sheet->method(), HTTPMethod::POST);

    // On to the path, typed, and Return creates the route and closes the sheet.
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(pressKey(Qt::Key_Tab));
    ASSERT_EQ(focused(), sheet->pathField()->lineEdit());
    QTest::keyClicks(focused(), QStringLiteral("/kb"));
    ASSERT_TRUE(pressKey(Qt::Key_Return));
    ASSERT_TRUE(testsupport::waitFor([&] { return !objects.state.showNewRoute(); }));
    const Endpoint made = objects.engine.endpoints().last();
    EXPECT_EQ(made.method, HTTPMethod::POST);
    EXPECT_EQ(made.path, "/kb");

    // The window has the keys again without a click: Ctrl+K opens the palette, Escape closes it.
    ASSERT_TRUE(testsupport::waitFor([&] { return QGuiApplication::focusWindow() == view->windowHandle(); }));
    ASSERT_TRUE(pressKey(Qt::Key_K, Qt::ControlModifier));
    ASSERT_TRUE(objects.state.showSearch());
    ASSERT_TRUE(testsupport::waitFor([&] { return QGuiApplication::focusWindow() != view->windowHandle(); }));
    ASSERT_TRUE(pressKey(Qt::Key_Escape));
    EXPECT_FALSE(objects.state.showSearch());
    ASSERT_TRUE(testsupport::waitFor([&] { return QGuiApplication::focusWindow() == view->windowHandle(); }));

    // The new route's inspector: Tab reaches the latency slider, whose keys save the route as a drag does.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    auto *inspector = qobject_cast<InspectorView *>(view->inspector());
    ASSERT_NE(inspector, nullptr);
    SnowSlider *slider = inspector->latencySlider();
    inspector->pathField()->lineEdit()->setFocus(Qt::MouseFocusReason);
    for (int i = 0; i < 8 && focused() != slider; ++i)
        ASSERT_TRUE(pressKey(Qt::Key_Tab));
    ASSERT_EQ(focused(), slider);
    testsupport::saveRender(slider->parentWidget(), QStringLiteral("routes"), QStringLiteral("inspector_latency_focused"));
    const auto latency = [&] { return objects.engine.endpoints().last().latency; };
    ASSERT_TRUE(pressKey(Qt::Key_Right));
    EXPECT_EQ(latency(), 50);
    ASSERT_TRUE(pressKey(Qt::Key_PageUp));
    EXPECT_EQ(latency(), 550);
    ASSERT_TRUE(pressKey(Qt::Key_Down));
    EXPECT_EQ(latency(), 500);
    ASSERT_TRUE(pressKey(Qt::Key_End));
    EXPECT_EQ(latency(), 5000);
    ASSERT_TRUE(pressKey(Qt::Key_Up));
    EXPECT_EQ(latency(), 5000);
    ASSERT_TRUE(pressKey(Qt::Key_Home));
    EXPECT_EQ(latency(), 0);
    EXPECT_EQ(slider->value(), 0);
}

TEST_F(RoutesInWindow, TabReachesTheTableRowsWhoseKeysOpenFoldAndFlipTheSwitch)
{
    using testsupport::pressKey;
    objects.engine.setEndpoints({routestest::route("r1", HTTPMethod::GET, "api.shop.dev", "/v1/users", "Users"),
                                 routestest::route("r2", HTTPMethod::POST, "api.shop.dev", "/v1/orders", "Users"),
                                 routestest::route("r3", HTTPMethod::GET, "api.shop.dev", "/v1/cart")});
    objects.state.select(NavItem::endpoints);
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    auto *screen = qobject_cast<EndpointsScreen *>(view->screen());
    ASSERT_NE(screen, nullptr);
    RouteTableView *table = screen->table();
    RouteListModel *model = screen->model();
    const auto focused = [] { return QApplication::focusWidget(); };

    // From the filter, Tab comes to the table before it leaves the screen.
    QTest::mouseClick(screen->filterField()->lineEdit(), Qt::LeftButton);
    ASSERT_EQ(focused(), screen->filterField()->lineEdit());
    QStringList stops;
    for (int i = 0; i < 4 && focused() != table; ++i) {
        ASSERT_TRUE(pressKey(Qt::Key_Tab));
        stops << QString::fromLatin1(focused()->metaObject()->className());
    }
    ASSERT_EQ(focused(), table) << stops.join(' ').toStdString();
    EXPECT_EQ(stops.size(), 2) << "\"New route\", then the rows: " << stops.join(' ').toStdString();
    KeyboardRows *keys = KeyboardRows::of(table);
    ASSERT_NE(keys, nullptr);
    const auto row = [&] { return keys->current().row(); };
    EXPECT_EQ(row(), 0) << "the Users group";

    // The ring is drawn round the keyboard's row and no other.
    const QColor ring = KeyboardReach::ringColor(Palette::of(table));
    const auto ringAt = [&](int at) {
        screenstest::settle(table);
        return testsupport::pixelsOfColor(table->viewport()->grab().toImage(), table->visualRect(model->index(at)), ring);
    };
    EXPECT_GT(ringAt(0), 40);
    EXPECT_EQ(ringAt(1), 0);

    // Down to a route: Space flips its switch, Return opens it and the keys stay on the table.
    ASSERT_TRUE(pressKey(Qt::Key_Down));
    ASSERT_EQ(model->routeIDAt(row()), "r1");
    EXPECT_GT(ringAt(row()), 40);
    EXPECT_EQ(ringAt(0), 0);
    testsupport::saveRender(table, QStringLiteral("routes"), QStringLiteral("table_keyboard_row"));
    const bool wasActive = objects.engine.endpoints().first().active;
    ASSERT_TRUE(pressKey(Qt::Key_Space));
    EXPECT_NE(objects.engine.endpoints().first().active, wasActive);
    EXPECT_FALSE(objects.state.selectedEndpointID().has_value());
    ASSERT_TRUE(pressKey(Qt::Key_Return));
    EXPECT_EQ(objects.state.selectedEndpointID(), std::optional<QString>(QStringLiteral("r1")));
    ASSERT_TRUE(pressKey(Qt::Key_Return));
    EXPECT_EQ(objects.state.selectedEndpointID(), std::optional<QString>(QStringLiteral("r1"))) << "Return opens, never closes";
    ASSERT_EQ(focused(), table);

    // End and Home reach both ends; Return on the group folds it.
    ASSERT_TRUE(pressKey(Qt::Key_End));
    EXPECT_EQ(model->routeIDAt(row()), "r3");
    ASSERT_TRUE(pressKey(Qt::Key_Home));
    ASSERT_EQ(row(), 0);
    ASSERT_TRUE(pressKey(Qt::Key_Return));
    EXPECT_TRUE(model->isCollapsed(QStringLiteral("Users")));
    ASSERT_TRUE(pressKey(Qt::Key_Down));
    EXPECT_EQ(model->kindAt(row()), RouteListModel::Kind::header) << "the folded routes are passed by";

    // After a click the arrows go on from the row clicked.
    ASSERT_TRUE(pressKey(Qt::Key_Home));
    ASSERT_TRUE(pressKey(Qt::Key_Return));
    ASSERT_FALSE(model->isCollapsed(QStringLiteral("Users")));
    const QRect second = table->visualRect(model->index(model->rowOfRoute(QStringLiteral("r2"))));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, QPoint(second.left() + 120, second.center().y()));
    EXPECT_EQ(objects.state.selectedEndpointID(), std::optional<QString>(QStringLiteral("r2")));
    ASSERT_EQ(focused(), table);
    ASSERT_TRUE(pressKey(Qt::Key_Up));
    EXPECT_EQ(model->routeIDAt(row()), "r1");
    EXPECT_GT(ringAt(row()), 40) << "the keys moved, so the ring shows";
}

TEST_F(RoutesInWindow, GroupSheetClearsTargetsHoweverItCloses)
{
    objects.engine.setEndpoints({routestest::route("a", HTTPMethod::GET, "h", "/a")});
    objects.state.openNewGroup(QStringLiteral("a"));
    SheetDialog *dialog = view->sheets()->dialog(SheetFlag::newGroup);
    ASSERT_NE(dialog, nullptr);
    // Escape closes the dialog: nothing changes and both targets go.
    QTest::keyClick(dialog, Qt::Key_Escape);
    ASSERT_TRUE(testsupport::waitFor([&] { return !objects.state.showNewGroup(); }));
    EXPECT_EQ(objects.state.groupAssignTarget(), std::nullopt);
    EXPECT_EQ(objects.engine.endpoints()[0].group, "");
}

TEST(RoutesWindowRender, ScreenBesideTheShell)
{
    routestest::Objects objects;
    ShellRegistry registry;
    installRoutesScreens(registry);
    const std::vector<Endpoint> &demo = MockData::endpoints();
    QList<Endpoint> routes(demo.begin(), demo.end());
    routes[2].group = "Auth";
    routes[5].group = "Auth";
    routes[6].group = "payments";
    objects.engine.setEndpoints(routes);
    objects.engine.setProjects({Project{"p-1", "Acme storefront", 9, "now"}});
    objects.engine.setActiveProjectID(QStringLiteral("p-1"));
    objects.state.select(NavItem::endpoints);
    EXPECT_TRUE(routestest::renderBothThemes("window_routes", QSize(1280, 820), [&] {
        auto *view = new ContentView(objects.context(), registry);
        view->setShowInfo(false);
        return view;
    }));
}

TEST(RoutesWindowRender, HeaderKeepsItsCrumbsAndPickerAtTheMinimumSize)
{
    // The smallest window with a route open in the inspector: the search keeps its icon, every crumb stays
    // (the project name shortened first, the route's path in the middle), and the environment picker, having
    // given way first, shows its icon alone.
    routestest::Objects objects;
    ShellRegistry registry;
    installRoutesScreens(registry);
    const std::vector<Endpoint> &demo = MockData::endpoints();
    objects.engine.setEndpoints(QList<Endpoint>(demo.begin(), demo.end()));
    objects.engine.setProjects({Project{"p-1", "Acme storefront", 9, "now"}});
    objects.engine.setActiveProjectID(QStringLiteral("p-1"));
    objects.engine.setProxyPort(9999);
    objects.state.select(NavItem::endpoints);
    objects.state.setSelectedEndpointID(QString::fromStdString(demo[1].id));
    auto *view = new ContentView(objects.context(), registry);
    routestest::ThemedFrame frame(view, QSize(1180, 740), false);
    frame.show();
    for (int pass = 0; pass < 5; ++pass) // each nested layout settles on its own posted request
        QCoreApplication::processEvents();

    MainHeader *header = view->header();
    const ShellText *path = header->pathCrumb();
    const auto expectFits = [&] {
        EXPECT_FALSE(header->showsFullSearch());
        EXPECT_TRUE(header->compactSearch()->isVisible());
        ASSERT_EQ(header->breadcrumb().size(), 3);
        EXPECT_LE(header->compactSearch()->x() + header->compactSearch()->width(), header->environmentPicker()->x() - 8);
        // The picker has given way to its icon; the name keeps its first three characters.
        EXPECT_TRUE(header->environmentPicker()->isIconOnly());
        EXPECT_TRUE(header->projectCrumb()->shownText().startsWith(QStringLiteral("Acm")))
            << header->projectCrumb()->shownText().toStdString();
        EXPECT_TRUE(header->projectCrumb()->isVisible());
        EXPECT_TRUE(header->pathCrumb()->isVisible());
        // Nothing is pushed into the bar's right padding.
        const QWidget *toggle = header->infoToggle();
        EXPECT_LE(toggle->x() + toggle->width(), header->width() - 16);
    };
    expectFits();
    EXPECT_TRUE(path->isVisible());
    // With the picker down to its icon, a short path is whole.
    EXPECT_EQ(path->shownText(), QStringLiteral("/v2/users"));
    EXPECT_LE(path->mapTo(header, QPoint(path->width(), 0)).x(), header->compactSearch()->x() - 8);
    testsupport::saveRender(header, QStringLiteral("routes"), QStringLiteral("header_minimum_stopped"));

    // The running proxy's wider chip: still every crumb, the screen title whole.
    objects.engine.setProxyRunning(true);
    for (int pass = 0; pass < 5; ++pass) // each nested layout settles on its own posted request
        QCoreApplication::processEvents();
    expectFits();
    EXPECT_TRUE(routestest::drewSomething(testsupport::saveRender(&frame, QStringLiteral("routes"),
                                                                  QStringLiteral("window_routes_minimum"))));
    testsupport::saveRender(header, QStringLiteral("routes"), QStringLiteral("header_minimum_live"));
}
