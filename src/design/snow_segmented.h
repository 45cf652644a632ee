// The segmented picker: a row of chips, the one matching the selection drawn selected.
#pragma once

#include "design/chip_row.h"

#include <QList>
#include <QVariant>

class HoverAnimation;
class SnowPressStyle;

class SnowSegmented final : public ChipRow
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

    int chipCount() const { return chipsInRow(); }
    class SegmentChip *chip(int index) const;

private:
    QList<Item> m_items;
};

// One segment of SnowSegmented: label and optional symbol, filled when selected or hovered.
class SegmentChip final : public SelectableChip
{
    Q_OBJECT
public:
    static constexpr int ChipHeight = 28;

    SegmentChip(const SnowSegmented::Item &item, QWidget *parent = nullptr);

    HoverAnimation *hover() const { return m_hover; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void selectionChanged() override;

private:
    SnowSegmented::Item m_item;
    HoverAnimation *m_hover;
    SnowPressStyle *m_press;
};
