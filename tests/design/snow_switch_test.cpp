// The toggle: one change per click, none while disabled or set by the caller, and its track colours.
#include "design/hover_animation.h"
#include "design/palette.h"
#include "design/snow_switch.h"
#include "support/test_support.h"

#include <QEnterEvent>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

TEST(SnowSwitch, TogglesOncePerClick)
{
    SnowSwitch toggle;
    toggle.show();
    QSignalSpy spy(&toggle, &SnowSwitch::toggled);
    QTest::mouseClick(&toggle, Qt::LeftButton, {}, QPoint(17, 10));
    EXPECT_TRUE(toggle.isOn());
    QTest::mouseClick(&toggle, Qt::LeftButton, {}, QPoint(17, 10));
    EXPECT_FALSE(toggle.isOn());
    ASSERT_EQ(spy.count(), 2);
    EXPECT_TRUE(spy.at(0).at(0).toBool());
    EXPECT_FALSE(spy.at(1).at(0).toBool());
    // A press that ends outside the switch is no click.
    QTest::mousePress(&toggle, Qt::LeftButton, {}, QPoint(17, 10));
    QTest::mouseRelease(&toggle, Qt::LeftButton, {}, QPoint(60, 10));
    EXPECT_EQ(spy.count(), 2);
}

TEST(SnowSwitch, SettingTheValueEmitsNothing)
{
    SnowSwitch toggle;
    QSignalSpy spy(&toggle, &SnowSwitch::toggled);
    toggle.setOn(true);
    EXPECT_TRUE(toggle.isOn());
    EXPECT_EQ(spy.count(), 0);
}

TEST(SnowSwitch, DisabledSwitchIgnoresClicksAndHover)
{
    SnowSwitch toggle;
    toggle.setOn(true);
    toggle.setDisabled(true);
    toggle.show();
    QSignalSpy spy(&toggle, &SnowSwitch::toggled);
    QTest::mouseClick(&toggle, Qt::LeftButton, {}, QPoint(17, 10));
    EXPECT_TRUE(toggle.isOn());
    EXPECT_EQ(spy.count(), 0);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(&toggle, &enter);
    EXPECT_FALSE(toggle.isHovered());
}

TEST(SnowSwitch, TrackColourByState)
{
    for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
        EXPECT_EQ(SnowSwitch::trackColor(*palette, true, false, true), palette->mutedStrong);
        EXPECT_EQ(SnowSwitch::trackColor(*palette, false, true, true), palette->mutedStrong);
        EXPECT_EQ(SnowSwitch::trackColor(*palette, true, true, false), palette->brand);
        EXPECT_EQ(SnowSwitch::trackColor(*palette, false, true, false), palette->mutedForeground);
        EXPECT_EQ(SnowSwitch::trackColor(*palette, false, false, false), palette->switchOff);
    }
    SnowSwitch toggle;
    EXPECT_EQ(toggle.size(), QSize(34, 20));
}

// Disabled, the switch is dimmed as one picture: the knob shows white at half opacity over the page, not
// over a half-faded track, so on and off stay apart in both themes.
TEST(SnowSwitch, DisabledSwitchFadesAsOnePictureWithTheKnobOnItsSide)
{
    const auto halfOver = [](const QColor &top, const QColor &page) {
        return QColor((top.red() + page.red()) / 2, (top.green() + page.green()) / 2, (top.blue() + page.blue()) / 2);
    };
    const auto near = [](const QColor &a, const QColor &b) {
        return qAbs(a.red() - b.red()) <= 2 && qAbs(a.green() - b.green()) <= 2 && qAbs(a.blue() - b.blue()) <= 2;
    };
    for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
        for (const bool on : {false, true}) {
            QImage image(QSize(SnowSwitch::TrackWidth, SnowSwitch::TrackHeight), QImage::Format_ARGB32_Premultiplied);
            image.fill(palette->background);
            {
                QPainter painter(&image);
                SnowSwitch::paint(painter, QPointF(0, 0), *palette, on ? 1.0 : 0.0, 0, true);
            }
            const QPoint knob(on ? 24 : 10, 10);
            const QPoint otherSide(on ? 8 : 26, 10);
            const QColor expectedKnob = halfOver(Qt::white, palette->background);
            EXPECT_TRUE(near(image.pixelColor(knob), expectedKnob))
                << palette->isDark << on << " " << image.pixelColor(knob).name().toStdString() << " vs "
                << expectedKnob.name().toStdString();
            EXPECT_GE(image.pixelColor(knob).lightness() - image.pixelColor(otherSide).lightness(), 10)
                << palette->isDark << on;
        }
    }
    // For a look: off and on, enabled and disabled, on both palettes.
    for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
        QWidget host;
        PaletteHost::set(&host, *palette);
        host.setAutoFillBackground(true);
        QPalette ground = host.palette();
        ground.setColor(QPalette::Window, palette->background);
        host.setPalette(ground);
        host.resize(4 * 50 + 10, 40);
        int x = 10;
        for (const bool disabled : {false, true}) {
            for (const bool on : {false, true}) {
                auto *toggle = new SnowSwitch(&host);
                toggle->setOn(on);
                toggle->setDisabled(disabled);
                toggle->move(x, 10);
                x += 50;
            }
        }
        host.show();
        testsupport::saveRender(&host, QStringLiteral("design"),
                                palette->isDark ? QStringLiteral("switch-states-dark") : QStringLiteral("switch-states-light"));
    }
}
