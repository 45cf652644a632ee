// Every exchange the proxy served, newest first, with paging and a text filter; saved under the data dir
// as one record per line, oldest first, new records appended.
#pragma once

#include "engine/records/traffic_records.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace standin {

class TrafficHistory final {
public:
    static constexpr size_t kMaxRecords = 1000;
    static constexpr size_t kMaxStoredBody = 16 * 1024;
    static constexpr int kDefaultLimit = 100;
    static constexpr int kMaxLimit = 1000;
    // The kept records' size as saved; the oldest go first when new ones pass it.
    static constexpr size_t kMaxStoredBytes = 8 * 1024 * 1024;

    explicit TrafficHistory(std::filesystem::path file);

    // A record as kept, and the JSON of its members "method" to "injected", which its line and its live
    // event share.
    struct Stored {
        TrafficRecord record;
        std::string summary;
    };
    // Gives the record its id ("t-" and a number that only grows) and keeps it. Readers see it as soon as
    // this returns; adding threads don't wait on one another.
    Stored store(TrafficRecord record);
    TrafficRecord add(TrafficRecord record) { return store(std::move(record)).record; }

    // Newest first; `before` is the id of the last record of the previous page. An unknown cursor
    // gives an empty page. `filter` matches, without letter case, the method, URL and status.
    std::vector<TrafficRecord> page(int limit, const std::string &before, const std::string &filter);
    std::optional<TrafficRecord> find(const std::string &id);
    void clear();

    // Called about once a second while requests come in, and once more at exit: appends what came
    // since the last call. Once the file holds twice what is kept, its newest part (the kept records) is
    // copied into a fresh file, so each record is written about twice in all; only after a clear or a
    // failed write is the file written anew from the records. False when the file could not be written
    // (the next call tries again).
    bool saveIfDirty();

    static bool matchesFilter(const TrafficRecord &record, const std::string &loweredFilter);
    static std::string clipBody(std::string body);
    // The record's line in the file, as encodeRecord gives it, written straight into the text.
    static std::string encodeLine(const TrafficRecord &record);
    // The members "method" to "injected" of that line, without braces.
    static std::string encodeSummary(const TrafficRecord &record);

private:
    // A line as encoded without its id (the first field), which goes in front when it is written.
    struct UnsavedLine {
        std::string id;
        std::string withoutId;
        size_t size() const;
        void appendTo(std::string &out) const;
    };
    // Records just added, gathered per adding thread and handed to the history in batches, so the
    // threads that answer requests share no lock. Every reader gathers them first.
    struct Fresh {
        std::uint64_t number;
        TrafficRecord record;
        UnsavedLine line;
    };
    struct alignas(64) Shard {
        std::mutex mutex;
        std::vector<Fresh> fresh;
    };
    static constexpr size_t kShards = 16;
    static constexpr size_t kBatch = 32;

    // Moves every shard's records into the history, in the order of their numbers.
    void gatherLocked();
    void load();
    void keepLocked(TrafficRecord record, size_t savedSize);
    // Puts one gathered record in its place among the newest (a batch may come after a later one).
    void insertLocked(Fresh fresh);
    void trimLocked();
    bool rewrite(std::vector<TrafficRecord> oldestFirst);
    // Keeps only the file's last `keptBytes` (the kept records, whole lines).
    bool compact(size_t keptBytes);

    std::filesystem::path m_file;
    std::mutex m_mutex;
    std::mutex m_saveMutex; // one writer of the file at a time
    std::array<Shard, kShards> m_shards;
    std::deque<TrafficRecord> m_records; // newest first
    std::deque<std::uint64_t> m_numbers; // the number of each record's id, same order
    std::deque<size_t> m_sizes;          // saved size of each record, same order
    size_t m_bytes = 0;                  // sum of m_sizes
    // Lines not yet appended, oldest first: always the newest of the kept records, so the file's end
    // holds the rest of them.
    std::deque<UnsavedLine> m_unsaved;
    size_t m_unsavedBytes = 0;
    size_t m_fileBytes = 0;              // what the file holds
    bool m_rewrite = false;              // the file must be written whole at the next save
    std::atomic<std::uint64_t> m_nextNumber {1};
    bool m_dirty = false;
};

} // namespace standin
