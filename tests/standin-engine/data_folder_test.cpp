// The engine's data folder as a real process sees it: one engine per folder, large state kept across
// restarts, private modes, a whole state file after a kill in the middle of writes, and no write
// acknowledged that did not reach the disk.
#include "core/engine_options.h"
#include "standin-engine/engine_process.h"
#include "standin-engine/test_upstream.h"
#include "store/state_store.h"

#include "support/test_support.h"

#include "engine/records/engine_records.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <thread>

using standintest::EngineProcess;

namespace {

std::string routeList(int count, size_t bodyBytes, const std::string &tag = "r")
{
    std::vector<WireRoute> routes;
    for (int i = 0; i < count; ++i) {
        WireRoute route;
        route.id = tag + "-" + std::to_string(i);
        route.method = "GET";
        route.host = "api.test";
        route.path = "/" + tag + "/" + std::to_string(i);
        route.status = 200;
        route.active = true;
        route.body = std::string(bodyBytes, 'b');
        routes.push_back(route);
    }
    return encodeRecord(routes);
}

mode_t modeOf(const std::filesystem::path &path)
{
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 0777;
}

std::filesystem::path folderOf(const QTemporaryDir &dir)
{
    return std::filesystem::path(dir.path().toStdString()) / "data";
}

} // namespace

TEST(DataFolder, ASecondEngineOnTheFolderExitsWithAReasonAndTheFirstKeepsWorking)
{
    QTemporaryDir dir;
    const QString data = QString::fromStdString(folderOf(dir).string());
    EngineProcess first(data);
    ASSERT_TRUE(first.start());
    ASSERT_EQ(first.client()->Post("/routes", routeList(1, 10, "one"), "application/json")->status, 200);

    EngineProcess second(data);
    second.setEnvironment(standin::kTestLockGraceVariable, "100");
    EXPECT_FALSE(second.start(10000)); // no control-port line: it never serves
    ASSERT_TRUE(second.waitForExit(5000));
    EXPECT_NE(second.exitCode(), 0);
    const QByteArray reason = second.output();
    EXPECT_TRUE(reason.contains("in use by another engine")) << reason.toStdString();
    EXPECT_TRUE(reason.contains("pid " + QByteArray::number(first.process().processId()))) << reason.toStdString();

    // The first engine's saves go on and are what the next engine reads.
    ASSERT_EQ(first.client()->Post("/routes", routeList(2, 10, "two"), "application/json")->status, 200);
    first.closeStdin();
    ASSERT_TRUE(first.waitForExit());
    EngineProcess third(data);
    ASSERT_TRUE(third.start());
    const auto routes = decodeRecord<std::vector<WireRoute>>(third.client()->Get("/routes")->body);
    ASSERT_TRUE(routes);
    ASSERT_EQ(routes->size(), 2u);
    EXPECT_EQ(routes->front().id, "two-0");
}

TEST(DataFolder, SeveralMegabytesOfProjectsSurviveARestart)
{
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "megabytes of state load too slowly under the thread checker for the start-up wait";
#endif
    QTemporaryDir dir;
    const QString data = QString::fromStdString(folderOf(dir).string());
    std::string active;
    {
        EngineProcess engine(data);
        ASSERT_TRUE(engine.start());
        auto client = engine.client();
        client->set_read_timeout(30, 0);
        ASSERT_EQ(client->Post("/routes", routeList(1000, 3000), "application/json")->status, 200);
        const auto list = decodeRecord<ProjectList>(client->Get("/projects")->body);
        ASSERT_TRUE(list);
        active = list->activeId;
        ASSERT_EQ(client->Post("/projects/" + active + "/duplicate")->status, 201);
    }
    ASSERT_GT(std::filesystem::file_size(folderOf(dir) / "state.json"), 5u * 1000 * 1000);

    EngineProcess again(data);
    ASSERT_TRUE(again.start());
    const auto list = decodeRecord<ProjectList>(again.client()->Get("/projects")->body);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->projects.size(), 2u);
    EXPECT_EQ(list->activeId, active);
    EXPECT_EQ(list->projects[0].routeCount, 1000);
    EXPECT_EQ(list->projects[1].routeCount, 1000);
    EXPECT_FALSE(std::filesystem::exists(folderOf(dir) / "state.json.unreadable"));
}

