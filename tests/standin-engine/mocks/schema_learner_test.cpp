// Schema learning: three samples lock a baseline; later responses that differ are drift findings.
#include "mocks/schema_learner.h"

#include "support/test_support.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>

using namespace standin;
using nlohmann::json;

namespace {

SchemaLearner::Observation observation(const std::string &trafficId, const std::string &key = "GET api.test/v2/users")
{
    return {"p-1", key, "GET", "api.test", "/v2/users", trafficId, "2026-01-01T00:00:00.000Z"};
}

const SchemaChange *changeAt(const WireDriftEvent &event, const std::string &path)
{
    for (const auto &change : event.changes) {
        if (change.path == path)
            return &change;
    }
    return nullptr;
}

const json kUser = json::parse(R"({"id":1,"name":"Ada","tags":["a"],"profile":{"age":36}})");

} // namespace

TEST(SchemaLearner, LocksAfterThreeSamplesAndOnlyThenReportsDrift)
{
    QTemporaryDir dir;
    SchemaLearner learner(std::filesystem::path(dir.path().toStdString()) / "schema.json");
    const json changed = json::parse(R"({"id":"1","name":"Ada","tags":["a"],"profile":{"age":36}})");
    EXPECT_FALSE(learner.observe(observation("t-1"), kUser));
    EXPECT_FALSE(learner.observe(observation("t-2"), changed)); // still learning: widens the baseline
    EXPECT_FALSE(learner.observe(observation("t-3"), kUser));
    auto snapshot = learner.snapshot("p-1");
    ASSERT_EQ(snapshot.baselines.size(), 1u);
    EXPECT_TRUE(snapshot.baselines[0].locked);
    EXPECT_EQ(snapshot.baselines[0].samples, 3);
    EXPECT_EQ(snapshot.baselines[0].sketch->paths.at("$.id").types, (std::vector<std::string> {"integer", "string"}));
    EXPECT_EQ(snapshot.baselines[0].sketch->paths.at("$.profile.age").present, 3);

    EXPECT_FALSE(learner.observe(observation("t-4"), kUser));
    const auto drift = learner.observe(observation("t-5"), json::parse(R"({"id":1,"name":null,"tags":"a"})"));
    ASSERT_TRUE(drift);
    EXPECT_EQ(drift->trafficId, "t-5");
    EXPECT_EQ(drift->key, "GET api.test/v2/users");
    const SchemaChange *nullable = changeAt(*drift, "$.name");
    ASSERT_TRUE(nullable);
    EXPECT_EQ(nullable->kind, "became_nullable");
    EXPECT_EQ(nullable->severity, "warning");
    const SchemaChange *retyped = changeAt(*drift, "$.tags");
    ASSERT_TRUE(retyped);
    EXPECT_EQ(retyped->kind, "type_changed");
    EXPECT_EQ(retyped->baseline, (std::vector<std::string> {"array"}));
    EXPECT_EQ(retyped->actual, (std::vector<std::string> {"string"}));
    EXPECT_FALSE(changeAt(*drift, "$.tags[]")); // explained by the retyped parent
    const SchemaChange *removed = changeAt(*drift, "$.profile");
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->kind, "field_removed");
    EXPECT_FALSE(changeAt(*drift, "$.profile.age"));
    EXPECT_EQ(drift->breaking, 2);

    snapshot = learner.snapshot("p-1");
    ASSERT_EQ(snapshot.drifts.size(), 1u);
    EXPECT_EQ(snapshot.drifts[0].trafficId, "t-5");
}

TEST(SchemaLearner, AddedFieldsAndNumberFormatsAreNotBreaking)
{
    QTemporaryDir dir;
    SchemaLearner learner(std::filesystem::path(dir.path().toStdString()) / "schema.json");
    const json price = json::parse(R"({"price":10})");
    for (int i = 0; i < 3; ++i)
        learner.observe(observation("t-" + std::to_string(i)), price);
    const auto drift = learner.observe(observation("t-9"), json::parse(R"({"price":10.5,"extra":{"deep":1}})"));
    ASSERT_TRUE(drift);
    EXPECT_EQ(drift->breaking, 0);
    ASSERT_EQ(drift->changes.size(), 2u);
    EXPECT_EQ(changeAt(*drift, "$.price")->kind, "numeric_format");
    EXPECT_EQ(changeAt(*drift, "$.extra")->kind, "field_added");
}

