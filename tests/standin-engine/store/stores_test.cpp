// Project state, traffic history, kept requests and the event hub: their rules and, for the first three, their files.
#include "control/event_hub.h"
#include "replay/replay_store.h"
#include "store/state_store.h"
#include "store/traffic_history.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <future>
#include <thread>

using namespace standin;

namespace {

std::filesystem::path pathIn(const QTemporaryDir &dir, const char *name)
{
    return std::filesystem::path(dir.path().toStdString()) / name;
}

WireRoute route(std::string id, std::string method, std::string path)
{
    WireRoute r;
    r.id = std::move(id);
    r.method = std::move(method);
    r.host = "api.test";
    r.path = std::move(path);
    return r;
}

TrafficRecord exchange(std::string method, std::string path, int status)
{
    TrafficRecord record;
    record.time = "2026-01-01T00:00:00.000Z";
    record.method = std::move(method);
    record.host = "api.test";
    record.path = std::move(path);
    record.status = status;
    return record;
}

} // namespace

TEST(StateStore, StartsWithOneProjectAndBuiltInChaosPresets)
{
    QTemporaryDir dir;
    StateStore store(pathIn(dir, "state.json"));
    const ProjectList list = store.projectList();
    ASSERT_EQ(list.projects.size(), 1u);
    EXPECT_EQ(list.activeId, list.projects[0].id);
    EXPECT_GE(store.chaos().presets.size(), 3u);
    EXPECT_EQ(store.chaos().activeId, "");
}

TEST(StateStore, EachProjectKeepsItsOwnRoutesEnvironmentsAndChaos)
{
    QTemporaryDir dir;
    StateStore store(pathIn(dir, "state.json"));
    const std::string first = store.activeProjectId();
    store.setRoutes({route("r-1", "GET", "/a")});
    store.setEnvironments({{{"env-1", "Dev", std::vector<WireVar> {{"k", "v"}}}}, "env-1"});
    ASSERT_TRUE(store.setActiveChaos("slow-network"));

    std::string error;
    const auto second = store.createProject("  Second  ", error);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->name, "Second");
    EXPECT_EQ(store.activeProjectId(), first); // creating doesn't switch
    ASSERT_TRUE(store.activateProject(second->id));
    EXPECT_TRUE(store.routes().empty());
    EXPECT_TRUE(store.environments().environments.empty());
    EXPECT_EQ(store.chaos().activeId, "");

    ASSERT_TRUE(store.activateProject(first));
    EXPECT_EQ(store.routes().size(), 1u);
    const ActiveProjectView view = store.activeView();
    ASSERT_EQ(view.variables.size(), 1u);
    ASSERT_TRUE(view.variables.find("k"));
    EXPECT_EQ(*view.variables.find("k"), "v");
    // Every request shares one snapshot of the variables until they change.
    EXPECT_EQ(store.activeView().variables.find("k"), view.variables.find("k"));
    store.setEnvironments({{{"env-1", "Dev", std::vector<WireVar> {{"k", "w"}, {"k", "later"}, {"", "x"}}}}, "env-1"});
    const ActiveProjectView changed = store.activeView();
    ASSERT_TRUE(changed.variables.find("k"));
    EXPECT_EQ(*changed.variables.find("k"), "w");
    EXPECT_EQ(changed.variables.size(), 1u);
    EXPECT_EQ(*view.variables.find("k"), "v"); // a request under way keeps what it started with
    ASSERT_TRUE(view.chaos);
    EXPECT_EQ(view.chaos->id, "slow-network");
    EXPECT_FALSE(store.setActiveChaos("no-such-preset"));
    EXPECT_FALSE(store.activateProject("no-such-project"));
}