TEST(DataFolder, TheFolderAndEveryFileInItArePrivate)
{
    QTemporaryDir dir;
    const auto folder = folderOf(dir);
    // As the app leaves it: created with the usual 0755.
    std::filesystem::create_directories(folder);
    ::chmod(folder.c_str(), 0755);
    EngineProcess engine(QString::fromStdString(folder.string()), {"--autostart"});
    engine.setEnvironment(standin::kTestSavePeriodVariable, "20");
    ASSERT_TRUE(engine.start());
    auto client = engine.client();
    ASSERT_EQ(client->Post("/routes", routeList(1, 10), "application/json")->status, 200);
    ASSERT_EQ(client->Post("/ca/generate")->status, 200);
    ASSERT_TRUE(standintest::proxyRequest(engine.proxyPort(), "GET", "http://api.test/r/0"));
    ASSERT_TRUE(testsupport::waitFor([&] { return std::filesystem::exists(folder / "history.json"); }, 5000));

    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(folder / "state.json"), 0600u);
    EXPECT_EQ(modeOf(folder / "history.json"), 0600u);
    EXPECT_EQ(modeOf(folder / "ca"), 0700u);
    EXPECT_EQ(modeOf(folder / "ca" / "kestrion-root-ca.key"), 0600u);
    EXPECT_EQ(modeOf(folder / "ca" / "kestrion-root-ca.pem"), 0600u);
}

