// Kept requests for replay: appended to segment files by a writer thread, found again by record id.
#include "replay/replay_store.h"

#include "core/engine_support.h"
#include "replay/replay_frames.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace standin {

namespace {

using replay::decodeEntry;
using replay::encodeEntry;
using replay::framedSize;
using replay::kFrameBytes;
using replay::kLongestId;

using replay::payloadSize;
using replay::requestSize;

constexpr std::size_t digitsOf(std::uint64_t number)
{
    std::size_t digits = 1;
    for (; number >= 10; number /= 10)
        ++digits;
    return digits;
}
static_assert(kLongestId.size() == 2 + digitsOf(TrafficHistory::kMaxNumber - 1), "an id is \"t-\" and a kept number");

// The writer runs at least this often, and at once when this much waits. A request on disk is of use
// after a crash only with its history record, which is saved about once a second: writing more often
// would only frame more of a burst's requests, soon dropped.
constexpr std::chrono::milliseconds kWriteEvery {1000};
constexpr std::int64_t kWriteAtBytes = 8 * 1024 * 1024;
// How far a thread's place's count of pending bytes may stray before it is moved to the shared count.
constexpr std::int64_t kCountEvery = 64 * 1024;

std::string megabytes(std::size_t bytes)
{
    return std::to_string(bytes / (1024 * 1024)) + " MB";
}

const std::string kTooMuchWaiting = "it came while the engine had too many requests still to write to the disk";
const std::string kNotKept = "the engine keeps no copy of its request any more (older requests make room for "
                             "newer ones), so it can't be sent again exactly as the client sent it";

} // namespace

std::optional<std::string> ReplayStore::whyNotWhole(const ProxiedRequest &request)
{
    if (!request.bodyWhole)
        return std::string("its body went on to the host as it arrived and was not held whole");
    const std::string_view length = request.header("Content-Length");
    if (!length.empty()) {
        std::uint64_t value = 0;
        const auto [end, ec] = std::from_chars(length.data(), length.data() + length.size(), value);
        if (ec != std::errc() || end != length.data() + length.size() || value != request.body.size())
            return std::string("its body did not arrive whole");
    } else if (request.body.empty() && lowerAscii(request.header("Transfer-Encoding")).find("chunked") != std::string::npos) {
        return std::string("its body was not read whole");
    }
    const std::size_t size = requestSize(request);
    if (size > kMaxRequestBytes)
        return "its request of " + std::to_string(size) + " bytes is more than the " + megabytes(kMaxRequestBytes)
               + " kept for a replay";
    return std::nullopt;
}

// In steps an exchange apart (see KeptRecord::fetchParts): the request's block, then its headers and
// texts, then its headers' texts.
void ReplayableRecord::fetchParts(int step) const
{
    KeptRecord::fetchParts(step);
    const ProxiedRequest *request = m_kept.request.get();
    if (!request)
        return;
    if (step == 0) {
        fetchAhead(request, sizeof(ProxiedRequest));
    } else if (step == 1) {
        fetchAhead(request->headers.data(), request->headers.size() * sizeof(request->headers.front()));
        fetchAhead(request->target);
        fetchAhead(request->body);
    } else if (step == 2) {
        // As many as the step before fetched.
        const std::size_t fetched = std::min(request->headers.size(), kMaxFetchAhead / sizeof(request->headers.front()));
        for (std::size_t i = 0; i < fetched; ++i) {
            fetchAhead(request->headers[i].first);
            fetchAhead(request->headers[i].second);
        }
    }
}

ReplayStore::ReplayStore(std::filesystem::path directory, TrafficHistory &history)
    : m_directory(std::move(directory))
    , m_history(history)
{
    load();
    m_history.follow(this);
    m_writer = std::thread([this] { writerLoop(); });
}

ReplayStore::~ReplayStore()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_writer.joinable())
        m_writer.join();
    m_history.follow(nullptr);
}

std::filesystem::path ReplayStore::segmentPath(std::uint64_t number) const
{
    return m_directory / ("requests-" + std::to_string(number) + ".bin");
}

