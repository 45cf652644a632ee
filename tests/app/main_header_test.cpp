// The header: breadcrumb, arrows, theme button, proxy chip and the two menus.
#include "app/app_state.h"
#include "app/environment_picker.h"
#include "app/main_header.h"
#include "design/badges.h"
#include "design/keyboard_reach.h"
#include "design/palette.h"
#include "design/snow_dropdown.h"
#include "design/snow_select.h"
#include "design/shell_widgets.h"
#include "engine/engine_client.h"
#include "engine/records/mock_data.h"

#include "app/qt_printers.h"
#include "support/test_support.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

QStringList titles(const QList<SnowMenuItem> &items)
{
    QStringList out;
    for (const auto &item : items)
        out << (item.isDivider ? QStringLiteral("—") : item.title);
    return out;
}

class Header : public ::testing::Test
{
protected:
    AppState state;
    EngineClient engine;
    MainHeader header{AppContext{&state, &engine, nullptr, nullptr}};
};

} // namespace

TEST_F(Header, BreadcrumbHasTwoCrumbsOffTheRoutesScreenAndThreeWithARoute)
{
    Endpoint route;
    route.id = "r1";
    route.path = "/v1/orders";
    engine.setEndpoints({route});
    EXPECT_EQ(header.breadcrumb(), (QStringList{"Kestrion", "Dashboard"}));
    state.setSelectedEndpointID(QStringLiteral("r1"));
    EXPECT_EQ(header.breadcrumb(), (QStringList{"Kestrion", "Dashboard"}));
    EXPECT_TRUE(header.screenCrumbIsCurrent());
    state.setNav(NavItem::endpoints);
    EXPECT_EQ(header.breadcrumb(), (QStringList{"Kestrion", "Endpoints", "/v1/orders"}));
    EXPECT_FALSE(header.screenCrumbIsCurrent());
    engine.setEndpoints({});
    EXPECT_EQ(header.breadcrumb(), (QStringList{"Kestrion", "Endpoints"}));
    engine.setProjects({Project{"p", "Shop", 0, ""}});
    engine.setActiveProjectID("p");
    EXPECT_EQ(header.breadcrumb().first(), "Shop");
}

TEST_F(Header, ArrowsAreDimAtStartAndClicksDoNothingUntilThereIsHistory)
{
    EXPECT_FALSE(header.backEnabled());
    EXPECT_FALSE(header.forwardEnabled());
    header.backButton()->click();
    header.forwardButton()->click();
    EXPECT_EQ(state.nav(), NavItem::dashboard);
    state.select(NavItem::history);
    EXPECT_TRUE(header.backEnabled());
    header.backButton()->click();
    EXPECT_EQ(state.nav(), NavItem::dashboard);
    EXPECT_TRUE(header.forwardEnabled());
    header.forwardButton()->click();
    EXPECT_EQ(state.nav(), NavItem::history);
}

TEST_F(Header, ThemeButtonCyclesAndShowsTheThemeSymbol)
{
    EXPECT_EQ(header.themeButton()->symbol(), "sun.max");
    EXPECT_EQ(header.themeButton()->toolTip(), "Theme: Light");
    header.themeButton()->click();
    EXPECT_EQ(state.theme(), AppTheme::system);
    EXPECT_EQ(header.themeButton()->symbol(), "circle.lefthalf.filled");
    header.themeButton()->click();
    EXPECT_EQ(header.themeButton()->symbol(), "moon");
}

TEST_F(Header, ProxyChipAndStatusMenuFollowTheProxy)
{
    EXPECT_EQ(header.proxyChipText(), "Stopped");
    EXPECT_EQ(titles(header.statusItems()), (QStringList{"Start proxy"}));
    EXPECT_EQ(header.statusItems().first().tone, SnowMenuItem::Tone::accent);
    engine.setProxyRunning(true);
    EXPECT_EQ(header.proxyChipText(), QStringLiteral("Live · :") + QString::number(engine.proxyPort()));
    EXPECT_EQ(titles(header.statusItems()), (QStringList{"Stop proxy", "Restart proxy"}));
    EXPECT_EQ(header.statusItems().first().tone, SnowMenuItem::Tone::destructive);
}