TEST(DataFolder, AKillInTheMiddleOfWritesLeavesAWholeStateFile)
{
    QTemporaryDir dir;
    const QString data = QString::fromStdString(folderOf(dir).string());
    EngineProcess engine(data);
    ASSERT_TRUE(engine.start());
    std::atomic<int> saved {0};
    std::atomic<bool> stop {false};
    std::thread writer([&] {
        auto client = engine.client();
        client->set_read_timeout(30, 0); // each save is synced to a disk other tests share
        for (int round = 1; !stop; ++round) {
            const auto reply = client->Post("/routes", routeList(round % 7 + 1, 200000), "application/json");
            if (!reply || reply->status != 200)
                break;
            ++saved;
        }
    });
    ASSERT_TRUE(testsupport::waitFor([&] { return saved >= 6; }, 60000));
    ::kill(static_cast<pid_t>(engine.process().processId()), SIGKILL);
    stop = true;
    writer.join();
    ASSERT_TRUE(engine.waitForExit());

    // As a kill during a save would leave it.
    { std::ofstream(folderOf(dir) / "state.json.tmp-1-2") << "{\"half"; }
    { std::ofstream(folderOf(dir) / "history.json.tmp") << "{\"half"; }
    { std::ofstream(folderOf(dir) / "notes.tmp-1-2") << "mine"; }

    EngineProcess again(data);
    ASSERT_TRUE(again.start());
    EXPECT_TRUE(std::filesystem::exists(folderOf(dir) / "notes.tmp-1-2"));
    std::filesystem::remove(folderOf(dir) / "notes.tmp-1-2");
    const auto routes = decodeRecord<std::vector<WireRoute>>(again.client()->Get("/routes")->body);
    ASSERT_TRUE(routes);
    EXPECT_GE(routes->size(), 1u);
    EXPECT_LE(routes->size(), 7u);
    EXPECT_FALSE(std::filesystem::exists(folderOf(dir) / "state.json.unreadable"));
    // A temporary the kill left behind is cleared away by the next engine; someone else's file is not.
    for (const auto &entry : std::filesystem::directory_iterator(folderOf(dir)))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST(DataFolder, AWriteThatCouldNotBeSavedIsNotAcknowledgedAndIsSavedOnceItCan)
{
    QTemporaryDir dir;
    const QString data = QString::fromStdString(folderOf(dir).string());
    const auto stateFile = folderOf(dir) / "state.json";
    const auto routesOf = [](EngineProcess &engine) {
        return decodeRecord<std::vector<WireRoute>>(engine.client()->Get("/routes")->body).value_or(std::vector<WireRoute> {});
    };
    {
        // Writes past 64 KB fail as they would on a full disk.
        EngineProcess engine(data);
        engine.setFileSizeLimit(64 * 1024);
        ASSERT_TRUE(engine.start());
        auto client = engine.client();
        const auto small = client->Post("/routes", routeList(2, 100, "kept"), "application/json");
        ASSERT_TRUE(small);
        EXPECT_EQ(small->status, 200);

        const auto large = client->Post("/routes", routeList(3, 40000, "lost"), "application/json");
        ASSERT_TRUE(large);
        EXPECT_EQ(large->status, 507);
        EXPECT_NE(large->body.find("could not save"), std::string::npos) << large->body;
        EXPECT_NE(large->body.find("File too large"), std::string::npos) << large->body;
        // While the change can't be saved, no other write is acknowledged either.
        const auto project = client->Post("/projects", R"({"name":"Later"})", "application/json");
        ASSERT_TRUE(project);
        EXPECT_EQ(project->status, 507);
        EXPECT_EQ(engine.client()->Get("/health")->status, 200); // and the engine stays up
        engine.closeStdin(); // the save at exit fails too
        ASSERT_TRUE(engine.waitForExit());
        EXPECT_EQ(engine.exitCode(), 0);
    }
    {
        // What was acknowledged is what a restart finds, whole.
        EngineProcess engine(data);
        ASSERT_TRUE(engine.start());
        const auto routes = routesOf(engine);
        ASSERT_EQ(routes.size(), 2u);
        EXPECT_EQ(routes[0].id, "kept-0");
        EXPECT_EQ(decodeRecord<ProjectList>(engine.client()->Get("/projects")->body)->projects.size(), 1u);
        engine.closeStdin();
        ASSERT_TRUE(engine.waitForExit());
    }
    {
        // Once the disk has room, the unsaved change is written without another request.
        EngineProcess engine(data);
        engine.setEnvironment(standin::kTestSavePeriodVariable, "20");
        engine.setFileSizeLimit(64 * 1024);
        ASSERT_TRUE(engine.start());
        ASSERT_EQ(engine.client()->Post("/routes", routeList(3, 40000, "later"), "application/json")->status, 507);
        ASSERT_TRUE(engine.liftFileSizeLimit());
        EXPECT_TRUE(testsupport::waitFor([&] {
            std::ifstream in(stateFile);
            std::stringstream text;
            text << in.rdbuf();
            return text.str().find("later-2") != std::string::npos;
        }, 10000));
        ::kill(static_cast<pid_t>(engine.process().processId()), SIGKILL);
        ASSERT_TRUE(engine.waitForExit());
    }
    for (const int signal : {SIGTERM, 0}) {
        // A change that failed to save is saved at exit, on a terminate request or when stdin closes.
        const std::string tag = signal ? "term" : "eof";
        EngineProcess engine(data);
        engine.setFileSizeLimit(64 * 1024);
        ASSERT_TRUE(engine.start());
        ASSERT_EQ(engine.client()->Post("/routes", routeList(3, 40000, tag), "application/json")->status, 507);
        ASSERT_TRUE(engine.liftFileSizeLimit());
        if (signal)
            ::kill(static_cast<pid_t>(engine.process().processId()), signal);
        else
            engine.closeStdin();
        ASSERT_TRUE(engine.waitForExit());
        EngineProcess again(data);
        ASSERT_TRUE(again.start());
        const auto routes = routesOf(again);
        ASSERT_EQ(routes.size(), 3u);
        EXPECT_EQ(routes[2].id, tag + "-2");
    }
}

TEST(DataFolder, FifosUnderDataFileNamesAreSetAsideAndTheEngineStarts)
{
    QTemporaryDir dir;
    const auto folder = folderOf(dir);
    std::filesystem::create_directories(folder);
    for (const char *name : {"state.json", "history.json", "schema.json"})
        ASSERT_EQ(::mkfifo((folder / name).c_str(), 0600), 0) << name;

    EngineProcess engine(QString::fromStdString(folder.string()));
    ASSERT_TRUE(engine.start()); // a blocking open would hold it before the control-port line
    ASSERT_EQ(engine.client()->Post("/routes", routeList(1, 10, "after"), "application/json")->status, 200);
    for (const char *name : {"state.json", "history.json", "schema.json"}) {
        const auto aside = folder / (std::string(name) + ".unreadable");
        EXPECT_TRUE(std::filesystem::is_fifo(aside)) << aside;
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(folder / "state.json"));
    EXPECT_TRUE(engine.output().contains("is not a regular file")) << engine.output().toStdString();
}

TEST(DataFolder, AFolderThatCannotBeWrittenIsSaidToBeSo)
{
    QTemporaryDir dir;
    const auto folder = folderOf(dir);
    std::filesystem::create_directories(folder);
    bool mounted = false;
    if (::geteuid() == 0) {
        // Permissions don't stop root: a read-only mount does.
        mounted = ::mount("tmpfs", folder.c_str(), "tmpfs", MS_RDONLY, "size=64k") == 0;
        if (!mounted)
            GTEST_SKIP() << "running as root without the right to mount a read-only folder";
    } else {
        ::chmod(folder.c_str(), 0500);
    }
    EngineProcess engine(QString::fromStdString(folder.string()));
    EXPECT_FALSE(engine.start());
    ASSERT_TRUE(engine.waitForExit());
    const std::string output = engine.output().toStdString();
    if (mounted)
        ::umount(folder.c_str());
    else
        ::chmod(folder.c_str(), 0700);
    EXPECT_NE(engine.exitCode(), 0);
    EXPECT_NE(output.find("cannot write the data folder"), std::string::npos) << output;
    EXPECT_EQ(output.find("quit the other engine"), std::string::npos) << output;
}

TEST(DataFolder, ClearedSchemasAreOnTheDiskBeforeTheyAreAcknowledged)
{
    QTemporaryDir dir;
    const QString data = QString::fromStdString(folderOf(dir).string());
    const auto baselines = [](EngineProcess &engine) {
        return decodeRecord<SchemaSnapshot>(engine.client()->Get("/schema")->body).value_or(SchemaSnapshot {}).baselines;
    };
    // Learned from a host's answers, as only those are.
    standintest::TestUpstream host([](const standintest::TestUpstream::Request &, standintest::TestUpstream::Reply &reply) {
        reply.body = R"({"id":"usr_1","age":3})";
    });
    const auto learn = [&](EngineProcess &engine) {
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(standintest::proxyRequest(engine.proxyPort(), "GET",
                                                  "http://127.0.0.1:" + std::to_string(host.port()) + "/users"));
        ASSERT_TRUE(testsupport::waitFor([&] { return baselines(engine).size() == 1; }));
    };
    {
        EngineProcess engine(data, {"--autostart"});
        ASSERT_TRUE(engine.start());
        learn(engine);
        engine.closeStdin(); // saved at exit
        ASSERT_TRUE(engine.waitForExit());
    }
    {
        // The disk refuses the cleared file: the clear is not acknowledged.
        EngineProcess engine(data);
        engine.setFileSizeLimit(1);
        ASSERT_TRUE(engine.start());
        ASSERT_EQ(baselines(engine).size(), 1u);
        const auto refused = engine.client()->Delete("/schema");
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 507) << refused->body;
        EXPECT_NE(refused->body.find("could not save the schema baselines"), std::string::npos) << refused->body;
        ::kill(static_cast<pid_t>(engine.process().processId()), SIGKILL);
        ASSERT_TRUE(engine.waitForExit());
    }
    {
        // A kill right after the acknowledgement finds it cleared.
        EngineProcess engine(data);
        ASSERT_TRUE(engine.start());
        ASSERT_EQ(baselines(engine).size(), 1u);
        ASSERT_EQ(engine.client()->Delete("/schema")->status, 204);
        ::kill(static_cast<pid_t>(engine.process().processId()), SIGKILL);
        ASSERT_TRUE(engine.waitForExit());
    }
    EngineProcess engine(data);
    ASSERT_TRUE(engine.start());
    EXPECT_TRUE(baselines(engine).empty());
}

