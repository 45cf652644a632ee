// Chip rows shared by the tab bar, segmented picker and choice chips: clicks, replacement and selection.
#include "design/snow_segmented.h"
#include "design/tab_bar.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

TEST(ChipRow, ReleaseOutsideTheChipIsNoClick)
{
    TabBar tabs;
    tabs.setItems({{1, QStringLiteral("Info")}, {2, QStringLiteral("Pins")}});
    tabs.show();
    QSignalSpy spy(&tabs, &TabBar::selectionEdited);
    TabBarTab *pins = tabs.tab(1);
    QTest::mousePress(pins, Qt::LeftButton, {}, pins->rect().center());
    QTest::mouseRelease(pins, Qt::LeftButton, {}, QPoint(pins->width() + 5, pins->height() / 2));
    EXPECT_EQ(spy.count(), 0);
    EXPECT_FALSE(pins->isSelected());

    QTest::mouseClick(pins, Qt::RightButton, {}, pins->rect().center());
    EXPECT_EQ(spy.count(), 0);

    QTest::mouseClick(pins, Qt::LeftButton, {}, pins->rect().center());
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 2);
    EXPECT_EQ(tabs.selection().toInt(), 2);
}

TEST(ChipRow, NewItemsReplaceTheChipsAndKeepTheSelectionValue)
{
    SnowSegmented segmented;
    segmented.setItems({{QStringLiteral("a"), QStringLiteral("A"), {}}, {QStringLiteral("b"), QStringLiteral("B"), {}}});
    segmented.setSelection(QStringLiteral("b"));
    QPointer<SegmentChip> old = segmented.chip(0);

    segmented.setItems({{QStringLiteral("b"), QStringLiteral("B"), {}},
                        {QStringLiteral("c"), QStringLiteral("C"), {}},
                        {QStringLiteral("a"), QStringLiteral("A"), {}}});
    EXPECT_TRUE(old.isNull());
    ASSERT_EQ(segmented.chipCount(), 3);
    EXPECT_EQ(segmented.chip(3), nullptr);
    EXPECT_EQ(segmented.chip(-1), nullptr);
    EXPECT_TRUE(segmented.chip(0)->isSelected());
    EXPECT_FALSE(segmented.chip(1)->isSelected());
    EXPECT_FALSE(segmented.chip(2)->isSelected());

    segmented.setSelection(QVariant());
    for (int i = 0; i < segmented.chipCount(); ++i)
        EXPECT_FALSE(segmented.chip(i)->isSelected());
}
