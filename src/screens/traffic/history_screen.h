// The history screen: recorded traffic paged from the engine, filtered by the engine, with a
// detail panel for one record and replay.
#pragma once

#include "app/app_context.h"
#include "engine/records/traffic_records.h"
#include "screens/traffic/traffic_screen_parts.h"

#include <QWidget>

#include <optional>

class CountBadge;
class HistoryDetailPanel;
class HistoryModel;
class QTimer;
class QVariantAnimation;
class SearchField;
class TrafficListView;
class TrafficTablePanel;

class HistoryScreen final : public QWidget
{
    Q_OBJECT
public:
    enum class Body { error, list, loading, empty };

    explicit HistoryScreen(const AppContext &context, QWidget *parent = nullptr);

    // The actions, as the controls call them.
    void setFilter(const QString &filter); // as typed: reloads after the debounce
    // The debounce; FilterDebounceMs unless a test shortens it.
    int filterDebounce() const;
    void setFilterDebounce(int ms);
    void reload();
    void select(const QString &id);
    void close();
    void clear();

    QString filter() const { return m_filter; }
    Body body() const { return m_body; }
    std::optional<QString> selectedID() const { return m_selectedID; }
    const std::optional<TrafficRecord> &detail() const { return m_detail; }
    bool loadingDetail() const { return m_loadingDetail; }

    HistoryModel *model() const { return m_model; }
    TrafficListView *list() const { return m_list; }
    HistoryDetailPanel *detailPanel() const { return m_panel; }
    CountBadge *countBadge() const { return m_count; }
    SearchField *searchField() const { return m_search; }
    TrafficToolbar *toolbar() const { return m_toolbar; }
    QWidget *emptyState() const { return m_empty.widget(); }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void refresh();
    void showDetail();
    // The record's panel: its full width, or less in a narrow window so the path in the rows stays legible.
    int detailWidth() const;

    AppContext m_context;
    QString m_filter;
    std::optional<QString> m_selectedID;
    std::optional<TrafficRecord> m_detail;
    bool m_loadingDetail = false;
    Body m_body = Body::loading;

    HistoryModel *m_model;
    QTimer *m_debounce;
    QTimer *m_spinner;
    SearchField *m_search;
    TrafficToolbar *m_toolbar = nullptr;
    CountBadge *m_count;
    TrafficTablePanel *m_table;
    TrafficListView *m_list;
    QWidget *m_emptyPage;
    KeyedContent m_empty;
    HistoryDetailPanel *m_panel;
    QVariantAnimation *m_slide;
    bool m_panelOpen = false;
};
