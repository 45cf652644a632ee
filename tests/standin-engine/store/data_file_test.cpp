// The engine's own files: private modes, large files read back, unreadable ones kept aside, history appended.
#include "core/data_file.h"
#include "store/state_store.h"
#include "store/traffic_history.h"

#include "standin-engine/temp_paths.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace standin;
using standintest::pathIn;

namespace {

mode_t modeOf(const std::filesystem::path &path)
{
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 0777;
}

ino_t inodeOf(const std::filesystem::path &path)
{
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_ino;
}

std::string contentsOf(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeText(const std::filesystem::path &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

TrafficRecord exchange(const std::string &path, size_t bodyBytes = 0)
{
    TrafficRecord record;
    record.time = "2026-01-01T00:00:00.000Z";
    record.method = "GET";
    record.host = "api.test";
    record.path = path;
    record.status = 200;
    if (bodyBytes)
        record.respBody = std::string(bodyBytes, 'b');
    return record;
}

} // namespace

TEST(DataFile, SavedFilesAndTheFolderArePrivate)
{
    QTemporaryDir dir;
    const auto folder = pathIn(dir, "data");
    std::filesystem::create_directories(folder / "ca");
    ::chmod(folder.c_str(), 0755);
    writeText(folder / "history.json", "[]");
    ::chmod((folder / "history.json").c_str(), 0644);
    // A temporary left behind world-readable must not pass its mode on.
    writeText(folder / "state.json.tmp", "old");
    ::chmod((folder / "state.json.tmp").c_str(), 0644);

    // Someone else's file in the folder keeps its mode (an executable stays one).
    writeText(folder / "run-me.sh", "#!/bin/sh\n");
    ::chmod((folder / "run-me.sh").c_str(), 0755);

    makePrivate(folder);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(folder / "ca"), 0700u);
    EXPECT_EQ(modeOf(folder / "history.json"), 0600u);
    EXPECT_EQ(modeOf(folder / "run-me.sh"), 0755u);

    ::chmod((folder / "state.json.tmp").c_str(), 0644);
    ASSERT_FALSE(saveFileReplacing(folder / "state.json", "{}"));
    EXPECT_EQ(modeOf(folder / "state.json"), 0600u);
    EXPECT_EQ(contentsOf(folder / "state.json"), "{}");
    // The leftover is not ours to write or remove; and the save leaves no temporary of its own behind.
    EXPECT_EQ(contentsOf(folder / "state.json.tmp"), "old");
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        EXPECT_EQ(entry.path().filename().string().find("state.json.tmp-"), std::string::npos) << entry.path();
}

TEST(DataFile, PlantedLinksAreNeverWrittenThroughAndTheirTargetsStayAsTheyWere)
{
    QTemporaryDir dir;
    const auto folder = pathIn(dir, "data");
    std::filesystem::create_directories(folder);
    const auto victim = pathIn(dir, "victim");
    writeText(victim, "precious");
    ::chmod(victim.c_str(), 0644);
    const auto plant = [&](const char *name) { std::filesystem::create_symlink(victim, folder / name); };
    plant("state.json.tmp");
    plant("kestrion-root-ca.key.tmp");
    plant("engine.lock");
    plant("history.json");

    ASSERT_FALSE(saveFileReplacing(folder / "state.json", "{}"));
    ASSERT_FALSE(saveFileReplacing(folder / "kestrion-root-ca.key", "PRIVATE KEY"));
    {
        DataFolderLock lock;
        std::string error;
        ASSERT_TRUE(lock.acquire(folder, 0, error)) << error;
        TrafficHistory history(folder / "history.json");
        history.add(exchange("/after-the-link"));
        EXPECT_TRUE(history.saveIfDirty());
    }
    EXPECT_EQ(contentsOf(victim), "precious");
    EXPECT_EQ(modeOf(victim), 0644u);
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "state.json.tmp"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "kestrion-root-ca.key.tmp"));
    // The lock and the history were set aside as the links they are, and made afresh.
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "engine.lock.unreadable"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "history.json.unreadable"));
    EXPECT_FALSE(std::filesystem::is_symlink(folder / "engine.lock"));
    EXPECT_NE(contentsOf(folder / "history.json").find("/after-the-link"), std::string::npos);
    EXPECT_EQ(contentsOf(folder / "kestrion-root-ca.key"), "PRIVATE KEY");
}

