// The header bar above the current screen: arrows, breadcrumb, search, pickers, proxy chip and menus.
#pragma once

#include "app/app_context.h"
#include "design/snow_menu_item.h"

#include <QKeySequence>
#include <QWidget>

#include <optional>

class EnvironmentPicker;
class FilledBox;
class IconButton;
class PlainButton;
class ShellText;
class SnowDropdown;
class StatusDot;
class SymbolLabel;

class MainHeader final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int Height = 48;
    static constexpr int SearchWidth = 200;
    // Opens the command palette from anywhere in the window: Ctrl+K here.
    static QKeySequence searchShortcut() { return QKeySequence(Qt::CTRL | Qt::Key_K); }

    explicit MainHeader(const AppContext &context, QWidget *parent = nullptr);

    // The window's "show the info panel" flag, drawn as the toggle's tint.
    void setShowInfo(bool shown);
    bool showInfo() const { return m_showInfo; }

    // The menus as they would open now.
    QList<SnowMenuItem> statusItems() const;
    QList<SnowMenuItem> actionItems() const;
    // The crumbs, first to last, whole (projectCrumb() and pathCrumb() show them as the room allows).
    QStringList breadcrumb() const;
    // The crumb of the current screen is in the medium weight when it is the last one.
    bool screenCrumbIsCurrent() const;
    bool backEnabled() const;
    bool forwardEnabled() const;
    // True while the 200-point trigger fits; otherwise the magnifying glass shows.
    bool showsFullSearch() const;
    QString proxyChipText() const;
    QColor proxyDotColor() const;

    IconButton *backButton() const { return m_back; }
    IconButton *forwardButton() const { return m_forward; }
    PlainButton *searchTrigger() const { return m_search; }
    IconButton *compactSearch() const { return m_compactSearch; }
    IconButton *themeButton() const { return m_theme; }
    IconButton *infoToggle() const { return m_infoToggle; }
    SnowDropdown *proxyChip() const { return m_chip; }
    SnowDropdown *actionsMenu() const { return m_actions; }
    EnvironmentPicker *environmentPicker() const { return m_environments; }
    ShellText *projectCrumb() const { return m_project; }
    ShellText *pathCrumb() const { return m_path; }

signals:
    // The info panel toggle was clicked.
    void showInfoToggled();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    IconButton *navArrow(const QString &symbol, std::function<bool()> enabled, std::function<void()> action);
    QWidget *buildSearchTrigger();
    QWidget *buildProxyChip();
    QWidget *buildActionsMenu();
    void refreshNavigation();
    void refreshProxy();
    void refreshTheme();
    // Shares the bar's width out among the search, the environment picker and the crumbs.
    void fitBar();

    AppContext m_context;
    bool m_showInfo = true;
    QString m_projectName;
    // A route's path is a crumb (whether or not the bar has room to show all of it).
    std::optional<QString> m_pathText;
    IconButton *m_back = nullptr;
    IconButton *m_forward = nullptr;
    ShellText *m_project = nullptr;
    ShellText *m_projectSlash = nullptr;
    ShellText *m_screen = nullptr;
    ShellText *m_pathSlash = nullptr;
    ShellText *m_path = nullptr;
    QWidget *m_crumbs = nullptr;
    PlainButton *m_search = nullptr;
    IconButton *m_compactSearch = nullptr;
    EnvironmentPicker *m_environments = nullptr;
    IconButton *m_theme = nullptr;
    SnowDropdown *m_chip = nullptr;
    FilledBox *m_chipBox = nullptr;
    StatusDot *m_chipDot = nullptr;
    ShellText *m_chipText = nullptr;
    SymbolLabel *m_chipChevron = nullptr;
    SnowDropdown *m_actions = nullptr;
    IconButton *m_infoToggle = nullptr;
};
