// Every exchange the proxy served, newest first, with paging and a text filter; saved under the data dir
// as one record per line, oldest first, new records appended.
#pragma once

#include "core/thread_batches.h"
#include "engine/records/traffic_records.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace standin {

struct ProxiedRequest;

// What a record holds of its exchange's request for the history's follower (the replay store) until that
// frames it for the disk.
struct KeptRequest {
    std::shared_ptr<const ProxiedRequest> request; // none once framed, or when refused
    std::int64_t counted = 0;                      // what it counts against the bound on waiting bytes
    std::string refusal;                           // not kept when it came, and why
};

// A record as the history keeps it: the members every reader needs (its head) at once, the rest only
// when the record is read or saved. Most records of a busy history fall out unread, and making the
// request's fields and the bodies into members costs more than all else of keeping one.
class KeptRecord {
public:
    explicit KeptRecord(TrafficRecord &&head) : m_head(std::move(head)) {}
    explicit KeptRecord(const TrafficRecord &head) : m_head(head) {}
    virtual ~KeptRecord() = default;
    KeptRecord(const KeptRecord &) = delete;
    KeptRecord &operator=(const KeptRecord &) = delete;

    // Every member but those addRest adds.
    const TrafficRecord &head() const { return m_head; }
    // The record as the history shows and saves it.
    TrafficRecord whole() const;
    // About what addRest adds to the record's line, without reading its text.
    virtual size_t restRoughSize() const { return 0; }
    // Fetches what the record's members hold elsewhere (see fetchAhead), in steps an exchange apart:
    // step 0 what its own block points to, the block being in the cache; each step then goes one further.
    static constexpr int kFetchSteps = 3;
    virtual void fetchParts(int step) const;
    // What the record carries of its request for the follower, if it is an exchange's.
    virtual KeptRequest *keptRequest() const { return nullptr; }

protected:
    // Adds the members left out of the head, bodies already clipped (TrafficHistory::clipBody).
    virtual void addRest(TrafficRecord &) const {}
    // For the maker's own members, before the record is kept.
    TrafficRecord &headToFill() { return m_head; }

private:
    friend class TrafficHistory; // numbers it
    TrafficRecord m_head;
};

class TrafficHistory final {
public:
    static constexpr size_t kMaxRecords = 1000;
    // The most records one thread holds until they are gathered (at least kMaxRecords); as many as the
    // replay store keeps requests.
    static constexpr size_t kFreshPerThread = 2 * kMaxRecords;
    static constexpr size_t kMaxStoredBody = 16 * 1024;
    static constexpr int kDefaultLimit = 100;
    static constexpr int kMaxLimit = 1000;
    // The kept records' size as saved; the oldest go first when new ones pass it.
    static constexpr size_t kMaxStoredBytes = 8 * 1024 * 1024;
    // The most one thread holds until they are gathered, in bytes of their lines (a record holds its
    // request's body): no more than the history keeps, so a flood of large requests holds little. All
    // threads together hold no more than twice as much: a thread holds what the others leave of it, and
    // at least its share of it (as much again, in all), since a thread gone quiet keeps what it holds.
    static constexpr size_t kFreshBytesPerThread = kMaxStoredBytes;
    // The bound of the numbering, far past what any run reaches, so it never wraps: a record numbered
    // at it or past it (a damaged or hand-made file) is left out, and numbering goes on after the
    // highest below it. The replay store numbers its files below it too.
    static constexpr std::uint64_t kMaxNumber = std::numeric_limits<std::int64_t>::max();

    struct Kept {
        std::uint64_t number; // of the id, 0 for an id of another form
        // Of its line: counted roughly when the record is added (reading every text on the answering
        // thread costs more than the rest of keeping it), exactly once the line is written.
        size_t size;
        std::shared_ptr<const KeptRecord> record;
    };
    // Reads every record as the history gathers it from the adding threads: the replay store, which so
    // takes its requests from the records instead of a hand-off of its own.
    class Follower {
    public:
        // Under the history's lock, with every record added since the last batch, oldest first.
        virtual void gathered(const std::vector<Kept> &batch) = 0;

    protected:
        ~Follower() = default;
    };

    explicit TrafficHistory(std::filesystem::path file);

    // Shows the follower every batch from now on (none: no longer); it must not call the history.
    void follow(Follower *follower);
    // Gathers what the adding threads hold now, so the follower has every record added before.
    void gather();

    // Gives the record its id ("t-" and a number that only grows) and keeps it. Readers see it as soon as
    // this returns; adding threads don't wait on one another, and its line is only written if it is
    // still kept at the next save.
    TrafficRecord add(TrafficRecord record);
    // The same, handing back the kept record itself rather than a copy of it.
    std::shared_ptr<const KeptRecord> keep(std::shared_ptr<KeptRecord> record);
    // The same, handing over, in `fallen`, the calling thread's oldest records if they were let go unread
    // to make room (see kFreshPerThread and kFreshBytesPerThread).
    std::shared_ptr<const KeptRecord> keep(std::shared_ptr<KeptRecord> record,
                                           std::vector<std::shared_ptr<const KeptRecord>> &fallen);

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
    // The same line added to `out`, which the caller has made room in.
    static void appendLine(std::string &out, const TrafficRecord &record);
    // The members "method" to "injected" of that line, without braces.
    static std::string encodeSummary(const TrafficRecord &record);
    static void appendSummary(std::string &out, const TrafficRecord &record);
    // The size of encodeLine's text, counted without writing it.
    static size_t lineSize(const TrafficRecord &record);
    // About that size, without reading the text: exact for text that needs no escapes.
    static size_t roughLineSize(const TrafficRecord &record);

private:
    // Moves every thread's fresh records into the history, in the order of their numbers.
    void gatherLocked();
    void load();
    // False, keeping nothing, for a record numbered kMaxNumber or past it.
    bool keepLocked(TrafficRecord record, size_t savedSize);
    // Puts one gathered record in its place among the newest (a batch may come after a later one).
    void insertLocked(Kept fresh);
    void trimLocked();
    bool rewrite(std::vector<Kept> oldestFirst);
    // Takes the sizes of lines just written for the records still kept, then lets the oldest go if the
    // kept records now pass the bound: what the file's end holds is known to the byte again.
    void settleLocked(const std::vector<Kept> &written);
    // Keeps only the file's last `keptBytes` (the kept records, whole lines).
    bool compact(size_t keptBytes);

    std::filesystem::path m_file;
    std::mutex m_mutex;
    std::mutex m_saveMutex; // one writer of the file at a time
    // Records just added, gathered into the history by every reader and by the saver.
    ThreadBatches<Kept> m_fresh;
    // Their bytes, in all and by place, counted as they are added and let go and set back to nothing
    // when they are gathered: an add racing a gathering may be miscounted until the next gathering.
    std::atomic<std::int64_t> m_freshBytes {0};
    struct alignas(64) PlaceBytes {
        std::atomic<std::int64_t> bytes {0};
    };
    std::array<PlaceBytes, ThreadBatches<Kept>::kPlaces> m_placeBytes;
    Follower *m_follower = nullptr;
    std::deque<Kept> m_records; // newest first
    size_t m_bytes = 0;         // the size of their lines
    // The newest records, whose lines are not in the file yet: its end holds the rest of them.
    size_t m_unsaved = 0;
    size_t m_unsavedBytes = 0;
    size_t m_fileBytes = 0;              // what the file holds
    bool m_rewrite = false;              // the file must be written whole at the next save
    std::atomic<std::uint64_t> m_nextNumber {1};
    bool m_dirty = false;
    bool m_numberingSpent = false; // said once in the log
};

} // namespace standin