TEST(StateStore, NamesAreCheckedAndTheLastProjectStays)
{
    QTemporaryDir dir;
    StateStore store(pathIn(dir, "state.json"));
    std::string error;
    EXPECT_FALSE(store.createProject("   ", error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(store.createProject(std::string(200, 'x'), error));
    EXPECT_EQ(store.deleteProject(store.activeProjectId()), StateStore::DeleteOutcome::LastProject);

    const auto other = store.createProject("Other", error);
    const std::string first = store.activeProjectId();
    EXPECT_EQ(store.deleteProject(first), StateStore::DeleteOutcome::Deleted);
    EXPECT_EQ(store.activeProjectId(), other->id); // another project takes over
    EXPECT_EQ(store.deleteProject("gone"), StateStore::DeleteOutcome::NotFound);

    const auto copy = store.duplicateProject(other->id);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->name, "Other copy");
    EXPECT_EQ(store.duplicateProject(other->id)->name, "Other copy 2");
}

TEST(StateStore, EverythingSurvivesARestart)
{
    QTemporaryDir dir;
    std::string projectId;
    {
        StateStore store(pathIn(dir, "state.json"));
        std::string error;
        projectId = store.createProject("Kept", error)->id;
        store.activateProject(projectId);
        store.setRoutes({route("r-1", "GET", "/a"), route("r-2", "POST", "/b")});
        store.setEnvironments({{{"env-1", "Dev", std::nullopt}}, "env-1"});
        store.setActiveChaos("flaky-backend");
    }
    StateStore reopened(pathIn(dir, "state.json"));
    EXPECT_EQ(reopened.activeProjectId(), projectId);
    EXPECT_EQ(reopened.routes().size(), 2u);
    EXPECT_EQ(reopened.environments().activeId, "env-1");
    EXPECT_EQ(reopened.chaos().activeId, "flaky-backend");
    EXPECT_EQ(reopened.projectList().projects.size(), 2u);
}

TEST(StateStore, AnUnreadableFileIsKeptAsideNotOverwritten)
{
    QTemporaryDir dir;
    {
        std::ofstream out(pathIn(dir, "state.json"));
        out << "{\"activeId\": 3";
    }
    StateStore store(pathIn(dir, "state.json"));
    EXPECT_EQ(store.projectList().projects.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(pathIn(dir, "state.json.unreadable")));
}

TEST(StateStore, MergedImportsReplaceTheSameMethodHostAndPath)
{
    QTemporaryDir dir;
    StateStore store(pathIn(dir, "state.json"));
    store.setRoutes({route("r-1", "GET", "/a")});
    WireRoute changed = route("r-new", "get", "/a");
    changed.status = 404;
    std::string error;
    const auto merged = store.mergeRoutes({changed, route("r-2", "GET", "/b")}, error);
    ASSERT_TRUE(merged) << error;
    ASSERT_EQ(merged->size(), 2u);
    EXPECT_EQ((*merged)[0].id, "r-1");
    EXPECT_EQ((*merged)[0].status, 404);
    EXPECT_EQ((*merged)[1].id, "r-2");
}

TEST(StateStore, ImportsThatWouldPassTheRouteLimitChangeNothing)
{
    QTemporaryDir dir;
    StateStore store(pathIn(dir, "state.json"));
    std::vector<WireRoute> full;
    for (size_t i = 0; i < StateStore::kMaxRoutes - 1; ++i)
        full.push_back(route("r-" + std::to_string(i), "GET", "/n/" + std::to_string(i)));
    store.setRoutes(full);
    std::string error;
    // Replacing an existing route and adding one more fits exactly.
    ASSERT_TRUE(store.mergeRoutes({route("x", "GET", "/n/0"), route("y", "GET", "/new/1")}, error)) << error;
    // One more would leave a list the app could never push back.
    EXPECT_FALSE(store.mergeRoutes({route("z", "GET", "/new/2")}, error));
    EXPECT_NE(error.find(std::to_string(StateStore::kMaxRoutes)), std::string::npos) << error;
    EXPECT_EQ(store.routes().size(), StateStore::kMaxRoutes);
}

TEST(StateStore, SequenceCountsStartOverWhenARouteChanges)
{
    QTemporaryDir dir;
    StateStore store(pathIn(dir, "state.json"));
    store.setRoutes({route("r-1", "GET", "/a"), route("r-2", "GET", "/b")});
    EXPECT_EQ(store.nextHit("r-1"), 0u);
    EXPECT_EQ(store.nextHit("r-1"), 1u);
    EXPECT_EQ(store.nextHit("r-2"), 0u);
    WireRoute edited = route("r-1", "GET", "/a");
    edited.body = "new";
    store.setRoutes({edited, route("r-2", "GET", "/b")});
    EXPECT_EQ(store.nextHit("r-1"), 0u);
    EXPECT_EQ(store.nextHit("r-2"), 1u); // unchanged route keeps counting
}

TEST(TrafficHistory, PagesNewestFirstWithCursorAndFilter)
{
    QTemporaryDir dir;
    TrafficHistory history(pathIn(dir, "history.json"));
    for (int i = 1; i <= 5; ++i)
        history.add(exchange("GET", "/item/" + std::to_string(i), i == 3 ? 404 : 200));
    const auto firstPage = history.page(2, "", "");
    ASSERT_EQ(firstPage.size(), 2u);
    EXPECT_EQ(firstPage[0].path, "/item/5");
    const auto next = history.page(2, firstPage[1].id, "");
    ASSERT_EQ(next.size(), 2u);
    EXPECT_EQ(next[0].path, "/item/3");
    EXPECT_EQ(history.page(100, "", "404").size(), 1u);
    EXPECT_EQ(history.page(100, "", "API.TEST/ITEM/1").size(), 1u);
    EXPECT_EQ(history.page(0, "", "").size(), 1u); // limits are clamped, not refused
}

TEST(TrafficHistory, KeepsTheNewestThousandClipsBodiesAndSurvivesRestart)
{
    QTemporaryDir dir;
    std::string lastId;
    {
        TrafficHistory history(pathIn(dir, "history.json"));
        for (size_t i = 0; i < TrafficHistory::kMaxRecords + 5; ++i) {
            TrafficRecord record = exchange("GET", "/n/" + std::to_string(i), 200);
            if (i == TrafficHistory::kMaxRecords + 4)
                record.respBody = std::string(TrafficHistory::kMaxStoredBody + 10, 'x');
            lastId = history.add(record).id;
        }
        EXPECT_EQ(history.page(TrafficHistory::kMaxLimit, "", "").size(), TrafficHistory::kMaxRecords);
        EXPECT_FALSE(history.find("t-1"));
        history.saveIfDirty();
    }
    TrafficHistory reopened(pathIn(dir, "history.json"));
    EXPECT_EQ(reopened.page(TrafficHistory::kMaxLimit, "", "").size(), TrafficHistory::kMaxRecords);
    const auto newest = reopened.page(1, "", "");
    ASSERT_EQ(newest.size(), 1u);
    EXPECT_EQ(newest[0].id, lastId);
    EXPECT_LT(newest[0].respBody->size(), TrafficHistory::kMaxStoredBody + 40);
    // Ids keep growing after a restart, so the app never sees one twice.
    EXPECT_NE(reopened.add(exchange("GET", "/again", 200)).id, lastId);
}

// Records added from many threads while pages are read: a page never shows a record and leaves out an
// older one, so "load more" from its last id can't skip one for good.
TEST(TrafficHistory, PagesReadWhileManyThreadsAddHaveNoGaps)
{
    QTemporaryDir dir;
    TrafficHistory history(pathIn(dir, "history.json"));
    constexpr int kThreads = 12;
    constexpr int kEach = 3000;
    std::atomic<int> adding {kThreads};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kEach; ++i)
                history.add(exchange("GET", "/load", 200));
            --adding;
        });
    }
    const auto number = [](const TrafficRecord &record) { return std::stoull(record.id.substr(2)); };
    int pages = 0;
    int gaps = 0;
    while (adding > 0) {
        const auto page = history.page(TrafficHistory::kMaxLimit, "", "");
        ++pages;
        for (size_t i = 1; i < page.size(); ++i) {
            if (number(page[i]) + 1 != number(page[i - 1])) {
                ++gaps;
                ADD_FAILURE() << "page " << pages << " shows " << page[i - 1].id << " then " << page[i].id;
                break;
            }
        }
        if (gaps > 3)
            break;
    }
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(gaps, 0) << "in " << pages << " pages";
    const auto last = history.page(TrafficHistory::kMaxLimit, "", "");
    ASSERT_EQ(last.size(), TrafficHistory::kMaxRecords);
    EXPECT_EQ(last.front().id, "t-" + std::to_string(kThreads * kEach));
}

