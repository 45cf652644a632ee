// The inspector in the main window: registered by the routes library, rebuilt per project and route,
// and a number still being typed saved into its own route when the selection moves on.
#include "inspector_fixture.h"

#include "app/content_view.h"
#include "app/shell_registry.h"
#include "design/mini_field.h"
#include "screens/routes/routes_catalog.h"

class InspectorInWindow : public InspectorEngineTest
{
protected:
    ContentView &window()
    {
        if (!m_window) {
            installRoutesScreens(registry);
            Preferences::instance().setValue(PrefKey::OnboardedV1, true);
            m_window = std::make_unique<ContentView>(AppContext{&state, &client(), nullptr, nullptr}, registry);
            m_window->resize(1280, 820);
            m_window->show();
            QApplication::processEvents();
        }
        return *m_window;
    }

    InspectorView *inspector() { return qobject_cast<InspectorView *>(window().inspector()); }

    void TearDown() override
    {
        m_window.reset();
        InspectorEngineTest::TearDown();
    }

    ShellRegistry registry;
    std::unique_ptr<ContentView> m_window;
};

TEST_F(InspectorInWindow, TypedStatusLandsOnItsOwnRouteWhenAnotherIsSelected)
{
    seed({inspectorRoute("r-a"), inspectorRoute("r-b")});
    window();
    state.setSelectedEndpointID(QStringLiteral("r-a"));
    InspectorView *first = inspector();
    ASSERT_NE(first, nullptr);
    // Shown before the user types into it.
    QApplication::processEvents();
    ASSERT_TRUE(first->isVisible());
    EXPECT_EQ(first->model()->routeID(), "r-a");
    first->statusField()->lineEdit()->selectAll();
    QTest::keyClicks(first->statusField()->lineEdit(), QStringLiteral("302"));

    state.setSelectedEndpointID(QStringLiteral("r-b"));
    InspectorView *second = inspector();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(second->model()->routeID(), "r-b");
    ASSERT_TRUE(testsupport::waitFor([this] { return find("r-a")->status == 302; }));
    EXPECT_EQ(find("r-b")->status, 200);
    // The save of the old route did not disturb the new inspector: it is the only one shown.
    EXPECT_EQ(inspector(), second);
    QApplication::processEvents();
    int shown = 0;
    for (InspectorView *view : window().findChildren<InspectorView *>())
        shown += view->isVisible() ? 1 : 0;
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(second->statusField()->value(), 200);
    ASSERT_TRUE(settled());
    EXPECT_EQ(routeIn(engineRoutes(), "r-a")["status"], 302);
}

TEST_F(InspectorInWindow, AnotherProjectWithTheSameRouteIdGetsAFreshInspector)
{
    seed({inspectorRoute("r-a")});
    window();
    state.setSelectedEndpointID(QStringLiteral("r-a"));
    InspectorView *before = inspector();
    ASSERT_NE(before, nullptr);
    const QString project = client().activeProjectID();
    client().setActiveProjectID(project + QStringLiteral("-copy"));
    InspectorView *after = inspector();
    ASSERT_NE(after, nullptr);
    EXPECT_NE(after, before);
    EXPECT_EQ(after->model()->projectID(), project + QStringLiteral("-copy"));
    EXPECT_TRUE(after->model()->isCurrent());
}
