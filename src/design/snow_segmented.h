// The segmented picker: a row of chips, the one matching the selection drawn selected.
#pragma once

#include <QList>
#include <QVariant>
#include <QWidget>

class AnimatedFlag;
class HoverAnimation;
class SnowPressStyle;

class SnowSegmented final : public QWidget
{
    Q_OBJECT
public:
    struct Item
    {
        QVariant value;
        QString label;
        QString icon; // platform symbol name; empty for none
    };

    explicit SnowSegmented(QWidget *parent = nullptr);

    void setItems(const QList<Item> &items);
    const QList<Item> &items() const { return m_items; }
    // Shows the selection without emitting selectionEdited; a value that matches no item selects none.
    void setSelection(const QVariant &value);
    QVariant selection() const { return m_selection; }

    int chipCount() const;
    class SegmentChip *chip(int index) const;

signals:
    // A segment was pressed.
    void selectionEdited(const QVariant &value);

private:
    void select(const QVariant &value);
    void refreshChips(bool animate);

    QList<Item> m_items;
    QVariant m_selection;
    QList<SegmentChip *> m_chips;
};

// One segment of SnowSegmented: label and optional symbol, filled when selected or hovered.
class SegmentChip final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int ChipHeight = 28;

    SegmentChip(const SnowSegmented::Item &item, QWidget *parent = nullptr);

    bool isSelected() const;
    void setSelected(bool selected, bool animate);
    HoverAnimation *hover() const { return m_hover; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    SnowSegmented::Item m_item;
    AnimatedFlag *m_selected;
    HoverAnimation *m_hover;
    SnowPressStyle *m_press;
    bool m_pressed = false;
};
