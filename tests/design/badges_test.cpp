// Colour and text decisions of the method badge, tag, status chip and count badge, and their sizes.
#include "design/badges.h"

#include "design/palette.h"
#include "support/test_support.h"

#include <QImage>
#include <QPainter>
#include <QWidget>

#include <limits>

#include <gtest/gtest.h>

namespace {

const QColor White(Qt::white);

} // namespace

TEST(StatusChipColors, FillAndTextByStatusBand)
{
    const Palette &light = Palette::light();
    const QColor ink = Palette::pastelInk();
    EXPECT_EQ(statusChipColors(0, false, light), (PillColors{light.subtle, light.mutedForeground}));
    EXPECT_EQ(statusChipColors(199, false, light), (PillColors{light.subtle, light.mutedForeground}));
    EXPECT_EQ(statusChipColors(-5, false, light), (PillColors{light.subtle, light.mutedForeground}));
    EXPECT_EQ(statusChipColors(200, false, light), (PillColors{Palette::green(), ink}));
    EXPECT_EQ(statusChipColors(299, false, light), (PillColors{Palette::green(), ink}));
    EXPECT_EQ(statusChipColors(300, false, light), (PillColors{Palette::cyan(), ink}));
    EXPECT_EQ(statusChipColors(499, false, light), (PillColors{Palette::yellow(), ink}));
    EXPECT_EQ(statusChipColors(500, false, light), (PillColors{Palette::red(), White}));
    EXPECT_EQ(statusChipColors(600, false, light), (PillColors{Palette::red(), White}));
}

TEST(StatusChipColors, InjectedIsYellowAndNeverWhiteLettered)
{
    const Palette &dark = Palette::dark();
    const QColor ink = Palette::pastelInk();
    EXPECT_EQ(statusChipColors(503, true, dark), (PillColors{Palette::yellow(), ink}));
    EXPECT_EQ(statusChipColors(200, true, dark), (PillColors{Palette::yellow(), ink}));
    EXPECT_EQ(statusChipColors(199, true, dark), (PillColors{Palette::yellow(), dark.mutedForeground}));
    EXPECT_EQ(statusChipColors(0, true, dark), (PillColors{Palette::yellow(), dark.mutedForeground}));
}

TEST(StatusChipColors, SubtleFillComesFromThePaletteInForce)
{
    EXPECT_EQ(statusChipColors(100, false, Palette::dark()).fill, Palette::dark().subtle);
    EXPECT_NE(Palette::dark().subtle, Palette::light().subtle);
}

TEST(MethodBadgeColors, EachMethodItsPastel)
{
    const QColor ink = Palette::pastelInk();
    EXPECT_EQ(methodBadgeColors("GET"), (PillColors{Palette::blue(), ink}));
    EXPECT_EQ(methodBadgeColors("POST"), (PillColors{Palette::green(), ink}));
    EXPECT_EQ(methodBadgeColors("PUT"), (PillColors{Palette::orange(), ink}));
    EXPECT_EQ(methodBadgeColors("DELETE"), (PillColors{Palette::red(), White}));
    EXPECT_EQ(methodBadgeColors("PATCH"), (PillColors{Palette::purple(), ink}));
    EXPECT_EQ(methodBadgeColors("CONNECT"), (PillColors{Palette::cyan(), ink}));
}

TEST(SnowTagColors, ToneDecidesFillAndText)
{
    const Palette &p = Palette::light();
    const QColor ink = Palette::pastelInk();
    using Tone = SnowTag::Tone;
    EXPECT_EQ(SnowTag::colors(Tone::neutral, p), (PillColors{p.subtle, p.mutedForeground}));
    EXPECT_EQ(SnowTag::colors(Tone::brand, p), (PillColors{Palette::indigo(), ink}));
    EXPECT_EQ(SnowTag::colors(Tone::success, p), (PillColors{Palette::green(), ink}));
    EXPECT_EQ(SnowTag::colors(Tone::warning, p), (PillColors{Palette::yellow(), ink}));
    EXPECT_EQ(SnowTag::colors(Tone::error, p), (PillColors{Palette::red(), White}));
    EXPECT_EQ(SnowTag::colors(Tone::info, p), (PillColors{Palette::blue(), ink}));
    EXPECT_EQ(SnowTag::colors(Tone::violet, p), (PillColors{Palette::purple(), ink}));
}

TEST(SnowTag, UppercaseShowsCapitalsAtNineAndAHalf)
{
    SnowTag upper(QStringLiteral("new"), SnowTag::Tone::violet, {}, true);
    EXPECT_EQ(upper.shownText(), QStringLiteral("NEW"));
    EXPECT_EQ(upper.textFont().pixelSize(), 10); // 9.5 rounded to whole pixels
    EXPECT_DOUBLE_EQ(upper.textFont().letterSpacing(), 0.5);

    SnowTag plain(QStringLiteral("watching"), SnowTag::Tone::success, QStringLiteral("eye"), false);
    EXPECT_EQ(plain.shownText(), QStringLiteral("watching"));
    EXPECT_EQ(plain.textFont().pixelSize(), 11);
    // The icon adds its glyph and the 3-point gap to the width.
    SnowTag noIcon(QStringLiteral("watching"), SnowTag::Tone::success, {}, false);
    EXPECT_GT(plain.sizeHint().width(), noIcon.sizeHint().width() + 3);
}

