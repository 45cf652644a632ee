// The history rows: pages of recorded traffic loaded 100 at a time, newest reload winning, further
// pages fetched as the end of the list comes into view, and a last row that stands for "more".
#pragma once

#include "engine/records/traffic_records.h"

#include <QAbstractListModel>

#include <vector>

class EngineClient;

class HistoryModel final : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role { IdRole = Qt::UserRole + 1, MoreRowRole };

    explicit HistoryModel(EngineClient *engine, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

    // The text the next reload asks the engine for (the field's text, untrimmed).
    void setFilter(const QString &filter) { m_filter = filter; }
    QString filter() const { return m_filter; }

    // Asks for the first page; only the newest reload applies its answer.
    void reload();
    // Asks for the page before the last row, with the filter the list was loaded with.
    void loadMore();

    const std::vector<TrafficRecord> &records() const { return m_records; }
    const TrafficRecord *record(int row) const;
    bool loading() const { return m_loading; }
    bool hasMore() const { return m_hasMore; }
    bool loadFailed() const { return m_loadFailed; }
    // The last further page failed; the more row offers a retry instead of loading by itself.
    bool moreFailed() const { return m_moreFailed; }
    bool hasMoreRow() const { return m_hasMore && !m_records.empty(); }

signals:
    void stateChanged();

private:
    void setLoading(bool loading);

    EngineClient *m_engine;
    std::vector<TrafficRecord> m_records;
    QString m_filter;
    QString m_listFilter; // the filter of the first page shown
    int m_reloadSerial = 0;
    bool m_loading = false;
    bool m_moreInFlight = false;
    bool m_hasMore = true;
    bool m_loadFailed = false;
    bool m_moreFailed = false;
};
