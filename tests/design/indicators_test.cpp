// Status dot halo, loader line and spin, divider extent.
#include "design/indicators.h"

#include "design/palette.h"
#include "support/test_support.h"

#include <QHBoxLayout>
#include <QImage>
#include <QWidget>

#include <gtest/gtest.h>

TEST(StatusDot, HaloFollowsPulse)
{
    QWidget host;
    auto *layout = new QHBoxLayout(&host);
    auto *dot = new StatusDot(Palette::green(), 8, false);
    layout->addWidget(dot);
    host.resize(60, 40);
    host.show();
    EXPECT_FALSE(dot->animating());
    EXPECT_EQ(host.findChildren<QWidget *>().size(), 1) << "no halo while not pulsing";

    dot->setPulse(true);
    EXPECT_TRUE(dot->animating());
    EXPECT_EQ(host.findChildren<QWidget *>().size(), 2) << "the halo is a sibling under the dot";
    EXPECT_EQ(dot->size(), QSize(8, 8)) << "the halo does not change the dot's frame";

    dot->setPulse(false);
    EXPECT_FALSE(dot->animating());
    EXPECT_TRUE(testsupport::waitFor([&] { return host.findChildren<QWidget *>().size() == 1; }, 1000));
}

TEST(StatusDot, StartsPulsingWhenShown)
{
    QWidget host;
    auto *dot = new StatusDot(Palette::red(), 10, true, &host);
    EXPECT_FALSE(dot->animating()) << "nothing runs before the dot is on screen";
    host.show();
    EXPECT_TRUE(dot->animating());
    host.hide();
    EXPECT_FALSE(dot->animating());
}

TEST(SnowLoader, LineWidthHasAFloor)
{
    EXPECT_DOUBLE_EQ(snowLoaderLineWidth(9), 1.6);
    EXPECT_DOUBLE_EQ(snowLoaderLineWidth(36), 4);
    EXPECT_DOUBLE_EQ(snowLoaderLineWidth(18), 2);
}

TEST(SnowLoader, SpinsOnlyWhileShown)
{
    QWidget host;
    auto *loader = new SnowLoader(16, std::nullopt, &host);
    EXPECT_FALSE(loader->spinning());
    host.show();
    EXPECT_TRUE(loader->spinning());
    loader->hide();
    EXPECT_FALSE(loader->spinning());
    loader->show();
    EXPECT_TRUE(loader->spinning()) << "starts afresh when shown again";
}

namespace {

// What the widget itself paints, on a transparent image.
QImage paintedOnly(QWidget &widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

} // namespace

TEST(SnowDivider, ZeroInsetTouchesBothEnds)
{
    QWidget host;
    PaletteHost::set(&host, Palette::dark());
    SnowDivider divider(false, 0, &host);
    divider.resize(50, 1);
    QImage image = paintedOnly(divider);
    EXPECT_GT(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_GT(qAlpha(image.pixel(49, 0)), 0);

    SnowDivider inset(false, 10, &host);
    inset.resize(50, 1);
    image = paintedOnly(inset);
    EXPECT_EQ(qAlpha(image.pixel(5, 0)), 0);
    EXPECT_GT(qAlpha(image.pixel(25, 0)), 0);
    EXPECT_EQ(qAlpha(image.pixel(45, 0)), 0);
}

TEST(SnowDivider, VerticalIsOnePixelWide)
{
    SnowDivider divider(true, 4);
    EXPECT_EQ(divider.minimumWidth(), 1);
    EXPECT_EQ(divider.maximumWidth(), 1);
    EXPECT_EQ(divider.sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
}

TEST(StatusDot, HaloIsPaintedAroundTheDot)
{
    QWidget host;
    PaletteHost::set(&host, Palette::light());
    host.resize(60, 60);
    auto *dot = new StatusDot(QColor(Qt::red), 10, true, &host);
    dot->move(25, 25);
    host.show();
    ASSERT_TRUE(testsupport::waitFor([&] { return dot->haloPhase() > 0.3 && dot->haloPhase() < 0.6; }, 3000));
    QImage image(host.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    host.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    // Just outside the dot's own frame, the halo's translucent red shows.
    const QColor beside = image.pixelColor(23, 30);
    EXPECT_GT(beside.alpha(), 0);
    EXPECT_GT(beside.red(), beside.green());
}
