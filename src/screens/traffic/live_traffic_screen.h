// The live traffic screen: filter, pause, clear, the live table and its replay menu.
#pragma once

#include "app/app_context.h"
#include "screens/traffic/traffic_screen_parts.h"

#include <QWidget>

class CountBadge;
class LiveTrafficFilter;
class LiveTrafficModel;
class SearchField;
class SecondaryButton;
class StatusDot;
class TrafficListView;
class TrafficTablePanel;
class QVariantAnimation;

class LiveTrafficScreen final : public QWidget
{
    Q_OBJECT
public:
    enum class Body { list, noMatch, waiting, stopped };

    explicit LiveTrafficScreen(const AppContext &context, QWidget *parent = nullptr);

    // The actions, as the controls call them.
    void setFilter(const QString &filter);
    void togglePause();
    void clear();

    QString filter() const { return m_filter; }
    bool paused() const { return m_paused; }
    Body body() const { return m_body; }
    int shownCount() const;
    // How many times new rows made the list follow the newest entry.
    int followCount() const { return m_followCount; }

    LiveTrafficModel *model() const { return m_model; }
    LiveTrafficFilter *filtered() const { return m_filtered; }
    TrafficListView *list() const { return m_list; }
    SearchField *searchField() const { return m_search; }
    SecondaryButton *pauseButton() const { return m_pauseButton; }
    StatusDot *statusDot() const { return m_dot; }
    CountBadge *countBadge() const { return m_count; }
    QWidget *emptyState() const { return m_empty.widget(); }

protected:
    bool event(QEvent *event) override;

private:
    void refresh();
    void followNewest();

    AppContext m_context;
    QString m_filter;
    bool m_paused = false;
    Body m_body = Body::list;
    int m_followCount = 0;

    LiveTrafficModel *m_model;
    LiveTrafficFilter *m_filtered;
    SearchField *m_search;
    StatusDot *m_dot;
    CountBadge *m_count;
    SecondaryButton *m_pauseButton;
    TrafficTablePanel *m_panel;
    TrafficListView *m_list;
    QWidget *m_emptyPage;
    KeyedContent m_empty;
    QVariantAnimation *m_follow;
};
