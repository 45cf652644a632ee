// The card surface and the panel style on both palettes.
#include "design/card_surface.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

QImage paint(const std::function<void(QPainter &)> &draw)
{
    QImage image(60, 40, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    draw(p);
    return image;
}

} // namespace

TEST(PanelStyle, DarkPanelsDarkenAndLightPanelsLighten)
{
    EXPECT_EQ(panelFill(Palette::dark()), QColor::fromRgbF(0, 0, 0, 0.2f));
    EXPECT_EQ(panelFill(Palette::light()), QColor::fromRgbF(1, 1, 1, 0.8f));
}

TEST(PanelStyle, FillInsideOutlineAtTheEdgeCornersClear)
{
    const QImage image = paint([](QPainter &p) { paintPanelStyle(p, QRectF(0, 0, 60, 40), Palette::light(), 10); });
    const QColor centre = image.pixelColor(30, 20);
    EXPECT_NEAR(centre.alphaF(), 0.8, 0.01);
    EXPECT_EQ(centre.red(), 255);
    // The outline sits on the edge: black at 0.1 over the white fill is darker than the fill alone.
    const QColor edge = image.pixelColor(30, 0);
    EXPECT_LT(edge.red(), 250);
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0) << "rounded corner";
}

TEST(CardSurface, CardFillInARoundedRectangle)
{
    const QImage image = paint([](QPainter &p) { paintCardSurface(p, QRectF(0, 0, 60, 40), Palette::light(), 12); });
    EXPECT_EQ(image.pixelColor(30, 20), QColor(0xF9, 0xF9, 0xFA));
    EXPECT_EQ(image.pixelColor(30, 0), QColor(0xF9, 0xF9, 0xFA)) << "no border";
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
}

TEST(RoundedRectPath, RadiusIsCappedAtHalfTheShorterSide)
{
    const QPainterPath capped = roundedRectPath(QRectF(0, 0, 40, 10), 50);
    EXPECT_EQ(capped.boundingRect(), QRectF(0, 0, 40, 10));
    EXPECT_TRUE(capped.contains(QPointF(20, 5)));
    EXPECT_FALSE(capped.contains(QPointF(0.5, 0.5)));
}
