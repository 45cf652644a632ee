// The toast: a surface that inverts the appearance, symbols that keep their tone.
#include "design/palette.h"
#include "design/snow_toast.h"

#include <gtest/gtest.h>

TEST(SnowToast, SurfaceInvertsTheAppearanceAndTheSymbolKeepsItsTone)
{
    EXPECT_EQ(SnowToast::textColor(Palette::dark()), QColor(Qt::black));
    EXPECT_EQ(SnowToast::textColor(Palette::light()), QColor(Qt::white));
    EXPECT_EQ(SnowToast::surfaceColor(Palette::dark()), QColor::fromRgbF(1, 1, 1, 0.85f));
    EXPECT_EQ(SnowToast::surfaceColor(Palette::light()), QColor::fromRgbF(0, 0, 0, 0.8f));
    EXPECT_EQ(SnowToast::symbol(SnowToast::Tone::success), QStringLiteral("checkmark.circle.fill"));
    EXPECT_EQ(SnowToast::symbol(SnowToast::Tone::error), QStringLiteral("exclamationmark.triangle.fill"));
    EXPECT_EQ(SnowToast::symbol(SnowToast::Tone::info), QStringLiteral("info.circle.fill"));
    EXPECT_EQ(SnowToast::symbolColor(SnowToast::Tone::success), Palette::green());
    EXPECT_EQ(SnowToast::symbolColor(SnowToast::Tone::error), Palette::red());
    EXPECT_EQ(SnowToast::symbolColor(SnowToast::Tone::info), Palette::indigo());
}
