// Navigation history, theme cycle and sheet flags.
#include "app/app_state.h"

AppState::AppState(QObject *parent)
    : QObject(parent)
{
}

void AppState::setTheme(AppTheme theme)
{
    m_theme = theme;
    emit themeChanged();
}

void AppState::setNav(NavItem nav)
{
    m_nav = nav;
    emit navChanged();
}

void AppState::setSelectedEndpointID(std::optional<QString> id)
{
    m_selectedEndpointID = std::move(id);
    emit selectedEndpointIDChanged();
}

void AppState::setSheetFlag(SheetFlag flag, bool shown)
{
    m_sheets[static_cast<int>(flag)] = shown;
    if (flag == SheetFlag::newGroup && !shown) {
        m_groupAssignTarget.reset();
        m_groupRenameFrom.reset();
    }
    emit sheetFlagChanged(flag, shown);
    switch (flag) {
    case SheetFlag::settings: emit showSettingsChanged(); break;
    case SheetFlag::search: emit showSearchChanged(); break;
    case SheetFlag::onboarding: emit showOnboardingChanged(); break;
    case SheetFlag::newProject: emit showNewProjectChanged(); break;
    case SheetFlag::newRoute: emit showNewRouteChanged(); break;
    case SheetFlag::manageProjects: emit showManageProjectsChanged(); break;
    case SheetFlag::newGroup: emit showNewGroupChanged(); break;
    case SheetFlag::manageEnvironments: emit showManageEnvironmentsChanged(); break;
    }
}

void AppState::openNewGroup(const QString &routeID)
{
    m_groupAssignTarget = routeID;
    m_groupRenameFrom.reset();
    setShowNewGroup(true);
}

void AppState::openRenameGroup(const QString &group)
{
    m_groupRenameFrom = group;
    m_groupAssignTarget.reset();
    setShowNewGroup(true);
}

void AppState::clearSelectionUnlessEndpoints()
{
    if (m_nav != NavItem::endpoints)
        setSelectedEndpointID(std::nullopt);
}

void AppState::select(NavItem item)
{
    if (item != m_nav) {
        m_backStack.append(m_nav);
        m_forwardStack.clear();
    }
    setNav(item);
    clearSelectionUnlessEndpoints();
}

void AppState::goBack()
{
    if (m_backStack.isEmpty())
        return;
    const NavItem target = m_backStack.takeLast();
    m_forwardStack.append(m_nav);
    setNav(target);
    clearSelectionUnlessEndpoints();
}

void AppState::goForward()
{
    if (m_forwardStack.isEmpty())
        return;
    const NavItem target = m_forwardStack.takeLast();
    m_backStack.append(m_nav);
    setNav(target);
    clearSelectionUnlessEndpoints();
}

void AppState::cycleTheme()
{
    switch (m_theme) {
    case AppTheme::light: setTheme(AppTheme::system); break;
    case AppTheme::system: setTheme(AppTheme::dark); break;
    case AppTheme::dark: setTheme(AppTheme::light); break;
    }
}
