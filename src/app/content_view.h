// The main window content: sidebar, header and screen, inspector or info panel, sheets and import banner.
#pragma once

#include "app/app_context.h"
#include "app/app_state.h"
#include "app/nav_item.h"
#include "app/right_info_panel.h"
#include "engine/records/route_records.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <optional>

class AppSidebar;
class MainHeader;
class QHBoxLayout;
class QVBoxLayout;
class SheetPresenter;
class ShellRegistry;
class SnowToast;

// The page shown for a screen that has not been built yet: the screen's name as its title.
class PlaceholderScreen final : public QWidget
{
    Q_OBJECT
public:
    explicit PlaceholderScreen(NavItem item, QWidget *parent = nullptr);
    NavItem item() const { return m_item; }
    QString title() const;

private:
    NavItem m_item;
};

class ContentView final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int BannerWaitMs = 4000;

    ContentView(const AppContext &context, ShellRegistry &registry, QWidget *parent = nullptr);

    bool showInfo() const { return m_showInfo; }
    void setShowInfo(bool shown);

    // The route the inspector edits: only on the routes screen, only when the selection names a route.
    const Endpoint *inspectorEndpoint() const;

    // Window settings applied on every call; the first size is given once per process.
    void configure(QWidget *window);
    // The onboarding check of the first appearance.
    void checkOnboarding();

    AppSidebar *sidebar() const { return m_sidebar; }
    MainHeader *header() const { return m_header; }
    QWidget *screen() const { return m_screen; }
    RightInfoPanel *infoPanel() const { return m_infoPanel; }
    QWidget *inspector() const { return m_inspector; }
    SnowToast *banner() const { return m_banner; }
    QTimer *bannerTimer() { return &m_bannerTimer; }
    SheetPresenter *sheets() const { return m_sheets; }
    const AppContext &context() const { return m_context; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    // Screens and panels are built as they are needed, and Qt chains a new widget's focus after every
    // older one: Tab follows the regions as they are shown instead.
    bool focusNextPrevChild(bool next) override;

private:
    void showScreen();
    void updateTrailing();
    // Slides the trailing column in from, or out to, the trailing edge.
    void setTrailingShown(bool shown);
    void updateBanner();
    // A message of the engine link (a save the engine refused, an engine restarted), shown as a toast.
    void showNotice(const QString &message);
    void showBanner(const QString &text, bool success);
    void placeBanner();
    QWidget *buildSheet(SheetFlag flag, QWidget *parent);

    AppContext m_context;
    ShellRegistry &m_registry;
    bool m_showInfo = true;
    AppSidebar *m_sidebar;
    MainHeader *m_header;
    QVBoxLayout *m_screenHost;
    QPointer<QWidget> m_screen;
    std::optional<NavItem> m_screenItem;
    QHBoxLayout *m_trailingHost;
    QWidget *m_trailing;
    class QPropertyAnimation *m_trailingAnimation;
    bool m_trailingShown = false;
    QPointer<RightInfoPanel> m_infoPanel;
    QPointer<QWidget> m_inspector;
    QString m_inspectorID;
    SnowToast *m_banner;
    QTimer m_bannerTimer;
    SheetPresenter *m_sheets;
};
