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

void TrafficHistory::keepLocked(TrafficRecord record, size_t savedSize)
{
    if (const auto number = numberOf(record.id))
        m_nextNumber = std::max(m_nextNumber, *number + 1);
    m_records.push_front(std::move(record));
    m_sizes.push_front(savedSize);
    m_bytes += savedSize;
}

void TrafficHistory::trimLocked()
{
    while (!m_records.empty() && (m_records.size() > kMaxRecords || m_bytes > kMaxStoredBytes)) {
        m_bytes -= m_sizes.back();
        m_records.pop_back();
        m_sizes.pop_back();
    }
}

void TrafficHistory::load()
{
    const auto text = readFileIfPresent(m_file);
    if (!text)
        return;
    m_fileBytes = text->size();
    const size_t first = text->find_first_not_of(" \t\r\n");
    if (first != std::string::npos && (*text)[first] == '[') {
        // The older form: one array, newest first.
        auto records = decodeRecord<std::vector<TrafficRecord>>(*text);
        if (!records) {
            const auto aside = keepAside(m_file);
            logError("history file " + m_file.string() + " could not be read; starting with an empty history"
                     + (aside ? " (kept as " + aside->string() + ")" : std::string()));
            m_fileBytes = 0;
            return;
        }
        for (auto it = records->rbegin(); it != records->rend(); ++it) {
            const size_t size = encodeRecord(*it).size() + 1;
            keepLocked(std::move(*it), size);
        }
        m_rewrite = true;
    } else {
        // A line cut short by a crash, or damaged, costs that one record only.
        size_t unreadable = 0;
        size_t begin = 0;
        while (begin < text->size()) {
            size_t end = text->find('\n', begin);
            const bool complete = end != std::string::npos;
            if (!complete)
                end = text->size();
            const std::string_view line(text->data() + begin, end - begin);
            if (line.find_first_not_of(" \t\r") != std::string_view::npos) {
                auto record = complete ? decodeRecord<TrafficRecord>(line) : std::nullopt;
                if (record)
                    keepLocked(std::move(*record), line.size() + 1);
                else
                    ++unreadable;
            }
            begin = end + 1;
        }
        if (unreadable) {
            logError("history file " + m_file.string() + ": " + std::to_string(unreadable)
                     + " unreadable record(s) left out");
            m_rewrite = true;
        }
    }
    const size_t before = m_records.size();
    trimLocked();
    if (m_records.size() != before)
        m_rewrite = true;
    m_dirty = m_rewrite;
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
    std::string line = encodeRecord(record);
    line.push_back('\n');
    keepLocked(record, line.size());
    trimLocked();
    if (m_unsaved.size() + line.size() > kMaxStoredBytes) {
        // More waits than is kept (a burst, or appends failing): the next save writes what is kept.
        m_unsaved.clear();
        m_rewrite = true;
    } else if (!m_rewrite) {
        m_unsaved += line;
    }
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
    m_sizes.clear();
    m_bytes = 0;
    m_unsaved.clear();
    m_rewrite = true;
    m_dirty = true;
}

bool TrafficHistory::rewrite(std::vector<TrafficRecord> oldestFirst)
{
    size_t written = 0;
    const auto renamed = saveFileStreaming(m_file, [&](FileSink &out) {
        for (const auto &record : oldestFirst) {
            out.write(encodeRecord(record));
            out.write("\n");
        }
        written = out.written();
    });
    oldestFirst = {};
    if (written > kMaxStoredBytes / 4)
        releaseFreedMemory();
    std::lock_guard lock(m_mutex);
    if (renamed) {
        logError("could not save " + m_file.string() + ": " + renamed.message());
        m_rewrite = true; // try again at the next save
        m_dirty = true;
        return false;
    }
    m_fileBytes = written;
    return true;
}

bool TrafficHistory::saveIfDirty()
{
    std::lock_guard saving(m_saveMutex);
    std::string lines;
    {
        std::unique_lock lock(m_mutex);
        if (!m_dirty)
            return true;
        m_dirty = false;
        // Records that fell out of the kept ones still sit in the file; once they are as many bytes
        // as the kept ones, the file is written afresh.
        if (m_rewrite || m_fileBytes + m_unsaved.size() > 2 * std::max(m_bytes, kMaxStoredBytes / 8)) {
            std::vector<TrafficRecord> oldestFirst(m_records.rbegin(), m_records.rend());
            m_unsaved.clear();
            m_rewrite = false;
            lock.unlock();
            return rewrite(std::move(oldestFirst));
        }
        lines.swap(m_unsaved);
    }
    const bool appended = appendToFile(m_file, lines);
    std::lock_guard lock(m_mutex);
    if (appended) {
        m_fileBytes += lines.size();
    } else {
        // The file may now end in part of a line: write it whole next time.
        m_rewrite = true;
        m_dirty = true;
    }
    return appended;
}

} // namespace standin