TEST(SchemaLearner, OptionalFieldsMayBeMissing)
{
    QTemporaryDir dir;
    SchemaLearner learner(std::filesystem::path(dir.path().toStdString()) / "schema.json");
    learner.observe(observation("t-1"), json::parse(R"({"a":1,"b":2})"));
    learner.observe(observation("t-2"), json::parse(R"({"a":1})"));
    learner.observe(observation("t-3"), json::parse(R"({"a":1,"b":2})"));
    EXPECT_FALSE(learner.observe(observation("t-4"), json::parse(R"({"a":1})")));
}

TEST(SchemaLearner, RelearnClearAndRestart)
{
    QTemporaryDir dir;
    const auto file = std::filesystem::path(dir.path().toStdString()) / "schema.json";
    {
        SchemaLearner learner(file);
        for (int i = 0; i < 3; ++i) {
            learner.observe(observation("t-a" + std::to_string(i), "GET api.test/a"), kUser);
            learner.observe(observation("t-b" + std::to_string(i), "GET api.test/b"), kUser);
        }
        ASSERT_TRUE(learner.observe(observation("t-x", "GET api.test/a"), json::array()));
        learner.saveIfDirty();
    }
    SchemaLearner learner(file);
    auto snapshot = learner.snapshot("p-1");
    ASSERT_EQ(snapshot.baselines.size(), 2u);
    EXPECT_EQ(snapshot.drifts.size(), 1u);

    learner.relearn("p-1", "GET api.test/a");
    snapshot = learner.snapshot("p-1");
    EXPECT_FALSE(snapshot.baselines[0].locked);
    EXPECT_EQ(snapshot.baselines[0].samples, 0);
    EXPECT_TRUE(snapshot.baselines[1].locked);
    learner.relearn("p-1", "");
    EXPECT_FALSE(learner.snapshot("p-1").baselines[1].locked);

    learner.clear("p-1");
    snapshot = learner.snapshot("p-1");
    EXPECT_TRUE(snapshot.baselines.empty());
    EXPECT_TRUE(snapshot.drifts.empty());
    EXPECT_TRUE(learner.snapshot("other-project").baselines.empty());
}

TEST(SchemaLearner, BaselinesAreBoundedAndTheOnesSeenLastAreKept)
{
    QTemporaryDir dir;
    SchemaLearner learner(std::filesystem::path(dir.path().toStdString()) / "schema.json");
    const auto hostKey = [](size_t i) { return "GET host" + std::to_string(i) + ".test/any"; };
    const json body = json::parse(R"({"ok":true})");
    learner.observe(observation("t-0", hostKey(0)), body);
    for (size_t i = 1; i < SchemaLearner::kMaxBaselines + 50; ++i) {
        learner.observe(observation("t-" + std::to_string(i), hostKey(i)), body);
        if (i % 100 == 0)
            learner.observe(observation("t-again", hostKey(0)), body); // host 0 keeps coming back
    }
    const auto baselines = learner.snapshot("p-1").baselines;
    EXPECT_EQ(baselines.size(), SchemaLearner::kMaxBaselines);
    const auto has = [&](const std::string &key) {
        return std::any_of(baselines.begin(), baselines.end(), [&](const auto &b) { return b.key == key; });
    };
    EXPECT_TRUE(has(hostKey(0)));
    EXPECT_FALSE(has(hostKey(1)));
    EXPECT_FALSE(has(hostKey(49)));
    EXPECT_TRUE(has(hostKey(SchemaLearner::kMaxBaselines + 49)));

    // A response with more distinct fields than a baseline may hold teaches nothing.
    json wide = json::object();
    for (size_t i = 0; i <= SchemaLearner::kMaxShapePaths; ++i)
        wide["f" + std::to_string(i)] = i;
    learner.observe(observation("t-wide", "GET wide.test/x"), wide);
    const auto after = learner.snapshot("p-1").baselines;
    EXPECT_FALSE(std::any_of(after.begin(), after.end(), [](const auto &b) { return b.key == "GET wide.test/x"; }));
}

