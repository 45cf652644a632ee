// Requests kept behind history records: checked and framed by the writer, bounded, found whole from many
// threads and after a restart, and refused with the right reason when their file is damaged.
#include "replay/replay_store.h"

#include "store/traffic_history.h"

#include "standin-engine/temp_paths.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <thread>

using namespace standin;
using standintest::pathIn;

namespace {

// Keeps `request` with a history record made at `time`; the record's id.
std::string keepFor(ReplayStore &store, const std::string &time, ProxiedRequest request)
{
    TrafficRecord head;
    head.time = time;
    return store
        .keep(std::make_shared<ReplayableRecord>(std::move(head)), std::make_shared<const ProxiedRequest>(std::move(request)))
        ->head()
        .id;
}

} // namespace

// Requests are framed when the writer gathers them, not when kept: one whose body did not arrive whole
// is still refused with its reason, and a burst past what the store keeps leaves the newest ids.
TEST(ReplayStore, RequestsAreCheckedAndFramedWhenGatheredAndABurstKeepsTheNewest)
{
    QTemporaryDir dir;
    TrafficHistory history(pathIn(dir, "history.jsonl"));
    ReplayStore store(pathIn(dir, "replay"), history);
    ProxiedRequest cut;
    cut.method = "PUT";
    cut.target = "/cut";
    cut.headers = {{"Content-Length", "10"}};
    cut.body = "short";
    const int burst = 3 * static_cast<int>(ReplayStore::kMaxKept);
    std::vector<std::string> ids;
    for (int n = 0; n < burst; ++n) {
        ProxiedRequest r;
        r.method = "GET";
        r.target = "/items/" + std::to_string(n);
        r.headers = {{"Host", "example.test"}, {"Proxy-Authorization", "Basic c2VjcmV0"}};
        ids.push_back(keepFor(store, "time", std::move(r)));
    }
    // Kept again: the newest ids, not the newest requests, are what stays.
    ProxiedRequest again;
    again.method = "GET";
    again.target = "/items/" + std::to_string(burst - 1);
    again.headers = {{"Host", "example.test"}};
    store.keepAgain(ids[burst - 1], "time", again);
    const std::string cutId = keepFor(store, "time", cut);
    EXPECT_NE(store.find(cutId, "time").refusal.find("its body did not arrive whole"), std::string::npos);
    const int oldestKept = burst + 1 - static_cast<int>(ReplayStore::kMaxKept);
    EXPECT_FALSE(store.find(ids[oldestKept - 1], "time").request);
    for (const int n : {oldestKept, burst - 1}) {
        const auto found = store.find(ids[n], "time");
        ASSERT_TRUE(found.request) << n << ": " << found.refusal;
        EXPECT_EQ(found.request->target, "/items/" + std::to_string(n));
        // The proxy's own credentials are never kept.
        EXPECT_EQ(found.request->headers, (std::vector<std::pair<std::string, std::string>> {{"Host", "example.test"}}));
    }
    // A burst on another thread afterwards is newer, though that thread's own count starts afresh.
    std::string laterFirst;
    std::thread later([&] {
        for (int n = 0; n < static_cast<int>(ReplayStore::kMaxKept); ++n) {
            const auto id = keepFor(store, "time", ProxiedRequest {"GET", "/later/" + std::to_string(n), {}, {}, true});
            if (n == 0)
                laterFirst = id;
        }
    });
    later.join();
    EXPECT_NE(store.find(cutId, "time").refusal.find("older requests make room"), std::string::npos);
    EXPECT_FALSE(store.find(ids[burst - 1], "time").request);
    const auto first = store.find(laterFirst, "time");
    ASSERT_TRUE(first.request) << first.refusal;
    EXPECT_EQ(first.request->target, "/later/0");
    // Once framed, a request is held only as the store's bytes: not by its record, which the history
    // holds long after (a large upload's whole body would be held by every record).
    const auto held = std::make_shared<const ProxiedRequest>(ProxiedRequest {"GET", "/held", {}, {}, true});
    TrafficRecord heldHead;
    heldHead.time = "time";
    const auto heldRecord = store.keep(std::make_shared<ReplayableRecord>(std::move(heldHead)), held);
    EXPECT_TRUE(store.find(heldRecord->head().id, "time").request);
    EXPECT_EQ(held.use_count(), 1);

    // Two bursts gathered at once, the newer from the thread that took its place first: time, not the
    // places, says which stay. In one of two rounds the places may have wrapped around.
    for (int round = 0; round < 2; ++round) {
        const auto burstOn = [&](std::vector<std::string> &kept) {
            for (int n = 0; n < static_cast<int>(ReplayStore::kMaxKept); ++n)
                kept.push_back(keepFor(store, "time", ProxiedRequest {"GET", "/", {}, {}, true}));
        };
        std::vector<std::string> older;
        std::vector<std::string> newer;
        std::promise<void> placed;
        std::promise<void> olderKept;
        std::thread newerThread([&] {
            keepFor(store, "time", ProxiedRequest {"GET", "/", {}, {}, true});
            placed.set_value();
            olderKept.get_future().wait();
            burstOn(newer);
        });
        placed.get_future().wait();
        std::thread(burstOn, std::ref(older)).join();
        olderKept.set_value();
        newerThread.join();
        EXPECT_TRUE(store.find(newer.front(), "time").request) << round;
        EXPECT_TRUE(store.find(newer.back(), "time").request) << round;
        EXPECT_FALSE(store.find(older.back(), "time").request) << round;
    }
}

