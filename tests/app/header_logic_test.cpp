// Breadcrumb, search form, theme button, environment picker label and import banner tone.
#include "app/header_logic.h"

#include "app/app_sidebar.h"
#include "app/right_info_panel.h"
#include "design/fonts.h"

#include "app/qt_printers.h"

#include <QFontMetrics>

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

namespace {

HeaderLogic::Measure measureIn(const QFont &font)
{
    const QFontMetrics metrics(font);
    return [metrics](const QString &text) { return metrics.horizontalAdvance(text) + 1; };
}

// The bar beside the sidebar and, when shown, the trailing column, with the widths the bar's items take:
// the proxy live on :9999 (arrows, theme button, chip, menu, toggle, padding and gaps), the 200-wide
// search or its 28-wide glass, the 168-wide picker, at least 120 with its name, 52 with its icon alone.
HeaderItems barItems(int window, int trailing, const QString &project, std::optional<QString> path)
{
    HeaderItems items;
    items.bar = window - AppSidebar::Width - 1 - trailing;
    items.fixed = 342;
    items.searchFull = 200;
    items.searchCompact = 28;
    items.pickerFull = 168;
    items.pickerLeast = 120;
    items.pickerIcon = 52;
    const auto regular = measureIn(Fonts::inter(13));
    const auto medium = measureIn(Fonts::inter(13, QFont::Medium));
    // The breadcrumb's left margin, its gaps and slashes, and the screen title.
    items.crumbsFixed = 4 + (path ? 4 * 6 + 2 * regular("/") + regular("Endpoints") : 2 * 6 + regular("/") + medium("Endpoints"));
    items.project = project;
    items.measureProject = regular;
    items.path = path;
    items.measurePath = medium;
    return items;
}

constexpr int inspector = 300 + 1;
constexpr int infoPanel = RightInfoPanel::Width + 1;

} // namespace

TEST(HeaderFitting, ThePickerGivesWayBeforeAnyCrumbAndItsNameBeforeTheSmallestWindowsCrumbs)
{
    struct Row
    {
        int window;
        int trailing;
        QString project;
        std::optional<QString> path;
        QString shownProject;
        QString shownPath;
        int picker;
        bool iconOnly;
        SearchForm search;
    };
    const QString none;
    const std::vector<Row> rows = {
        // A route open: the inspector beside the bar. The picker gives way first, down to 120; then the
        // name down to its first three characters; then the picker to its icon, and the path.
        {1280, inspector, "Default", "/api/greeting", "Default", "/api/greeting", 132, false, SearchForm::compact},
        {1260, inspector, "Default", "/v2/users", "Default", "/v2/users", 133, false, SearchForm::compact},
        {1260, inspector, "Default", "/api/greeting", "Def…", "/api/greeting", 120, false, SearchForm::compact},
        {1180, inspector, "Default", "/api/greeting", "Def…", "/api/…eting", 52, true, SearchForm::compact},
        {1180, inspector, "Acme storefront", "/v2/orders/:orderId/items", "Acm…", "/v2/…tems", 52, true,
         SearchForm::compact},
        // No route: the info panel, or nothing, beside the bar.
        {1280, infoPanel, "Default", std::nullopt, "Default", none, 168, false, SearchForm::compact},
        {1180, infoPanel, "Acme storefront", std::nullopt, "Acme stor…", none, 120, false, SearchForm::compact},
        {1280, 0, "Acme storefront", std::nullopt, "Acme storefront", none, 168, false, SearchForm::full},
        {1180, 0, "Default", std::nullopt, "Default", none, 168, false, SearchForm::full},
    };
    for (const Row &row : rows) {
        const HeaderFit fit = fitHeader(barItems(row.window, row.trailing, row.project, row.path));
        const std::string what = std::to_string(row.window) + " beside " + std::to_string(row.trailing) + " "
                                 + row.path.value_or("-").toStdString();
        EXPECT_EQ(fit.project, row.shownProject) << what;
        EXPECT_EQ(fit.path, row.path ? row.shownPath : QString()) << what;
        EXPECT_EQ(fit.picker, row.picker) << what;
        EXPECT_EQ(fit.pickerIconOnly, row.iconOnly) << what;
        EXPECT_EQ(fit.search, row.search) << what;
    }
}

TEST(HeaderFitting, ElisionKeepsWhatFitsAndNeverSplitsACharacterPair)
{
    const auto tenEach = [](const QString &text) { return int(text.size()) * 10; };
    EXPECT_EQ(elideEnd("Default", 40, tenEach), QString("Def") + QChar(0x2026));
    EXPECT_EQ(elideMiddle("/api/greeting", 90, tenEach), QString("/api") + QChar(0x2026) + "ting");
    EXPECT_EQ(elideMiddle("/api/greeting", 5, tenEach), QString(QChar(0x2026)));
    const QString faces = QString::fromUtf16(u"a\U0001F600b\U0001F600c");
    EXPECT_EQ(elideEnd(faces, 35, tenEach), QString("a") + QChar(0x2026));
    EXPECT_EQ(elideMiddle(faces, 45, tenEach), QString("a") + QChar(0x2026) + "c");
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
