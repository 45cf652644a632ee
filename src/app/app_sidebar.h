// The left column of the main window: project switcher, navigation, the route tree and the footer.
#pragma once

#include "app/app_context.h"
#include "app/nav_item.h"
#include "app/route_tree_view.h"
#include "design/snow_menu_item.h"
#include "engine/records/route_records.h"

#include <QPointer>
#include <QWidget>

#include <map>

class AppState;
class EngineClient;
class IconButton;
class QVBoxLayout;
class QVariantAnimation;
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