TEST(StateStore, UnreadableFilesAreNumberedAndNoneIsReplaced)
{
    QTemporaryDir dir;
    const auto file = pathIn(dir, "state.json");
    writeText(file, "{\"first\": ");
    { StateStore store(file); }
    writeText(file, "{\"second\": ");
    { StateStore store(file); }
    writeText(file, "{\"third\": ");
    StateStore store(file);
    EXPECT_EQ(store.projectList().projects.size(), 1u);
    EXPECT_EQ(contentsOf(file.string() + ".unreadable"), "{\"first\": ");
    EXPECT_EQ(contentsOf(file.string() + ".unreadable-2"), "{\"second\": ");
    EXPECT_EQ(contentsOf(file.string() + ".unreadable-3"), "{\"third\": ");
}

TEST(StateStore, ProjectNamesWithControlCharactersAreRefused)
{
    QTemporaryDir dir;
    StateStore store(pathIn(dir, "state.json"));
    std::string error;
    EXPECT_FALSE(store.createProject(std::string("before\0after", 12), error));
    EXPECT_NE(error.find("control characters"), std::string::npos) << error;
    EXPECT_FALSE(store.renameProject(store.activeProjectId(), "two\nlines", error));
    EXPECT_EQ(store.projectList().projects.size(), 1u);
    EXPECT_EQ(store.projectList().projects[0].name, "Default");
    EXPECT_TRUE(store.createProject("Caf\xC3\xA9 \xE2\x98\x95", error)) << error;
}

TEST(TrafficHistory, NewRecordsAreAppendedNotTheWholeFileRewritten)
{
    QTemporaryDir dir;
    const auto file = pathIn(dir, "history.json");
    TrafficHistory history(file);
    for (int i = 0; i < 20; ++i)
        history.add(exchange("/first/" + std::to_string(i), 1000));
    history.saveIfDirty();
    const ino_t inode = inodeOf(file);
    const auto size = std::filesystem::file_size(file);

    history.add(exchange("/second", 1000));
    history.saveIfDirty();
    EXPECT_EQ(inodeOf(file), inode); // the same file, grown
    const auto grown = std::filesystem::file_size(file);
    EXPECT_GT(grown, size + 1000);
    EXPECT_LT(grown, size + 2000); // by one record

    history.saveIfDirty(); // nothing new: nothing written
    EXPECT_EQ(std::filesystem::file_size(file), grown);
    EXPECT_EQ(modeOf(file), 0600u);

    // A clear is the one change that writes the file anew.
    history.clear();
    history.add(exchange("/after-clear"));
    history.saveIfDirty();
    TrafficHistory reopened(file);
    const auto kept = reopened.page(100, "", "");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].path, "/after-clear");
}

TEST(TrafficHistory, BytesAreBoundedAsWellAsRecordsAndTheFileIsCompacted)
{
    QTemporaryDir dir;
    const auto file = pathIn(dir, "history.json");
    TrafficHistory history(file);
    const size_t body = TrafficHistory::kMaxStoredBody;
    std::string newest;
    for (int i = 0; i < 1000; ++i) {
        TrafficRecord record = exchange("/big/" + std::to_string(i), body);
        record.reqBody = std::string(body, 'q');
        newest = history.add(record).id;
        if (i % 50 == 0)
            history.saveIfDirty();
    }
    history.saveIfDirty();
    const auto kept = history.page(TrafficHistory::kMaxLimit, "", "");
    EXPECT_LT(kept.size(), 1000u);
    EXPECT_GE(kept.size(), TrafficHistory::kMaxStoredBytes / (2 * body + 1024));
    EXPECT_EQ(kept.front().id, newest);
    // The file holds at most twice what is kept, never the whole 32 MB that came by.
    EXPECT_LE(std::filesystem::file_size(file), 2 * TrafficHistory::kMaxStoredBytes + 2 * (2 * body + 1024));

    TrafficHistory reopened(file);
    EXPECT_EQ(reopened.page(TrafficHistory::kMaxLimit, "", "").size(), kept.size());
    EXPECT_EQ(reopened.page(1, "", "")[0].id, newest);
}

