// The toggle: one change per click, none while disabled or set by the caller, and its track colours.
#include "design/hover_animation.h"
#include "design/palette.h"
#include "design/snow_switch.h"

#include <QEnterEvent>
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
