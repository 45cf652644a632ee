// The slider: whole numbers only, halves away from zero, clamped drags, out-of-range values kept.
#include "design/snow_slider.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(SnowSlider, RoundsToWholeNumbersWithHalvesAwayFromZero)
{
    // A 216-wide track gives the thumb 200 of travel, starting 8 in.
    EXPECT_EQ(SnowSlider::valueAt(83, 216, 0, 100), 38);  // 37.5 %
    EXPECT_EQ(SnowSlider::valueAt(33, 216, 0, 100), 13);  // 12.5 %
    EXPECT_EQ(SnowSlider::valueAt(83, 216, -100, 0), -63); // -62.5 rounds away from zero
    EXPECT_EQ(SnowSlider::valueAt(33, 216, -100, 0), -88); // -87.5
    EXPECT_EQ(SnowSlider::valueAt(108, 216, 0, 5000), 2500);
}

TEST(SnowSlider, DragsPastTheEndsClampAndEmptyRangesWriteTheLowerBound)
{
    EXPECT_EQ(SnowSlider::valueAt(-30, 200, 0, 100), 0);
    EXPECT_EQ(SnowSlider::valueAt(260, 200, 0, 100), 100);
    EXPECT_EQ(SnowSlider::valueAt(120, 200, 7.4, 7.4), 7);
    EXPECT_EQ(SnowSlider::valueAt(0, 0, 10, 20), 10);  // zero width: not-a-number counts as 0
    EXPECT_EQ(SnowSlider::valueAt(5, 0, 10, 20), 20);  // past the end of a zero-width track
    EXPECT_EQ(SnowSlider::valueAt(std::nan(""), 200, 10, 20), 10);
}

TEST(SnowSlider, FillFractionIsClamped)
{
    EXPECT_EQ(SnowSlider::fraction(50, 0, 100), 0.5);
    EXPECT_EQ(SnowSlider::fraction(-10, 0, 100), 0);
    EXPECT_EQ(SnowSlider::fraction(900, 0, 100), 1);
    EXPECT_EQ(SnowSlider::fraction(5, 5, 5), 0);
    EXPECT_EQ(SnowSlider::fraction(std::nan(""), 0, 100), 0);
    EXPECT_EQ(SnowSlider::fraction(std::numeric_limits<double>::infinity(), 0, 100), 1);
}

TEST(SnowSlider, PressAndDragWriteTheValue)
{
    SnowSlider slider;
    slider.setRange(0, 100);
    slider.resize(216, 16);
    slider.show();
    QSignalSpy spy(&slider, &SnowSlider::valueEdited);
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(83, 8));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.last().at(0).toDouble(), 38);
    QTest::mouseMove(&slider, QPoint(400, 8));
    EXPECT_EQ(slider.value(), 100);
    QTest::mouseMove(&slider, QPoint(-40, 8));
    EXPECT_EQ(slider.value(), 0);
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(-40, 8));
    EXPECT_EQ(spy.last().at(0).toDouble(), 0);
}

TEST(SnowSlider, PressesOnTheEndCapsReachTheEnds)
{
    // The inspector's latency slider: 0…5000 over a track about 258 wide, pressed 2 px inside each end.
    SnowSlider slider;
    slider.setRange(0, 5000);
    slider.resize(258, 16);
    slider.show();
    slider.setValue(2500);
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(2, 8));
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(2, 8));
    EXPECT_EQ(slider.value(), 0);
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(255, 8));
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(255, 8));
    EXPECT_EQ(slider.value(), 5000);
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(129, 8));
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(129, 8));
    EXPECT_EQ(slider.value(), 2500);
}

TEST(SnowSlider, ValueOutsideTheRangeStaysUntilDragged)
{
    SnowSlider slider;
    slider.setRange(0, 100);
    QSignalSpy spy(&slider, &SnowSlider::valueEdited);
    slider.setValue(250);
    EXPECT_EQ(slider.value(), 250);
    EXPECT_EQ(spy.count(), 0);
}
