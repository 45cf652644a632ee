// The routes screen: filter, count and "New route" above a table of the active project's routes.
#pragma once

#include "app/app_context.h"
#include "design/snow_menu_item.h"

#include <QWidget>

class CountBadge;
class QStackedWidget;
class RouteListModel;
class RouteTableView;
class SearchField;
class SnowEmptyState;

class EndpointsScreen final : public QWidget
{
    Q_OBJECT
public:
    // What the table panel shows.
    enum class PanelState { emptyProject, noMatch, flat, grouped };

    explicit EndpointsScreen(const AppContext &context, QWidget *parent = nullptr);

    QString filter() const;
    // As if typed into the filter field.
    void setFilter(const QString &filter);
    PanelState panelState() const;

    SearchField *filterField() const { return m_search; }
    CountBadge *countBadge() const { return m_count; }
    RouteListModel *model() const { return m_model; }
    RouteTableView *table() const { return m_table; }
    // The empty state on show, or null while rows are listed.
    SnowEmptyState *emptyState() const;

    // The right-click menu of a route row (the same as the sidebar's).
    QList<SnowMenuItem> moveItems(const QString &routeID) const;
    // "Load demo": only while the project still has no routes at the moment of the click.
    void loadDemo();

protected:
    bool event(QEvent *event) override;

private:
    QWidget *buildToolbar();
    QWidget *buildTablePanel();
    SnowEmptyState *buildEmptyProject();
    SnowEmptyState *buildNoMatch();
    void refresh();

    AppContext m_context;
    RouteListModel *m_model;
    SearchField *m_search = nullptr;
    CountBadge *m_count = nullptr;
    QStackedWidget *m_stack = nullptr;
    RouteTableView *m_table = nullptr;
    QWidget *m_emptyProjectPage = nullptr;
    QWidget *m_noMatchPage = nullptr;
    SnowEmptyState *m_emptyProject = nullptr;
    SnowEmptyState *m_noMatch = nullptr;
};
