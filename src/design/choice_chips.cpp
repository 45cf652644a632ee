// The choice chips row.
#include "design/choice_chips.h"

#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/hover_animation.h"
#include "design/keyboard_reach.h"
#include "design/palette.h"

#include <QFontMetrics>
#include <QPainter>

namespace {

constexpr int Pad = 10;

QFont chipFont(bool selected)
{
    return Fonts::inter(12, selected ? QFont::DemiBold : QFont::Medium);
}

} // namespace

ChoiceChips::ChoiceChips(QWidget *parent) : ChipRow(4, parent) {}

QColor ChoiceChips::chipFill(const Palette &palette, bool selected, const std::optional<QColor> &tint)
{
    if (!selected)
        return palette.subtle;
    return tint.value_or(palette.mutedStrong);
}

QColor ChoiceChips::chipInk(const Palette &palette, bool selected, const std::optional<QColor> &tint)
{
    if (!selected)
        return palette.mutedForeground;
    return tint ? Palette::pastelInk() : palette.foreground;
}

void ChoiceChips::setItems(const QList<Item> &items)
{
    m_items = items;
    clearChips();
    for (const Item &item : m_items)
        addChip(new ChoiceChip(item, this), item.value);
    refreshChips(false);
}

ChoiceChip *ChoiceChips::chip(int index) const
{
    return static_cast<ChoiceChip *>(chipInRow(index));
}

ChoiceChip::ChoiceChip(const ChoiceChips::Item &item, QWidget *parent)
    : SelectableChip(150, parent), m_item(item), m_press(new SnowPressStyle(this))
{
    setFixedHeight(ChipHeight);
}

QSize ChoiceChip::sizeHint() const
{
    return {2 * Pad + QFontMetrics(chipFont(true)).horizontalAdvance(m_item.label) + 1, ChipHeight};
}

void ChoiceChip::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    m_press->apply(p, QRectF(rect()));
    const qreal t = selectedProgress();
    p.fillPath(roundedRectPath(QRectF(rect()), 8),
               blendColors(ChoiceChips::chipFill(palette, false, m_item.tint),
                           ChoiceChips::chipFill(palette, true, m_item.tint), t));
    p.setFont(chipFont(isSelected()));
    p.setPen(blendColors(ChoiceChips::chipInk(palette, false, m_item.tint),
                         ChoiceChips::chipInk(palette, true, m_item.tint), t));
    p.drawText(rect(), Qt::AlignCenter, m_item.label);
    KeyboardReach::paintRing(p, this, QRectF(rect()), 8);
}
