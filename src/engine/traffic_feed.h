// TrafficFeed: the live traffic list, the buffer that feeds it in batches, the fresh marks and the session counts.
#pragma once

#include "engine/records/engine_records.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <deque>
#include <string>
#include <unordered_set>
#include <vector>

class TrafficFeed final : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxEntries = 300;
    static constexpr int FlushDelayMs = 100;
    static constexpr int FreshMs = 800;

    explicit TrafficFeed(QObject *parent = nullptr);

    // The newest entries, oldest first, at most MaxEntries.
    const QList<TrafficEntry> &traffic() const { return m_traffic; }
    // Entries waiting for the next flush.
    int pendingCount() const { return int(m_pending.size()); }
    // Request events since the list was last emptied, and how many of them a route answered. The list
    // keeps only the newest entries; these keep counting.
    qint64 sessionRequestCount() const { return m_sessionRequests; }
    qint64 sessionInjectedCount() const { return m_sessionInjected; }
    // Of the same requests: how many were answered with a status above 399, and the latencies of the
    // route-answered ones added up.
    qint64 sessionErrorCount() const { return m_sessionErrors; }
    qint64 sessionInjectedLatencyMs() const { return m_sessionInjectedLatencyMs; }

    // Replaces the list whole and drops the buffer; the session counts start again from the new list.
    void reset(const QList<TrafficEntry> &traffic = {});
    // Buffers one entry; the buffer is flushed flushDelayMs() after its first entry.
    void append(TrafficEntry entry);
    // Moves buffered entries into the list at once.
    void flush();
    // How long the buffer waits before a flush, and how long a flushed entry stays marked fresh
    // (FlushDelayMs and FreshMs unless changed; tests shorten them).
    int flushDelayMs() const { return m_flushDelayMs; }
    void setFlushDelayMs(int ms) { m_flushDelayMs = ms; }
    int freshMs() const { return m_freshMs; }
    void setFreshMs(int ms) { m_freshMs = ms; }

signals:
    void trafficChanged();
    // The entries [first, last] changed in place (only their `fresh` mark).
    void entriesChanged(int first, int last);
    // A flush appended `appended` entries after dropping `removedFromFront`; sent just before trafficChanged().
    void flushed(int appended, int removedFromFront);
    // The list was replaced whole; sent just before trafficChanged().
    void wasReset();
    void sessionCountsChanged();

private:
    void clearFreshMarks();
    // Adds one request to the session counts.
    void count(const TrafficEntry &entry);

    QList<TrafficEntry> m_traffic;
    std::vector<TrafficEntry> m_pending;
    QTimer m_flushTimer;
    struct FreshBatch
    {
        qint64 dueMs = 0;
        std::unordered_set<std::string> ids;
    };
    std::deque<FreshBatch> m_freshBatches;
    QTimer m_freshTimer;
    QElapsedTimer m_clock;
    int m_flushDelayMs = FlushDelayMs;
    int m_freshMs = FreshMs;
    qint64 m_sessionRequests = 0;
    qint64 m_sessionInjected = 0;
    qint64 m_sessionErrors = 0;
    qint64 m_sessionInjectedLatencyMs = 0;
};