// A damaged history file is kept aside before the next save writes the file anew, as the state and the
// schema files are; a last line cut short by a crash costs that record only.
TEST(TrafficHistory, ADamagedFileIsKeptAsideBeforeItIsWrittenAnew)
{
    QTemporaryDir dir;
    std::string good;
    {
        TrafficHistory history(pathIn(dir, "history.json"));
        history.add(exchange("GET", "/kept", 200));
        ASSERT_TRUE(history.saveIfDirty());
    }
    {
        std::ifstream in(pathIn(dir, "history.json"));
        std::getline(in, good);
    }
    const std::string damaged = good + "\n\x01garbled {\"method\":\n" + good + "\n";
    {
        std::ofstream out(pathIn(dir, "history.json"), std::ios::trunc);
        out << damaged;
    }
    {
        TrafficHistory history(pathIn(dir, "history.json"));
        EXPECT_EQ(history.page(10, "", "").size(), 2u);
        ASSERT_TRUE(history.saveIfDirty());
    }
    std::ifstream aside(pathIn(dir, "history.json.unreadable"));
    ASSERT_TRUE(aside);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(aside), {}), damaged);

    // A cut-off last line alone is no damage: nothing more is kept aside.
    {
        std::ofstream out(pathIn(dir, "history.json"), std::ios::trunc);
        out << good << "\n{\"id\":\"t-9\",\"meth";
    }
    TrafficHistory history(pathIn(dir, "history.json"));
    EXPECT_EQ(history.page(10, "", "").size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(pathIn(dir, "history.json.unreadable-2")));
}

