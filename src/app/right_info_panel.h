// The 280-point panel at the right of the main window with the tabs Info, Pins, Files and Links.
#pragma once

#include "app/app_context.h"
#include "design/activity_graph.h"
#include "design/indicators.h"
#include "design/shell_widgets.h"

#include <QPointer>
#include <QWidget>

class QScrollArea;
class QVBoxLayout;
class TabBar;

class RightInfoPanel final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int Width = 280;

    explicit RightInfoPanel(const AppContext &context, QWidget *parent = nullptr);

    // "Info", "Pins", "Files" or "Links"; any other value shows the Info tab.
    QString tab() const { return m_tab; }
    void setTab(const QString &tab);
    TabBar *tabBar() const { return m_tabBar; }

    // What the shown tab holds, for tests: every text drawn in it, in layout order.
    QStringList shownTexts() const;
    // The widget of the shown tab (its one column).
    QWidget *tabContent() const { return m_content; }
    ActivityGraph *activityGraph() const { return m_activity; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void rebuild();
    QWidget *section(const QString &title, int spacing, QVBoxLayout **body);
    QWidget *buildMainInfo();
    QWidget *buildActivity();
    QWidget *buildHosts();
    QWidget *buildPins();
    QWidget *buildFiles();
    QWidget *buildLinks();
    QWidget *emptyNote(const QString &title, const QString &message);
    QWidget *linkRow(const QString &label, const QString &value, int keptPrefix = 0);
    void refreshEngine();
    void refreshTraffic();
    void refreshChaos();
    void refreshCounts();

    AppContext m_context;
    QString m_tab = QStringLiteral("Info");
    TabBar *m_tabBar;
    QScrollArea *m_scroll;
    QPointer<QWidget> m_content;
    // Values of the Info tab updated in place.
    QPointer<StatusDot> m_engineDot;
    QPointer<ShellText> m_engineText;
    QPointer<ShellText> m_portText;
    QPointer<ShellText> m_routesText;
    QPointer<ShellText> m_trafficText;
    QPointer<ShellText> m_chaosText;
    QPointer<ActivityGraph> m_activity;
};
