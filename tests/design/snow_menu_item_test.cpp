// Menu entries: tone colours and identities.
#include "design/palette.h"
#include "design/snow_menu_item.h"

#include <gtest/gtest.h>

TEST(SnowMenuItem, ToneColoursFollowThePalette)
{
    const Palette &light = Palette::light();
    const Palette &dark = Palette::dark();
    EXPECT_EQ(snowMenuToneColor(SnowMenuItem::Tone::normal, light), light.foreground);
    EXPECT_EQ(snowMenuToneColor(SnowMenuItem::Tone::normal, dark), dark.foreground);
    EXPECT_EQ(snowMenuToneColor(SnowMenuItem::Tone::accent, light), QColor(0, 0, 0));
    EXPECT_EQ(snowMenuToneColor(SnowMenuItem::Tone::accent, dark), Palette::indigo());
    EXPECT_EQ(snowMenuToneColor(SnowMenuItem::Tone::destructive, light), QColor(0xE0, 0x31, 0x31));
    EXPECT_EQ(snowMenuToneColor(SnowMenuItem::Tone::destructive, dark), QColor(0xFF, 0x6B, 0x6B));
    // A normal entry's icon stays muted; other tones colour the icon like the title.
    EXPECT_EQ(snowMenuIconColor(SnowMenuItem::Tone::normal, dark), dark.mutedForeground);
    EXPECT_EQ(snowMenuIconColor(SnowMenuItem::Tone::destructive, light), QColor(0xE0, 0x31, 0x31));
}

TEST(SnowMenuItem, EveryEntryGetsItsOwnIdentity)
{
    const SnowMenuItem a = SnowMenuItem::entry(QStringLiteral("A"), {}, [] {});
    const SnowMenuItem b = SnowMenuItem::entry(QStringLiteral("A"), {}, [] {});
    EXPECT_NE(a.id, b.id);
    const SnowMenuItem divider = SnowMenuItem::divider();
    EXPECT_TRUE(divider.isDivider);
    EXPECT_TRUE(divider.title.isEmpty());
    EXPECT_FALSE(divider.isClickable());
    EXPECT_FALSE(SnowMenuItem::header(QStringLiteral("Projects")).isClickable());
}
