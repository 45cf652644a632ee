// Breadcrumb, search form, theme button, environment picker label and import banner tone.
#include "app/header_logic.h"

#include "app/qt_printers.h"

#include <gtest/gtest.h>

using namespace HeaderLogic;

TEST(HeaderBreadcrumb, ProjectNameFallsBackToKestrion)
{
    EXPECT_EQ(projectName({}, ""), "Kestrion");
    const QList<Project> projects = {{"p1", "Shop", 2, ""}, {"p2", "Bank", 0, ""}, {"p2", "Dup", 0, ""}};
    EXPECT_EQ(projectName(projects, "p2"), "Bank");
    EXPECT_EQ(projectName(projects, "p9"), "Kestrion");
}

TEST(HeaderBreadcrumb, PathCrumbOnlyOnRoutesScreenWithExistingRoute)
{
    Endpoint e;
    e.id = "r1";
    e.path = "/v1/users";
    const QList<Endpoint> routes = {e};
    EXPECT_EQ(selectedEndpointPath(NavItem::endpoints, QString("r1"), routes), std::optional<QString>("/v1/users"));
    EXPECT_FALSE(selectedEndpointPath(NavItem::history, QString("r1"), routes).has_value());
    EXPECT_FALSE(selectedEndpointPath(NavItem::endpoints, QString("gone"), routes).has_value());
    EXPECT_FALSE(selectedEndpointPath(NavItem::endpoints, std::nullopt, routes).has_value());
    EXPECT_EQ(inspectorEndpoint(NavItem::endpoints, QString("r1"), routes), &routes[0]);
    EXPECT_EQ(inspectorEndpoint(NavItem::dashboard, QString("r1"), routes), nullptr);
}

TEST(HeaderSearch, GivesWayBeforeTheBreadcrumb)
{
    // 300 points for a 100-point breadcrumb: the full 200-point trigger needs 100 + 8 + 200.
    EXPECT_EQ(searchForm(308, 100, 200, 8), SearchForm::full);
    EXPECT_EQ(searchForm(307, 100, 200, 8), SearchForm::compact);
    // However short the room, the magnifying glass stays; the breadcrumb gives way instead.
    EXPECT_EQ(searchForm(135, 100, 200, 8), SearchForm::compact);
    EXPECT_EQ(searchForm(40, 100, 200, 8), SearchForm::compact);
}

TEST(HeaderEnvironmentPicker, GivesTheBreadcrumbWhatItLacksDownToItsLeast)
{
    EXPECT_EQ(HeaderLogic::environmentPickerWidth(200, 124, 168, 120), 168);
    EXPECT_EQ(HeaderLogic::environmentPickerWidth(124, 124, 168, 120), 168);
    EXPECT_EQ(HeaderLogic::environmentPickerWidth(108, 124, 168, 120), 152);
    EXPECT_EQ(HeaderLogic::environmentPickerWidth(40, 124, 168, 120), 120);
}

TEST(HeaderThemeButton, SymbolAndTooltipPerTheme)
{
    EXPECT_EQ(themeSymbol(AppTheme::light), "sun.max");
    EXPECT_EQ(themeSymbol(AppTheme::system), "circle.lefthalf.filled");
    EXPECT_EQ(themeSymbol(AppTheme::dark), "moon");
    EXPECT_EQ(themeTooltip(AppTheme::light), "Theme: Light");
    EXPECT_EQ(themeTooltip(AppTheme::dark), "Theme: Dark");
}

TEST(EnvironmentPickerLabel, ActiveNameOrNoEnvironment)
{
    MockEnvironment a{"env-1", "Staging", {}};
    MockEnvironment b{"env-2", "", {}};
    EXPECT_EQ(activeEnvironmentName({a, b}, "env-1"), "Staging");
    EXPECT_EQ(activeEnvironmentName({a, b}, "env-2"), "");
    EXPECT_EQ(activeEnvironmentName({a, b}, ""), "No environment");
    EXPECT_EQ(activeEnvironmentName({a}, "env-9"), "No environment");
}

TEST(ImportBannerTone, OnlyExactImportedPrefixIsSuccess)
{
    EXPECT_TRUE(isSuccessSummary("Imported 4 routes into Shop"));
    EXPECT_FALSE(isSuccessSummary("imported 4 routes"));
    EXPECT_FALSE(isSuccessSummary("Import failed: bad YAML"));
    EXPECT_FALSE(isSuccessSummary(""));
}