TEST(DataFolder, WritesThatWouldPassTheStateBoundAreRefusedAndChangeNothing)
{
    QTemporaryDir dir;
    const QString data = QString::fromStdString(folderOf(dir).string());
    constexpr size_t kBound = 400 * 1024;
    const auto projectCount = [](EngineProcess &engine) {
        return decodeRecord<ProjectList>(engine.client()->Get("/projects")->body).value_or(ProjectList {}).projects.size();
    };
    {
        EngineProcess engine(data);
        engine.setEnvironment(standin::StateStore::kTestMaxSavedBytesVariable, QString::number(kBound));
        ASSERT_TRUE(engine.start());
        auto client = engine.client();
        ASSERT_EQ(client->Post("/routes", routeList(100, 1000), "application/json")->status, 200);
        const std::string active = decodeRecord<ProjectList>(client->Get("/projects")->body)->activeId;
        ASSERT_EQ(client->Post("/projects/" + active + "/duplicate")->status, 201);
        ASSERT_EQ(client->Post("/projects/" + active + "/duplicate")->status, 201);
        const auto refused = client->Post("/projects/" + active + "/duplicate");
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 507);
        const auto reason = decodeRecord<ErrorReply>(refused->body);
        ASSERT_TRUE(reason) << refused->body;
        EXPECT_NE(reason->error.find("the saved state would grow to"), std::string::npos) << reason->error;
        EXPECT_EQ(projectCount(engine), 3u);

        // The other writes that grow a project are held to the same bound, and leave it as it was.
        const auto before = client->Get("/routes")->body;
        EXPECT_EQ(client->Post("/routes", routeList(100, 3000), "application/json")->status, 507);
        EXPECT_EQ(client->Get("/routes")->body, before);
        EnvironmentSet environments {{{"env-big", "Big", std::vector<WireVar> {{"k", std::string(200 * 1024, 'v')}}}}, "env-big"};
        EXPECT_EQ(client->Post("/environments", encodeRecord(environments), "application/json")->status, 507);
        EXPECT_TRUE(decodeRecord<EnvironmentSet>(client->Get("/environments")->body)->environments.empty());
        EXPECT_EQ(client->Post("/projects", R"({"name":"Small"})", "application/json")->status, 201);
        engine.closeStdin();
        ASSERT_TRUE(engine.waitForExit());
    }
    EXPECT_LE(std::filesystem::file_size(folderOf(dir) / "state.json"), kBound);
    EngineProcess again(data);
    ASSERT_TRUE(again.start());
    EXPECT_EQ(projectCount(again), 4u);
}

