// The toast: a surface that inverts the appearance, symbols that keep their tone.
#include "design/palette.h"
#include "design/snow_toast.h"

#include <QVBoxLayout>

#include <gtest/gtest.h>

TEST(SnowToast, SurfaceInvertsTheAppearanceAndTheSymbolKeepsItsTone)
{
    EXPECT_EQ(SnowToast::textColor(Palette::dark()), QColor(Qt::black));
    EXPECT_EQ(SnowToast::textColor(Palette::light()), QColor(Qt::white));
    EXPECT_EQ(SnowToast::surfaceColor(Palette::dark()), QColor::fromRgbF(1, 1, 1, 0.85f));
    EXPECT_EQ(SnowToast::surfaceColor(Palette::light()), QColor::fromRgbF(0, 0, 0, 0.8f));
    EXPECT_EQ(SnowToast::symbol(SnowToast::Tone::success), QStringLiteral("checkmark.circle.fill"));
    EXPECT_EQ(SnowToast::symbol(SnowToast::Tone::error), QStringLiteral("exclamationmark.triangle.fill"));
    EXPECT_EQ(SnowToast::symbol(SnowToast::Tone::info), QStringLiteral("info.circle.fill"));
    EXPECT_EQ(SnowToast::symbolColor(SnowToast::Tone::success), Palette::green());
    EXPECT_EQ(SnowToast::symbolColor(SnowToast::Tone::error), Palette::red());
    EXPECT_EQ(SnowToast::symbolColor(SnowToast::Tone::info), Palette::indigo());
}

TEST(SnowToast, AToastHiddenBeforeItsWindowShowsLeavesNoShadowBehind)
{
    QWidget window;
    window.resize(400, 200);
    auto *layout = new QVBoxLayout(&window);
    auto *toast = new SnowToast(QStringLiteral("The authorization was denied."), SnowToast::Tone::error);
    layout->addWidget(toast);
    ASSERT_NE(toast->shadow(), nullptr);
    toast->hide();
    window.show();
    QCoreApplication::processEvents();
    EXPECT_FALSE(toast->shadow()->isVisible());

    toast->show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(toast->shadow()->isVisible());
    toast->hide();
    EXPECT_FALSE(toast->shadow()->isVisible());
}
