// Text tabs with an underline under the selected one.
#pragma once

#include "design/chip_row.h"

#include <QList>
#include <QVariant>

class TabBar final : public ChipRow
{
    Q_OBJECT
public:
    struct Item
    {
        QVariant value;
        QString label;
    };

    explicit TabBar(QWidget *parent = nullptr);

    void setItems(const QList<Item> &items);
    const QList<Item> &items() const { return m_items; }

    int tabCount() const { return chipsInRow(); }
    class TabBarTab *tab(int index) const;

private:
    QList<Item> m_items;
};

class TabBarTab final : public SelectableChip
{
    Q_OBJECT
public:
    static constexpr int UnderlineHeight = 3;
    static constexpr int Spacing = 4;
    // Room kept round the label and underline for the focus ring, so the ring never covers them. The row
    // pulls its tabs together by as much, so the labels stand as far apart as without it.
    static constexpr int RingRoomX = 6;
    static constexpr int RingRoomY = 5;

    explicit TabBarTab(const QString &label, QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_label;
};