// The history keeps no record numbered at its bound, so nor does the store keep its request.
TEST(ReplayStore, AnExchangeNumberedAtTheHistorysBoundKeepsNoRequest)
{
    QTemporaryDir dir;
    TrafficRecord top;
    top.id = "t-" + std::to_string(TrafficHistory::kMaxNumber - 2);
    top.time = "time";
    std::ofstream(pathIn(dir, "history.jsonl")) << TrafficHistory::encodeLine(top) << "\n";
    TrafficHistory history(pathIn(dir, "history.jsonl"));
    ReplayStore store(pathIn(dir, "replay"), history);
    const std::string below = keepFor(store, "time", ProxiedRequest {"GET", "/below", {}, {}, true});
    const std::string at = keepFor(store, "time", ProxiedRequest {"GET", "/at", {}, {}, true});
    EXPECT_EQ(at, "t-" + std::to_string(TrafficHistory::kMaxNumber));
    EXPECT_TRUE(store.find(below, "time").request);
    EXPECT_FALSE(store.find(at, "time").request);
    EXPECT_FALSE(history.find(at));
}

// What waits for the writer is counted as requests are kept, let go unframed and written, each thread
// counting its own: bursts well past the bound, one after another on new threads, never leave their
// newest request refused.
TEST(ReplayStore, BurstsPastTheBoundOnWaitingBytesKeepTheirNewestRequests)
{
    QTemporaryDir dir;
    TrafficHistory history(pathIn(dir, "history.jsonl"));
    ReplayStore store(pathIn(dir, "replay"), history);
    // Small enough that what may wait at once (a thread's newest requests, the last ones framed) stays
    // far below the bound, and a burst's bodies alone pass it.
    const std::string body(512, 'b');
    const int each = static_cast<int>(5 * ReplayStore::kMaxPendingBytes / 4 / static_cast<std::int64_t>(body.size()));
    for (const std::string prefix : {"a-", "b-", "c-"}) {
        std::string last;
        std::thread([&] {
            for (int n = 0; n < each; ++n)
                last = keepFor(store, "time", ProxiedRequest {"PUT", "/b", {{"Content-Length", "512"}}, body, true});
        }).join();
        const auto newest = store.find(last, "time");
        ASSERT_TRUE(newest.request) << prefix << ": " << newest.refusal;
        EXPECT_EQ(newest.request->body, body);
    }
}

