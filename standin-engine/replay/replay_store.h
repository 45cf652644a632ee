// replay/: the exact requests behind history records, kept on disk, and sending them again.
// The exact requests behind history records (method, target, headers in order with repeats, body
// bytes), kept on disk under the data dir so that a replay sends what the client sent, or nothing.
#pragma once

#include "core/thread_batches.h"
#include "net/proxied_message.h"
#include "store/traffic_history.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace standin {

// A history record whose request the replay store keeps: the store takes it from the record as the
// history gathers it.
class ReplayableRecord : public KeptRecord {
public:
    using KeptRecord::KeptRecord;
    KeptRequest *keptRequest() const override { return &m_kept; }
    void fetchParts(int step) const override;

private:
    // Filled before the record is kept, then touched only by the store: by the keeping thread while it
    // is the thread's own, by the store's reader once gathered.
    mutable KeptRequest m_kept;
};

class ReplayStore final : private TrafficHistory::Follower {
public:
    // A request larger than this (its header and body) is not kept: its record can't be replayed.
    static constexpr std::size_t kMaxRequestBytes = 1024 * 1024;
    // What the kept requests take on disk in all; the oldest go first.
    static constexpr std::size_t kMaxStoredBytes = 64 * 1024 * 1024;
    // Kept requests are appended to files of about this size, the oldest file dropped as a whole.
    static constexpr std::size_t kSegmentBytes = 4 * 1024 * 1024;
    // More requests than the history holds records can't be replayed anyway.
    static constexpr std::size_t kMaxKept = 2 * TrafficHistory::kMaxRecords;
    // The requests ride with the records: a thread's records past as many are let go ungathered.
    static_assert(kMaxKept == TrafficHistory::kFreshPerThread);
    // Requests waiting for the writer; past this a burst's requests are not kept (nor replayable).
    static constexpr std::int64_t kMaxPendingBytes = 16 * 1024 * 1024;

    // Reads what an earlier run kept in `directory` (a cut-off tail is left out); takes the requests of
    // the records `history` keeps from now on.
    ReplayStore(std::filesystem::path directory, TrafficHistory &history);
    ~ReplayStore();
    ReplayStore(const ReplayStore &) = delete;
    ReplayStore &operator=(const ReplayStore &) = delete;

    // Keeps `record` in the history with its request, or with why the request can't be kept whole. The
    // request is held as it is handed over, taken from the record when the history gathers it and
    // framed for the disk then, so an answering thread only hands it on.
    std::shared_ptr<const KeptRecord> keep(std::shared_ptr<ReplayableRecord> record,
                                           std::shared_ptr<const ProxiedRequest> request);
    // Replaces what was kept for the record `id` made at `time` (a replay that had the whole body at hand).
    void keepAgain(const std::string &id, const std::string &time, const ProxiedRequest &request);

    // The request kept for the record, exactly as the client sent it; or why there is none.
    struct Found {
        std::optional<ProxiedRequest> request;
        std::string refusal;
    };
    // `time` is the record's own: a kept request of another record that had the same id (an earlier
    // run's, before its history was lost) is never taken for it.
    Found find(const std::string &id, const std::string &time);

    void clear();
    // Writes what waits for the writer now (at exit; the writer does it on its own otherwise).
    void flush();

    // Why the request can't be kept whole as the client sent it, if it can't.
    static std::optional<std::string> whyNotWhole(const ProxiedRequest &request);

private:
    struct Entry {
        std::string time;
        std::string refusal;          // not kept, and why
        std::uint64_t segment = 0;    // where it is on disk, once written
        std::uint64_t offset = 0;
        std::uint32_t size = 0;
        std::shared_ptr<const std::string> pending; // its bytes, until written
        std::uint64_t sequence = 0;                 // when it was kept, for the order below
    };
    struct Pending {
        std::string id;
        std::shared_ptr<const std::string> bytes;
    };

    // The times of the first and last requests read from a file, and whether it was damaged.
    struct SegmentRead {
        std::string first;
        std::string last;
        bool damaged = false;
    };
    // Records made between these times (an empty end: no bound) may have had their requests in a
    // damaged file, which a refused replay says.
    struct Damage {
        std::string from;
        std::string until;
    };

    void load();
    SegmentRead loadSegment(std::uint64_t number, bool last);
    bool inDamageLocked(const std::string &time) const;
    void writerLoop();
    // Frames the newest requests of a batch the history gathered (its records' ids are numbered in order).
    void gathered(const std::vector<TrafficHistory::Kept> &batch) override;
    // Frames `request` for the writer as the entry's pending bytes, or notes in it why the request
    // can't be kept whole; how many bytes it framed.
    std::int64_t frameLocked(const std::string &id, Entry &entry, const ProxiedRequest &request);
    void rememberLocked(const std::string &id, Entry entry);
    void evictSegmentsLocked();
    // Adds `bytes` (less than naught: takes) to what waits for the writer, by way of the calling thread's place.
    void countPending(std::int64_t bytes);
    std::filesystem::path segmentPath(std::uint64_t number) const;

    std::filesystem::path m_directory;
    // Gathered before m_mutex is taken: it calls gathered() under its own lock.
    TrafficHistory &m_history;
    mutable std::mutex m_mutex;
    std::unordered_map<std::string, Entry> m_entries;
    std::deque<std::pair<std::string, std::uint64_t>> m_order; // ids with their sequence, oldest first
    std::uint64_t m_sequence = 0; // the order entries were kept in, those read from disk first
    std::deque<Pending> m_pending;
    // Bytes not written yet, in records not gathered and in m_pending: counted when kept, so the bound holds
    // without the shared lock. A thread's place adds up what its threads keep and let go, and moves
    // it here once it passes kCountEvery either way, so the answering threads seldom touch this count;
    // it may fall below naught meanwhile, when the writer takes requests not moved here yet.
    std::atomic<std::int64_t> m_pendingBytes {0};
    struct alignas(64) PlaceBytes {
        std::atomic<std::int64_t> uncounted {0};
    };
    std::array<PlaceBytes, ThreadBatches<TrafficHistory::Kept>::kPlaces> m_placeBytes;
    std::map<std::uint64_t, std::uint64_t> m_segments; // number to bytes written, oldest first
    std::vector<Damage> m_damage;
    std::uint64_t m_current = 0;
    bool m_stopping = false;
    std::condition_variable m_wake;
    std::mutex m_writeMutex; // one writer of the files at a time
    std::thread m_writer;
};

} // namespace standin
