// Traffic history of the stand-in engine.
#include "traffic_history.h"

#include "bounded_input.h"
#include "data_file.h"
#include "engine_support.h"

#include <algorithm>
#include <charconv>

namespace standin {

namespace {

std::optional<std::uint64_t> numberOf(const std::string &id)
{
    if (id.size() < 3 || id.compare(0, 2, "t-") != 0)
        return std::nullopt;
    std::uint64_t value = 0;
    const char *end = id.data() + id.size();
    const auto [ptr, ec] = std::from_chars(id.data() + 2, end, value);
    if (ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

} // namespace

TrafficHistory::TrafficHistory(std::filesystem::path file)
    : m_file(std::move(file))
{
    load();
}

void TrafficHistory::load()
{
    const auto text = readFileIfPresent(m_file);
    if (!text)
        return;
    // History is a convenience: an unreadable file starts an empty history rather than stopping the engine.
    auto records = decodeRecord<std::vector<TrafficRecord>>(*text);
    if (!records) {
        logError("history file " + m_file.string() + " could not be read; starting with an empty history");
        return;
    }
    for (auto &record : *records) {
        if (const auto number = numberOf(record.id))
            m_nextNumber = std::max(m_nextNumber, *number + 1);
        if (m_records.size() < kMaxRecords)
            m_records.push_back(std::move(record));
    }
}

std::string TrafficHistory::clipBody(std::string body)
{
    if (body.size() > kMaxStoredBody) {
        body.resize(kMaxStoredBody);
        body = sanitizeUtf8(body); // the cut may split a character
        body += "\n… (truncated)";
    }
    return body;
}

TrafficRecord TrafficHistory::add(TrafficRecord record)
{
    if (record.reqBody)
        record.reqBody = clipBody(std::move(*record.reqBody));
    if (record.respBody)
        record.respBody = clipBody(std::move(*record.respBody));
    std::lock_guard lock(m_mutex);
    record.id = "t-" + std::to_string(m_nextNumber++);
    m_records.push_front(record);
    while (m_records.size() > kMaxRecords)
        m_records.pop_back();
    m_dirty = true;
    return record;
}

bool TrafficHistory::matchesFilter(const TrafficRecord &record, const std::string &loweredFilter)
{
    if (loweredFilter.empty())
        return true;
    const std::string haystack = lowerAscii(record.method + " " + record.url() + " " + std::to_string(record.status));
    return haystack.find(loweredFilter) != std::string::npos;
}

std::vector<TrafficRecord> TrafficHistory::page(int limit, const std::string &before, const std::string &filter) const
{
    limit = std::clamp(limit, 1, kMaxLimit);
    const std::string lowered = lowerAscii(filter);
    std::lock_guard lock(m_mutex);
    auto it = m_records.begin();
    if (!before.empty()) {
        it = std::find_if(m_records.begin(), m_records.end(), [&](const auto &r) { return r.id == before; });
        if (it == m_records.end())
            return {};
        ++it;
    }
    std::vector<TrafficRecord> result;
    for (; it != m_records.end() && result.size() < static_cast<size_t>(limit); ++it) {
        if (matchesFilter(*it, lowered))
            result.push_back(*it);
    }
    return result;
}

std::optional<TrafficRecord> TrafficHistory::find(const std::string &id) const
{
    std::lock_guard lock(m_mutex);
    const auto it = std::find_if(m_records.begin(), m_records.end(), [&](const auto &r) { return r.id == id; });
    if (it == m_records.end())
        return std::nullopt;
    return *it;
}

void TrafficHistory::clear()
{
    std::lock_guard lock(m_mutex);
    m_records.clear();
    m_dirty = true;
}

void TrafficHistory::saveIfDirty()
{
    std::lock_guard saving(m_saveMutex);
    std::string text;
    {
        std::lock_guard lock(m_mutex);
        if (!m_dirty)
            return;
        m_dirty = false;
        text = encodeRecord(std::vector<TrafficRecord>(m_records.begin(), m_records.end()));
    }
    saveFileReplacing(m_file, text);
}

} // namespace standin