// A kept record numbered at the very top (a damaged or hand-made file) must not make the numbering wrap:
// new exchanges would be numbered from 0, listed after the old ones and dropped first.
TEST(DataFolder, HistoryNumberedAtTheTopGoesOnWithoutWrapping)
{
    QTemporaryDir dir;
    const auto folder = folderOf(dir);
    std::filesystem::create_directories(folder / "replay");
    const auto line = [](const std::string &id) {
        TrafficRecord record;
        record.id = id;
        record.time = "2026-01-01T00:00:00.000Z";
        record.method = "GET";
        record.host = "api.test";
        record.path = "/kept/" + id;
        record.status = 200;
        return encodeRecord(record) + "\n";
    };
    {
        std::ofstream history(folder / "history.json");
        for (const char *id : {"t-5", "t-9223372036854775807", "t-18446744073709551615"})
            history << line(id);
        std::ofstream(folder / "replay" / "requests-9223372036854775807.bin");
        std::ofstream(folder / "replay" / "requests-18446744073709551615.bin");
    }
    EngineProcess engine(QString::fromStdString(folder.string()), {"--autostart"});
    engine.setEnvironment(standin::kTestSavePeriodVariable, "20");
    ASSERT_TRUE(engine.start());
    auto client = engine.client();
    ASSERT_EQ(client->Post("/routes", routeList(1, 10), "application/json")->status, 200);
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(standintest::proxyRequest(engine.proxyPort(), "GET", "http://api.test/r/0"));

    const auto ids = [](EngineProcess &running) {
        const auto page = decodeRecord<std::vector<TrafficRecord>>(running.client()->Get("/traffic?limit=10")->body);
        std::vector<std::string> kept;
        for (const auto &record : page.value_or(std::vector<TrafficRecord> {}))
            kept.push_back(record.id);
        return kept;
    };
    EXPECT_EQ(ids(engine), (std::vector<std::string> {"t-7", "t-6", "t-5"}));
    // The records left out stay in the file kept aside, and the log says why.
    EXPECT_TRUE(std::filesystem::exists(folder / "history.json.unreadable"));
    EXPECT_TRUE(engine.output().contains("2 record(s) numbered t-9223372036854775807 or past left out"))
        << engine.output().toStdString();
    // The kept requests' files are numbered on from below the top as well.
    EXPECT_TRUE(testsupport::waitFor([&] { return std::filesystem::exists(folder / "replay" / "requests-1.bin"); },
                                     10000));
    EXPECT_FALSE(std::filesystem::exists(folder / "replay" / "requests-0.bin"));
    EXPECT_EQ(client->Post("/replay/t-7")->status, 200);
    // What this run numbered is all there again after a restart.
    const auto numbered = ids(engine);
    engine.closeStdin();
    ASSERT_TRUE(engine.waitForExit(10000));
    // So is what a run kept after a top just below the bound: the exchange numbered at it is not kept.
    std::ofstream(folder / "history.json", std::ios::app) << line("t-9223372036854775806");
    auto kept = numbered;
    kept.insert(kept.begin(), "t-9223372036854775806");
    EngineProcess again(QString::fromStdString(folder.string()), {"--autostart"});
    ASSERT_TRUE(again.start());
    ASSERT_TRUE(standintest::proxyRequest(again.proxyPort(), "GET", "http://api.test/r/0"));
    EXPECT_EQ(ids(again), kept);
    again.closeStdin();
    ASSERT_TRUE(again.waitForExit(10000));
    EngineProcess last(QString::fromStdString(folder.string()));
    ASSERT_TRUE(last.start());
    EXPECT_EQ(ids(last), kept);
}

