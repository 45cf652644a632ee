// Paints the route tree's rows: block headers with mark and count, route rows with the guide line and the off dot.
#pragma once

#include <QModelIndex>
#include <QRect>
#include <QStyledItemDelegate>

class RouteTreeDelegate final : public QStyledItemDelegate
{
    Q_OBJECT
public:
    // Geometry of the tree, in the view's coordinates.
    static constexpr int RowSpacing = 2;
    static constexpr int BlockRowHeight = 30;
    static constexpr int RouteRowHeight = 26;
    static constexpr int RouteIndent = 8;
    static constexpr int SubListLeading = 14;
    static constexpr int GuideInset = 12;
    static constexpr int GuideMargin = 4;
    static constexpr int OffDotSize = 5;

    using QStyledItemDelegate::QStyledItemDelegate;

    // The height an index takes, including the spacing above it (none above the very first block).
    static int itemHeight(const QModelIndex &index);
    // The part of an item's rect that is the row itself: what is painted, hovered and clicked.
    static QRect rowRect(const QRect &itemRect, const QModelIndex &index);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    void paintBlock(QPainter &p, const QRect &row, bool hovered, const QModelIndex &index, const QWidget *widget) const;
    void paintRoute(QPainter &p, const QRect &item, const QRect &row, bool hovered, const QModelIndex &index,
                    const QWidget *widget) const;
};