// Requests kept from many answering threads at once: each is found exactly as kept, at once and after
// a restart; a second keep of an id replaces the first.
TEST(ReplayStore, RequestsKeptFromManyThreadsAreFoundWholeAndSurviveARestart)
{
    QTemporaryDir dir;
    const auto folder = pathIn(dir, "replay");
    const auto request = [](int thread, int n) {
        ProxiedRequest r;
        r.method = "POST";
        r.target = "/items/" + std::to_string(n);
        r.headers = {{"X-Thread", std::to_string(thread)}, {"X-Twice", "a"}, {"X-Twice", "b"}};
        r.body = std::string(static_cast<size_t>(n % 7), '\0') + "body " + std::to_string(thread) + "/" + std::to_string(n);
        r.headers.emplace_back("Content-Length", std::to_string(r.body.size()));
        return r;
    };
    constexpr int kThreads = 8;
    constexpr int kEach = 100; // not a whole number of batches: some stay with their thread until read
    std::vector<std::vector<std::string>> ids(kThreads);
    const auto idOf = [&](int thread, int n) { return ids[static_cast<size_t>(thread)][static_cast<size_t>(n)]; };
    {
        TrafficHistory history(pathIn(dir, "history.jsonl"));
        ReplayStore store(folder, history);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int n = 0; n < kEach; ++n)
                    ids[static_cast<size_t>(t)].push_back(keepFor(store, "time", request(t, n)));
            });
        }
        for (auto &thread : threads)
            thread.join();
        ProxiedRequest again = request(0, 5);
        again.body = "second";
        again.headers.back().second = "6";
        store.keepAgain(idOf(0, 5), "time", again);

        for (int t = 0; t < kThreads; ++t) {
            for (int n = 0; n < kEach; ++n) {
                const auto found = store.find(idOf(t, n), "time");
                ASSERT_TRUE(found.request) << idOf(t, n) << ": " << found.refusal;
                const ProxiedRequest expected = t == 0 && n == 5 ? again : request(t, n);
                EXPECT_EQ(found.request->body, expected.body);
                EXPECT_EQ(found.request->headers, expected.headers);
            }
        }
        store.flush();
    }
    TrafficHistory history(pathIn(dir, "history.jsonl"));
    ReplayStore reopened(folder, history);
    for (int t = 0; t < kThreads; ++t) {
        const auto found = reopened.find(idOf(t, kEach - 1), "time");
        ASSERT_TRUE(found.request) << found.refusal;
        EXPECT_EQ(found.request->target, request(t, kEach - 1).target);
    }
    EXPECT_EQ(reopened.find(idOf(0, 5), "time").request->body, "second");
    EXPECT_FALSE(reopened.find(idOf(0, 5), "another time").request);
}

// A kept request file damaged on disk: what comes before the damage still replays, and a request lost
// in it is refused for that reason, not as one that made room for newer ones.
TEST(ReplayStore, RequestsLostInADamagedFileAreRefusedForThatReason)
{
    QTemporaryDir dir;
    const auto folder = pathIn(dir, "replay");
    const auto request = [](int n) {
        ProxiedRequest r;
        r.method = "GET";
        r.target = "/n/" + std::to_string(n);
        return r;
    };
    const auto timeOf = [](int n) { return "2026-01-01T00:00:0" + std::to_string(n) + ".000Z"; };
    TrafficHistory history(pathIn(dir, "history.jsonl"));
    std::vector<std::string> ids {""};
    {
        ReplayStore store(folder, history);
        for (int n = 1; n <= 3; ++n)
            ids.push_back(keepFor(store, timeOf(n), request(n)));
        store.flush();
    }
    std::filesystem::path segment;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        segment = entry.path();
    ASSERT_FALSE(segment.empty());
    std::string bytes;
    {
        std::ifstream in(segment, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    bytes.back() ^= 0x55; // inside the last entry
    {
        std::ofstream out(segment, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    {
        ReplayStore reopened(folder, history);
        ASSERT_TRUE(reopened.find(ids[1], timeOf(1)).request);
        const auto lost = reopened.find(ids[3], timeOf(3));
        EXPECT_FALSE(lost.request);
        EXPECT_NE(lost.refusal.find("damaged file"), std::string::npos) << lost.refusal;
        // A record this store never saw is still refused as one that made room.
        EXPECT_NE(reopened.find("t-99", "2025-01-01T00:00:00.000Z").refusal.find("older requests make room"),
                  std::string::npos);
    }
}
