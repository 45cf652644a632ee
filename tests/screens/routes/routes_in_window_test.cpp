// The routes screen and sheets joined to the main window through the catalog: the sheet flags open
// them in the window's dialogs, and the screen shows beside the sidebar.
#include "app/content_view.h"
#include "app/sheet_presenter.h"
#include "app/shell_registry.h"
#include "design/snow_text_field.h"
#include "engine/records/mock_data.h"
#include "routes_test_support.h"
#include "screens/routes/endpoints_screen.h"
#include "screens/routes/manage_environments_sheet.h"
#include "screens/routes/new_group_sheet.h"
#include "screens/routes/new_route_sheet.h"
#include "screens/routes/projects_sheets.h"
#include "screens/routes/route_list_model.h"
#include "screens/routes/routes_catalog.h"

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
