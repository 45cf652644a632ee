// Font registration from resources/ and the text styles' sizes and weights.
#include "design/fonts.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(Fonts, RegistersTheBundledFontsOnce)
{
    Fonts::registerApplicationFonts();
    EXPECT_TRUE(QFontDatabase::families().contains(QStringLiteral("Inter")));
    EXPECT_TRUE(QFontDatabase::families().contains(QStringLiteral("Material Icons")));
    EXPECT_EQ(Fonts::registerApplicationFonts(), 0) << "a second call registers nothing again";
}

TEST(Fonts, AFolderWithoutFontsRegistersNothing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_EQ(Fonts::registerApplicationFonts(dir.path()), 0);
}

TEST(Fonts, TextStylesAtTheirSizesAndWeights)
{
    struct Case { QFont font; int pixels; int weight; };
    const Case cases[] = {
        {Fonts::ksGreeting(), 18, QFont::DemiBold}, {Fonts::ksStat(), 24, QFont::DemiBold},
        {Fonts::ksSection(), 14, QFont::DemiBold},  {Fonts::ksBody(), 13, QFont::Normal},
        {Fonts::ksMeta(), 12, QFont::Normal},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.font.family(), QStringLiteral("Inter"));
        EXPECT_EQ(c.font.pixelSize(), c.pixels);
        EXPECT_EQ(c.font.weight(), c.weight);
        EXPECT_EQ(QFontInfo(c.font).family(), QStringLiteral("Inter")) << "Inter must resolve, not a fallback";
    }
    EXPECT_EQ(Fonts::ksCode().pixelSize(), 12);
    EXPECT_EQ(Fonts::ksCodeSm().pixelSize(), 11);
    EXPECT_TRUE(QFontInfo(Fonts::ksCode()).fixedPitch());
}

TEST(Fonts, CodeStylesResolveToTheBundledFaceAtEveryWeightUsed)
{
    Fonts::registerApplicationFonts();
    EXPECT_TRUE(QFontDatabase::families().contains(QStringLiteral("JetBrains Mono")));
    for (const QFont &font : {Fonts::ksCode(), Fonts::ksCodeSm(), Fonts::mono(10, QFont::DemiBold, 0.4),
                              Fonts::mono(12, QFont::Medium)}) {
        const QFontInfo info(font);
        EXPECT_EQ(info.family(), QStringLiteral("JetBrains Mono")) << "not whatever \"monospace\" is here";
        EXPECT_EQ(info.weight(), font.weight()) << "a bundled file for each weight in use";
        EXPECT_TRUE(info.fixedPitch());
    }
}

TEST(Fonts, InlineStylesRoundFractionalSizesAndKeepTracking)
{
    const QFont tag = Fonts::inter(9.5, QFont::Medium, 0.5);
    EXPECT_EQ(tag.pixelSize(), 10);
    EXPECT_EQ(tag.weight(), QFont::Medium);
    EXPECT_DOUBLE_EQ(tag.letterSpacing(), 0.5);
    EXPECT_EQ(tag.letterSpacingType(), QFont::AbsoluteSpacing);
    EXPECT_EQ(Fonts::mono(10, QFont::DemiBold).weight(), QFont::DemiBold);
}