TEST(TrafficHistory, AThreadHoldsNoMoreUngatheredBytesThanTheHistoryKeeps)
{
    QTemporaryDir dir;
    TrafficHistory history(pathIn(dir, "history.json"));
    const size_t body = TrafficHistory::kMaxStoredBody;
    // A flood of large requests, never read nor saved: the oldest are let go on this thread once its
    // records pass the bound in bytes, long before they pass the bound in records.
    size_t added = 0;
    size_t fallen = 0;
    std::string newest;
    for (; added < TrafficHistory::kFreshPerThread && fallen == 0; ++added) {
        TrafficRecord record = exchange("/flood/" + std::to_string(added), 0);
        record.reqBody = std::string(body, 'q');
        std::vector<std::shared_ptr<const KeptRecord>> gone;
        newest = history.keep(std::make_shared<KeptRecord>(std::move(record)), gone)->head().id;
        fallen += gone.size();
    }
    EXPECT_GT(fallen, 0u);
    EXPECT_LE(added, TrafficHistory::kFreshBytesPerThread / body + 1);
    // What is left is still the newest, whole.
    const auto kept = history.page(1, "", "");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].id, newest);
    EXPECT_EQ(kept[0].reqBody, std::string(body, 'q'));
}

TEST(TrafficHistory, ThreadsTogetherHoldAtMostTwiceTheUngatheredBytesOfOne)
{
    QTemporaryDir dir;
    TrafficHistory history(pathIn(dir, "history.json"));
    const size_t body = TrafficHistory::kMaxStoredBody;
    // Each thread adds about what one thread alone may hold, never read nor saved meanwhile.
    constexpr int kThreads = 8;
    const size_t each = TrafficHistory::kFreshBytesPerThread / body;
    std::atomic<size_t> held {0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (size_t i = 0; i < each; ++i) {
                TrafficRecord record = exchange("/flood/" + std::to_string(t) + "/" + std::to_string(i), 0);
                record.reqBody = std::string(body, 'q');
                std::vector<std::shared_ptr<const KeptRecord>> gone;
                history.keep(std::make_shared<KeptRecord>(std::move(record)), gone);
                held += 1;
                held -= gone.size();
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    // Each thread holds what the others leave, or its share when they leave none: twice the bound at most,
    // past it by no more than a record on each thread (what it added last).
    EXPECT_LE(held.load() * body, 2 * TrafficHistory::kFreshBytesPerThread + kThreads * (body + 1024));
    EXPECT_GE(held.load() * (body + 1024), TrafficHistory::kFreshBytesPerThread / 2); // and no less than it keeps
}

TEST(TrafficHistory, ALineCutShortByACrashCostsOnlyThatRecord)
{
    QTemporaryDir dir;
    const auto file = pathIn(dir, "history.json");
    {
        TrafficHistory history(file);
        for (int i = 1; i <= 3; ++i)
            history.add(exchange("/kept/" + std::to_string(i)));
        history.saveIfDirty();
    }
    {
        std::ofstream out(file, std::ios::binary | std::ios::app);
        out << R"({"id":"t-4","time":"2026-01-01T00:00:00.000Z","method":"GET","ho)";
    }
    {
        TrafficHistory history(file);
        const auto kept = history.page(100, "", "");
        ASSERT_EQ(kept.size(), 3u);
        EXPECT_EQ(kept[0].path, "/kept/3");
        history.add(exchange("/after-crash"));
        history.saveIfDirty();
    }
    TrafficHistory reopened(file);
    const auto kept = reopened.page(100, "", "");
    ASSERT_EQ(kept.size(), 4u);
    EXPECT_EQ(kept[0].path, "/after-crash");
    EXPECT_EQ(kept[3].path, "/kept/1");
}

TEST(TrafficHistory, TheOlderSingleArrayFileIsStillRead)
{
    QTemporaryDir dir;
    const auto file = pathIn(dir, "history.json");
    TrafficRecord newer = exchange("/newer");
    newer.id = "t-8";
    TrafficRecord older = exchange("/older");
    older.id = "t-7";
    writeText(file, encodeRecord(std::vector<TrafficRecord> {newer, older}));
    TrafficHistory history(file);
    const auto kept = history.page(100, "", "");
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].path, "/newer");
    EXPECT_EQ(history.add(exchange("/next")).id, "t-9");
    history.saveIfDirty();
    EXPECT_EQ(TrafficHistory(file).page(100, "", "").size(), 3u);
}

