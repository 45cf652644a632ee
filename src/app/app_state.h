// Navigation, route selection, theme and sheet flags of the one main window.
#pragma once

#include "app/nav_item.h"
#include "design/theme.h"

#include <QList>
#include <QObject>

#include <array>
#include <optional>
#include <QString>

// One flag per sheet of the main window; the window presents a sheet while its flag is set.
enum class SheetFlag {
    settings,
    search,
    onboarding,
    newProject,
    newRoute,
    manageProjects,
    newGroup,
    manageEnvironments,
};

inline constexpr std::array<SheetFlag, 8> allSheetFlags = {
    SheetFlag::settings,   SheetFlag::search,         SheetFlag::onboarding, SheetFlag::newProject,
    SheetFlag::newRoute,   SheetFlag::manageProjects, SheetFlag::newGroup,   SheetFlag::manageEnvironments,
};

// Published members notify on every write, also when the value is unchanged; the stacks and
// the group targets are plain fields (every stack change also writes nav).
class AppState final : public QObject
{
    Q_OBJECT
public:
    explicit AppState(QObject *parent = nullptr);

    AppTheme theme() const { return m_theme; }
    void setTheme(AppTheme theme);

    NavItem nav() const { return m_nav; }
    // Direct write: changes the screen without touching the history stacks.
    void setNav(NavItem nav);

    const std::optional<QString> &selectedEndpointID() const { return m_selectedEndpointID; }
    void setSelectedEndpointID(std::optional<QString> id);

    bool sheetFlag(SheetFlag flag) const { return m_sheets[static_cast<int>(flag)]; }
    void setSheetFlag(SheetFlag flag, bool shown);

    bool showSettings() const { return sheetFlag(SheetFlag::settings); }
    bool showSearch() const { return sheetFlag(SheetFlag::search); }
    bool showOnboarding() const { return sheetFlag(SheetFlag::onboarding); }
    bool showNewProject() const { return sheetFlag(SheetFlag::newProject); }
    bool showNewRoute() const { return sheetFlag(SheetFlag::newRoute); }
    bool showManageProjects() const { return sheetFlag(SheetFlag::manageProjects); }
    bool showNewGroup() const { return sheetFlag(SheetFlag::newGroup); }
    bool showManageEnvironments() const { return sheetFlag(SheetFlag::manageEnvironments); }
    void setShowSettings(bool v) { setSheetFlag(SheetFlag::settings, v); }
    void setShowSearch(bool v) { setSheetFlag(SheetFlag::search, v); }
    void setShowOnboarding(bool v) { setSheetFlag(SheetFlag::onboarding, v); }
    void setShowNewProject(bool v) { setSheetFlag(SheetFlag::newProject, v); }
    void setShowNewRoute(bool v) { setSheetFlag(SheetFlag::newRoute, v); }
    void setShowManageProjects(bool v) { setSheetFlag(SheetFlag::manageProjects, v); }
    // Clearing it also clears both group targets, however the sheet was closed.
    void setShowNewGroup(bool v) { setSheetFlag(SheetFlag::newGroup, v); }
    void setShowManageEnvironments(bool v) { setSheetFlag(SheetFlag::manageEnvironments, v); }

    const std::optional<QString> &groupAssignTarget() const { return m_groupAssignTarget; }
    const std::optional<QString> &groupRenameFrom() const { return m_groupRenameFrom; }
    void setGroupAssignTarget(std::optional<QString> routeID) { m_groupAssignTarget = std::move(routeID); }
    void setGroupRenameFrom(std::optional<QString> group) { m_groupRenameFrom = std::move(group); }

    // Openers of the group sheet: each sets both targets, so a stale rename target can never
    // turn "New group…" into the rename of a whole group.
    void openNewGroup(const QString &routeID);
    void openRenameGroup(const QString &group);

    const QList<NavItem> &backStack() const { return m_backStack; }
    const QList<NavItem> &forwardStack() const { return m_forwardStack; }

    void select(NavItem item);
    void goBack();
    void goForward();
    // light -> system -> dark -> light
    void cycleTheme();

signals:
    void themeChanged();
    void navChanged();
    void selectedEndpointIDChanged();
    void sheetFlagChanged(SheetFlag flag, bool shown);
    void showSettingsChanged();
    void showSearchChanged();
    void showOnboardingChanged();
    void showNewProjectChanged();
    void showNewRouteChanged();
    void showManageProjectsChanged();
    void showNewGroupChanged();
    void showManageEnvironmentsChanged();

private:
    void clearSelectionUnlessEndpoints();

    AppTheme m_theme = AppTheme::light;
    NavItem m_nav = NavItem::dashboard;
    std::optional<QString> m_selectedEndpointID;
    std::array<bool, allSheetFlags.size()> m_sheets{};
    std::optional<QString> m_groupAssignTarget;
    std::optional<QString> m_groupRenameFrom;
    QList<NavItem> m_backStack;
    QList<NavItem> m_forwardStack;
};