TEST(SchemaLearner, ALargeSavedFileIsLoadedAndMatchingTrafficWritesNothing)
{
    QTemporaryDir dir;
    const auto file = std::filesystem::path(dir.path().toStdString()) / "schema.json";
    json wide = json::object();
    for (int i = 0; i < 120; ++i)
        wide["a_rather_long_field_name_number_" + std::to_string(i)] = i;
    {
        SchemaLearner learner(file);
        for (size_t route = 0; route < SchemaLearner::kMaxBaselines; ++route) {
            for (int sample = 0; sample < SchemaLearner::kSamplesToLock; ++sample)
                learner.observe(observation("t", "GET api.test/r" + std::to_string(route)), wide);
        }
        learner.saveIfDirty();
    }
    ASSERT_GT(std::filesystem::file_size(file), 4u * 1024 * 1024);
    SchemaLearner learner(file);
    const auto snapshot = learner.snapshot("p-1");
    ASSERT_EQ(snapshot.baselines.size(), SchemaLearner::kMaxBaselines);
    EXPECT_TRUE(snapshot.baselines[0].locked);

    // Traffic that matches a locked baseline changes nothing, so nothing is saved.
    const auto modified = std::filesystem::last_write_time(file);
    std::filesystem::last_write_time(file, modified - std::chrono::hours(1));
    EXPECT_FALSE(learner.observe(observation("t-same", "GET api.test/r7"), wide));
    learner.saveIfDirty();
    EXPECT_EQ(std::filesystem::last_write_time(file), modified - std::chrono::hours(1));
}

TEST(SchemaLearner, ShapeReadFromTextMatchesTheParsedDocument)
{
    for (const std::string text : {
             R"({"id":1,"name":"Ada","tags":["a",2,2.5,null],"profile":{"age":36,"ok":true,"x":{}},"list":[]})",
             R"([{"a":1},{"a":"one","b":[[1],[{"c":null}]]},-3, 18446744073709551615])",
             R"( { "k\"ey" : { "d.ot" : [ ] } , "ünï" : 1e3 } )", "[]", "{}"}) {
        const auto streamed = shapeOfJsonText(text, SchemaLearner::kMaxShapePaths);
        ASSERT_TRUE(streamed) << text;
        EXPECT_EQ(*streamed, flattenShape(json::parse(text))) << text;
    }
    // Nothing to learn from: a bare value, broken or trailing text, too deep, too many fields.
    for (const std::string &text : std::vector<std::string> {R"("just text")", "42", R"({"a":)", R"({"a":1} x)",
                                                             std::string(65, '[') + std::string(65, ']')}) {
        EXPECT_FALSE(shapeOfJsonText(text, SchemaLearner::kMaxShapePaths)) << text;
    }
    EXPECT_TRUE(shapeOfJsonText(std::string(64, '[') + std::string(64, ']'), SchemaLearner::kMaxShapePaths));
    json wide = json::object();
    for (int i = 0; i < 300; ++i)
        wide["f" + std::to_string(i)] = i;
    EXPECT_FALSE(shapeOfJsonText(wide.dump(), SchemaLearner::kMaxShapePaths)); // 301 paths with "$"
    wide.erase("f0");
    EXPECT_TRUE(shapeOfJsonText(wide.dump(), SchemaLearner::kMaxShapePaths));
}

TEST(SchemaLearner, LearningLaterSkipsAndCountsWhatTheQueueCannotHold)
{
    QTemporaryDir dir;
    SchemaLearner learner(dir.filePath("schema.json").toStdString());
    for (int i = 0; i < SchemaLearner::kSamplesToLock; ++i)
        learner.observe(observation("t-" + std::to_string(i)), kUser);
    // A drifting body whose finding holds the learning thread until released.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> drifts {0};
    ASSERT_TRUE(learner.observeLater(observation("t-held"), R"({"id":"one"})", [&](const WireDriftEvent &) {
        ++drifts;
        released.wait();
    }));
    ASSERT_TRUE(testsupport::waitFor([&] { return drifts == 1; }));
    for (size_t i = 0; i < SchemaLearner::kMaxQueued; ++i)
        ASSERT_TRUE(learner.observeLater(observation("t-q"), R"({"id":"two"})", [&](const WireDriftEvent &) { ++drifts; }));
    EXPECT_FALSE(learner.observeLater(observation("t-skipped"), R"({"id":"three"})", {}));
    EXPECT_EQ(learner.skipped(), 1u);
    release.set_value();
    learner.settle();
    EXPECT_EQ(drifts, 1 + static_cast<int>(SchemaLearner::kMaxQueued));
    const auto snapshot = learner.snapshot("p-1");
    ASSERT_FALSE(snapshot.drifts.empty());
    EXPECT_EQ(snapshot.drifts.front().trafficId, "t-q");
    EXPECT_EQ(learner.skipped(), 1u);
}
