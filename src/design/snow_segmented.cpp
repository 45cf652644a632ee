// The segmented picker and its chips.
#include "design/snow_segmented.h"

#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/hover_animation.h"
#include "design/keyboard_reach.h"
#include "design/palette.h"
#include "design/symbols.h"

#include <QFontMetrics>
#include <QPainter>

namespace {

constexpr int Pad = 10;
constexpr int Spacing = 6;
constexpr qreal IconSize = 12;

QFont chipFont(bool selected)
{
    return Fonts::inter(12, selected ? QFont::DemiBold : QFont::Medium);
}

} // namespace

SnowSegmented::SnowSegmented(QWidget *parent) : ChipRow(4, parent) {}

void SnowSegmented::setItems(const QList<Item> &items)
{
    m_items = items;
    clearChips();
    for (const Item &item : m_items)
        addChip(new SegmentChip(item, this), item.value);
    refreshChips(false);
}

SegmentChip *SnowSegmented::chip(int index) const
{
    return static_cast<SegmentChip *>(chipInRow(index));
}

SegmentChip::SegmentChip(const SnowSegmented::Item &item, QWidget *parent)
    : SelectableChip(150, parent), m_item(item), m_hover(new HoverAnimation(this)), m_press(new SnowPressStyle(this))
{
    setFixedHeight(ChipHeight);
}

void SegmentChip::selectionChanged()
{
    updateGeometry();
}

QSize SegmentChip::sizeHint() const
{
    // Sized for the semibold face so the row does not shift when the selection moves.
    int w = 2 * Pad + QFontMetrics(chipFont(true)).horizontalAdvance(m_item.label) + 1;
    if (!m_item.icon.isEmpty())
        w += int(Symbols::glyphPixelSize(IconSize)) + Spacing;
    return {w, ChipHeight};
}

void SegmentChip::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    m_press->apply(p, QRectF(rect()));

    const bool selected = isSelected();
    const QColor idle = blendColors(QColor(Qt::transparent), palette.muted, m_hover->progress());
    const QColor fill = blendColors(idle, palette.mutedStrong, selectedProgress());
    p.fillPath(roundedRectPath(QRectF(rect()), 8), fill);

    const QColor ink = blendColors(palette.mutedForeground, palette.foreground, selectedProgress());
    const QFont font = chipFont(selected);
    const int iconWidth = m_item.icon.isEmpty() ? 0 : int(Symbols::glyphPixelSize(IconSize));
    const int textWidth = QFontMetrics(font).horizontalAdvance(m_item.label);
    qreal x = (width() - (iconWidth ? iconWidth + Spacing : 0) - textWidth) / 2.0;
    if (iconWidth) {
        Symbols::draw(p, QRectF(x, 0, iconWidth, height()), m_item.icon, IconSize, ink);
        x += iconWidth + Spacing;
    }
    p.setFont(font);
    p.setPen(ink);
    p.drawText(QRectF(x, 0, textWidth + 1, height()), Qt::AlignLeft | Qt::AlignVCenter, m_item.label);
    KeyboardReach::paintRing(p, this, QRectF(rect()), 8);
}
