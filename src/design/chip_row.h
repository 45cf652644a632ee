// The shared part of chip and tab rows: chips that click and ease into their selected look, and their row.
#pragma once

#include <QList>
#include <QVariant>
#include <QWidget>

class AnimatedFlag;

// A left press released over the chip is a click; the selected state eases over selectionMs.
class SelectableChip : public QWidget
{
    Q_OBJECT
public:
    bool isSelected() const;
    void setSelected(bool selected, bool animate);

    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void clicked();

protected:
    SelectableChip(int selectionMs, QWidget *parent);

    qreal selectedProgress() const;
    // Called after the selected state changed.
    virtual void selectionChanged() {}

    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    AnimatedFlag *m_selected;
    bool m_pressed = false;
};

// Lays chips out in a row and selects every chip whose value equals the selection.
class ChipRow : public QWidget
{
    Q_OBJECT
public:
    // Shows the selection without emitting selectionEdited; a value that matches no chip selects none.
    void setSelection(const QVariant &value);
    QVariant selection() const { return m_selection; }

signals:
    // A chip was pressed.
    void selectionEdited(const QVariant &value);

protected:
    ChipRow(int spacing, QWidget *parent);

    void clearChips();
    void addChip(SelectableChip *chip, const QVariant &value, Qt::Alignment alignment = {});
    int chipsInRow() const { return int(m_chips.size()); }
    SelectableChip *chipInRow(int index) const;
    // Equal values are all selected together: chips are told apart by position, not value.
    void refreshChips(bool animate);

private:
    QVariant m_selection;
    QList<QVariant> m_values;
    QList<SelectableChip *> m_chips;
};