TEST_F(Header, TabRingsTheProxyChipOverItsFillAndTheEnvironmentSelect)
{
    engine.setProxyRunning(true);
    QWidget &window = header;
    PaletteHost::set(&window, Palette::light());
    window.resize(1280, 48);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const QColor ring = KeyboardReach::ringColor(Palette::light());
    const auto ringPixels = [&](QWidget *control) {
        QCoreApplication::processEvents();
        const QImage image = window.grab().toImage();
        return testsupport::pixelsOfColor(image, QRect(control->mapTo(&window, QPoint(0, 0)), control->size()), ring);
    };
    const auto tabTo = [&](QWidget *target) {
        for (int i = 0; i < 12 && QApplication::focusWidget() != target; ++i)
            EXPECT_TRUE(testsupport::pressKey(Qt::Key_Tab));
        return QApplication::focusWidget() == target;
    };
    QWidget *select = header.environmentPicker()->select();
    EXPECT_EQ(ringPixels(header.proxyChip()), 0);
    EXPECT_EQ(ringPixels(select), 0);
    ASSERT_TRUE(tabTo(select));
    EXPECT_GT(ringPixels(select), 60) << "the ring, not the box's faint focus line";
    ASSERT_TRUE(tabTo(header.proxyChip()));
    EXPECT_GT(ringPixels(header.proxyChip()), 60) << "the ring shows over the chip's fill";
    EXPECT_EQ(ringPixels(select), 0);
    testsupport::saveRender(&window, QStringLiteral("shell"), QStringLiteral("header_proxy_chip_focused"));
}

TEST_F(Header, ActionsMenuOffersDemoOrClearByRouteCount)
{
    const QStringList start = {"Import file…", "Import OpenAPI…", "Open profile…", "Export profile…", "—", "New route…"};
    EXPECT_EQ(titles(header.actionItems()), start + QStringList({"Load demo session", "Clear traffic"}));
    header.actionItems()[6].action();
    EXPECT_EQ(engine.endpoints().size(), qsizetype(MockData::endpoints().size()));
    EXPECT_EQ(titles(header.actionItems()), start + QStringList({"Clear session", "Clear traffic"}));
    state.setNav(NavItem::endpoints);
    state.setSelectedEndpointID(QString::fromStdString(MockData::endpoints().front().id));
    header.actionItems()[6].action();
    EXPECT_TRUE(engine.endpoints().isEmpty());
    // Clearing the session leaves the selection to the screens that show it.
    EXPECT_TRUE(state.selectedEndpointID().has_value());
    header.actionItems()[5].action();
    EXPECT_TRUE(state.showNewRoute());
}

TEST_F(Header, NarrowBarTradesTheTriggerForTheIcon)
{
    // Narrowest first: a top-level bar cannot be made narrower than the layout it last showed.
    header.resize(640, MainHeader::Height);
    header.show();
    QCoreApplication::processEvents();
    // Too narrow for the icon beside the whole breadcrumb: the project crumb gives way, the icon stays,
    // and the shortcut opens the palette too.
    EXPECT_FALSE(header.showsFullSearch());
    EXPECT_TRUE(header.compactSearch()->isVisible());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&header));
    QTest::keyClick(&header, Qt::Key_K, Qt::ControlModifier);
    EXPECT_TRUE(state.showSearch());
    state.setShowSearch(false);
    header.resize(700, MainHeader::Height);
    QCoreApplication::processEvents();
    EXPECT_FALSE(header.showsFullSearch());
    EXPECT_TRUE(header.compactSearch()->isVisible());
    header.compactSearch()->click();
    EXPECT_TRUE(state.showSearch());

    header.resize(1100, MainHeader::Height);
    QCoreApplication::processEvents();
    EXPECT_TRUE(header.showsFullSearch());
}

