// The choice chips row.
#include "design/choice_chips.h"

#include "design/animated_flag.h"
#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/hover_animation.h"
#include "design/palette.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>

namespace {

constexpr int Pad = 10;

QFont chipFont(bool selected)
{
    return Fonts::inter(12, selected ? QFont::DemiBold : QFont::Medium);
}

} // namespace

ChoiceChips::ChoiceChips(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

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
    qDeleteAll(m_chips);
    m_chips.clear();
    auto *row = static_cast<QHBoxLayout *>(layout());
    for (const Item &item : m_items) {
        auto *chip = new ChoiceChip(item, this);
        const QVariant value = item.value;
        connect(chip, &ChoiceChip::clicked, this, [this, value] {
            m_selection = value;
            refreshChips(true);
            emit selectionEdited(value);
        });
        row->addWidget(chip);
        m_chips.append(chip);
    }
    refreshChips(false);
}

void ChoiceChips::setSelection(const QVariant &value)
{
    m_selection = value;
    refreshChips(true);
}

int ChoiceChips::chipCount() const
{
    return int(m_chips.size());
}

ChoiceChip *ChoiceChips::chip(int index) const
{
    return index >= 0 && index < m_chips.size() ? m_chips[index] : nullptr;
}

void ChoiceChips::refreshChips(bool animate)
{
    for (int i = 0; i < m_chips.size(); ++i)
        m_chips[i]->setSelected(m_selection.isValid() && m_items[i].value == m_selection, animate);
}

ChoiceChip::ChoiceChip(const ChoiceChips::Item &item, QWidget *parent)
    : QWidget(parent), m_item(item), m_selected(new AnimatedFlag(this, 150, QEasingCurve::InOutQuad)),
      m_press(new SnowPressStyle(this))
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFixedHeight(ChipHeight);
}

bool ChoiceChip::isSelected() const
{
    return m_selected->value();
}

void ChoiceChip::setSelected(bool selected, bool animate)
{
    if (selected == m_selected->value())
        return;
    if (animate)
        m_selected->set(selected);
    else
        m_selected->jump(selected);
}

QSize ChoiceChip::sizeHint() const
{
    return {2 * Pad + QFontMetrics(chipFont(true)).horizontalAdvance(m_item.label) + 1, ChipHeight};
}

void ChoiceChip::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void ChoiceChip::mouseReleaseEvent(QMouseEvent *event)
{
    const bool wasPressed = m_pressed;
    m_pressed = false;
    event->accept();
    if (wasPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

void ChoiceChip::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    m_press->apply(p, QRectF(rect()));
    const qreal t = m_selected->progress();
    p.fillPath(roundedRectPath(QRectF(rect()), 8),
               blendColors(ChoiceChips::chipFill(palette, false, m_item.tint),
                           ChoiceChips::chipFill(palette, true, m_item.tint), t));
    p.setFont(chipFont(m_selected->value()));
    p.setPen(blendColors(ChoiceChips::chipInk(palette, false, m_item.tint),
                         ChoiceChips::chipInk(palette, true, m_item.tint), t));
    p.drawText(rect(), Qt::AlignCenter, m_item.label);
}
