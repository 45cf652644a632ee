// Choice chips: selection by position and value, and their fills and ink.
#include "design/choice_chips.h"
#include "design/palette.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

TEST(ChoiceChips, DuplicateValuesShowSelectedTogether)
{
    ChoiceChips chips;
    chips.setItems({{QStringLiteral("ok"), QStringLiteral("OK"), std::nullopt},
                    {QStringLiteral("404"), QStringLiteral("404"), Palette::yellow()},
                    {QStringLiteral("ok"), QStringLiteral("None"), std::nullopt}});
    chips.setSelection(QStringLiteral("ok"));
    EXPECT_TRUE(chips.chip(0)->isSelected());
    EXPECT_FALSE(chips.chip(1)->isSelected());
    EXPECT_TRUE(chips.chip(2)->isSelected());
    chips.show();
    QSignalSpy spy(&chips, &ChoiceChips::selectionEdited);
    QTest::mouseClick(chips.chip(1), Qt::LeftButton, {}, chips.chip(1)->rect().center());
    EXPECT_EQ(spy.last().at(0).toString(), QStringLiteral("404"));
    EXPECT_TRUE(chips.chip(1)->isSelected());
    EXPECT_FALSE(chips.chip(0)->isSelected());
    EXPECT_EQ(chips.chip(0)->height(), 26);
}

TEST(ChoiceChips, TintedSelectionUsesPastelInkInBothPalettes)
{
    for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
        EXPECT_EQ(ChoiceChips::chipFill(*palette, true, Palette::red()), Palette::red());
        EXPECT_EQ(ChoiceChips::chipInk(*palette, true, Palette::red()), Palette::pastelInk());
        EXPECT_EQ(ChoiceChips::chipFill(*palette, true, std::nullopt), palette->mutedStrong);
        EXPECT_EQ(ChoiceChips::chipInk(*palette, true, std::nullopt), palette->foreground);
        EXPECT_EQ(ChoiceChips::chipFill(*palette, false, Palette::red()), palette->subtle);
        EXPECT_EQ(ChoiceChips::chipInk(*palette, false, Palette::red()), palette->mutedForeground);
    }
}
