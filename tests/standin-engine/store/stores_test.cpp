// Project state and traffic history: their rules and their files, and the text routes are written as.
#include "store/route_text.h"
#include "store/state_store.h"
#include "store/traffic_history.h"

#include "standin-engine/temp_paths.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

using namespace standin;
using standintest::pathIn;

namespace {

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
    ASSERT_EQ(merged->routes->size(), 2u);
    EXPECT_EQ((*merged->routes)[0].id, "r-1");
    EXPECT_EQ((*merged->routes)[0].status, 404);
    EXPECT_EQ((*merged->routes)[1].id, "r-2");
    EXPECT_EQ(merged->imported, 2u);
    EXPECT_EQ(merged->leftOut, 0u);
}

TEST(StateStore, AnImportNamingOneRouteTwiceCountsItOnce)
{
    QTemporaryDir dir;
    StateStore store(pathIn(dir, "state.json"));
    store.setRoutes({route("r-1", "GET", "/a")});
    std::string error;
    // "/a" replaced twice, "/b" added and then replaced: the project gained one route and changed one.
    const auto merged = store.mergeRoutes({route("x", "GET", "/a"), route("y", "GET", "/b"), route("z", "get", "/a"),
                                           route("w", "GET", "/b")},
                                          error);
    ASSERT_TRUE(merged) << error;
    EXPECT_EQ(merged->routes->size(), 2u);
    EXPECT_EQ(merged->imported, 2u);
}

TEST(StateStore, ImportsTakeWhatFitsUnderTheRouteLimitAndCountTheRest)
{
    QTemporaryDir dir;
    StateStore store(pathIn(dir, "state.json"));
    std::vector<WireRoute> full;
    for (size_t i = 0; i < StateStore::kMaxRoutes - 1; ++i)
        full.push_back(route("r-" + std::to_string(i), "GET", "/n/" + std::to_string(i)));
    store.setRoutes(full);
    std::string error;
    // One new route fits; past it only replacements of existing routes come in, never a list the app
    // could not push back.
    const auto merged = store.mergeRoutes({route("y", "GET", "/new/1"), route("z", "GET", "/new/2"),
                                           route("x", "GET", "/n/0"), route("w", "GET", "/new/3")},
                                          error);
    ASSERT_TRUE(merged) << error;
    EXPECT_EQ(merged->imported, 2u);
    EXPECT_EQ(merged->leftOut, 2u);
    EXPECT_EQ(merged->routes->size(), StateStore::kMaxRoutes);
    EXPECT_EQ(merged->routes->back().path, "/new/1");
    EXPECT_EQ(merged->routes->front().id, "r-0");
    EXPECT_EQ(store.routes(), *merged->routes);
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

// Changes, switches and saves from several threads while requests read: each request sees one whole
// version of one project, and what is saved at the end reads back as the state in memory.
TEST(StateStore, RequestsSeeWholeVersionsWhileChangesAndSavesRun)
{
    QTemporaryDir dir;
    StateStore store(pathIn(dir, "state.json"));
    std::string error;
    const std::string first = store.activeProjectId();
    const std::string second = store.createProject("Second", error)->id;
    std::atomic<bool> writing {true};
    std::thread switcher([&] {
        for (int round = 0; round < 100; ++round) {
            const std::string &id = round % 2 ? second : first;
            store.activateProject(id);
            std::vector<WireRoute> routes;
            for (int i = 0; i < 5; ++i)
                routes.push_back(route(id + "-" + std::to_string(round), "GET", "/" + std::to_string(i)));
            store.setRoutes(routes);
            store.setActiveChaos(round % 3 ? "slow-network" : "");
        }
        writing = false;
    });
    std::thread saver([&] {
        while (writing)
            store.save();
    });
    std::string torn;
    while (writing && torn.empty()) {
        const ActiveProjectView view = store.activeView();
        for (const WireRoute &each : view.routes) {
            if (each.id.rfind(view.projectId + "-", 0) != 0 || each.id != view.routes[0].id)
                torn = each.id + " beside " + view.routes[0].id + " in " + view.projectId;
        }
    }
    switcher.join();
    saver.join();
    EXPECT_EQ(torn, "");
    ASSERT_FALSE(store.save());
    StateStore reopened(pathIn(dir, "state.json"));
    EXPECT_EQ(reopened.projectList(), store.projectList());
    EXPECT_EQ(reopened.routes(), store.routes());
    EXPECT_EQ(reopened.chaos(), store.chaos());
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

TEST(RouteText, IsTheRecordsOwnTextByteForByte)
{
    // Every ASCII byte, text beyond ASCII, and bytes that are not UTF-8 (written with U+FFFD).
    std::string everyAscii;
    for (int c = 0; c < 0x80; ++c)
        everyAscii.push_back(static_cast<char>(c));
    WireRoute plain = route("r-1", "GET", "/a");
    plain.body = everyAscii;
    WireRoute full = route("r-2", "POST", "/b/\xc3\xa9/\xe2\x82\xac");
    full.status = -1;
    full.latencyMs = 9007199254740993;
    full.active = false;
    full.body = "{\"k\":\"\xf0\x9f\x98\x80\"}";
    full.override = "timeout";
    full.passThrough = true;
    full.sequence = std::vector<WireStep> {{201, "one\n", 5, "error500", 3}, {202, "\xff\xfe two \xc3", {}, {}, {}}};
    full.seqMode = "cycle";
    full.group = "G \"1\"";
    WireRoute broken = route("r-\xed\xa0\x80", "DELETE", "/c");
    broken.body = "cut \xe2\x82";
    broken.sequence = std::vector<WireStep> {};
    const std::vector<std::vector<WireRoute>> lists = {{}, {plain}, {plain, full, broken}};
    for (const auto &routes : lists) {
        const std::string expected = encodeRecord(routes);
        EXPECT_EQ(routeListText(routes), expected);
        ByteCount count;
        writeRouteListText(count, routes);
        EXPECT_EQ(count.bytes, expected.size());
    }
}
