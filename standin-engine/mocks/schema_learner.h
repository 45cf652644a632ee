// Learns the JSON shape of each route's successful responses and reports later responses that drift from it.
#pragma once

#include "engine/records/schema_records.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>

namespace standin {

// JSON path ("$", "$.users", "$.users[].id") to the type names seen there.
using FlatShape = std::map<std::string, std::set<std::string>>;

// "object", "array", "string", "integer", "number", "boolean" or "null".
std::string jsonTypeName(const nlohmann::json &value);
FlatShape flattenShape(const nlohmann::json &document);
// The same shape read straight from JSON text, without building the document: one path buffer, each
// distinct path stored once. Nothing when the text is no JSON object or array, nests deeper than
// kMaxNestingDepth, or has more than `maxPaths` distinct paths.
std::optional<FlatShape> shapeOfJsonText(std::string_view text, std::size_t maxPaths);
// Folds one sample into a sketch.
void addSample(SchemaSketch &sketch, const FlatShape &sample);
// The differences of a response against a locked sketch; descendants of a removed or retyped field
// are not listed again.
std::vector<SchemaChange> compareShape(const SchemaSketch &baseline, const FlatShape &actual);

class SchemaLearner final {
public:
    static constexpr int kSamplesToLock = 3;
    static constexpr size_t kMaxDriftsPerProject = 500;
    // Baselines kept over all projects; past it the one seen longest ago goes (an any-host route
    // makes one per host).
    static constexpr size_t kMaxBaselines = 1000;
    // Responses with more distinct JSON paths than this are not learned from.
    static constexpr size_t kMaxShapePaths = 300;
    // Changes kept with one drift finding; its breaking count still counts them all.
    static constexpr size_t kMaxChangesPerDrift = 100;

    // Responses waiting to be learned from; past either bound a response is skipped, never traffic.
    static constexpr size_t kMaxQueued = 256;
    static constexpr size_t kMaxQueuedBytes = 32 * 1024 * 1024;
    // A route's shape is learned from a sample: at most this many of its responses in each window, so a
    // flood on one route neither slows its answers nor crowds the others out of the queue.
    static constexpr int kSamplesPerRoute = 20;
    static constexpr std::chrono::steady_clock::duration kSampleWindow = std::chrono::seconds(1);

    explicit SchemaLearner(std::filesystem::path file, std::chrono::steady_clock::duration sampleWindow = kSampleWindow);
    ~SchemaLearner();

    struct Observation {
        std::string projectId;
        std::string key; // route key
        std::string method;
        std::string host;
        std::string path;
        std::string trafficId;
        std::string time;
    };
    // Learns from the body while the baseline has fewer than three samples; afterwards compares.
    std::optional<WireDriftEvent> observe(const Observation &observation, const nlohmann::json &body);
    std::optional<WireDriftEvent> observe(const Observation &observation, const FlatShape &shape);

    using DriftFound = std::function<void(const WireDriftEvent &)>;
    // Learns from a JSON body on the learning thread, after the answer went out; `onDrift` runs there.
    // False (and counted) when the queue is full and the body is skipped.
    bool observeLater(Observation observation, std::string body, DriftFound onDrift);
    // Whether a response of the route with this key (a hash of its route key) is one of the route's
    // sample in the current window. Cheap when it is not, so it is asked before a body is copied.
    bool sample(std::uint64_t routeKey);
    // Waits until every body handed over so far has been learned from.
    void settle() const;
    std::uint64_t skipped() const { return m_skipped; }
    std::uint64_t sampled() const { return m_sampled; }

    SchemaSnapshot snapshot(const std::string &projectId) const;
    // "" relearns every baseline of the project.
    void relearn(const std::string &projectId, const std::string &key);
    void clear(const std::string &projectId);
    void forgetProject(const std::string &projectId);

    // The reason the file could not be written, if it could not (the change stays marked for the next call).
    std::error_code saveIfDirty();

private:
    struct ProjectSchema {
        std::map<std::string, SchemaBaseline> baselines;
        std::map<std::string, std::uint64_t> lastSeen; // per baseline key, from m_clock
        std::deque<SchemaDriftRecord> drifts; // newest first
    };
    struct Pending {
        Observation observation;
        std::string body;
        DriftFound onDrift;
    };
    void load();
    void learnLoop();
    size_t baselineCountLocked() const;
    void dropOldestBaselineLocked();

    std::filesystem::path m_file;
    mutable std::mutex m_mutex;
    std::mutex m_saveMutex;
    std::map<std::string, ProjectSchema> m_projects;
    std::uint64_t m_clock = 0;
    bool m_dirty = false;

    mutable std::mutex m_queueMutex;
    std::condition_variable m_work;               // something to learn from, or stopping
    mutable std::condition_variable m_settled;    // one more body learned from
    std::deque<Pending> m_queue;
    size_t m_queuedBytes = 0;
    std::uint64_t m_handedOver = 0; // bodies queued so far
    std::uint64_t m_finished = 0;   // of those, learned from
    bool m_stopping = false;
    std::atomic<std::uint64_t> m_skipped {0};
    std::chrono::steady_clock::time_point m_lastSkipLog;

    struct SampleWindow {
        std::chrono::steady_clock::time_point start;
        int taken = 0;
    };
    const std::chrono::steady_clock::duration m_sampleWindow;
    const std::uint64_t m_instance; // tells this learner's entries in a thread's cache from another's
    std::mutex m_sampleMutex;
    std::unordered_map<std::uint64_t, SampleWindow> m_windows;
    std::chrono::steady_clock::time_point m_lastPrune;
    std::atomic<std::uint64_t> m_sampled {0};
    bool m_toldSampling = false;

    std::thread m_learner;
};

} // namespace standin
