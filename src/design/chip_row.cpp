// Chip rows and their selectable chips.
#include "design/chip_row.h"

#include "design/animated_flag.h"
#include "design/keyboard_reach.h"

#include <QHBoxLayout>
#include <QMouseEvent>

SelectableChip::SelectableChip(int selectionMs, QWidget *parent)
    : QWidget(parent), m_selected(new AnimatedFlag(this, selectionMs, QEasingCurve::InOutQuad))
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    KeyboardReach::install(this, [this] { emit clicked(); });
}

bool SelectableChip::isSelected() const
{
    return m_selected->value();
}

qreal SelectableChip::selectedProgress() const
{
    return m_selected->progress();
}

void SelectableChip::setSelected(bool selected, bool animate)
{
    if (selected == m_selected->value())
        return;
    if (animate)
        m_selected->set(selected);
    else
        m_selected->jump(selected);
    selectionChanged();
}

void SelectableChip::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void SelectableChip::mouseReleaseEvent(QMouseEvent *event)
{
    const bool wasPressed = m_pressed;
    m_pressed = false;
    event->accept();
    if (wasPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

ChipRow::ChipRow(int spacing, QWidget *parent) : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void ChipRow::setSelection(const QVariant &value)
{
    m_selection = value;
    // A row not shown yet takes its selection at once, so it is not seen easing in when it appears.
    refreshChips(isVisible());
}

void ChipRow::clearChips()
{
    qDeleteAll(m_chips);
    m_chips.clear();
    m_values.clear();
}

void ChipRow::addChip(SelectableChip *chip, const QVariant &value, Qt::Alignment alignment)
{
    connect(chip, &SelectableChip::clicked, this, [this, value] {
        m_selection = value;
        refreshChips(true);
        emit selectionEdited(value);
    });
    static_cast<QHBoxLayout *>(layout())->addWidget(chip, 0, alignment);
    m_chips.append(chip);
    m_values.append(value);
}

SelectableChip *ChipRow::chipInRow(int index) const
{
    return index >= 0 && index < m_chips.size() ? m_chips[index] : nullptr;
}

void ChipRow::refreshChips(bool animate)
{
    for (int i = 0; i < m_chips.size(); ++i)
        m_chips[i]->setSelected(m_selection.isValid() && m_values[i] == m_selection, animate);
}
