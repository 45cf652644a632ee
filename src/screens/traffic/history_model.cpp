// History pages and the more row.
#include "screens/traffic/history_model.h"

#include "engine/engine_client.h"
#include "screens/traffic/traffic_logic.h"

#include <unordered_set>

HistoryModel::HistoryModel(EngineClient *engine, QObject *parent) : QAbstractListModel(parent), m_engine(engine) {}

int HistoryModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return int(m_records.size()) + (hasMoreRow() ? 1 : 0);
}

const TrafficRecord *HistoryModel::record(int row) const
{
    return row >= 0 && row < int(m_records.size()) ? &m_records[std::size_t(row)] : nullptr;
}

QVariant HistoryModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const TrafficRecord *rec = record(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return rec ? QString::fromStdString(rec->host + rec->path) : QString();
    case IdRole:
        return rec ? QString::fromStdString(rec->id) : QString();
    case MoreRowRole:
        return rec == nullptr;
    default:
        return {};
    }
}

bool HistoryModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && hasMoreRow() && !m_loading && !m_moreFailed;
}

void HistoryModel::fetchMore(const QModelIndex &parent)
{
    if (!parent.isValid())
        loadMore();
}

void HistoryModel::setLoading(bool loading)
{
    m_loading = loading;
    emit stateChanged();
}

void HistoryModel::reload()
{
    const int serial = ++m_reloadSerial;
    const QString filter = m_filter;
    m_loadFailed = false;
    setLoading(true);
    m_engine->fetchHistoryPage(
        {}, filter, trafficlogic::HistoryPageSize, this,
        [this, serial, filter](const std::vector<TrafficRecord> &page, bool failed) {
            if (serial != m_reloadSerial)
                return; // a newer reload owns the list
            beginResetModel();
            m_records = page;
            m_listFilter = filter;
            m_hasMore = int(page.size()) == trafficlogic::HistoryPageSize;
            m_loadFailed = failed;
            m_moreFailed = false;
            m_moreInFlight = false;
            endResetModel();
            // Not loading only once the rows are in, so nothing fetches more from the old list.
            setLoading(false);
        });
}

void HistoryModel::loadMore()
{
    if (!m_hasMore || m_loading || m_records.empty())
        return;
    const int serial = m_reloadSerial;
    const std::string cursor = m_records.back().id;
    m_moreFailed = false;
    m_moreInFlight = true;
    setLoading(true);
    m_engine->fetchHistoryPage(
        QString::fromStdString(cursor), m_listFilter, trafficlogic::HistoryPageSize, this,
        [this, serial, cursor](const std::vector<TrafficRecord> &page, bool failed) {
            // A reload since, or a list that no longer ends at the cursor: the page belongs to another list.
            if (serial != m_reloadSerial || !m_moreInFlight || m_records.empty() || m_records.back().id != cursor)
                return;
            m_moreInFlight = false;
            if (failed) {
                m_moreFailed = true;
                const QModelIndex more = index(int(m_records.size()));
                emit dataChanged(more, more);
                setLoading(false);
                return;
            }
            std::unordered_set<std::string> known;
            for (const TrafficRecord &rec : m_records)
                known.insert(rec.id);
            std::vector<TrafficRecord> fresh;
            for (const TrafficRecord &rec : page)
                if (known.insert(rec.id).second)
                    fresh.push_back(rec);
            const int first = int(m_records.size());
            if (!fresh.empty()) {
                beginInsertRows({}, first, first + int(fresh.size()) - 1);
                m_records.insert(m_records.end(), fresh.begin(), fresh.end());
                endInsertRows();
            }
            if (int(page.size()) != trafficlogic::HistoryPageSize) {
                const int moreRow = int(m_records.size());
                beginRemoveRows({}, moreRow, moreRow);
                m_hasMore = false;
                endRemoveRows();
            }
            setLoading(false);
        });
}