TEST(DataFolder, AnAcknowledgedSwitchOfProjectSurvivesAKillRightAfterIt)
{
    QTemporaryDir dir;
    const QString data = QString::fromStdString(folderOf(dir).string());
    std::string acknowledged;
    std::string other;
    for (int kill = 0; kill < 24; ++kill) {
        EngineProcess engine(data);
        // The saver runs all the time, so its saves meet each switch's own.
        engine.setEnvironment(standin::kTestSavePeriodVariable, "1");
        ASSERT_TRUE(engine.start());
        auto client = engine.client();
        const auto projects = decodeRecord<ProjectList>(client->Get("/projects")->body);
        ASSERT_TRUE(projects);
        if (acknowledged.empty()) {
            acknowledged = projects->activeId;
            const auto created = decodeRecord<Project>(client->Post("/projects", R"({"name":"Other"})", "application/json")->body);
            ASSERT_TRUE(created);
            other = created->id;
        } else {
            ASSERT_EQ(projects->activeId, acknowledged) << "after kill " << kill;
        }
        std::swap(acknowledged, other);
        const auto switched = client->Post("/projects/" + acknowledged + "/activate");
        ASSERT_TRUE(switched);
        ASSERT_EQ(switched->status, 200) << switched->body;
        ::kill(static_cast<pid_t>(engine.process().processId()), SIGKILL);
        ASSERT_TRUE(engine.waitForExit());
    }
}
