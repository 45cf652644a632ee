// The segmented picker and its chips.
#include "design/snow_segmented.h"

#include "design/animated_flag.h"
#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/hover_animation.h"
#include "design/palette.h"
#include "design/symbols.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QMouseEvent>
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

SnowSegmented::SnowSegmented(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SnowSegmented::setItems(const QList<Item> &items)
{
    m_items = items;
    qDeleteAll(m_chips);
    m_chips.clear();
    auto *row = static_cast<QHBoxLayout *>(layout());
    for (int i = 0; i < m_items.size(); ++i) {
        auto *chip = new SegmentChip(m_items[i], this);
        const QVariant value = m_items[i].value;
        connect(chip, &SegmentChip::clicked, this, [this, value] { select(value); });
        row->addWidget(chip);
        m_chips.append(chip);
    }
    refreshChips(false);
}

void SnowSegmented::setSelection(const QVariant &value)
{
    m_selection = value;
    refreshChips(true);
}

int SnowSegmented::chipCount() const
{
    return int(m_chips.size());
}

SegmentChip *SnowSegmented::chip(int index) const
{
    return index >= 0 && index < m_chips.size() ? m_chips[index] : nullptr;
}

void SnowSegmented::select(const QVariant &value)
{
    m_selection = value;
    refreshChips(true);
    emit selectionEdited(value);
}

void SnowSegmented::refreshChips(bool animate)
{
    // Equal values are all selected together: chips are told apart by position, not value.
    for (int i = 0; i < m_chips.size(); ++i)
        m_chips[i]->setSelected(m_selection.isValid() && m_items[i].value == m_selection, animate);
}

SegmentChip::SegmentChip(const SnowSegmented::Item &item, QWidget *parent)
    : QWidget(parent), m_item(item), m_selected(new AnimatedFlag(this, 150, QEasingCurve::InOutQuad)),
      m_hover(new HoverAnimation(this)), m_press(new SnowPressStyle(this))
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFixedHeight(ChipHeight);
}

bool SegmentChip::isSelected() const
{
    return m_selected->value();
}

void SegmentChip::setSelected(bool selected, bool animate)
{
    if (selected == m_selected->value())
        return;
    if (animate)
        m_selected->set(selected);
    else
        m_selected->jump(selected);
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

void SegmentChip::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void SegmentChip::mouseReleaseEvent(QMouseEvent *event)
{
    const bool wasPressed = m_pressed;
    m_pressed = false;
    event->accept();
    if (wasPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

void SegmentChip::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    m_press->apply(p, QRectF(rect()));

    const bool selected = m_selected->value();
    const QColor idle = blendColors(QColor(Qt::transparent), palette.muted, m_hover->progress());
    const QColor fill = blendColors(idle, palette.mutedStrong, m_selected->progress());
    p.fillPath(roundedRectPath(QRectF(rect()), 8), fill);

    const QColor ink = blendColors(palette.mutedForeground, palette.foreground, m_selected->progress());
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
}
