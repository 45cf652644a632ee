// Live traffic rows fed by the engine link's flushes, their fades, and the filter proxy.
#include "screens/traffic/live_traffic_model.h"

#include "engine/engine_client.h"
#include "screens/traffic/traffic_logic.h"

#include <QEasingCurve>

LiveTrafficModel::LiveTrafficModel(EngineClient *engine, QObject *parent)
    : QAbstractListModel(parent), m_engine(engine), m_rows(engine->traffic())
{
    m_clock.start();
    m_fadeTimer.setInterval(FadeTickMs);
    connect(&m_fadeTimer, &QTimer::timeout, this, &LiveTrafficModel::tickFades);
    connect(engine, &EngineClient::trafficFlushed, this, &LiveTrafficModel::onFlushed);
    connect(engine, &EngineClient::trafficEntriesChanged, this, &LiveTrafficModel::onEntriesChanged);
    connect(engine, &EngineClient::trafficReset, this, [this] {
        if (!m_frozen)
            resetToEngine();
    });
}

int LiveTrafficModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant LiveTrafficModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const TrafficEntry &row = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(row.host + row.path);
    case IdRole:
        return QString::fromStdString(row.id);
    case HighlightRole:
        return highlight(index.row());
    default:
        return {};
    }
}

qreal LiveTrafficModel::highlight(int row) const
{
    const TrafficEntry &entry = m_rows.at(row);
    if (entry.fresh)
        return 1.0;
    const auto fade = m_fadeStarts.find(entry.id);
    if (fade == m_fadeStarts.end())
        return 0.0;
    const qreal t = qBound<qreal>(0, qreal(m_clock.elapsed() - fade->second) / m_fadeMs, 1);
    return 1.0 - QEasingCurve(QEasingCurve::OutCubic).valueForProgress(t);
}

void LiveTrafficModel::onFlushed(int appended, int removedFromFront)
{
    if (m_frozen)
        return;
    const QList<TrafficEntry> &now = m_engine->traffic();
    // Anything but the expected shape (a missed signal) is repaired by a reset.
    if (removedFromFront > m_rows.size() || m_rows.size() - removedFromFront + appended != now.size()) {
        resetToEngine();
        return;
    }
    if (removedFromFront > 0) {
        beginRemoveRows({}, 0, removedFromFront - 1);
        for (int i = 0; i < removedFromFront; ++i)
            m_fadeStarts.erase(m_rows.at(i).id);
        m_rows.remove(0, removedFromFront);
        endRemoveRows();
    }
    if (appended > 0) {
        const int first = int(m_rows.size());
        beginInsertRows({}, first, first + appended - 1);
        m_rows = now;
        endInsertRows();
    } else {
        m_rows = now;
    }
}

void LiveTrafficModel::onEntriesChanged(int first, int last)
{
    if (m_frozen)
        return;
    const QList<TrafficEntry> &now = m_engine->traffic();
    if (now.size() != m_rows.size() || first < 0 || last >= now.size()) {
        resetToEngine();
        return;
    }
    const qint64 start = m_clock.elapsed();
    for (int i = first; i <= last; ++i)
        if (m_rows.at(i).fresh && !now.at(i).fresh)
            m_fadeStarts[now.at(i).id] = start;
    m_rows = now;
    if (!m_fadeStarts.empty() && !m_fadeTimer.isActive())
        m_fadeTimer.start();
    emit dataChanged(index(first), index(last), {HighlightRole});
}

void LiveTrafficModel::tickFades()
{
    const qint64 now = m_clock.elapsed();
    int runStart = -1;
    const auto flushRun = [this, &runStart](int end) {
        if (runStart >= 0)
            emit dataChanged(index(runStart), index(end), {HighlightRole});
        runStart = -1;
    };
    for (int i = 0; i < m_rows.size(); ++i) {
        const auto fade = m_fadeStarts.find(m_rows.at(i).id);
        if (fade == m_fadeStarts.end()) {
            flushRun(i - 1);
            continue;
        }
        if (runStart < 0)
            runStart = i;
        if (now - fade->second >= m_fadeMs)
            m_fadeStarts.erase(fade); // painted once more, at rest
    }
    flushRun(int(m_rows.size()) - 1);
    // Ids no longer in the list fade nowhere.
    if (m_fadeStarts.size() > std::size_t(m_rows.size()))
        m_fadeStarts.clear();
    if (m_fadeStarts.empty())
        m_fadeTimer.stop();
}

void LiveTrafficModel::resetToEngine()
{
    beginResetModel();
    m_rows = m_engine->traffic();
    m_fadeStarts.clear();
    m_fadeTimer.stop();
    endResetModel();
}

void LiveTrafficModel::freeze()
{
    if (m_frozen)
        return;
    beginResetModel();
    m_frozen = true;
    m_rows = m_engine->traffic();
    // A snapshot is not news: its rows never draw the fresh highlight.
    for (TrafficEntry &entry : m_rows)
        entry.fresh = false;
    m_fadeStarts.clear();
    m_fadeTimer.stop();
    endResetModel();
}

void LiveTrafficModel::thaw()
{
    if (!m_frozen)
        return;
    m_frozen = false;
    resetToEngine();
}

void LiveTrafficModel::clearFrozen()
{
    if (!m_frozen || m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

LiveTrafficFilter::LiveTrafficFilter(LiveTrafficModel *source, QObject *parent)
    : QSortFilterProxyModel(parent), m_source(source)
{
    setSourceModel(source);
    setDynamicSortFilter(true);
}

void LiveTrafficFilter::setFilterText(const QString &text)
{
    if (text == m_filter)
        return;
    m_filter = text;
    invalidateRowsFilter();
}

bool LiveTrafficFilter::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    return trafficlogic::liveEntryMatches(m_source->entry(sourceRow), m_filter);
}