TEST_F(Header, ASearchControlStaysBesideAnOpenRouteWithTheProxyLive)
{
    engine.setProjects({Project{"p", "Default", 0, ""}});
    engine.setActiveProjectID("p");
    Endpoint route;
    route.id = "r1";
    route.path = "/v2/orders/:orderId/items";
    engine.setEndpoints({route});
    state.setNav(NavItem::endpoints);
    state.setSelectedEndpointID(QStringLiteral("r1"));
    engine.setProxyRunning(true);
    // The bar beside the sidebar and the inspector in the default 1280-wide window and in a 1180-wide one,
    // and a narrower one still.
    header.resize(730, MainHeader::Height);
    header.show();
    for (const int width : {730, 630, 560}) {
        header.resize(width, MainHeader::Height);
        QCoreApplication::processEvents();
        ASSERT_TRUE(testsupport::waitFor([&] { return header.compactSearch()->isVisible() || header.showsFullSearch(); }))
            << width;
        QWidget *search = header.showsFullSearch() ? static_cast<QWidget *>(header.searchTrigger())
                                                   : static_cast<QWidget *>(header.compactSearch());
        const QRect shown(search->mapTo(&header, QPoint(0, 0)), search->size());
        EXPECT_EQ(shown.size(), search->sizeHint()) << width;
        for (const ShellText *text : header.findChildren<ShellText *>()) {
            if (text->isVisible() && !search->isAncestorOf(text)) {
                EXPECT_FALSE(shown.intersects(QRect(text->mapTo(&header, QPoint(0, 0)), text->size())))
                    << width << " " << text->text().toStdString();
            }
        }
        EXPECT_LE(shown.right(), header.environmentPicker()->x()) << width;
        EXPECT_TRUE(header.breadcrumb().contains(QStringLiteral("Endpoints")));
        // The glass is drawn: pixels of the faint glyph stand out from the bar.
        const QImage image(testsupport::saveRender(&header, "shell", QStringLiteral("header-live-route-%1").arg(width)));
        const QColor bar = image.pixelColor(shown.left() - 2, 2);
        int glyph = 0;
        for (int y = shown.top(); y <= shown.bottom(); ++y)
            for (int x = shown.left(); x <= shown.right(); ++x)
                glyph += qAbs(image.pixelColor(x, y).lightness() - bar.lightness()) > 40 ? 1 : 0;
        EXPECT_GT(glyph, 10) << width;
        search == header.compactSearch() ? header.compactSearch()->click() : header.searchTrigger()->click();
        EXPECT_TRUE(state.showSearch()) << width;
        state.setShowSearch(false);
    }
}

TEST_F(Header, SearchHintNamesTheShortcutThisPlatformUses)
{
    const auto *keys = header.searchTrigger()->findChild<KeyCap *>();
    ASSERT_NE(keys, nullptr);
    EXPECT_EQ(keys->keys(), QStringLiteral("Ctrl+K"));
    header.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&header));
    QTest::keyClick(&header, Qt::Key_K, Qt::ControlModifier);
    EXPECT_TRUE(state.showSearch()) << "the hint is the key that opens the palette";
}

namespace {

// A field that claims Ctrl+K the way QLineEdit does under the X11 key scheme ("delete to end of
// line"), which the offscreen platform does not use.
class ClaimingField final : public QLineEdit
{
public:
    using QLineEdit::QLineEdit;
    int claimedPresses = 0;

protected:
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::ShortcutOverride && isCtrlK(event)) {
            event->accept();
            return true;
        }
        if (event->type() == QEvent::KeyPress && isCtrlK(event))
            ++claimedPresses;
        return QLineEdit::event(event);
    }

private:
    static bool isCtrlK(QEvent *event)
    {
        return static_cast<QKeyEvent *>(event)->keyCombination() == QKeyCombination(Qt::CTRL, Qt::Key_K);
    }
};

} // namespace

TEST(HeaderShortcut, CtrlKWinsOverATextFieldAnywhereInTheWindow)
{
    AppState state;
    EngineClient engine;
    QWidget window;
    auto *header = new MainHeader(AppContext{&state, &engine, nullptr, nullptr}, &window);
    auto *field = new ClaimingField(&window);
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(header);
    layout->addWidget(field);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    field->setFocus();
    QTest::keyClick(field, Qt::Key_K, Qt::ControlModifier);
    EXPECT_TRUE(state.showSearch());
    EXPECT_EQ(field->claimedPresses, 0);

    // A field of another window keeps the key for itself.
    state.setShowSearch(false);
    ClaimingField other;
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    QTest::keyClick(&other, Qt::Key_K, Qt::ControlModifier);
    EXPECT_FALSE(state.showSearch());
    EXPECT_EQ(other.claimedPresses, 1);
}

