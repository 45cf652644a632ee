// Traffic history of the stand-in engine.
#include "store/traffic_history.h"

#include "core/bounded_input.h"
#include "core/data_file.h"
#include "core/engine_support.h"

#include <algorithm>
#include <charconv>
#include <utility>
#include <fcntl.h>
#include <unistd.h>

namespace standin {

namespace {

// A kept record's block: its head, and the few members its maker adds.
constexpr size_t kRecordBlockBytes = sizeof(KeptRecord) + 128;

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

// What loading the file left out, for its log line.
std::string leftOut(size_t unreadable, size_t unnumbered)
{
    std::string text = unreadable ? std::to_string(unreadable) + " unreadable record(s)" : std::string();
    if (unnumbered)
        text += (text.empty() ? "" : " and ") + std::to_string(unnumbered) + " record(s) numbered t-"
                + std::to_string(TrafficHistory::kMaxNumber) + " or past";
    return text + " left out";
}

} // namespace

TrafficHistory::TrafficHistory(std::filesystem::path file)
    : m_file(std::move(file))
{
    load();
}

bool TrafficHistory::keepLocked(TrafficRecord record, size_t savedSize)
{
    const std::uint64_t number = numberOf(record.id).value_or(0);
    // One at the bound can't be followed either: the next number would be one the next load leaves out.
    if (number >= kMaxNumber)
        return false;
    if (number >= m_nextNumber)
        m_nextNumber = number + 1;
    m_records.push_front({number, savedSize, std::make_shared<const KeptRecord>(std::move(record))});
    m_bytes += savedSize;
    return true;
}

void TrafficHistory::insertLocked(Kept fresh)
{
    // Batches come nearly in order: a record is seldom more than a few places from the front.
    size_t newer = 0;
    while (newer < m_records.size() && m_records[newer].number > fresh.number)
        ++newer;
    // One that comes after a later one was saved breaks the file's order: the file is written anew.
    if (newer > m_unsaved)
        m_rewrite = true;
    if (!m_rewrite) {
        ++m_unsaved;
        m_unsavedBytes += fresh.size;
    }
    m_bytes += fresh.size;
    m_records.insert(m_records.begin() + static_cast<std::ptrdiff_t>(newer), std::move(fresh));
    m_dirty = true;
}

void TrafficHistory::gatherLocked()
{
    std::vector<Kept> batch = m_fresh.takeAll();
    for (auto &place : m_placeBytes)
        place.bytes.store(0, std::memory_order_relaxed);
    m_freshBytes.store(0, std::memory_order_relaxed);
    if (batch.empty())
        return;
    std::sort(batch.begin(), batch.end(), [](const Kept &a, const Kept &b) { return a.number < b.number; });
    if (m_follower)
        m_follower->gathered(batch);
    // Numbered at the bound, after a top near it was followed: the next load would leave it out, so it
    // is not kept now either.
    const auto spent = std::partition_point(batch.begin(), batch.end(),
                                            [](const Kept &kept) { return kept.number < kMaxNumber; });
    if (spent != batch.end() && !std::exchange(m_numberingSpent, true))
        logError("history numbering reached t-" + std::to_string(kMaxNumber) + ": new exchanges are not kept");
    batch.erase(spent, batch.end());
    // Every record of a batch is newer than those kept: only its newest kMaxRecords can stay.
    const size_t first = batch.size() > kMaxRecords ? batch.size() - kMaxRecords : 0;
    for (size_t i = first; i < batch.size(); ++i)
        insertLocked(std::move(batch[i]));
    trimLocked();
}

void TrafficHistory::gather()
{
    std::lock_guard lock(m_mutex);
    gatherLocked();
}

void TrafficHistory::follow(Follower *follower)
{
    std::lock_guard lock(m_mutex);
    m_follower = follower;
}

void TrafficHistory::trimLocked()
{
    while (!m_records.empty() && (m_records.size() > kMaxRecords || m_bytes > kMaxStoredBytes)) {
        const size_t size = m_records.back().size;
        // Lines of records no longer kept (a burst between two saves) need never reach the file.
        if (m_records.size() <= m_unsaved) {
            --m_unsaved;
            m_unsavedBytes -= size;
        }
        m_bytes -= size;
        m_records.pop_back();
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
        size_t unnumbered = 0;
        for (auto it = records->rbegin(); it != records->rend(); ++it) {
            const size_t size = encodeRecord(*it).size() + 1;
            unnumbered += keepLocked(std::move(*it), size) ? 0 : 1;
        }
        if (unnumbered) {
            const auto aside = keepAside(m_file);
            logError("history file " + m_file.string() + ": " + leftOut(0, unnumbered)
                     + (aside ? " (kept as " + aside->string() + ")" : std::string()));
            if (aside)
                m_fileBytes = 0;
        }
        m_rewrite = true;
    } else {
        // A line cut short by a crash, or damaged, costs that one record only.
        size_t unreadable = 0;
        size_t unnumbered = 0;
        bool damaged = false; // more than a last line cut short: the file is kept aside before it is rewritten
        size_t begin = 0;
        while (begin < text->size()) {
            size_t end = text->find('\n', begin);
            const bool complete = end != std::string::npos;
            if (!complete)
                end = text->size();
            const std::string_view line(text->data() + begin, end - begin);
            if (line.find_first_not_of(" \t\r") != std::string_view::npos) {
                auto record = complete ? decodeRecord<TrafficRecord>(line) : std::nullopt;
                if (!record) {
                    ++unreadable;
                    damaged = damaged || complete;
                } else if (!keepLocked(std::move(*record), line.size() + 1)) {
                    ++unnumbered; // can't be followed: new records would be numbered below it
                }
            }
            begin = end + 1;
        }
        if (unreadable || unnumbered) {
            const auto aside = damaged || unnumbered || m_records.empty() ? keepAside(m_file) : std::nullopt;
            logError("history file " + m_file.string() + ": " + leftOut(unreadable, unnumbered)
                     + (aside ? " (kept as " + aside->string() + ")" : std::string()));
            if (aside)
                m_fileBytes = 0;
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

TrafficRecord KeptRecord::whole() const
{
    TrafficRecord record = m_head;
    addRest(record);
    return record;
}

TrafficRecord TrafficHistory::add(TrafficRecord record)
{
    if (record.reqBody)
        record.reqBody = clipBody(std::move(*record.reqBody));
    if (record.respBody)
        record.respBody = clipBody(std::move(*record.respBody));
    return keep(std::make_shared<KeptRecord>(std::move(record)))->whole();
}

void KeptRecord::fetchParts(int step) const
{
    if (step != 0)
        return;
    fetchAhead(m_head.time);
    fetchAhead(m_head.host);
    fetchAhead(m_head.path);
}

std::shared_ptr<const KeptRecord> TrafficHistory::keep(std::shared_ptr<KeptRecord> kept)
{
    std::vector<std::shared_ptr<const KeptRecord>> fallen;
    return keep(std::move(kept), fallen);
}

std::shared_ptr<const KeptRecord> TrafficHistory::keep(std::shared_ptr<KeptRecord> kept,
                                                       std::vector<std::shared_ptr<const KeptRecord>> &fallen)
{
    // Counted before the number is taken; the id adds its own length, as it needs no escapes.
    TrafficRecord &head = kept->m_head;
    head.id.clear();
    const size_t sizeWithoutId = roughLineSize(head) + kept->restRoughSize();
    // Gathered when the history is read or saved, and by its follower. A thread's records past its
    // newest kFreshPerThread would fall out once gathered (the replay store keeps no more requests), so
    // they are let go now, on the thread that made them; so are those past its part of the bytes.
    std::atomic<std::int64_t> &placeBytes = m_placeBytes[placeOfThisThread(ThreadBatches<Kept>::kPlaces)].bytes;
    const std::int64_t others = std::max<std::int64_t>(0, m_freshBytes.load(std::memory_order_relaxed)
                                                              - placeBytes.load(std::memory_order_relaxed));
    constexpr auto kAll = static_cast<std::int64_t>(kFreshBytesPerThread);
    const auto boundBytes = static_cast<size_t>(std::max(kAll / std::int64_t(ThreadBatches<Kept>::kPlaces),
                                                         kAll - std::min(others, kAll)));
    auto oldest = m_fresh.add(
        [&] {
            // Numbered under the lock, so a reader that gathered this thread's records has every record it numbered.
            const std::uint64_t number = m_nextNumber++;
            char digits[24] = {'t', '-'};
            head.id.assign(digits, std::to_chars(digits + 2, digits + sizeof digits, number).ptr);
            return Kept {number, sizeWithoutId + head.id.size(), kept};
        },
        sizeWithoutId, kFreshPerThread, boundBytes,
        [](const auto &items) {
            // A record's own block first, then step by step what its members point to.
            constexpr size_t kBlockAhead = KeptRecord::kFetchSteps + 1;
            if (items.size() > kBlockAhead)
                fetchAhead(items[kBlockAhead].record.get(), kRecordBlockBytes);
            for (int step = 0; step < KeptRecord::kFetchSteps; ++step) {
                const size_t ahead = kBlockAhead - 1 - static_cast<size_t>(step);
                if (items.size() > ahead)
                    items[ahead].record->fetchParts(step);
            }
        });
    auto change = static_cast<std::int64_t>(sizeWithoutId);
    for (Kept &item : oldest) {
        change -= static_cast<std::int64_t>(item.size - item.record->head().id.size());
        fallen.push_back(std::move(item.record));
    }
    placeBytes.fetch_add(change, std::memory_order_relaxed);
    m_freshBytes.fetch_add(change, std::memory_order_relaxed);
    return kept;
}

bool TrafficHistory::matchesFilter(const TrafficRecord &record, const std::string &loweredFilter)
{
    if (loweredFilter.empty())
        return true;
    const std::string haystack = lowerAscii(record.method + " " + record.url() + " " + std::to_string(record.status));
    return haystack.find(loweredFilter) != std::string::npos;
}

std::vector<TrafficRecord> TrafficHistory::page(int limit, const std::string &before, const std::string &filter)
{
    limit = std::clamp(limit, 1, kMaxLimit);
    const std::string lowered = lowerAscii(filter);
    std::lock_guard lock(m_mutex);
    gatherLocked();
    auto it = m_records.begin();
    if (!before.empty()) {
        it = std::find_if(m_records.begin(), m_records.end(), [&](const Kept &kept) { return kept.record->head().id == before; });
        if (it == m_records.end())
            return {};
        ++it;
    }
    std::vector<TrafficRecord> result;
    for (; it != m_records.end() && result.size() < static_cast<size_t>(limit); ++it) {
        if (matchesFilter(it->record->head(), lowered))
            result.push_back(it->record->whole());
    }
    return result;
}

std::optional<TrafficRecord> TrafficHistory::find(const std::string &id)
{
    std::lock_guard lock(m_mutex);
    gatherLocked();
    const auto it = std::find_if(m_records.begin(), m_records.end(), [&](const Kept &kept) { return kept.record->head().id == id; });
    if (it == m_records.end())
        return std::nullopt;
    return it->record->whole();
}

void TrafficHistory::clear()
{
    std::lock_guard lock(m_mutex);
    gatherLocked();
    m_records.clear();
    m_bytes = 0;
    m_unsaved = 0;
    m_unsavedBytes = 0;
    m_rewrite = true;
    m_dirty = true;
}

void TrafficHistory::settleLocked(const std::vector<Kept> &written)
{
    for (const Kept &line : written) {
        if (line.number == 0)
            continue; // loaded from an older file, counted by its line then
        // Newest first, so numbers fall along the records.
        const auto it = std::lower_bound(m_records.begin(), m_records.end(), line.number,
                                         [](const Kept &kept, std::uint64_t number) { return kept.number > number; });
        if (it == m_records.end() || it->number != line.number)
            continue; // fell out while its line was written
        m_bytes = m_bytes - it->size + line.size;
        it->size = line.size;
    }
    trimLocked();
}

bool TrafficHistory::rewrite(std::vector<Kept> oldestFirst)
{
    size_t written = 0;
    const auto renamed = saveFileStreaming(m_file, [&](FileSink &out) {
        for (Kept &kept : oldestFirst) {
            const std::string line = encodeLine(kept.record->whole());
            out.write(line);
            kept.size = line.size();
            kept.record.reset();
        }
        written = out.written();
    });
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
    settleLocked(oldestFirst);
    return true;
}

bool TrafficHistory::compact(size_t keptBytes)
{
    const int fd = ::open(m_file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::error_code failed;
    {
        FileReplacement replacement(m_file);
        std::string chunk(256 * 1024, '\0');
        off_t offset = static_cast<off_t>(m_fileBytes - keptBytes);
        size_t left = keptBytes;
        while (left > 0) {
            const ssize_t n = ::pread(fd, chunk.data(), std::min(left, chunk.size()), offset);
            if (n <= 0) {
                failed = std::make_error_code(std::errc::io_error);
                break;
            }
            replacement.sink().write(std::string_view(chunk.data(), static_cast<size_t>(n)));
            offset += n;
            left -= static_cast<size_t>(n);
        }
        if (!failed)
            failed = replacement.commit();
    }
    ::close(fd);
    if (failed)
        return false;
    m_fileBytes = keptBytes;
    return true;
}

bool TrafficHistory::saveIfDirty()
{
    std::lock_guard saving(m_saveMutex);
    std::string lines;
    std::vector<Kept> unsaved;
    size_t unsavedBytes = 0;
    bool replace = false;
    {
        std::unique_lock lock(m_mutex);
        gatherLocked();
        if (!m_dirty)
            return true;
        m_dirty = false;
        if (m_rewrite) {
            std::vector<Kept> oldestFirst(m_records.rbegin(), m_records.rend());
            m_unsaved = 0;
            m_unsavedBytes = 0;
            m_rewrite = false;
            lock.unlock();
            return rewrite(std::move(oldestFirst));
        }
        // The lines are written here, on the saving thread, and only for records still kept.
        unsaved.reserve(m_unsaved);
        for (size_t i = m_unsaved; i > 0; --i)
            unsaved.push_back(m_records[i - 1]);
        unsavedBytes = m_unsavedBytes;
        // After a burst every kept record is new: the file is replaced by them instead of growing.
        replace = m_unsavedBytes == m_bytes && m_fileBytes > 0;
        m_unsaved = 0;
        m_unsavedBytes = 0;
    }
    lines.reserve(unsavedBytes);
    for (Kept &kept : unsaved) {
        const size_t before = lines.size();
        appendLine(lines, kept.record->whole());
        kept.size = lines.size() - before;
        kept.record.reset();
    }
    if (replace) {
        const auto failed = saveFileReplacing(m_file, lines);
        std::lock_guard lock(m_mutex);
        if (failed) {
            logError("could not save " + m_file.string() + ": " + failed.message());
            m_rewrite = true;
            m_dirty = true;
            return false;
        }
        m_fileBytes = lines.size();
        settleLocked(unsaved);
        return true;
    }
    if (!appendToFile(m_file, lines)) {
        // The file may now end in part of a line: write it whole next time.
        std::lock_guard lock(m_mutex);
        m_rewrite = true;
        m_dirty = true;
        return false;
    }
    size_t keptInFile = 0;
    {
        std::lock_guard lock(m_mutex);
        m_fileBytes += lines.size();
        settleLocked(unsaved);
        // The kept records the file holds are its last bytes; the rest fell out of the history.
        keptInFile = m_bytes - m_unsavedBytes;
        if (keptInFile > m_fileBytes) {
            m_rewrite = true;
            m_dirty = true;
            return true;
        }
        if (m_fileBytes <= 2 * std::max(keptInFile, kMaxStoredBytes / 8))
            return true;
    }
    if (!compact(keptInFile)) {
        std::lock_guard lock(m_mutex);
        m_rewrite = true;
        m_dirty = true;
    }
    return true;
}

} // namespace standin
