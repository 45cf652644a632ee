// A row of selectable chips; a selected chip is filled with its tint (or mutedStrong without one).
#pragma once

#include <QColor>
#include <QList>
#include <QVariant>
#include <QWidget>

#include <optional>

class AnimatedFlag;
class SnowPressStyle;
struct Palette;

class ChoiceChips final : public QWidget
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
    // Shows the selection without emitting selectionEdited.
    void setSelection(const QVariant &value);
    QVariant selection() const { return m_selection; }

    int chipCount() const;
    class ChoiceChip *chip(int index) const;

    static QColor chipFill(const Palette &palette, bool selected, const std::optional<QColor> &tint);
    static QColor chipInk(const Palette &palette, bool selected, const std::optional<QColor> &tint);

signals:
    void selectionEdited(const QVariant &value);

private:
    void refreshChips(bool animate);

    QList<Item> m_items;
    QVariant m_selection;
    QList<ChoiceChip *> m_chips;
};

class ChoiceChip final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int ChipHeight = 26;

    ChoiceChip(const ChoiceChips::Item &item, QWidget *parent = nullptr);
    bool isSelected() const;
    void setSelected(bool selected, bool animate);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    ChoiceChips::Item m_item;
    AnimatedFlag *m_selected;
    SnowPressStyle *m_press;
    bool m_pressed = false;
};
