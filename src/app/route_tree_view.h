// The sidebar's route tree: host or group blocks and their routes, opened by click or keyboard.
#pragma once

#include "app/app_context.h"
#include "design/keyboard_rows.h"
#include "design/snow_menu_item.h"

#include <QPersistentModelIndex>
#include <QTreeView>

class RouteTreeModel;
class SnowContextMenu;

// The route tree under "Mock routes": a view over RouteTreeModel whose rows are painted by
// RouteTreeDelegate. It never scrolls itself; it is as tall as its rows and sits in the sidebar's scroll area.
class RouteTreeView final : public QTreeView
{
    Q_OBJECT
public:
    RouteTreeView(const AppContext &context, QWidget *parent = nullptr);

    RouteTreeModel *treeModel() const { return m_model; }

    // The entries of a route's right-click menu and of a group header's.
    QList<SnowMenuItem> routeMenuItems(const QString &routeID) const;
    QList<SnowMenuItem> groupMenuItems(const QString &label) const;
    SnowContextMenu *contextMenu() const { return m_menu; }

    bool showsGroups() const;
    // Labels of the blocks in order, and the ids of the rows shown under a block (none when folded).
    QStringList blockLabels() const;
    QStringList visibleRouteIDs(const QString &label) const;
    bool isFolded(const QString &label) const;
    void toggleFold(const QString &label);
    // Where a block header or a route row is painted, in viewport coordinates; empty when not shown.
    QRect blockRect(const QString &label) const;
    QRect routeRect(const QString &routeID) const;
    // The block or route row under a viewport point; the gaps between rows hold none.
    QModelIndex rowAt(const QPoint &pos) const;
    QModelIndex hoveredIndex() const { return m_hovered; }
    // The row the keyboard is on (ringed while the tree has the focus).
    QModelIndex keyboardRow() const;

    // What a tap on a route row, the row menu's Duplicate and its Delete do.
    void openRoute(const QString &routeID);
    void duplicateRoute(const QString &routeID);
    void deleteRoute(const QString &routeID);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void drawRow(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void drawBranches(QPainter *, const QRect &, const QModelIndex &) const override {}
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void relayout();
    // The rows shown, top to bottom: each block, then its routes while it is open.
    QList<QModelIndex> shownRows() const;
    void bringIntoView(const QModelIndex &index);
    void activate(const QModelIndex &index);
    void setHovered(const QModelIndex &index);
    QRect paintedRect(const QModelIndex &index) const;
    int contentHeight() const;

    AppContext m_context;
    RouteTreeModel *m_model;
    SnowContextMenu *m_menu = nullptr;
    KeyboardRows *m_keys = nullptr;
    RowTap m_tap;
    QPersistentModelIndex m_hovered;
    int m_height = 0;
};