TEST(TrafficHistory, LinesAreExactlyWhatTheJsonWriterWrites)
{
    std::vector<std::string> bodies = {
        "",
        "plain text long enough to be taken eight bytes at a time",
        R"({"name":"Zo\u00eb","path":"C:\\temp","list":[1,2,3]})",
        "controls \x01\x02\x1f\x7f \b\f\n\r\t end",
        std::string("a NUL \0 inside", 14),
        "caf\xC3\xA9 \xE2\x98\x95 \xF0\x9F\x98\x80 and \xEF\xBF\xBF at the edges",
        "\xC3",                        // cut short
        "lone \x80 continuation",      // no lead byte
        "overlong \xC0\xAF slash",     // overlong form
        "surrogate \xED\xA0\x80 half", // UTF-16 surrogate
        "past \xF4\x90\x80\x80 max",   // past U+10FFFF
        "12345678\xE2\x98",            // cut inside an eight-byte step's tail
        std::string(20, '"') + std::string(20, '\\'),
    };
    // Plain text is taken sixteen bytes at a step: a character to mend at every place around the steps.
    for (const char *odd : {"\"", "\x1f", "\xC3\xA9", "\x80"}) {
        for (std::size_t at = 0; at < 34; ++at)
            bodies.push_back(std::string(at, 'a') + odd + std::string(40 - at, 'b'));
    }
    for (const auto &body : bodies) {
        TrafficRecord record = exchange("/p");
        record.id = "t-1";
        record.scheme = "https";
        record.query = "q=1";
        record.reqHeaders = std::map<std::string, std::string> {{"Accept", "*/*"}};
        record.reqBody = body;
        record.respBody = body + "!";
        const std::string expected = encodeRecord(record) + "\n";
        EXPECT_EQ(TrafficHistory::encodeLine(record), expected) << body;
        EXPECT_EQ(TrafficHistory::lineSize(record), expected.size()) << body;
        std::string saved = "[earlier lines]";
        TrafficHistory::appendLine(saved, record);
        EXPECT_EQ(saved, "[earlier lines]" + expected) << body;
        EXPECT_EQ(record.reqBody, body); // handed back as it came
        record.reqBody.reset();
        EXPECT_EQ(TrafficHistory::encodeLine(record), encodeRecord(record) + "\n") << body;
        // Every text member, with and without the optional ones.
        record.method = body;
        record.host = body;
        record.path = body;
        record.query = body;
        record.reqHeaders = std::map<std::string, std::string> {{body, body}, {"X-" + body, ""}};
        record.status = -7;
        record.latencyMs = 1234567890123;
        record.injected = true;
        EXPECT_EQ(TrafficHistory::encodeLine(record), encodeRecord(record) + "\n") << body;
        EXPECT_EQ(TrafficHistory::lineSize(record), TrafficHistory::encodeLine(record).size()) << body;
        record.scheme.reset();
        record.query.reset();
        record.reqHeaders = std::map<std::string, std::string> {};
        record.respBody.reset();
        EXPECT_EQ(TrafficHistory::encodeLine(record), encodeRecord(record) + "\n") << body;
        record.reqHeaders.reset();
        EXPECT_EQ(TrafficHistory::encodeLine(record), encodeRecord(record) + "\n") << body;
    }
}

