// The slider: whole numbers only, halves away from zero, clamped drags, out-of-range values kept.
#include "design/snow_slider.h"

#include "design/keyboard_reach.h"
#include "design/palette.h"
#include "support/test_support.h"

#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QVBoxLayout>

#include <QImage>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(SnowSlider, RoundsToWholeNumbersWithHalvesAwayFromZero)
{
    // A press maps by its share of the whole width.
    EXPECT_EQ(SnowSlider::valueAt(75, 200, 0, 100), 38);  // 37.5 %
    EXPECT_EQ(SnowSlider::valueAt(25, 200, 0, 100), 13);  // 12.5 %
    EXPECT_EQ(SnowSlider::valueAt(75, 200, -100, 0), -63); // -62.5 rounds away from zero
    EXPECT_EQ(SnowSlider::valueAt(25, 200, -100, 0), -88); // -87.5
    EXPECT_EQ(SnowSlider::valueAt(100, 200, 0, 5000), 2500);
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
    slider.resize(200, 16);
    slider.show();
    QSignalSpy spy(&slider, &SnowSlider::valueEdited);
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(75, 8)); // 37.5 % of the width
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.last().at(0).toDouble(), 38);
    QTest::mouseMove(&slider, QPoint(25, 8)); // 12.5 %
    EXPECT_EQ(slider.value(), 13);
    QTest::mouseMove(&slider, QPoint(400, 8));
    EXPECT_EQ(slider.value(), 100);
    QTest::mouseMove(&slider, QPoint(-40, 8));
    EXPECT_EQ(slider.value(), 0);
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(-40, 8));
    EXPECT_EQ(spy.last().at(0).toDouble(), 0);
}

TEST(SnowSlider, PressesOnTheEndCapsReachTheEnds)
{
    // The inspector's latency slider: 0…5000 over a track 258 wide. The left edge is the lower end, and
    // a drag that leaves the right end clamps to the upper end.
    SnowSlider slider;
    slider.setRange(0, 5000);
    slider.resize(258, 16);
    slider.show();
    slider.setValue(2500);
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(0, 8));
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(0, 8));
    EXPECT_EQ(slider.value(), 0);
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(255, 8));
    QTest::mouseMove(&slider, QPoint(262, 8));
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(262, 8));
    EXPECT_EQ(slider.value(), 5000);
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(129, 8));
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(129, 8));
    EXPECT_EQ(slider.value(), 2500);
}

TEST(SnowSlider, FillEndsAtTheValuesShareOfTheWidth)
{
    // A quarter of 200: the fill ends at 50, the thumb centred there, plain track from 60 on.
    SnowSlider slider;
    slider.setRange(0, 100);
    slider.setValue(25);
    slider.setColor(QColor(Qt::red));
    slider.resize(200, 16);
    const QImage image = slider.grab().toImage();
    EXPECT_EQ(image.pixelColor(30, 8), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(50, 8), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(61, 8), image.pixelColor(180, 8)); // the bare track
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

TEST(SnowSlider, KeysStepByAHundredthAndATenthWithinTheRange)
{
    using K = Qt::Key;
    EXPECT_EQ(SnowSlider::valueAfterKey(K::Key_Right, 0, 0, 5000), 50);
    EXPECT_EQ(SnowSlider::valueAfterKey(K::Key_Down, 75, 0, 5000), 25);
    EXPECT_EQ(SnowSlider::valueAfterKey(K::Key_PageUp, 4800, 0, 5000), 5000);
    EXPECT_EQ(SnowSlider::valueAfterKey(K::Key_PageDown, 400, 0, 5000), 0);
    EXPECT_EQ(SnowSlider::valueAfterKey(K::Key_Home, 900, 0, 5000), 0);
    EXPECT_EQ(SnowSlider::valueAfterKey(K::Key_End, 900, 0, 5000), 5000);
    // A narrow range still moves by whole numbers; a value outside it moves from the end it lies beyond.
    EXPECT_EQ(SnowSlider::valueAfterKey(K::Key_Up, 3, 0, 10), 4);
    EXPECT_EQ(SnowSlider::valueAfterKey(K::Key_Left, 9000, 0, 5000), 4950);
    EXPECT_EQ(SnowSlider::valueAfterKey(K::Key_Right, 7, 7, 7), 7);
    EXPECT_EQ(SnowSlider::valueAfterKey(K::Key_A, 7, 0, 10), std::nullopt);

    // Keys reach the value only through valueEdited, and only when it moves.
    SnowSlider slider;
    slider.setRange(0, 100);
    slider.setValue(99);
    QSignalSpy edited(&slider, &SnowSlider::valueEdited);
    QTest::keyClick(&slider, Qt::Key_Right);
    QTest::keyClick(&slider, Qt::Key_Right);
    ASSERT_EQ(edited.size(), 1);
    EXPECT_EQ(edited[0][0].toDouble(), 100);
    EXPECT_EQ(slider.value(), 100);
}

namespace {

// A window on the ground of its palette, as the app's own are.
class Ground final : public QWidget
{
protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), Palette::of(this).background); }
};

} // namespace

TEST(SnowSlider, TabShowsTheRingInBothThemesAndAClickShowsItOnceTheKeysMoveIt)
{
    Ground window;
    window.resize(320, 80);
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(16, 16, 16, 16);
    auto *field = new QLineEdit(&window);
    auto *slider = new SnowSlider(&window);
    slider->setRange(0, 5000);
    layout->addWidget(field);
    layout->addWidget(slider);
    QSignalSpy edited(slider, &SnowSlider::valueEdited);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const auto ringPixels = [&](const Palette &palette) {
        QCoreApplication::processEvents();
        return testsupport::pixelsOfColor(window.grab().toImage(), slider->geometry(), KeyboardReach::ringColor(palette));
    };
    for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
        PaletteHost::set(&window, *palette);
        const QString theme = palette->isDark ? QStringLiteral("dark") : QStringLiteral("light");
        field->setFocus(Qt::OtherFocusReason);
        const int before = ringPixels(*palette);
        ASSERT_TRUE(testsupport::pressKey(Qt::Key_Tab));
        ASSERT_EQ(QApplication::focusWidget(), slider);
        // Round the whole track: along its top and bottom edges (the white thumb is near the dark ring).
        EXPECT_GT(ringPixels(*palette) - before, 2 * slider->width()) << theme.toStdString();
        testsupport::saveRender(&window, QStringLiteral("design"), QStringLiteral("focus-ring-slider-") + theme);
    }
    testsupport::pressKey(Qt::Key_Right);
    ASSERT_EQ(edited.size(), 1);
    EXPECT_EQ(edited[0][0].toDouble(), 50);

    // A click takes the focus for the arrows without a ring; the first arrow shows where the keys are.
    field->setFocus(Qt::OtherFocusReason);
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(1, slider->height() / 2));
    ASSERT_EQ(QApplication::focusWidget(), slider);
    EXPECT_FALSE(KeyboardReach::showsRing(slider));
    const double clicked = slider->value();
    testsupport::pressKey(Qt::Key_Right);
    EXPECT_TRUE(KeyboardReach::showsRing(slider));
    EXPECT_EQ(slider->value(), clicked + 50);
}
