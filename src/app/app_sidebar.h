// The left column of the main window: project switcher, navigation, the route tree and the footer.
#pragma once

#include "app/app_context.h"
#include "app/nav_item.h"
#include "design/snow_menu_item.h"
#include "engine/records/route_records.h"

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QWidget>

#include <map>

class AppState;
class EngineClient;
class IconButton;
class QVBoxLayout;
class RouteTreeView;
class ShellText;
class SidebarCount;
class SidebarRow;
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
    void setRoutesOpen(bool open);
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
    QWidget *m_emptyNote = nullptr;
    RouteTreeView *m_tree = nullptr;
    bool m_routesOpen = true;
};

// The route tree under "Mock routes": host blocks while no route has a group, group sections
// otherwise; rows are kept per route id and per label and only moved or updated on a change.
class RouteTreeView final : public QWidget
{
    Q_OBJECT
public:
    RouteTreeView(const AppContext &context, QWidget *parent = nullptr);

    // Rebuilds the order from the engine's routes, reusing rows.
    void refresh();

    // The entries of a route's right-click menu and of a group header's.
    QList<SnowMenuItem> routeMenuItems(const QString &routeID) const;
    QList<SnowMenuItem> groupMenuItems(const QString &label) const;

    bool showsGroups() const { return m_showsGroups; }
    // Labels of the blocks in order, and the ids of the rows shown under a block (none when folded).
    QStringList blockLabels() const;
    QStringList visibleRouteIDs(const QString &label) const;
    SidebarRow *blockHeader(const QString &label) const;
    SidebarRow *routeRow(const QString &routeID) const;
    bool isFolded(const QString &label) const;
    void toggleFold(const QString &label);

    // What the row menu's Duplicate and Delete do.
    void duplicateRoute(const QString &routeID);
    void deleteRoute(const QString &routeID);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    struct Block
    {
        QString label;
        QStringList routeIDs;
    };

    SidebarRow *headerFor(const QString &label, bool group);
    SidebarRow *rowFor(const Endpoint &route);
    void placeRows();
    QSet<QString> &foldSet() { return m_showsGroups ? m_collapsedGroups : m_collapsedHosts; }
    const QSet<QString> &foldSet() const { return m_showsGroups ? m_collapsedGroups : m_collapsedHosts; }

    AppContext m_context;
    bool m_showsGroups = false;
    QList<Block> m_blocks;
    QHash<QString, SidebarRow *> m_hostHeaders;
    QHash<QString, SidebarRow *> m_groupHeaders;
    QHash<QString, SidebarRow *> m_routeRows;
    QSet<QString> m_collapsedHosts;
    QSet<QString> m_collapsedGroups;
    QList<QRect> m_guides;
    int m_height = 0;
};