TEST(TrafficHistory, RecordsAddedOnManyThreadsAreSeenAtOnceAndInTheOrderOfTheirIds)
{
    QTemporaryDir dir;
    const auto file = pathIn(dir, "history.json");
    TrafficHistory history(file);
    constexpr int kThreads = 6;
    constexpr int kEach = 150;
    std::atomic<int> unseen {0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const auto added = history.add(exchange("/t" + std::to_string(t) + "/" + std::to_string(i)));
                // Whoever got the answer finds its record, however few came since the last batch.
                if (!history.find(added.id) || (i % 50 == 0 && history.page(1, "", "").empty()))
                    ++unseen;
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(unseen, 0);
    const auto shown = history.page(TrafficHistory::kMaxLimit, "", "");
    ASSERT_EQ(shown.size(), static_cast<size_t>(kThreads * kEach));
    for (size_t i = 0; i < shown.size(); ++i)
        ASSERT_EQ(shown[i].id, "t-" + std::to_string(shown.size() - i)) << i;
    ASSERT_TRUE(history.saveIfDirty());
    EXPECT_EQ(TrafficHistory(file).page(TrafficHistory::kMaxLimit, "", ""), shown);
}

TEST(TrafficHistory, BurstsAndCompactionKeepWhatIsShownAcrossARestartAndWriteLittle)
{
    QTemporaryDir dir;
    const auto file = pathIn(dir, "history.json");
    const auto bytesWritten = [] {
        std::ifstream io("/proc/self/io");
        std::string key;
        std::uint64_t value = 0;
        while (io >> key >> value) {
            if (key == "wchar:")
                return value;
        }
        return std::uint64_t {0};
    };
    TrafficHistory history(file);
    const std::uint64_t before = bytesWritten();
    std::uint64_t recordBytes = 0;
    // Saves after every record, after a few, and after bursts larger than the whole history.
    const std::vector<std::pair<int, int>> phases = {{200, 1}, {800, 7}, {1200, 60}, {3000, 1500}, {200, 1}, {600, 7}};
    std::vector<int> cadences;
    for (const auto &[count, every] : phases)
        cadences.insert(cadences.end(), count, every);
    int sinceSave = 0;
    int saves = 0;
    for (int i = 0; i < 6000; ++i) {
        TrafficRecord record = exchange("/r/" + std::to_string(i), i % 3 == 0 ? TrafficHistory::kMaxStoredBody : 200);
        record.respBody = R"({"n":)" + std::to_string(i) + R"(,"text":"line\nbreak \"quoted\""})";
        // Text the line writes six times as long: a fresh record's size is only guessed until its line is written.
        if (i % 5 == 0)
            record.respBody->append(std::string(3000, '\x01'));
        TrafficRecord sized = history.add(record);
        recordBytes += TrafficHistory::encodeLine(sized).size();
        const int cadence = cadences[i];
        if (++sinceSave < cadence)
            continue;
        ASSERT_TRUE(history.saveIfDirty());
        sinceSave = 0;
        ASSERT_LE(std::filesystem::file_size(file), 2 * TrafficHistory::kMaxStoredBytes + 2 * TrafficHistory::kMaxStoredBody);
        if (cadence == 1500 || ++saves % 97 == 0) {
            TrafficHistory reopened(file);
            ASSERT_EQ(reopened.page(TrafficHistory::kMaxLimit, "", ""), history.page(TrafficHistory::kMaxLimit, "", ""))
                << "after record " << i;
        }
    }
    ASSERT_TRUE(history.saveIfDirty());
    const std::uint64_t written = bytesWritten() - before;
    EXPECT_LE(written, 3 * recordBytes);

    const auto shown = history.page(TrafficHistory::kMaxLimit, "", "");
    EXPECT_EQ(shown.front().path, "/r/5999");
    TrafficHistory reopened(file);
    EXPECT_EQ(reopened.page(TrafficHistory::kMaxLimit, "", ""), shown);
    EXPECT_EQ(reopened.add(exchange("/next")).id, "t-6001");
}