void ReplayStore::load()
{
    std::error_code ec;
    std::filesystem::create_directories(m_directory, ec);
    // The requests hold credentials in clear, like the history.
    ::chmod(m_directory.c_str(), 0700);
    std::vector<std::uint64_t> numbers;
    for (auto it = std::filesystem::directory_iterator(m_directory, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        constexpr std::string_view kPrefix = "requests-";
        constexpr std::string_view kSuffix = ".bin";
        if (name.size() <= kPrefix.size() + kSuffix.size() || name.rfind(kPrefix, 0) != 0
            || name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
            continue;
        std::uint64_t number = 0;
        const char *first = name.data() + kPrefix.size();
        const char *last = name.data() + name.size() - kSuffix.size();
        const auto [end, error] = std::from_chars(first, last, number);
        // A file numbered at the bound or past it (none of ours) is left alone: the next would be past it.
        if (error == std::errc() && end == last && number < TrafficHistory::kMaxNumber)
            numbers.push_back(number);
    }
    std::sort(numbers.begin(), numbers.end());
    std::lock_guard lock(m_mutex);
    for (const std::uint64_t number : numbers) {
        const SegmentRead read = loadSegment(number, number == numbers.back());
        if (!read.first.empty() && !m_damage.empty() && m_damage.back().until.empty())
            m_damage.back().until = read.first;
        if (read.damaged)
            m_damage.push_back(Damage {read.last, {}});
    }
    if (!m_damage.empty() && m_damage.back().until.empty())
        m_damage.back().until = nowIso(); // what this run keeps is not in those files
    // This run appends to a file of its own: the last one may end in a cut-off entry.
    m_current = numbers.empty() ? 1 : numbers.back() + 1;
    evictSegmentsLocked();
}

ReplayStore::SegmentRead ReplayStore::loadSegment(std::uint64_t number, bool last)
{
    SegmentRead read;
    const int fd = ::open(segmentPath(number).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return read;
    struct stat info {};
    std::string bytes;
    // No file this store writes comes near the whole bound; a larger one is none of ours to read.
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<std::size_t>(info.st_size) <= kMaxStoredBytes) {
        bytes.resize(static_cast<std::size_t>(info.st_size));
        const ssize_t n = ::pread(fd, bytes.data(), bytes.size(), 0);
        bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    ::close(fd);
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const std::string_view rest = std::string_view(bytes).substr(offset);
        const auto size = payloadSize(rest);
        // Only the last file may end in an entry cut short (by a kill); anything else is damage.
        const bool cutShort = size && rest.size() < kFrameBytes + *size;
        const auto decoded = size && !cutShort ? decodeEntry(rest.substr(0, kFrameBytes + *size)) : std::nullopt;
        if (!decoded) {
            read.damaged = !(cutShort && last);
            if (read.damaged)
                logError("replay file " + segmentPath(number).string() + " is damaged at byte " + std::to_string(offset)
                         + "; the requests kept after it can't be replayed");
            break;
        }
        if (read.first.empty())
            read.first = decoded->time;
        read.last = decoded->time;
        Entry entry;
        entry.time = decoded->time;
        entry.segment = number;
        entry.offset = offset;
        entry.size = static_cast<std::uint32_t>(kFrameBytes + *size);
        rememberLocked(decoded->id, std::move(entry));
        offset += kFrameBytes + *size;
    }
    m_segments[number] = bytes.size();
    return read;
}

bool ReplayStore::inDamageLocked(const std::string &time) const
{
    return std::any_of(m_damage.begin(), m_damage.end(), [&](const Damage &damage) {
        return time >= damage.from && (damage.until.empty() || time <= damage.until);
    });
}

void ReplayStore::gathered(const std::vector<TrafficHistory::Kept> &batch)
{
    // None for a record that is not an exchange's, or was kept before this store followed the history.
    const auto requestOf = [](const TrafficHistory::Kept &kept) -> KeptRequest * {
        KeptRequest *request = kept.record->keptRequest();
        return request && (request->request || !request->refusal.empty()) ? request : nullptr;
    };
    // Records numbered at the history's bound are not kept by it: their requests go unframed too.
    const auto keptByHistory = [](const TrafficHistory::Kept &kept) {
        return kept.number < TrafficHistory::kMaxNumber;
    };
    std::lock_guard lock(m_mutex);
    // Only the newest kMaxKept (each a record of its own) stay once remembered: older ones go unframed.
    std::size_t toKeep = kMaxKept;
    std::size_t first = batch.size();
    for (; first > 0 && toKeep > 0; --first) {
        if (requestOf(batch[first - 1]) && keptByHistory(batch[first - 1]))
            --toKeep;
    }
    for (std::size_t i = 0; i < batch.size(); ++i) {
        KeptRequest *kept = requestOf(batch[i]);
        if (!kept)
            continue;
        const std::shared_ptr<const ProxiedRequest> request = std::move(kept->request);
        if (i < first || !keptByHistory(batch[i])) {
            m_pendingBytes -= kept->counted;
            continue;
        }
        const TrafficRecord &head = batch[i].record->head();
        Entry entry;
        entry.time = head.time;
        entry.refusal = std::move(kept->refusal);
        if (request)
            m_pendingBytes += frameLocked(head.id, entry, *request) - kept->counted;
        rememberLocked(head.id, std::move(entry));
    }
}

std::int64_t ReplayStore::frameLocked(const std::string &id, Entry &entry, const ProxiedRequest &request)
{
    if (auto why = whyNotWhole(request)) {
        entry.refusal = std::move(*why);
        return 0;
    }
    auto bytes = std::make_shared<const std::string>(encodeEntry(id, entry.time, request));
    entry.pending = bytes;
    m_pending.push_back(Pending {id, bytes});
    return static_cast<std::int64_t>(bytes->size());
}

void ReplayStore::rememberLocked(const std::string &id, Entry entry)
{
    // Every keep is remembered under the lock in the order it came: a later keep of an id replaces it.
    entry.sequence = ++m_sequence;
    const auto known = m_entries.find(id);
    m_order.emplace_back(id, entry.sequence);
    if (known != m_entries.end())
        known->second = std::move(entry);
    else
        m_entries.emplace(id, std::move(entry));
    while (m_entries.size() > kMaxKept && !m_order.empty()) {
        const auto [oldest, sequence] = m_order.front();
        m_order.pop_front();
        const auto it = m_entries.find(oldest);
        if (it != m_entries.end() && it->second.sequence == sequence)
            m_entries.erase(it);
    }
    // An id kept again leaves its first place in the order behind; drop such places now and then.
    if (m_order.size() > 2 * kMaxKept) {
        std::erase_if(m_order, [this](const auto &place) {
            const auto it = m_entries.find(place.first);
            return it == m_entries.end() || it->second.sequence != place.second;
        });
    }
}

void ReplayStore::evictSegmentsLocked()
{
    std::size_t total = 0;
    for (const auto &[number, bytes] : m_segments)
        total += bytes;
    while (total > kMaxStoredBytes && m_segments.size() > 1) {
        const auto [oldest, bytes] = *m_segments.begin();
        m_segments.erase(m_segments.begin());
        total -= bytes;
        std::error_code ec;
        std::filesystem::remove(segmentPath(oldest), ec);
        std::erase_if(m_entries, [oldest](const auto &item) {
            return !item.second.pending && item.second.refusal.empty() && item.second.segment == oldest;
        });
    }
}

void ReplayStore::keepAgain(const std::string &id, const std::string &time, const ProxiedRequest &request)
{
    m_history.gather(); // the first keep of the id, so that this one comes after it
    std::lock_guard lock(m_mutex);
    Entry entry;
    entry.time = time;
    if (m_pendingBytes + static_cast<std::int64_t>(framedSize(id, time, request)) > kMaxPendingBytes)
        entry.refusal = whyNotWhole(request).value_or(kTooMuchWaiting);
    else
        m_pendingBytes += frameLocked(id, entry, request);
    rememberLocked(id, std::move(entry));
}

std::shared_ptr<const KeptRecord> ReplayStore::keep(std::shared_ptr<ReplayableRecord> record,
                                                     std::shared_ptr<const ProxiedRequest> request)
{
    KeptRequest &kept = *record->keptRequest();
    // Its id is not numbered yet: counted at the longest an id can be.
    const auto size = static_cast<std::int64_t>(framedSize(kLongestId, record->head().time, *request));
    if (m_pendingBytes.load(std::memory_order_relaxed) + size > kMaxPendingBytes) {
        kept.refusal = whyNotWhole(*request).value_or(kTooMuchWaiting);
    } else {
        kept.request = std::move(request);
        kept.counted = size;
    }
    const std::int64_t counted = kept.counted;
    std::vector<std::shared_ptr<const KeptRecord>> fallen;
    auto result = m_history.keep(std::move(record), fallen);
    std::int64_t released = 0;
    for (const auto &gone : fallen) {
        if (const KeptRequest *request = gone->keptRequest())
            released += request->counted;
    }
    countPending(counted - released);
    return result;
}

void ReplayStore::countPending(std::int64_t bytes)
{
    auto &uncounted = m_placeBytes[placeOfThisThread(m_placeBytes.size())].uncounted;
    const std::int64_t held = uncounted.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    if (held < kCountEvery && held > -kCountEvery)
        return;
    const std::int64_t moved = uncounted.exchange(0, std::memory_order_relaxed);
    const std::int64_t before = m_pendingBytes.fetch_add(moved);
    // Only the count that crosses the mark wakes the writer; its own pace covers a wake it misses
    // while it is between waits.
    if (before < kWriteAtBytes && before + moved >= kWriteAtBytes)
        m_wake.notify_one();
}

ReplayStore::Found ReplayStore::find(const std::string &id, const std::string &time)
{
    Found found;
    std::shared_ptr<const std::string> bytes;
    std::uint64_t segment = 0;
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
    m_history.gather();
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_entries.find(id);
        if (it == m_entries.end() || it->second.time != time) {
            found.refusal = inDamageLocked(time) ? "its kept copy was in a damaged file (see the engine's log), so "
                                                   "it can't be sent again exactly as the client sent it"
                                                 : kNotKept;
            return found;
        }
        if (!it->second.refusal.empty()) {
            found.refusal = it->second.refusal + ", so it can't be sent again exactly as the client sent it";
            return found;
        }
        bytes = it->second.pending;
        segment = it->second.segment;
        offset = it->second.offset;
        size = it->second.size;
    }
    std::string read;
    if (!bytes) {
        // Read outside the lock; a file dropped meanwhile reads as nothing.
        const int fd = ::open(segmentPath(segment).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            read.resize(size);
            const ssize_t n = ::pread(fd, read.data(), size, static_cast<off_t>(offset));
            read.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
            ::close(fd);
        }
    }
    const auto decoded = decodeEntry(bytes ? std::string_view(*bytes) : std::string_view(read));
    if (!decoded || decoded->id != id || decoded->time != time) {
        found.refusal = bytes || !read.empty() ? "its kept copy could not be read back whole" : kNotKept;
        return found;
    }
    found.request = decoded->request;
    return found;
}

void ReplayStore::clear()
{
    std::lock_guard writing(m_writeMutex);
    m_history.gather();
    std::lock_guard lock(m_mutex);
    for (const auto &item : m_pending)
        m_pendingBytes -= static_cast<std::int64_t>(item.bytes->size());
    for (const auto &[number, bytes] : m_segments) {
        std::error_code ec;
        std::filesystem::remove(segmentPath(number), ec);
    }
    m_segments.clear();
    m_entries.clear();
    m_damage.clear();
    m_order.clear();
    m_pending.clear();
    ++m_current;
}

void ReplayStore::flush()
{
    std::lock_guard writing(m_writeMutex);
    std::deque<Pending> batch;
    std::uint64_t segment = 0;
    std::uint64_t base = 0;
    m_history.gather();
    {
        std::lock_guard lock(m_mutex);
        batch.swap(m_pending);
        segment = m_current;
        base = m_segments.count(segment) ? m_segments[segment] : 0;
    }
    if (batch.empty())
        return;
    std::string bytes;
    for (const auto &item : batch)
        bytes += *item.bytes;
    m_pendingBytes -= static_cast<std::int64_t>(bytes.size());

    bool written = false;
    int reason = 0;
    constexpr int kAppend = O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(segmentPath(segment).c_str(), kAppend, 0600);
    if (fd < 0 && errno == ENOENT) { // the folder was removed under the running engine
        std::error_code ec;
        std::filesystem::create_directories(m_directory, ec);
        ::chmod(m_directory.c_str(), 0700);
        fd = ::open(segmentPath(segment).c_str(), kAppend, 0600);
    }
    if (fd >= 0) {
        std::string_view rest = bytes;
        while (!rest.empty()) {
            const ssize_t n = ::write(fd, rest.data(), rest.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                reason = n == 0 ? ENOSPC : errno;
                break;
            }
            rest.remove_prefix(static_cast<std::size_t>(n));
        }
        written = rest.empty();
        // A partly written batch would leave a torn entry for the next one to follow: cut it off.
        if (!written && ::ftruncate(fd, static_cast<off_t>(base)) != 0)
            base = std::numeric_limits<std::uint64_t>::max();
        ::close(fd);
    } else {
        reason = errno;
    }

    std::lock_guard lock(m_mutex);
    std::uint64_t offset = base;
    for (const auto &item : batch) {
        const auto it = m_entries.find(item.id);
        const bool current = it != m_entries.end() && it->second.pending == item.bytes;
        if (current && written) {
            it->second.segment = segment;
            it->second.offset = offset;
            it->second.size = static_cast<std::uint32_t>(item.bytes->size());
            it->second.pending.reset();
        } else if (current) {
            it->second.refusal = std::string("it could not be written to the disk (") + std::strerror(reason) + ")";
            it->second.pending.reset();
        }
        offset += item.bytes->size();
    }
    if (written) {
        m_segments[segment] = base + bytes.size();
    } else if (base == std::numeric_limits<std::uint64_t>::max()) {
        ++m_current; // the file could not be cut back: the next batch goes to a fresh one
    }
    if (m_segments.count(m_current) && m_segments[m_current] >= kSegmentBytes)
        ++m_current;
    evictSegmentsLocked();
}

void ReplayStore::writerLoop()
{
    for (;;) {
        bool stopping = false;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, kWriteEvery, [this] {
                return m_stopping || m_pendingBytes >= kWriteAtBytes;
            });
            stopping = m_stopping;
        }
        flush();
        if (stopping)
            return;
    }
}

} // namespace standin
