// The left column of the main window: project switcher, navigation, the route tree and the footer.
#pragma once

#include "app/app_context.h"
#include "app/nav_item.h"
#include "design/snow_menu_item.h"
#include "engine/records/route_records.h"

#include <QPointer>
#include <QTreeView>
#include <QWidget>

#include <map>

class AppState;
class EngineClient;
class IconButton;
class QVBoxLayout;
class QVariantAnimation;
class RouteTreeModel;
class RouteTreeView;
class ShellText;
class SidebarCount;
class SidebarRow;
class SnowContextMenu;
class SnowDropdown;
class SymbolLabel;

class AppSidebar final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int Width = 248;

    explicit AppSidebar(const AppContext &context, QWidget *parent = nullptr);

    // The switcher's menu and its label as drawn now.
    QList<SnowMenuItem> projectMenuItems() const;
    QString activeProjectName() const;
    SnowDropdown *projectSwitcher() const { return m_switcher; }

    SidebarRow *navRow(NavItem item) const;
    SidebarRow *settingsRow() const { return m_settingsRow; }
    SidebarRow *assistantRow() const { return m_assistantRow; }
    RouteTreeView *routeTree() const { return m_tree; }

    bool routesOpen() const { return m_routesOpen; }
    // Folds or unfolds the section with a 0.15 s ease-in-out of its height.
    void setRoutesOpen(bool open);
    bool routesAnimating() const;
    // The fold's length; 0.15 s unless a test shortens it.
    int routesFoldDuration() const;
    void setRoutesFoldDuration(int ms);
    QWidget *routesEmptyNote() const { return m_emptyNote; }

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

private:
    QWidget *buildHeader();
    QWidget *buildRoutesHeader();
    QWidget *buildEmptyNote();
    QWidget *buildFooter();
    void refreshNav();
    void refreshProject();
    void refreshRoutes();

    AppContext m_context;
    AppState *m_state;
    EngineClient *m_engine;
    SnowDropdown *m_switcher = nullptr;
    QWidget *m_avatar = nullptr;
    ShellText *m_projectName = nullptr;
    std::map<NavItem, SidebarRow *> m_navRows;
    SidebarCount *m_endpointCount = nullptr;
    SidebarRow *m_assistantRow = nullptr;
    SidebarRow *m_settingsRow = nullptr;
    SymbolLabel *m_routesChevron = nullptr;
    QWidget *m_routesBody = nullptr;
    QWidget *m_emptyNote = nullptr;
    RouteTreeView *m_tree = nullptr;
    QVariantAnimation *m_routesAnimation = nullptr;
    bool m_routesOpen = true;
};

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
    void setHovered(const QModelIndex &index);
    QRect paintedRect(const QModelIndex &index) const;
    int contentHeight() const;

    AppContext m_context;
    RouteTreeModel *m_model;
    SnowContextMenu *m_menu = nullptr;
    QPersistentModelIndex m_pressed;
    QPersistentModelIndex m_hovered;
    int m_height = 0;
};