TEST(StateStore, RequestsShareOneCopyOfTheRoutesUntilTheyChange)
{
    QTemporaryDir dir;
    StateStore store(pathIn(dir, "state.json"));
    store.setRoutes({route("r-1", "GET", "/a")});
    const ActiveProjectView first = store.activeView();
    const ActiveProjectView second = store.activeView();
    const std::vector<WireRoute> &firstRoutes = first.routes;
    const std::vector<WireRoute> &secondRoutes = second.routes;
    EXPECT_EQ(&firstRoutes, &secondRoutes);

    store.setRoutes({route("r-1", "GET", "/a"), route("r-2", "GET", "/b")});
    const ActiveProjectView changed = store.activeView();
    ASSERT_EQ(changed.routes.size(), 2u);
    EXPECT_EQ(changed.routes[1].id, "r-2");
    EXPECT_EQ(first.routes.size(), 1u); // a request under way keeps what it started with

    std::string error;
    const auto other = store.createProject("Other", error);
    ASSERT_TRUE(store.activateProject(other->id));
    EXPECT_TRUE(store.activeView().routes.empty());
}

TEST(EventHub, StalledReadersAreClosedAtTheirBoundAndEveryoneSharesOneCopy)
{
    EXPECT_EQ(EventHub::configuredQueueBytes(), EventHub::kMaxQueuedBytes); // without the test override
    EventHub hub;
    std::vector<std::shared_ptr<EventSubscription>> stalled;
    for (int i = 0; i < 20; ++i)
        stalled.push_back(hub.subscribe());
    const auto reader = hub.subscribe();
    const auto otherReader = hub.subscribe();

    const std::string big(50 * 1024, 'x');
    size_t delivered = 0;
    for (int i = 0; i < 200; ++i) {
        hub.publish(std::to_string(i) + big);
        for (const auto &subscription : stalled)
            ASSERT_LE(subscription->queuedBytes(), EventHub::kMaxQueuedBytes);
        const auto first = reader->take(std::chrono::milliseconds(0));
        const auto second = otherReader->take(std::chrono::milliseconds(0));
        ASSERT_EQ(first.size(), 1u);
        ASSERT_EQ(second.size(), 1u);
        EXPECT_EQ(first[0].get(), second[0].get()); // one copy, however many read it
        EXPECT_EQ(first[0]->substr(0, std::to_string(i).size()), std::to_string(i));
        ++delivered;
    }
    EXPECT_EQ(delivered, 200u);
    for (const auto &subscription : stalled) {
        EXPECT_TRUE(subscription->closed());
        EXPECT_TRUE(subscription->overflowed());
        EXPECT_EQ(subscription->queuedBytes(), 0u); // what it held is let go
    }
    EXPECT_FALSE(reader->closed());
    EXPECT_FALSE(reader->overflowed());

    // Past the cap a reader is refused; one leaving makes room again.
    std::vector<std::shared_ptr<EventSubscription>> more;
    while (auto subscription = hub.subscribe())
        more.push_back(subscription);
    EXPECT_EQ(hub.subscriberCount(), EventHub::kMaxSubscribers);
    hub.unsubscribe(stalled.front());
    EXPECT_NE(hub.subscribe(), nullptr);
    EXPECT_EQ(hub.subscribe(), nullptr);

    hub.closeAll();
    EXPECT_TRUE(reader->closed());
    EXPECT_FALSE(reader->overflowed());
}

TEST(EventHub, TheAppsStreamsHaveTheirOwnPlacesAndAThirdClosesTheOldest)
{
    EventHub hub;
    std::vector<std::shared_ptr<EventSubscription>> strangers;
    while (auto subscription = hub.subscribe())
        strangers.push_back(subscription);
    ASSERT_EQ(strangers.size(), EventHub::kMaxSubscribers);
    const auto first = hub.subscribe(EventHub::Reader::Owner);
    const auto second = hub.subscribe(EventHub::Reader::Owner);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(hub.subscribe(), nullptr); // the app's places are not the strangers'
    const auto third = hub.subscribe(EventHub::Reader::Owner);
    ASSERT_TRUE(third);
    EXPECT_TRUE(first->closed());
    EXPECT_FALSE(second->closed());
    hub.publish("x");
    EXPECT_EQ(third->take(std::chrono::milliseconds(0)).size(), 1u);
    EXPECT_EQ(hub.subscriberCount(), EventHub::kMaxSubscribers + 2);
}

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