TEST(StatusChip, InjectedChipIsWiderForItsBolt)
{
    StatusChip plain(503, false);
    StatusChip injected(503, true);
    EXPECT_GT(injected.sizeHint().width(), plain.sizeHint().width());
    EXPECT_EQ(injected.sizeHint().height(), plain.sizeHint().height());
}

TEST(CountBadge, NegativeCountShowsItsSignAndDigitsShareOneWidth)
{
    CountBadge ones(111);
    CountBadge eights(888);
    EXPECT_EQ(ones.sizeHint().width(), eights.sizeHint().width());
    CountBadge negative(-7);
    CountBadge positive(7);
    EXPECT_GT(negative.sizeHint().width(), positive.sizeHint().width());
}

TEST(IconTile, SymbolColourDependsOnTint)
{
    EXPECT_EQ(IconTile::symbolColor(Palette::mint(), Palette::light()), QColor::fromRgbF(0, 0, 0, 0.65f));
    EXPECT_EQ(IconTile::symbolColor(std::nullopt, Palette::dark()), Palette::dark().mutedForeground);
    IconTile tile(QStringLiteral("globe"), std::nullopt, 32, 8);
    EXPECT_EQ(tile.size(), QSize(32, 32));
}

TEST(MethodBadge, PaintsItsFillBehindTheName)
{
    QWidget host;
    auto *badge = new MethodBadge(QStringLiteral("DELETE"), &host);
    badge->resize(badge->sizeHint());
    const QImage image = badge->grab().toImage();
    // Left edge, vertical middle: inside the pill but left of the text.
    EXPECT_EQ(QColor(image.pixel(2, image.height() / 2)).rgb(), Palette::red().rgb());
}

TEST(StatusChipColors, SixtyFourBitExtremesStayInTheirBands)
{
    const Palette &p = Palette::light();
    EXPECT_EQ(statusChipColors(std::numeric_limits<qint64>::max(), false, p), (PillColors{Palette::red(), White}));
    EXPECT_EQ(statusChipColors(std::numeric_limits<qint64>::min(), false, p),
              (PillColors{p.subtle, p.mutedForeground}));
    // The chip prints the whole number, sign included.
    StatusChip big(std::numeric_limits<qint64>::max(), false);
    StatusChip small(500, false);
    EXPECT_GT(big.sizeHint().width(), small.sizeHint().width());
}

namespace {

// Pixels of the widget as grabbed against pixels of the static paint into the same size.
template <class Widget, class PaintFn>
void expectSamePixels(Widget &widget, const Palette &palette, PaintFn paint)
{
    QWidget host;
    PaletteHost::set(&host, palette);
    widget.setParent(&host);
    widget.resize(widget.sizeHint());
    QImage grabbed(widget.size(), QImage::Format_ARGB32_Premultiplied);
    grabbed.fill(Qt::transparent);
    widget.render(&grabbed, QPoint(), QRegion(), QWidget::DrawChildren);
    QImage painted(widget.size(), QImage::Format_ARGB32_Premultiplied);
    painted.fill(Qt::transparent);
    {
        QPainter p(&painted);
        paint(p, QRectF(QPointF(0, 0), QSizeF(widget.size())));
    }
    EXPECT_EQ(grabbed, painted);
    widget.setParent(nullptr);
}

} // namespace

TEST(BadgePainting, DelegatesDrawWhatTheControlsDraw)
{
    for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
        MethodBadge method(QStringLiteral("DELETE"));
        EXPECT_EQ(MethodBadge::sizeFor(QStringLiteral("DELETE")), method.sizeHint());
        expectSamePixels(method, *palette,
                         [](QPainter &p, const QRectF &r) { MethodBadge::paint(p, r, QStringLiteral("DELETE")); });

        StatusChip chip(503, true);
        EXPECT_EQ(StatusChip::sizeFor(503, true), chip.sizeHint());
        EXPECT_NE(StatusChip::sizeFor(503, true), StatusChip::sizeFor(503, false));
        expectSamePixels(chip, *palette,
                         [palette](QPainter &p, const QRectF &r) { StatusChip::paint(p, r, 503, true, *palette); });

        CountBadge count(300);
        EXPECT_EQ(CountBadge::sizeFor(300), count.sizeHint());
        expectSamePixels(count, *palette,
                         [palette](QPainter &p, const QRectF &r) { CountBadge::paint(p, r, 300, *palette); });

        SnowTag tag(QStringLiteral("watching"), SnowTag::Tone::success, QStringLiteral("eye"));
        EXPECT_EQ(SnowTag::sizeFor(QStringLiteral("watching"), QStringLiteral("eye")), tag.sizeHint());
        expectSamePixels(tag, *palette, [palette](QPainter &p, const QRectF &r) {
            SnowTag::paint(p, r, QStringLiteral("watching"), SnowTag::Tone::success, *palette, QStringLiteral("eye"));
        });
    }
}
