// The routes table's list: a view over RouteListModel whose rows (route rows, group headers) a delegate paints.
#pragma once

#include "app/app_context.h"

#include "screens/routes/painted_list_view.h"

#include <QStyledItemDelegate>

class RouteListModel;
class SnowContextMenu;

namespace RouteTable {

// Columns and paddings shared by the column header and the rows, so they line up.
inline constexpr int Pad = 12;
inline constexpr int MethodWidth = 72;
inline constexpr int StatusWidth = 64;
inline constexpr int LatencyWidth = 72;
inline constexpr int ActiveWidth = 64;
inline constexpr int RouteRowHeight = 36;   // 8 + the 20-point switch + 8
inline constexpr int HeaderRowHeight = 33;  // 8 + the count pill + 8
inline constexpr int ColumnHeaderHeight = 32;

// Where the on/off switch of a route row sits.
QRect switchRect(const QRect &row);
// The row's host/path column.
QRect addressRect(const QRect &row);

} // namespace RouteTable

class RouteTableDelegate final : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    void paintRoute(QPainter &p, const QRect &row, const QModelIndex &index, const QWidget *widget) const;
    void paintHeader(QPainter &p, const QRect &row, const QModelIndex &index, const QWidget *widget) const;
};

// A left click on a route row selects it (a second click clears the selection), on its switch flips
// the route; on a group header it folds the section. A right click opens the route's or group's menu.
// The keyboard walks the rows: Return opens, Space flips the switch, the Menu key opens the menu.
class RouteTableView final : public PaintedListView
{
    Q_OBJECT
public:
    RouteTableView(const AppContext &context, RouteListModel *model, QWidget *parent = nullptr);

    RouteListModel *listModel() const { return m_model; }
    SnowContextMenu *contextMenu() const { return m_menu; }
    // The visual rect of a route row or group header; empty when not shown.
    QRect routeRect(const QString &routeID) const;
    QRect headerRect(const QString &label) const;

    // What a click on a row does.
    void clickRow(int row, const QPoint &viewportPos);
    // What Return on a row does: opens a route (a second time keeps it open), folds a group.
    void openRow(int row);

    // A group header's chevron in degrees: 90 expanded, 0 collapsed, in between while a fold eases.
    qreal chevronAngle(const QString &label, bool collapsed) const;

protected:
    void rowTapped(const QModelIndex &index, const QPoint &viewportPos) override { clickRow(index.row(), viewportPos); }
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles = {}) override;

private:
    AppContext m_context;
    RouteListModel *m_model;
    SnowContextMenu *m_menu = nullptr;
    class QVariantAnimation *m_fold = nullptr;
    QString m_folding; // the label whose chevron is turning
    qreal m_foldAngle = 0;
};
