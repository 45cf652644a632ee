// TrafficFeed: entries arrive one by one and reach the list in one batch per flush, so views insert rows once.
#include "engine/traffic_feed.h"

#include <algorithm>

TrafficFeed::TrafficFeed(QObject *parent)
    : QObject(parent)
{
    m_flushTimer.setSingleShot(true);
    connect(&m_flushTimer, &QTimer::timeout, this, &TrafficFeed::flush);
    m_freshTimer.setSingleShot(true);
    connect(&m_freshTimer, &QTimer::timeout, this, &TrafficFeed::clearFreshMarks);
    m_clock.start();
}

void TrafficFeed::reset(const QList<TrafficEntry> &traffic)
{
    m_traffic = traffic;
    // A flush already scheduled finds nothing left to move.
    m_pending.clear();
    m_sessionRequests = 0;
    m_sessionInjected = 0;
    m_sessionErrors = 0;
    m_sessionInjectedLatencyMs = 0;
    for (const TrafficEntry &entry : traffic)
        count(entry);
    emit sessionCountsChanged();
    emit wasReset();
    emit trafficChanged();
}

void TrafficFeed::count(const TrafficEntry &entry)
{
    ++m_sessionRequests;
    if (entry.injected) {
        ++m_sessionInjected;
        m_sessionInjectedLatencyMs += entry.latency;
    }
    if (entry.status > 399)
        ++m_sessionErrors;
}

void TrafficFeed::append(TrafficEntry entry)
{
    m_pending.push_back(std::move(entry));
    if (!m_flushTimer.isActive())
        m_flushTimer.start(m_flushDelayMs);
}

void TrafficFeed::flush()
{
    m_flushTimer.stop();
    if (m_pending.empty())
        return;

    FreshBatch batch;
    batch.dueMs = m_clock.elapsed() + m_freshMs;
    batch.ids.reserve(m_pending.size());
    for (const TrafficEntry &entry : m_pending) {
        batch.ids.insert(entry.id);
        count(entry);
    }

    const int appended = int(m_pending.size());
    const int overflow = int(m_traffic.size()) + appended - MaxEntries;
    const int removed = std::clamp(overflow, 0, int(m_traffic.size()));
    if (removed > 0)
        m_traffic.remove(0, removed);
    // A batch bigger than the whole list keeps only its newest entries.
    const int skip = std::max(0, appended - MaxEntries);
    for (auto it = m_pending.begin() + skip; it != m_pending.end(); ++it)
        m_traffic.append(std::move(*it));
    m_pending.clear();

    emit sessionCountsChanged();
    emit flushed(appended - skip, removed);
    emit trafficChanged();

    m_freshBatches.push_back(std::move(batch));
    if (!m_freshTimer.isActive())
        m_freshTimer.start(m_freshMs);
}

void TrafficFeed::clearFreshMarks()
{
    const qint64 now = m_clock.elapsed();
    while (!m_freshBatches.empty() && m_freshBatches.front().dueMs <= now) {
        const FreshBatch batch = std::move(m_freshBatches.front());
        m_freshBatches.pop_front();
        int first = -1;
        int last = -1;
        for (int i = 0; i < m_traffic.size(); ++i) {
            TrafficEntry &entry = m_traffic[i];
            if (entry.fresh && batch.ids.contains(entry.id)) {
                entry.fresh = false;
                if (first < 0)
                    first = i;
                last = i;
            }
        }
        if (first >= 0) {
            emit entriesChanged(first, last);
            emit trafficChanged();
        }
    }
    if (!m_freshBatches.empty())
        m_freshTimer.start(int(std::max<qint64>(0, m_freshBatches.front().dueMs - now)));
}
