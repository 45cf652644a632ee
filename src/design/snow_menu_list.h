// The body of every menu: entries drawn as rows, dividers and captions, in a list of fixed width.
#pragma once

#include "design/snow_menu_item.h"

#include <QList>
#include <QWidget>

#include <functional>

class QVariantAnimation;

class SnowMenuList final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int Padding = 10;
    static constexpr int Spacing = 1;
    static constexpr int RowHeight = 30;

    explicit SnowMenuList(QWidget *parent = nullptr);

    void setItems(const QList<SnowMenuItem> &items);
    const QList<SnowMenuItem> &items() const { return m_items; }
    // The list is exactly this wide, its padding included.
    void setMenuWidth(int width);
    int menuWidth() const { return m_width; }
    // Runs before an entry's action, so the menu is gone when the action opens a panel or sheet.
    void setOnDismiss(std::function<void()> onDismiss) { m_onDismiss = std::move(onDismiss); }

    // Area of the entry at index in list coordinates (the row itself, without the list's padding).
    QRect itemRect(int index) const;
    int itemAt(const QPoint &pos) const;
    int hoveredIndex() const { return m_hovered; }
    void setHoveredIndex(int index);
    // Chooses the entry as a click would: nothing for dividers, captions and disabled entries.
    void activate(int index);
    // Keyboard: Up and Down move between the clickable entries (Home and End to the first and last),
    // Return and Enter choose.
    bool handleKey(int key);
    // Highlights the checked entry, else the first clickable one: where the keys start in a menu opened by them.
    void highlightChecked();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    int elementHeight(const SnowMenuItem &item) const;
    int headerHeight() const;
    void relayout();

    QList<SnowMenuItem> m_items;
    QList<QRect> m_rects;
    int m_width = 200;
    int m_height = 2 * Padding;
    int m_hovered = -1;
    int m_pressed = -1;
    // The hover fill fades in on the new row while it fades out on the row left behind.
    QVariantAnimation *m_hoverFade;
    qreal m_hoverProgress = 0;
    int m_fading = -1;
    qreal m_fadingFrom = 0;
    std::function<void()> m_onDismiss;
};
