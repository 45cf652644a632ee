// Navigation history, selection clearing, theme cycle and sheet flags of AppState.
#include "app/app_state.h"

#include <QSignalSpy>

#include "app/qt_printers.h"

#include <gtest/gtest.h>

using Stack = QList<NavItem>;

TEST(NavItemTable, TitlesIconsAndRawValuesInSidebarOrder)
{
    ASSERT_EQ(Nav::allCases.size(), 7u);
    const QStringList titles = {"Dashboard", "Endpoints", "Live Traffic", "History",
                                "Schema Drift", "Certificates", "Devices"};
    const QStringList icons = {"rectangle.grid.2x2", "list.bullet", "waveform.path.ecg",
                               "clock.arrow.circlepath", "arrow.triangle.branch", "lock.shield", "iphone"};
    const QStringList raws = {"dashboard", "endpoints", "liveTraffic", "history",
                              "schema", "certificates", "devices"};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(Nav::title(Nav::allCases[i]), titles[i]);
        EXPECT_EQ(Nav::icon(Nav::allCases[i]), icons[i]);
        EXPECT_EQ(Nav::rawValue(Nav::allCases[i]), raws[i]);
        EXPECT_EQ(Nav::fromRawValue(raws[i]), Nav::allCases[i]);
    }
}

TEST(NavItemTable, FromRawValueIsExactAndCaseSensitive)
{
    EXPECT_FALSE(Nav::fromRawValue("Dashboard").has_value());
    EXPECT_FALSE(Nav::fromRawValue("").has_value());
    EXPECT_FALSE(Nav::fromRawValue(" history").has_value());
    EXPECT_FALSE(Nav::fromRawValue("livetraffic").has_value());
}

TEST(AppStateNavigation, StartsOnDashboardWithEmptyStacks)
{
    AppState state;
    EXPECT_EQ(state.nav(), NavItem::dashboard);
    EXPECT_EQ(state.theme(), AppTheme::light);
    EXPECT_FALSE(state.selectedEndpointID().has_value());
    EXPECT_TRUE(state.backStack().isEmpty());
    EXPECT_TRUE(state.forwardStack().isEmpty());
    for (SheetFlag flag : allSheetFlags)
        EXPECT_FALSE(state.sheetFlag(flag));
    EXPECT_FALSE(state.groupAssignTarget().has_value());
    EXPECT_FALSE(state.groupRenameFrom().has_value());
}

TEST(AppStateNavigation, SelectBackSelectEmptiesForwardStack)
{
    AppState state;
    state.select(NavItem::history);
    state.select(NavItem::dashboard);
    state.select(NavItem::history);
    EXPECT_EQ(state.backStack(), (Stack{NavItem::dashboard, NavItem::history, NavItem::dashboard}));

    state.goBack();
    EXPECT_EQ(state.nav(), NavItem::dashboard);
    EXPECT_EQ(state.backStack(), (Stack{NavItem::dashboard, NavItem::history}));
    EXPECT_EQ(state.forwardStack(), (Stack{NavItem::history}));

    state.select(NavItem::devices);
    EXPECT_TRUE(state.forwardStack().isEmpty());
    EXPECT_EQ(state.backStack(), (Stack{NavItem::dashboard, NavItem::history, NavItem::dashboard}));
}

TEST(AppStateNavigation, ForwardMirrorsBackAndNeitherEmptiesTheOtherStack)
{
    AppState state;
    state.select(NavItem::history);
    state.select(NavItem::schema);
    state.goBack();
    state.goBack();
    EXPECT_EQ(state.nav(), NavItem::dashboard);
    EXPECT_EQ(state.forwardStack(), (Stack{NavItem::schema, NavItem::history}));
    state.goForward();
    EXPECT_EQ(state.nav(), NavItem::history);
    EXPECT_EQ(state.backStack(), (Stack{NavItem::dashboard}));
    EXPECT_EQ(state.forwardStack(), (Stack{NavItem::schema}));
    state.goForward();
    EXPECT_EQ(state.nav(), NavItem::schema);
    EXPECT_EQ(state.backStack(), (Stack{NavItem::dashboard, NavItem::history}));
    EXPECT_TRUE(state.forwardStack().isEmpty());
}

TEST(AppStateNavigation, DuplicateSelectKeepsStacksButClearsSelection)
{
    AppState state;
    state.select(NavItem::history);
    state.goBack();
    state.setSelectedEndpointID(QStringLiteral("r-1"));
    QSignalSpy navSpy(&state, &AppState::navChanged);
    state.select(NavItem::dashboard);
    EXPECT_EQ(navSpy.count(), 1); // written even when unchanged
    EXPECT_TRUE(state.backStack().isEmpty());
    EXPECT_EQ(state.forwardStack(), (Stack{NavItem::history}));
    EXPECT_FALSE(state.selectedEndpointID().has_value());
}

