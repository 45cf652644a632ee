// The menu popover: closing before the action, Escape, outside presses, placement and long menus.
#include "design/palette.h"
#include "design/snow_menu_list.h"
#include "design/snow_menu_popup.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

TEST(SnowMenuPopup, EnabledEntryClosesTheMenuBeforeItsActionRuns)
{
    SnowMenuPopup popup;
    bool visibleDuringAction = true;
    int runs = 0;
    popup.open({SnowMenuItem::entry(QStringLiteral("Rename group…"), QStringLiteral("pencil"),
                                    [&] {
                                        ++runs;
                                        visibleDuringAction = popup.isVisible();
                                    })},
               190, QRect(100, 100, 80, 24), Palette::dark());
    ASSERT_TRUE(popup.isVisible());
    QSignalSpy closed(&popup, &SnowMenuPopup::closed);
    SnowMenuList *list = popup.list();
    QTest::mouseClick(list, Qt::LeftButton, {}, list->itemRect(0).center());
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(visibleDuringAction);
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(Palette::of(list), Palette::dark());
}

TEST(SnowMenuPopup, EscapeClosesWithoutChoosing)
{
    SnowMenuPopup popup;
    int runs = 0;
    popup.open({SnowMenuItem::entry(QStringLiteral("A"), {}, [&] { ++runs; })}, 160, QRect(0, 0, 10, 10),
               Palette::light());
    QTest::keyClick(&popup, Qt::Key_Escape);
    EXPECT_FALSE(popup.isVisible());
    EXPECT_EQ(runs, 0);
}

TEST(SnowMenuPopup, OpensCentredBelowTheAnchorAndStaysOnScreen)
{
    const QRect screen(0, 0, 1000, 800);
    EXPECT_EQ(SnowMenuPopup::placement(QSize(200, 100), QRect(400, 100, 100, 30), {}, screen),
              QRect(350, 134, 200, 100));
    // Near the right edge it slides left; near the bottom it goes above the anchor.
    EXPECT_EQ(SnowMenuPopup::placement(QSize(200, 100), QRect(950, 100, 40, 30), {}, screen).right(), 999);
    EXPECT_EQ(SnowMenuPopup::placement(QSize(200, 100), QRect(400, 750, 100, 30), {}, screen),
              QRect(350, 750 - 4 - 100, 200, 100));
}

TEST(SnowMenuPopup, APressOutsideClosesAndOnTheOpeningControlDoesNotReopen)
{
    SnowMenuPopup popup;
    const QRect anchor(300, 100, 80, 24);
    popup.open({SnowMenuItem::entry(QStringLiteral("A"), {}, [] {})}, 160, anchor, Palette::light());
    ASSERT_TRUE(popup.isVisible());
    // Whether the closing press may reach what lies under it, read as the popup closes.
    bool replayBlocked = false;
    QObject::connect(&popup, &SnowMenuPopup::closed, &popup,
                     [&] { replayBlocked = popup.testAttribute(Qt::WA_NoMouseReplay); });
    QTest::mouseClick(&popup, Qt::LeftButton, {}, popup.mapFromGlobal(anchor.center()));
    EXPECT_FALSE(popup.isVisible());
    EXPECT_TRUE(replayBlocked);

    popup.open({SnowMenuItem::entry(QStringLiteral("A"), {}, [] {})}, 160, anchor, Palette::light());
    QTest::mouseClick(&popup, Qt::LeftButton, {}, popup.mapFromGlobal(QPoint(5, 5)));
    EXPECT_FALSE(popup.isVisible());
    EXPECT_FALSE(replayBlocked);
}

TEST(SnowMenuPopup, ALongMenuFitsOnTheScreenAndScrolls)
{
    QList<SnowMenuItem> items;
    for (int i = 0; i < 80; ++i)
        items << SnowMenuItem::entry(QStringLiteral("Project %1").arg(i), {}, [] {});
    SnowMenuPopup popup;
    popup.open(items, 232, QRect(10, 10, 200, 32), Palette::light());
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_GT(popup.list()->height(), screen.height());
    EXPECT_LE(popup.height(), screen.height());
    EXPECT_TRUE(screen.contains(popup.geometry()));
    popup.close();
}

TEST(SnowMenuPopup, AShortMenuIsExactlyAsBigAsItsList)
{
    // One row: 10 padding, 30 row, 10 padding, whatever the scroll area would like as a minimum.
    SnowMenuPopup popup;
    popup.open({SnowMenuItem::entry(QStringLiteral("Replay request"), QStringLiteral("arrow.clockwise"), [] {})},
               190, QRect(100, 100, 80, 24), Palette::light());
    EXPECT_EQ(popup.list()->size(), QSize(190, 50));
    EXPECT_EQ(popup.size(), QSize(190, 50));
    popup.close();
}

