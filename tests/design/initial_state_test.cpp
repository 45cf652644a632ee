// Controls given their value before they are shown draw it from their first frame, without easing in.
#include "design/choice_chips.h"
#include "design/palette.h"
#include "design/snow_switch.h"

#include <QImage>

#include <gtest/gtest.h>

TEST(InitialState, SwitchSetBeforeShowingIsDrawnOnAtOnce)
{
    SnowSwitch toggle;
    PaletteHost::set(&toggle, Palette::light());
    toggle.setOn(true);
    toggle.resize(toggle.sizeHint());
    const QImage image = toggle.grab().toImage();
    // The track's left end, clear of the knob, already has the "on" colour.
    EXPECT_EQ(image.pixelColor(QPoint(5, SnowSwitch::TrackHeight / 2) * image.devicePixelRatio()).rgb(),
              Palette::light().brand.rgb());
}

TEST(InitialState, ChipSelectedBeforeShowingIsFullySelected)
{
    ChoiceChips chips;
    PaletteHost::set(&chips, Palette::light());
    chips.setItems({{1, QStringLiteral("One"), std::nullopt}, {2, QStringLiteral("Two"), Palette::red()}});
    chips.setSelection(2);
    chips.chip(1)->resize(chips.chip(1)->sizeHint());
    // No event has run: the chip is already filled with its whole tint, not the first step of easing in.
    const QImage fresh = chips.chip(1)->grab().toImage();
    const QPoint inside = QPoint(6, ChoiceChip::ChipHeight / 2) * fresh.devicePixelRatio();
    EXPECT_EQ(fresh.pixelColor(inside).rgb(), Palette::red().rgb());
}
