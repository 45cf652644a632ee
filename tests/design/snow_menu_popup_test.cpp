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
    EXPECT_EQ(SnowMenuPopup::placement(QSize(200, 100), QRect(400, 100, 100, 30), screen),
              QRect(350, 134, 200, 100));
    // Near the right edge it slides left; near the bottom it goes above the anchor.
    EXPECT_EQ(SnowMenuPopup::placement(QSize(200, 100), QRect(950, 100, 40, 30), screen).right(), 999);
    EXPECT_EQ(SnowMenuPopup::placement(QSize(200, 100), QRect(400, 750, 100, 30), screen),
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
