// The menu list: layout of rows, dividers and captions, and what clicks and keys do to each.
#include "design/snow_menu_item.h"
#include "design/snow_menu_list.h"

#include <QTest>

#include <gtest/gtest.h>

namespace {

QPoint centreOf(const SnowMenuList &list, int index)
{
    return list.itemRect(index).center();
}

} // namespace

TEST(SnowMenuList, LaysOutRowsDividersAndCaptionsInsideTheWidth)
{
    SnowMenuList list;
    SnowMenuItem both = SnowMenuItem::divider();
    both.isHeader = true; // a divider that is also a header is drawn as a divider
    list.setItems({SnowMenuItem::header(QStringLiteral("Projects")),
                   SnowMenuItem::entry(QStringLiteral("Alpha"), QStringLiteral("folder"), [] {}),
                   SnowMenuItem::divider(), both,
                   SnowMenuItem::entry(QStringLiteral("Delete"), QStringLiteral("trash"), [] {},
                                       SnowMenuItem::Tone::destructive)});
    list.setMenuWidth(190);
    EXPECT_EQ(list.width(), 190);
    EXPECT_EQ(list.itemRect(1), QRect(10, list.itemRect(0).bottom() + 2, 170, 30));
    EXPECT_EQ(list.itemRect(2).height(), 13);
    EXPECT_EQ(list.itemRect(3).height(), 13);
    EXPECT_EQ(list.itemRect(4).height(), 30);
    EXPECT_EQ(list.height(), list.itemRect(4).bottom() + 1 + 10);

    SnowMenuList empty;
    empty.setMenuWidth(120);
    EXPECT_EQ(empty.size(), QSize(120, 20));
}

TEST(SnowMenuList, DisabledCaptionAndDividerEntriesIgnoreClicksAndHover)
{
    int runs = 0;
    int dismissals = 0;
    SnowMenuList list;
    SnowMenuItem disabled = SnowMenuItem::entry(QStringLiteral("Replay request"), QStringLiteral("arrow.clockwise"),
                                                [&] { ++runs; });
    disabled.disabled = true;
    list.setItems({disabled, SnowMenuItem::header(QStringLiteral("Caption")), SnowMenuItem::divider()});
    list.setOnDismiss([&] { ++dismissals; });
    list.setMenuWidth(190);
    list.show();
    for (int i = 0; i < 3; ++i) {
        QTest::mouseMove(&list, centreOf(list, i));
        QTest::mouseClick(&list, Qt::LeftButton, {}, centreOf(list, i));
        EXPECT_EQ(list.hoveredIndex(), -1) << i;
    }
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(dismissals, 0);
}

TEST(SnowMenuList, KeyboardMovesOverClickableEntriesAndChooses)
{
    QStringList chosen;
    SnowMenuList list;
    SnowMenuItem off = SnowMenuItem::entry(QStringLiteral("Off"), {}, [&] { chosen << QStringLiteral("Off"); });
    off.disabled = true;
    list.setItems({SnowMenuItem::header(QStringLiteral("H")),
                   SnowMenuItem::entry(QStringLiteral("One"), {}, [&] { chosen << QStringLiteral("One"); }), off,
                   SnowMenuItem::entry(QStringLiteral("Two"), {}, [&] { chosen << QStringLiteral("Two"); })});
    list.handleKey(Qt::Key_Down);
    EXPECT_EQ(list.hoveredIndex(), 1);
    list.handleKey(Qt::Key_Down);
    EXPECT_EQ(list.hoveredIndex(), 3);
    list.handleKey(Qt::Key_Down);
    EXPECT_EQ(list.hoveredIndex(), 1);
    list.handleKey(Qt::Key_Up);
    list.handleKey(Qt::Key_Return);
    EXPECT_EQ(chosen, QStringList{QStringLiteral("Two")});
}