TEST(AppStateNavigation, SelectEndpointsKeepsSelectedRoute)
{
    AppState state;
    state.select(NavItem::endpoints);
    state.setSelectedEndpointID(QStringLiteral("r-1"));
    state.select(NavItem::endpoints);
    EXPECT_EQ(state.selectedEndpointID(), std::optional<QString>(QStringLiteral("r-1")));
    EXPECT_EQ(state.backStack(), (Stack{NavItem::dashboard}));
}

TEST(AppStateNavigation, LeavingRoutesClearsSelectionAndBackShowsNone)
{
    AppState state;
    state.select(NavItem::endpoints);
    state.setSelectedEndpointID(QStringLiteral("r-1"));
    state.select(NavItem::history);
    EXPECT_FALSE(state.selectedEndpointID().has_value());
    state.goBack();
    EXPECT_EQ(state.nav(), NavItem::endpoints);
    EXPECT_FALSE(state.selectedEndpointID().has_value());
}

TEST(AppStateNavigation, BackOrForwardWithEmptyStackChangesNothing)
{
    AppState state;
    state.setNav(NavItem::liveTraffic);
    state.setSelectedEndpointID(QStringLiteral("r-9"));
    QSignalSpy navSpy(&state, &AppState::navChanged);
    QSignalSpy selSpy(&state, &AppState::selectedEndpointIDChanged);
    state.goBack();
    state.goForward();
    EXPECT_EQ(navSpy.count(), 0);
    EXPECT_EQ(selSpy.count(), 0);
    EXPECT_EQ(state.nav(), NavItem::liveTraffic);
    EXPECT_EQ(state.selectedEndpointID(), std::optional<QString>(QStringLiteral("r-9")));
}

TEST(AppStateNavigation, DirectNavWriteLeavesStacksAlone)
{
    AppState state;
    state.select(NavItem::history);
    state.setNav(NavItem::endpoints);
    state.setSelectedEndpointID(QStringLiteral("r-2"));
    EXPECT_EQ(state.backStack(), (Stack{NavItem::dashboard}));
    state.goBack();
    EXPECT_EQ(state.nav(), NavItem::dashboard);
    EXPECT_EQ(state.forwardStack(), (Stack{NavItem::endpoints}));
    EXPECT_FALSE(state.selectedEndpointID().has_value());
}

TEST(AppStateTheme, ThreeCyclesReturnToLightThroughSystemAndDark)
{
    AppState state;
    QSignalSpy spy(&state, &AppState::themeChanged);
    state.cycleTheme();
    EXPECT_EQ(state.theme(), AppTheme::system);
    state.cycleTheme();
    EXPECT_EQ(state.theme(), AppTheme::dark);
    state.cycleTheme();
    EXPECT_EQ(state.theme(), AppTheme::light);
    EXPECT_EQ(spy.count(), 3);
}

TEST(AppStateSheets, EveryFlagNotifiesOnEveryWrite)
{
    AppState state;
    QSignalSpy spy(&state, &AppState::sheetFlagChanged);
    QSignalSpy searchSpy(&state, &AppState::showSearchChanged);
    state.setShowSearch(true);
    state.setShowSearch(true);
    EXPECT_EQ(searchSpy.count(), 2);
    for (SheetFlag flag : allSheetFlags)
        state.setSheetFlag(flag, true);
    EXPECT_EQ(spy.count(), 2 + int(allSheetFlags.size()));
    EXPECT_TRUE(state.showSettings() && state.showOnboarding() && state.showNewProject() && state.showNewRoute()
                && state.showManageProjects() && state.showNewGroup() && state.showManageEnvironments());
}

TEST(AppStateGroupTargets, NewGroupOpenerClearsAStaleRenameTarget)
{
    AppState state;
    state.setGroupRenameFrom(QStringLiteral("beta")); // left behind by a careless opener
    state.openNewGroup("r-1");
    EXPECT_TRUE(state.showNewGroup());
    EXPECT_EQ(state.groupAssignTarget(), std::optional<QString>(QStringLiteral("r-1")));
    EXPECT_FALSE(state.groupRenameFrom().has_value());
}

TEST(AppStateGroupTargets, RenameOpenerClearsTheAssignTarget)
{
    AppState state;
    state.setGroupAssignTarget(QStringLiteral("r-1"));
    state.openRenameGroup("beta");
    EXPECT_EQ(state.groupRenameFrom(), std::optional<QString>(QStringLiteral("beta")));
    EXPECT_FALSE(state.groupAssignTarget().has_value());
}

TEST(AppStateGroupTargets, ClosingTheSheetAnyWayClearsBothTargets)
{
    AppState state;
    state.openRenameGroup("beta");
    state.setGroupAssignTarget(QStringLiteral("r-7"));
    state.setShowNewGroup(false); // as the window does when the dialog is dismissed with Escape
    EXPECT_FALSE(state.groupRenameFrom().has_value());
    EXPECT_FALSE(state.groupAssignTarget().has_value());
    // Another sheet closing leaves the targets alone.
    state.openNewGroup("r-3");
    state.setShowSettings(false);
    EXPECT_EQ(state.groupAssignTarget(), std::optional<QString>(QStringLiteral("r-3")));
}
