// The progress bar: clamped fill, drawn a quarter wide at 0.25.
#include "design/palette.h"
#include "design/snow_progress_bar.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cmath>

TEST(SnowProgressBar, FillIsClampedToTheBar)
{
    EXPECT_EQ(SnowProgressBar::clampedFraction(-0.5), 0);
    EXPECT_EQ(SnowProgressBar::clampedFraction(1.7), 1);
    EXPECT_EQ(SnowProgressBar::clampedFraction(0.25), 0.25);
    EXPECT_EQ(SnowProgressBar::clampedFraction(std::nan("")), 0);
}

TEST(SnowProgressBar, QuarterValueFillsAQuarterOfTheWidth)
{
    QWidget host;
    PaletteHost::set(&host, Palette::light());
    auto *bar = new SnowProgressBar(&host);
    bar->setValue(0.25);
    bar->setGeometry(0, 0, 200, 6);
    host.resize(200, 6);
    const QImage image = bar->grab().toImage();
    EXPECT_EQ(bar->height(), 6);
    EXPECT_EQ(image.pixelColor(40, 3).rgb(), QColor(Qt::black).rgb()); // brand fill
    EXPECT_NE(image.pixelColor(60, 3).rgb(), QColor(Qt::black).rgb());
}
