// First frame of the main window on a screen's visible frame, and its once-per-process guard.
#include "app/window_geometry.h"

#include "app/qt_printers.h"

#include <gtest/gtest.h>

TEST(FirstWindowFrame, SmallScreenShrinksAndCentres)
{
    EXPECT_EQ(WindowGeometry::firstFrame(QRectF(0, 25, 1400, 900)), QRectF(70, 80, 1260, 790));
}

TEST(FirstWindowFrame, LargeScreenKeepsDefaultSizeCentred)
{
    EXPECT_EQ(WindowGeometry::firstFrame(QRectF(0, 0, 2560, 1415)), QRectF(640, 297.5, 1280, 820));
}

TEST(FirstWindowFrame, OffsetScreenCentresInItsOwnFrame)
{
    EXPECT_EQ(WindowGeometry::firstFrame(QRectF(1920, 0, 1920, 1080)), QRectF(1920 + 320, 130, 1280, 820));
}

TEST(FirstWindowFrame, ScreenBelowTheMinimumCentresTheMinimumSize)
{
    // A 1280x820 screen: the arithmetic gives 1140x710, which the window can't be.
    EXPECT_EQ(WindowGeometry::firstFrame(QRectF(0, 0, 1280, 820)), QRectF(50, 40, 1180, 740));
    EXPECT_EQ(WindowGeometry::firstFrame(QRectF(0, 30, 1100, 700)), QRectF(0, 30, 1180, 740));
}

TEST(FirstWindowFrame, SizingIsClaimedOncePerProcess)
{
    WindowGeometry::resetFirstSizingForTests();
    EXPECT_TRUE(WindowGeometry::claimFirstSizing());
    EXPECT_TRUE(WindowGeometry::firstSizingDone());
    EXPECT_FALSE(WindowGeometry::claimFirstSizing());
    WindowGeometry::resetFirstSizingForTests();
}
