// The segmented picker: selection by value, pressing writes it, equal values select together.
#include "design/snow_segmented.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QList<SnowSegmented::Item> themes()
{
    return {{QStringLiteral("system"), QStringLiteral("System"), QStringLiteral("circle.lefthalf.filled")},
            {QStringLiteral("light"), QStringLiteral("Light"), QStringLiteral("sun.max")},
            {QStringLiteral("dark"), QStringLiteral("Dark"), QStringLiteral("moon")}};
}

} // namespace

TEST(SnowSegmented, SelectionThatMatchesNothingSelectsNoChipUntilOneIsPressed)
{
    SnowSegmented segmented;
    segmented.setItems(themes());
    segmented.setSelection(QStringLiteral("sepia"));
    segmented.show();
    for (int i = 0; i < segmented.chipCount(); ++i)
        EXPECT_FALSE(segmented.chip(i)->isSelected());

    QSignalSpy spy(&segmented, &SnowSegmented::selectionEdited);
    SegmentChip *dark = segmented.chip(2);
    QTest::mouseClick(dark, Qt::LeftButton, {}, dark->rect().center());
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.last().at(0).toString(), QStringLiteral("dark"));
    EXPECT_TRUE(dark->isSelected());
    EXPECT_FALSE(segmented.chip(0)->isSelected());
    EXPECT_EQ(dark->height(), 28);
}

TEST(SnowSegmented, EqualValuesAreSelectedTogetherAndSettingEmitsNothing)
{
    SnowSegmented segmented;
    segmented.setItems({{1, QStringLiteral("One"), {}}, {2, QStringLiteral("Two"), {}}, {1, QStringLiteral("Uno"), {}}});
    QSignalSpy spy(&segmented, &SnowSegmented::selectionEdited);
    segmented.setSelection(1);
    EXPECT_TRUE(segmented.chip(0)->isSelected());
    EXPECT_FALSE(segmented.chip(1)->isSelected());
    EXPECT_TRUE(segmented.chip(2)->isSelected());
    EXPECT_EQ(spy.count(), 0);
}
