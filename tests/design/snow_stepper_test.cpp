// The stepper: bounds kept by the buttons, no overflow at the 64-bit limits, out-of-range values.
#include "design/snow_stepper.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr qint64 Min = std::numeric_limits<qint64>::min();
constexpr qint64 Max = std::numeric_limits<qint64>::max();

} // namespace

TEST(SnowStepper, ButtonsKeepTheBounds)
{
    EXPECT_EQ(SnowStepper::incremented(10, 10), 10);
    EXPECT_EQ(SnowStepper::decremented(1, 1), 1);
    EXPECT_EQ(SnowStepper::incremented(4, 10), 5);
    EXPECT_EQ(SnowStepper::decremented(4, 1), 3);
}

TEST(SnowStepper, ValuesOutsideTheRange)
{
    // Below the lower bound minus jumps to it; above the upper bound plus jumps to it, minus steps by one.
    EXPECT_EQ(SnowStepper::decremented(-5, 1), 1);
    EXPECT_EQ(SnowStepper::incremented(80, 50), 50);
    EXPECT_EQ(SnowStepper::decremented(80, 1), 79);
    EXPECT_EQ(SnowStepper::incremented(-5, 50), -4);
}

TEST(SnowStepper, NeverOverflowsAtThe64BitLimits)
{
    EXPECT_EQ(SnowStepper::incremented(Max, Max), Max);
    EXPECT_EQ(SnowStepper::decremented(Min, Min), Min);
    EXPECT_EQ(SnowStepper::incremented(Max - 1, Max), Max);
    EXPECT_EQ(SnowStepper::decremented(Min + 1, Min), Min);
    EXPECT_EQ(SnowStepper::incremented(Max, 0), 0);
    EXPECT_EQ(SnowStepper::decremented(Min, 0), 0);

    SnowStepper stepper;
    stepper.setRange(Min, Max);
    stepper.setValue(Max);
    stepper.stepUp();
    EXPECT_EQ(stepper.value(), Max);
    stepper.setValue(Min);
    stepper.stepDown();
    EXPECT_EQ(stepper.value(), Min);
}

TEST(SnowStepper, ClicksWriteTheValueEvenAtABound)
{
    SnowStepper stepper;
    stepper.setRange(1, 50);
    stepper.setValue(50);
    stepper.setLabel(QStringLiteral("Arrays"));
    stepper.show();
    QSignalSpy spy(&stepper, &SnowStepper::valueEdited);
    QTest::mouseClick(stepper.plusButton(), Qt::LeftButton, {}, QPoint(11, 11));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.last().at(0).toLongLong(), 50);
    QTest::mouseClick(stepper.minusButton(), Qt::LeftButton, {}, QPoint(11, 11));
    EXPECT_EQ(spy.last().at(0).toLongLong(), 49);
    EXPECT_EQ(stepper.value(), 49);
    EXPECT_EQ(stepper.minusButton()->size(), QSize(22, 22));
}

TEST(SnowStepper, ReversedRangeIsTakenSwapped)
{
    SnowStepper stepper;
    stepper.setRange(10, 1);
    EXPECT_EQ(stepper.lower(), 1);
    EXPECT_EQ(stepper.upper(), 10);
    QSignalSpy spy(&stepper, &SnowStepper::valueEdited);
    stepper.setValue(3);
    EXPECT_EQ(spy.count(), 0);
}
