// Schema learning: three samples lock a baseline; later responses that differ are drift findings.
#include "schema_learner.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

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
