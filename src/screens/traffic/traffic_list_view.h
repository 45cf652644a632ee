// A list view for the traffic screens' painted rows on the table's card: no frame, hover tracked,
// a right-click "Replay request" menu on rows, and rows the keyboard walks.
#pragma once

#include <QListView>
#include <QPersistentModelIndex>

#include <functional>

class KeyboardRows;
class QStyleOptionViewItem;
class QVariantAnimation;
class SnowContextMenu;

class TrafficListView final : public QListView
{
    Q_OBJECT
public:
    explicit TrafficListView(QWidget *parent = nullptr);

    // The menu for a row: replay(id) runs its action; enabled() says whether it may be chosen now.
    void setReplayMenu(std::function<QString(const QModelIndex &)> idOf, std::function<bool()> enabled,
                       std::function<void(const QString &)> replay);
    SnowContextMenu *contextMenu() const { return m_menu; }
    // What Return on a row does; without it Return opens the row's menu, as the Menu key does.
    void setOpenAction(std::function<void(const QModelIndex &)> open) { m_open = std::move(open); }
    KeyboardRows *keyboardRows() const { return m_keys; }
    // The keyboard's ring round a row, painted by the row's delegate over the row.
    static void paintKeyboardRing(QPainter &painter, const QStyleOptionViewItem &option, const QModelIndex &index);
    // Row under a point of the view's own coordinates.
    QModelIndex rowAt(const QPoint &viewPos) const;

    static constexpr int HoverMs = 150;
    // How far the row's hover look has eased in: 1 under the pointer, 0 at rest.
    qreal hoverLevel(const QModelIndex &index) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void hoverRow(const QModelIndex &index);
    void repaintRow(const QPersistentModelIndex &index);

    void openMenu(const QModelIndex &index);

    SnowContextMenu *m_menu = nullptr;
    KeyboardRows *m_keys = nullptr;
    std::function<void(const QModelIndex &)> m_open;
    // The row easing in under the pointer and the one easing out after it.
    QPersistentModelIndex m_hovered;
    QPersistentModelIndex m_leaving;
    qreal m_in = 0;
    qreal m_out = 0;
    QVariantAnimation *m_hoverIn;
    QVariantAnimation *m_hoverOut;
};
