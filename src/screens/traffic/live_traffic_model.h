// The live traffic rows: the engine link's list fed in flushes (one remove and one insert each),
// or a frozen copy while paused; the fresh highlight and its fade; the filter over them.
#pragma once

#include "engine/records/traffic_records.h"

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QList>
#include <QSortFilterProxyModel>
#include <QTimer>

#include <algorithm>
#include <string>
#include <unordered_map>

class EngineClient;

class LiveTrafficModel final : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role {
        IdRole = Qt::UserRole + 1,
        // 1 while the row is fresh, falling to 0 over the fade after it stops being fresh.
        HighlightRole,
    };
    static constexpr int FadeMs = 700;
    static constexpr int FadeTickMs = 16;

    explicit LiveTrafficModel(EngineClient *engine, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    const TrafficEntry &entry(int row) const { return m_rows.at(row); }
    qreal highlight(int row) const;

    // Paused: the rows become a copy of the engine's list as it is now, none highlighted, and
    // stop following the engine; thaw() shows the engine's current list again.
    void freeze();
    void thaw();
    bool frozen() const { return m_frozen; }
    // Empties the frozen copy (Clear while paused).
    void clearFrozen();

    // Rows whose highlight is fading out now.
    int fadingCount() const { return int(m_fadeStarts.size()); }
    // How long a highlight takes to fade out; FadeMs unless a test shortens it.
    int fadeDuration() const { return m_fadeMs; }
    void setFadeDuration(int ms) { m_fadeMs = std::max(1, ms); }

private:
    void onFlushed(int appended, int removedFromFront);
    void onEntriesChanged(int first, int last);
    void resetToEngine();
    void tickFades();

    EngineClient *m_engine;
    QList<TrafficEntry> m_rows;
    bool m_frozen = false;
    // Row ids whose highlight fades, with the moment the fade began.
    std::unordered_map<std::string, qint64> m_fadeStarts;
    int m_fadeMs = FadeMs;
    QTimer m_fadeTimer;
    QElapsedTimer m_clock;
};

// The rows that match the filter text, in the model's order.
class LiveTrafficFilter final : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    explicit LiveTrafficFilter(LiveTrafficModel *source, QObject *parent = nullptr);
    void setFilterText(const QString &text);
    QString filterText() const { return m_filter; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    LiveTrafficModel *m_source;
    QString m_filter;
};