namespace {

const QRect Screen(0, 0, 1920, 1080);

QRect place(const QSize &size, const QRect &anchor, const QRect &window, int scrollBarWidth = 0)
{
    return SnowMenuPopup::placement(size, anchor, window, Screen, scrollBarWidth);
}

} // namespace

TEST(SnowMenuPopupPlacement, StaysInsideAWindowThatDoesNotFillTheScreen)
{
    // A switcher at the window's left edge: centred it would hang 53 px outside, so it slides right.
    const QRect left(160, 100, 1100, 800);
    const QRect switcher(178, 140, 90, 28);
    EXPECT_EQ(place(QSize(232, 150), switcher, left), QRect(160 + 4, 172, 232, 150));

    // A ⋯ button in the window's top-right corner: the menu ends just inside the window's edge.
    const QRect right(300, 200, 1280, 820);
    const QRect ellipsis(300 + 1280 - 40, 210, 28, 28);
    EXPECT_EQ(place(QSize(220, 260), ellipsis, right), QRect(300 + 1280 - 4 - 220, 242, 220, 260));

    // Away from the edges the menu keeps its place centred under the control.
    const QRect middle(600, 220, 100, 28);
    EXPECT_EQ(place(QSize(220, 260), middle, right), QRect(540, 252, 220, 260));
}

TEST(SnowMenuPopupPlacement, FlipsAboveAtTheWindowsBottomEvenWithScreenBelow)
{
    // The screen has 280 px under the window, yet the menu stays inside the window.
    const QRect window(200, 100, 900, 700);
    const QRect row(260, 760, 600, 30);
    EXPECT_EQ(place(QSize(190, 100), row, window), QRect(465, 760 - 4 - 100, 190, 100));
    // In the bottom-right corner it flips and slides at once.
    const QRect corner(1060, 770, 30, 24);
    EXPECT_EQ(place(QSize(190, 100), corner, window), QRect(1100 - 4 - 190, 770 - 4 - 100, 190, 100));
}

TEST(SnowMenuPopupPlacement, AWindowPartlyOffTheScreenBoundsTheMenuByItsVisiblePart)
{
    // Left part of the window is off the screen: the menu stops at the screen's edge.
    const QRect offLeft(-300, 100, 900, 600);
    EXPECT_EQ(place(QSize(200, 100), QRect(10, 120, 28, 28), offLeft), QRect(0, 152, 200, 100));
    // Right part off the screen.
    const QRect offRight(1500, 100, 900, 600);
    EXPECT_EQ(place(QSize(200, 100), QRect(1900, 120, 20, 28), offRight), QRect(1720, 152, 200, 100));
    // Bottom off the screen: there is no room below on the screen, so above.
    const QRect offBottom(400, 700, 900, 600);
    EXPECT_EQ(place(QSize(200, 150), QRect(500, 1000, 100, 30), offBottom), QRect(450, 846, 200, 150));
}

TEST(SnowMenuPopupPlacement, AMenuTooBigForTheWindowUsesTheScreen)
{
    // Wider than a narrow window: centred under the control, on the screen.
    const QRect narrow(800, 300, 150, 400);
    EXPECT_EQ(place(QSize(220, 100), QRect(810, 320, 130, 30), narrow), QRect(765, 354, 220, 100));
    // Taller than either side of a short window: it leaves the window but shows whole, below.
    const QRect shortWindow(400, 300, 500, 200);
    EXPECT_EQ(place(QSize(200, 300), QRect(500, 400, 100, 30), shortWindow), QRect(450, 434, 200, 300));
    // The same near the screen's bottom: above.
    const QRect lowWindow(400, 900, 500, 180);
    EXPECT_EQ(place(QSize(200, 300), QRect(500, 960, 100, 30), lowWindow), QRect(450, 656, 200, 300));
}

TEST(SnowMenuPopupPlacement, AMenuTallerThanTheScreenTakesTheRoomierSideAndScrolls)
{
    const QRect window(0, 0, 1920, 1080);
    // Control in the upper half: the rest of the screen below it, widened for the scroll bar.
    EXPECT_EQ(place(QSize(232, 2400), QRect(10, 10, 200, 32), window, 12), QRect(4, 46, 244, 1034));
    // Control in the lower half: everything above it.
    EXPECT_EQ(place(QSize(232, 2400), QRect(900, 800, 100, 30), window, 12), QRect(828, 0, 244, 796));
    // A control as tall as the screen: the menu lies over it, as tall as the screen at most.
    EXPECT_EQ(place(QSize(200, 300), QRect(0, 0, 1920, 1080), window, 12), QRect(860, 780, 200, 300));
    EXPECT_EQ(place(QSize(200, 3000), QRect(0, 0, 1920, 1080), window, 12), QRect(854, 0, 212, 1080));
}