TEST_F(Header, ProjectCrumbShrinksToAnEllipsisButNeverVanishes)
{
    engine.setProjects({Project{"p", "A project with a rather long name", 0, ""}});
    engine.setActiveProjectID("p");
    header.resize(480, MainHeader::Height);
    header.show();
    QCoreApplication::processEvents();
    const ShellText *crumb = header.projectCrumb();
    EXPECT_GE(crumb->width(), QFontMetrics(crumb->font()).horizontalAdvance(QChar(0x2026)));
    EXPECT_TRUE(crumb->shownText().endsWith(QChar(0x2026))) << crumb->shownText().toStdString();
    EXPECT_FALSE(crumb->shownText().isEmpty());
}

TEST_F(Header, ThePickerGivesWayBeforeTheCrumbsBesideAnOpenRoute)
{
    // The bar beside the sidebar and the inspector, the proxy live, in a 1280-wide window and a 1180-wide one.
    engine.setProjects({Project{"p", "Default", 0, ""}});
    engine.setActiveProjectID("p");
    engine.setProxyRunning(true);
    Endpoint route;
    route.id = "r1";
    route.path = "/api/greeting";
    engine.setEndpoints({route});
    state.setNav(NavItem::endpoints);
    state.setSelectedEndpointID(QStringLiteral("r1"));
    const EnvironmentPicker *picker = header.environmentPicker();
    header.resize(730, MainHeader::Height);
    header.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(header.projectCrumb()->shownText(), QStringLiteral("Default"));
    EXPECT_EQ(header.pathCrumb()->shownText(), QStringLiteral("/api/greeting"));
    EXPECT_LT(picker->width(), EnvironmentPicker::BoxWidth);
    EXPECT_GE(picker->width(), EnvironmentPicker::LeastWidth);
    EXPECT_FALSE(picker->isIconOnly());

    // Too little room for the name's first three characters and the path's first and last four beside
    // the picker's least: the picker shows its icon, its name in the tooltip.
    header.resize(630, MainHeader::Height);
    QCoreApplication::processEvents();
    const QString project = header.projectCrumb()->shownText();
    const QString path = header.pathCrumb()->shownText();
    EXPECT_TRUE(project.startsWith(QStringLiteral("Def"))) << project.toStdString();
    EXPECT_TRUE(path.startsWith(QStringLiteral("/api")) && path.endsWith(QStringLiteral("ting"))) << path.toStdString();
    EXPECT_TRUE(picker->isIconOnly());
    EXPECT_EQ(picker->width(), SnowSelect::iconOnlyWidth());
    EXPECT_EQ(picker->select()->toolTip(), QStringLiteral("No environment"));
    EXPECT_LE(header.pathCrumb()->mapTo(&header, QPoint(header.pathCrumb()->width(), 0)).x(),
              header.compactSearch()->x() - 8);

    // Wider again, the name comes back.
    header.resize(900, MainHeader::Height);
    QCoreApplication::processEvents();
    EXPECT_FALSE(picker->isIconOnly());
    EXPECT_EQ(picker->width(), EnvironmentPicker::BoxWidth);
    EXPECT_EQ(header.breadcrumb(), (QStringList{"Default", "Endpoints", "/api/greeting"}));
}

TEST_F(Header, InfoToggleTintFollowsTheFlag)
{
    EXPECT_EQ(header.infoToggle()->symbolColor(), Palette::light().foreground);
    header.setShowInfo(false);
    EXPECT_EQ(header.infoToggle()->symbolColor(), Palette::light().mutedForeground);
}

TEST_F(Header, StoppedProxyDotFollowsThePaletteInForce)
{
    // The stopped dot is drawn in the muted colour of the window's current palette, not the one at start.
    EXPECT_EQ(header.proxyDotColor(), Palette::light().mutedForeground);
    PaletteHost::set(&header, Palette::dark());
    EXPECT_EQ(header.proxyDotColor(), Palette::dark().mutedForeground);
    engine.setProxyRunning(true);
    EXPECT_EQ(header.proxyDotColor(), QColor(0x1F, 0x8A, 0x50));
}

TEST_F(Header, ARouteWithAnEmptyPathStillMakesThreeCrumbs)
{
    Endpoint route;
    route.id = "r1";
    route.path = "";
    engine.setEndpoints({route});
    state.setNav(NavItem::endpoints);
    state.setSelectedEndpointID(QStringLiteral("r1"));
    // The route exists, so the screen crumb is no longer the current one even though its path is empty.
    EXPECT_EQ(header.breadcrumb(), (QStringList{"Kestrion", "Endpoints", ""}));
    EXPECT_FALSE(header.screenCrumbIsCurrent());
}
