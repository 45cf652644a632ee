// ProjectColor: a stable swatch from a hash of the name's UTF-8 bytes.
#include "design/project_color.h"

#include "design/palette.h"

#include <gtest/gtest.h>

TEST(ProjectColor, SwatchesInOrder)
{
    const QList<QColor> expected = {Palette::indigo(), Palette::blue(),   Palette::mint(), Palette::green(),
                                    Palette::purple(), Palette::orange(), Palette::cyan(), Palette::yellow()};
    EXPECT_EQ(ProjectColor::swatches(), expected);
}

TEST(ProjectColor, KnownNamesGiveTheirSwatches)
{
    EXPECT_EQ(ProjectColor::color(QString()), Palette::orange()); // 5381 mod 8 = 5
    EXPECT_EQ(ProjectColor::color(QStringLiteral("a")), Palette::cyan()); // 177670 mod 8 = 6
    EXPECT_EQ(ProjectColor::color(QStringLiteral("abc")), Palette::green());
    // Two UTF-8 bytes are hashed, not one character.
    EXPECT_EQ(ProjectColor::color(QStringLiteral("\u00E9")), Palette::blue());
}

TEST(ProjectColor, LongNamesWrapAndStayInRange)
{
    const QString longName(100000, QLatin1Char('z'));
    const int index = ProjectColor::swatchIndex(longName.toUtf8());
    EXPECT_GE(index, 0);
    EXPECT_LT(index, 8);
    // Same name, same colour, every time.
    EXPECT_EQ(ProjectColor::color(longName), ProjectColor::color(longName));
    // Bytes above 0x7F count as unsigned (a signed char would give another index).
    EXPECT_EQ(ProjectColor::swatchIndex(QByteArrayView("\xff", 1)), int((5381ull * 33 + 255) % 8));
}
