// A row of selectable chips; a selected chip is filled with its tint (or mutedStrong without one).
#pragma once

#include "design/chip_row.h"

#include <QColor>
#include <QList>
#include <QVariant>

#include <optional>

class SnowPressStyle;
struct Palette;

class ChoiceChips final : public ChipRow
{
    Q_OBJECT
public:
    struct Item
    {
        QVariant value;
        QString label;
        std::optional<QColor> tint;
    };

    explicit ChoiceChips(QWidget *parent = nullptr);

    void setItems(const QList<Item> &items);
    const QList<Item> &items() const { return m_items; }

    int chipCount() const { return chipsInRow(); }
    class ChoiceChip *chip(int index) const;

    static QColor chipFill(const Palette &palette, bool selected, const std::optional<QColor> &tint);
    static QColor chipInk(const Palette &palette, bool selected, const std::optional<QColor> &tint);

private:
    QList<Item> m_items;
};

class ChoiceChip final : public SelectableChip
{
    Q_OBJECT
public:
    static constexpr int ChipHeight = 26;

    ChoiceChip(const ChoiceChips::Item &item, QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ChoiceChips::Item m_item;
    SnowPressStyle *m_press;
};
