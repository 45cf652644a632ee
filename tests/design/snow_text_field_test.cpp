// The text field writes every keystroke, never a programmatic fill, and reports Return.
#include "design/fonts.h"
#include "design/keyboard_reach.h"
#include "design/palette.h"
#include "design/snow_text_field.h"
#include "support/test_support.h"

#include <QApplication>
#include <QPainter>
#include <QVBoxLayout>

#include <QFontInfo>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

TEST(SnowTextField, WritesEveryKeystrokeAndReportsReturn)
{
    SnowTextField field;
    field.setPlaceholder(QStringLiteral("/v2/users"));
    field.show();
    QSignalSpy edits(&field, &SnowTextField::textEdited);
    QSignalSpy submits(&field, &SnowTextField::submitted);
    QTest::keyClicks(field.lineEdit(), QStringLiteral("/v2"));
    EXPECT_EQ(edits.count(), 3);
    EXPECT_EQ(edits.last().at(0).toString(), QStringLiteral("/v2"));
    QTest::keyClick(field.lineEdit(), Qt::Key_Return);
    EXPECT_EQ(submits.count(), 1);
    EXPECT_EQ(field.placeholder(), QStringLiteral("/v2/users"));
}

TEST(SnowTextField, FillingFromTheModelEmitsNothing)
{
    SnowTextField field;
    QSignalSpy edits(&field, &SnowTextField::textEdited);
    field.setText(QStringLiteral("api.example.com"));
    EXPECT_EQ(field.text(), QStringLiteral("api.example.com"));
    EXPECT_EQ(edits.count(), 0);
}

TEST(SnowTextField, FixedHeightAndCodeFont)
{
    SnowTextField field;
    field.setMono(true);
    field.setBoxHeight(36);
    EXPECT_EQ(field.height(), 36);
    EXPECT_EQ(field.lineEdit()->font(), Fonts::ksCode());
    field.setMono(false);
    EXPECT_EQ(field.lineEdit()->font().family(), QStringLiteral("Inter"));
    EXPECT_EQ(field.lineEdit()->font().pixelSize(), 13);
    field.setBoxHeight(std::nullopt);
    EXPECT_GT(field.height(), 0);
    EXPECT_NE(field.height(), 36);
}

namespace {

// A window on the ground of its palette, as the app's own are.
class Ground final : public QWidget
{
protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), Palette::of(this).background); }
};

} // namespace

TEST(SnowTextField, TabRingsTheBoxInBothThemesAndAClickShowsNoRing)
{
    Ground window;
    auto *layout = new QVBoxLayout(&window);
    auto *first = new QLineEdit(&window);
    auto *field = new SnowTextField(&window);
    field->setFixedSize(240, 28);
    layout->addWidget(first);
    layout->addWidget(field);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const auto ringPixels = [&](const Palette &palette) {
        QCoreApplication::processEvents();
        return testsupport::pixelsOfColor(window.grab().toImage(), field->geometry(), KeyboardReach::ringColor(palette));
    };
    for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
        PaletteHost::set(&window, *palette);
        first->setFocus(Qt::OtherFocusReason);
        const int before = ringPixels(*palette);
        ASSERT_TRUE(testsupport::pressKey(Qt::Key_Tab));
        ASSERT_EQ(QApplication::focusWidget(), field->lineEdit());
        EXPECT_GT(ringPixels(*palette) - before, 2 * field->width()) << palette->isDark;
    }
    first->setFocus(Qt::OtherFocusReason);
    QTest::mouseClick(field->lineEdit(), Qt::LeftButton);
    ASSERT_EQ(QApplication::focusWidget(), field->lineEdit());
    EXPECT_FALSE(KeyboardReach::showsRing(field->lineEdit()));
    QTest::keyClicks(field->lineEdit(), QStringLiteral("/v2"));
    EXPECT_FALSE(KeyboardReach::showsRing(field->lineEdit())) << "typing is no focus move";
}
