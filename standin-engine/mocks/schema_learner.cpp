// Schema learning and drift detection for the stand-in engine.
#include "mocks/schema_learner.h"

#include "core/bounded_input.h"
#include "core/data_file.h"
#include "core/engine_support.h"

#include <algorithm>
#include <tuple>

namespace standin {

using nlohmann::json;
using nlohmann::ordered_json;

namespace {

void flattenInto(const json &value, const std::string &path, FlatShape &shape)
{
    shape[path].insert(jsonTypeName(value));
    if (value.is_object()) {
        for (auto it = value.begin(); it != value.end(); ++it)
            flattenInto(it.value(), path + "." + it.key(), shape);
    } else if (value.is_array()) {
        for (const auto &element : value)
            flattenInto(element, path + "[]", shape);
    }
}

std::string parentOf(const std::string &path)
{
    if (path.size() > 2 && path.compare(path.size() - 2, 2, "[]") == 0)
        return path.substr(0, path.size() - 2);
    const size_t dot = path.rfind('.');
    return dot == std::string::npos ? std::string() : path.substr(0, dot);
}

bool underAny(const std::string &path, const std::vector<std::string> &roots)
{
    return std::any_of(roots.begin(), roots.end(), [&](const std::string &root) {
        return path.size() > root.size() && path.compare(0, root.size(), root) == 0
               && (path[root.size()] == '.' || path[root.size()] == '[');
    });
}

std::vector<std::string> listOf(const std::set<std::string> &types)
{
    return {types.begin(), types.end()};
}

bool numericOnly(const std::set<std::string> &types)
{
    return std::all_of(types.begin(), types.end(), [](const auto &t) { return t == "integer" || t == "number"; });
}

// Builds a flat shape from parser events: the path of the value at hand is one buffer that keys and
// "[]" are appended to and cut back from.
class ShapeReader final : public nlohmann::json_sax<json> {
public:
    ShapeReader(FlatShape &shape, std::size_t maxPaths)
        : m_shape(shape)
        , m_maxPaths(maxPaths)
    {
        m_path.reserve(256);
        m_path = "$";
    }

    bool null() override { return scalar("null"); }
    bool boolean(bool) override { return scalar("boolean"); }
    bool number_integer(number_integer_t) override { return scalar("integer"); }
    bool number_unsigned(number_unsigned_t) override { return scalar("integer"); }
    bool number_float(number_float_t, const string_t &) override { return scalar("number"); }
    bool string(string_t &) override { return scalar("string"); }
    bool binary(binary_t &) override { return false; }
    bool start_object(std::size_t) override { return open("object", false); }
    bool key(string_t &name) override
    {
        m_path.resize(m_marks.back());
        m_path += '.';
        m_path += name;
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open("array", true); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &) override { return false; }

private:
    bool add(const char *type)
    {
        auto found = m_shape.find(m_path);
        if (found == m_shape.end()) {
            if (m_shape.size() >= m_maxPaths)
                return false;
            found = m_shape.emplace(m_path, std::set<std::string> {}).first;
        }
        found->second.emplace(type);
        return true;
    }
    // Only an object or array is learned from; a bare value at the top is not.
    bool scalar(const char *type) { return !m_marks.empty() && add(type); }
    bool open(const char *type, bool array)
    {
        if (m_marks.size() >= static_cast<std::size_t>(kMaxNestingDepth) || !add(type))
            return false;
        m_marks.push_back(m_path.size());
        if (array)
            m_path += "[]";
        return true;
    }
    bool close()
    {
        m_path.resize(m_marks.back());
        m_marks.pop_back();
        return true;
    }

    FlatShape &m_shape;
    const std::size_t m_maxPaths;
    std::string m_path;
    std::vector<std::size_t> m_marks; // path length at each open object or array
};

} // namespace

std::optional<FlatShape> shapeOfJsonText(std::string_view text, std::size_t maxPaths)
{
    if (text.size() > kMaxBodyBytes)
        return std::nullopt;
    FlatShape shape;
    ShapeReader reader(shape, maxPaths);
    if (!json::sax_parse(text.begin(), text.end(), &reader))
        return std::nullopt;
    return shape;
}

std::string jsonTypeName(const json &value)
{
    switch (value.type()) {
    case json::value_t::null:
        return "null";
    case json::value_t::boolean:
        return "boolean";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
        return "integer";
    case json::value_t::number_float:
        return "number";
    case json::value_t::string:
        return "string";
    case json::value_t::array:
        return "array";
    case json::value_t::object:
        return "object";
    default:
        return "null";
    }
}

FlatShape flattenShape(const json &document)
{
    FlatShape shape;
    flattenInto(document, "$", shape);
    return shape;
}

void addSample(SchemaSketch &sketch, const FlatShape &sample)
{
    for (const auto &[path, types] : sample) {
        SchemaField &field = sketch.paths[path];
        std::set<std::string> merged(field.types.begin(), field.types.end());
        merged.insert(types.begin(), types.end());
        field.types = listOf(merged);
        ++field.present;
    }
    ++sketch.samples;
}

std::vector<SchemaChange> compareShape(const SchemaSketch &baseline, const FlatShape &actual)
{
    std::vector<SchemaChange> changes;
    std::vector<std::string> settled; // fields whose subtree is already explained by one change

    for (const auto &[path, field] : baseline.paths) {
        if (underAny(path, settled))
            continue;
        const std::set<std::string> learned(field.types.begin(), field.types.end());
        const auto seen = actual.find(path);
        if (seen == actual.end()) {
            // A field that was missing from some samples is optional; only a field always there breaks.
            if (field.present >= baseline.samples) {
                changes.push_back({path, "field_removed", "breaking", listOf(learned), std::nullopt});
                settled.push_back(path);
            }
            continue;
        }
        std::set<std::string> fresh;
        std::set_difference(seen->second.begin(), seen->second.end(), learned.begin(), learned.end(),
                            std::inserter(fresh, fresh.end()));
        if (fresh.empty())
            continue;
        std::set<std::string> all = learned;
        all.insert(fresh.begin(), fresh.end());
        if (fresh == std::set<std::string> {"null"}) {
            changes.push_back({path, "became_nullable", "warning", listOf(learned), listOf(seen->second)});
        } else if (numericOnly(all)) {
            changes.push_back({path, "numeric_format", "warning", listOf(learned), listOf(seen->second)});
        } else {
            changes.push_back({path, "type_changed", "breaking", listOf(learned), listOf(seen->second)});
            settled.push_back(path);
        }
    }

    for (const auto &[path, types] : actual) {
        if (baseline.paths.count(path) || underAny(path, settled))
            continue;
        // Only the outermost new field is reported; its own children come with it.
        const std::string parent = parentOf(path);
        if (!parent.empty() && !baseline.paths.count(parent))
            continue;
        changes.push_back({path, "field_added", "info", std::nullopt, listOf(types)});
    }
    return changes;
}

SchemaLearner::SchemaLearner(std::filesystem::path file, std::chrono::steady_clock::duration sampleWindow)
    : m_file(std::move(file))
    , m_sampleWindow(sampleWindow)
    , m_instance([] {
        static std::atomic<std::uint64_t> instances {0};
        return ++instances;
    }())
{
    load();
    m_learner = std::thread([this] { learnLoop(); });
}

SchemaLearner::~SchemaLearner()
{
    {
        std::lock_guard lock(m_queueMutex);
        m_stopping = true;
    }
    m_work.notify_all();
    m_settled.notify_all();
    m_learner.join();
}

bool SchemaLearner::observeLater(Observation observation, std::string body, DriftFound onDrift)
{
    {
        std::lock_guard lock(m_queueMutex);
        if (!m_stopping && m_queue.size() < kMaxQueued && m_queuedBytes + body.size() <= kMaxQueuedBytes) {
            m_queuedBytes += body.size();
            m_queue.push_back({std::move(observation), std::move(body), std::move(onDrift)});
            ++m_handedOver;
            // A busy learner finds it on its own; only an idle one is woken.
            if (m_queue.size() == 1)
                m_work.notify_one();
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        ++m_skipped;
        if (now - m_lastSkipLog < std::chrono::minutes(1))
            return false;
        m_lastSkipLog = now;
    }
    logLine("schema learning fell behind the traffic; " + std::to_string(m_skipped) + " responses not learned from");
    return false;
}

bool SchemaLearner::sample(std::uint64_t routeKey)
{
    const auto now = std::chrono::steady_clock::now();
    // Each thread remembers which routes have used up their window, so a flood is turned away without a
    // lock; the shared count is only touched for the few responses taken and once per thread and window.
    struct FullRoutes {
        std::uint64_t learner = 0;
        std::unordered_map<std::uint64_t, std::chrono::steady_clock::time_point> until;
    };
    thread_local FullRoutes full;
    if (full.learner != m_instance) {
        full.learner = m_instance;
        full.until.clear();
    }
    if (const auto known = full.until.find(routeKey); known != full.until.end() && now < known->second)
        return false;

    constexpr size_t kMaxRoutesTracked = 4096;
    bool tell = false;
    {
        std::lock_guard lock(m_sampleMutex);
        // Windows that ended are let go now and then, not looked through on every call.
        if (m_windows.size() >= kMaxRoutesTracked && now - m_lastPrune >= m_sampleWindow) {
            std::erase_if(m_windows, [&](const auto &entry) { return now - entry.second.start >= m_sampleWindow; });
            m_lastPrune = now;
        }
        SampleWindow &window = m_windows[routeKey];
        if (window.taken == 0 || now - window.start >= m_sampleWindow) {
            window.start = now;
            window.taken = 0;
        }
        if (window.taken < kSamplesPerRoute) {
            ++window.taken;
            ++m_sampled;
            return true;
        }
        if (full.until.size() >= kMaxRoutesTracked)
            full.until.clear();
        full.until[routeKey] = window.start + m_sampleWindow;
        tell = !std::exchange(m_toldSampling, true);
    }
    if (tell)
        logLine("schema learning takes a sample of busy routes: at most " + std::to_string(kSamplesPerRoute)
                + " responses per route each second are learned from");
    return false;
}

void SchemaLearner::settle() const
{
    std::unique_lock lock(m_queueMutex);
    const std::uint64_t target = m_handedOver;
    m_settled.wait(lock, [&] { return m_finished >= target || m_stopping; });
}

void SchemaLearner::learnLoop()
{
    std::unique_lock lock(m_queueMutex);
    for (;;) {
        if (m_queue.empty()) {
            m_work.wait(lock, [&] { return m_stopping || !m_queue.empty(); });
            // Let a burst gather, so a busy proxy wakes this thread once per burst, not per answer.
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            lock.lock();
        }
        if (m_stopping)
            return;
        Pending pending = std::move(m_queue.front());
        m_queue.pop_front();
        m_queuedBytes -= pending.body.size();
        lock.unlock();
        if (const auto shape = shapeOfJsonText(pending.body, kMaxShapePaths)) {
            if (const auto drift = observe(pending.observation, *shape); drift && pending.onDrift)
                pending.onDrift(*drift);
        }
        pending = {};
        lock.lock();
        ++m_finished;
        m_settled.notify_all();
    }
}

void SchemaLearner::load()
{
    const auto text = readFileIfPresent(m_file);
    if (!text)
        return;
    std::string error;
    const auto parsed = parseDataFileJson(*text, error);
    // (updated time, project, key) of every baseline, to restore which were seen last.
    std::vector<std::tuple<std::string, std::string, std::string>> order;
    try {
        if (!parsed || !parsed->is_object())
            throw std::runtime_error(parsed ? "expected an object" : error);
        for (auto it = parsed->begin(); it != parsed->end(); ++it) {
            const auto snapshot = decodeJsonOrThrow<SchemaSnapshot>(it.value());
            ProjectSchema &project = m_projects[it.key()];
            for (const auto &baseline : snapshot.baselines) {
                project.baselines[baseline.key] = baseline;
                order.emplace_back(baseline.updated.value_or(""), it.key(), baseline.key);
            }
            project.drifts.assign(snapshot.drifts.begin(), snapshot.drifts.end());
            while (project.drifts.size() > kMaxDriftsPerProject)
                project.drifts.pop_back();
        }
    } catch (const std::exception &e) {
        m_projects.clear();
        const auto aside = keepAside(m_file);
        logError("schema file " + m_file.string() + " could not be read (" + e.what() + "); learning afresh"
                 + (aside ? " (kept as " + aside->string() + ")" : std::string()));
        return;
    }
    std::sort(order.begin(), order.end());
    for (const auto &[updated, projectId, key] : order)
        m_projects[projectId].lastSeen[key] = ++m_clock;
    const size_t before = baselineCountLocked();
    while (baselineCountLocked() > kMaxBaselines)
        dropOldestBaselineLocked();
    m_dirty = baselineCountLocked() != before;
    releaseFreedMemory();
}

size_t SchemaLearner::baselineCountLocked() const
{
    size_t count = 0;
    for (const auto &[id, project] : m_projects)
        count += project.baselines.size();
    return count;
}

void SchemaLearner::dropOldestBaselineLocked()
{
    ProjectSchema *oldestProject = nullptr;
    std::string oldestKey;
    std::uint64_t oldest = UINT64_MAX;
    for (auto &[id, project] : m_projects) {
        for (const auto &[key, baseline] : project.baselines) {
            const auto seen = project.lastSeen.find(key);
            const std::uint64_t when = seen == project.lastSeen.end() ? 0 : seen->second;
            if (when < oldest) {
                oldest = when;
                oldestProject = &project;
                oldestKey = key;
            }
        }
    }
    if (!oldestProject)
        return;
    oldestProject->baselines.erase(oldestKey);
    oldestProject->lastSeen.erase(oldestKey);
}

std::optional<WireDriftEvent> SchemaLearner::observe(const Observation &observation, const json &body)
{
    return observe(observation, flattenShape(body));
}

std::optional<WireDriftEvent> SchemaLearner::observe(const Observation &observation, const FlatShape &shape)
{
    if (shape.size() > kMaxShapePaths)
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    ProjectSchema &project = m_projects[observation.projectId];
    auto found = project.baselines.find(observation.key);
    if (found == project.baselines.end()) {
        if (baselineCountLocked() >= kMaxBaselines)
            dropOldestBaselineLocked();
        SchemaBaseline fresh;
        fresh.key = observation.key;
        fresh.method = observation.method;
        fresh.host = observation.host;
        fresh.path = observation.path;
        found = project.baselines.emplace(observation.key, std::move(fresh)).first;
    }
    SchemaBaseline &baseline = found->second;
    project.lastSeen[observation.key] = ++m_clock;
    if (!baseline.locked) {
        SchemaSketch sketch = baseline.sketch.value_or(SchemaSketch {});
        addSample(sketch, shape);
        baseline.samples = sketch.samples;
        baseline.locked = sketch.samples >= kSamplesToLock;
        baseline.sketch = std::move(sketch);
        baseline.updated = observation.time;
        m_dirty = true;
        return std::nullopt;
    }

    auto changes = compareShape(baseline.sketch.value_or(SchemaSketch {}), shape);
    if (changes.empty())
        return std::nullopt;
    WireDriftEvent event {observation.key, observation.trafficId, 0, std::move(changes)};
    event.breaking = static_cast<int>(std::count_if(event.changes.begin(), event.changes.end(),
                                                    [](const auto &c) { return c.severity == "breaking"; }));
    if (event.changes.size() > kMaxChangesPerDrift)
        event.changes.resize(kMaxChangesPerDrift);
    project.drifts.push_front(SchemaDriftRecord::fromEvent(event, observation.time));
    while (project.drifts.size() > kMaxDriftsPerProject)
        project.drifts.pop_back();
    m_dirty = true;
    return event;
}

SchemaSnapshot SchemaLearner::snapshot(const std::string &projectId) const
{
    // What was answered before the question is part of the answer.
    settle();
    std::lock_guard lock(m_mutex);
    SchemaSnapshot snapshot;
    const auto it = m_projects.find(projectId);
    if (it == m_projects.end())
        return snapshot;
    for (const auto &[key, baseline] : it->second.baselines)
        snapshot.baselines.push_back(baseline);
    snapshot.drifts.assign(it->second.drifts.begin(), it->second.drifts.end());
    return snapshot;
}

void SchemaLearner::relearn(const std::string &projectId, const std::string &key)
{
    settle();
    std::lock_guard lock(m_mutex);
    ProjectSchema &project = m_projects[projectId];
    for (auto &[baselineKey, baseline] : project.baselines) {
        if (!key.empty() && baselineKey != key)
            continue;
        baseline.locked = false;
        baseline.samples = 0;
        baseline.sketch.reset();
        baseline.updated.reset();
    }
    m_dirty = true;
}

void SchemaLearner::clear(const std::string &projectId)
{
    settle();
    std::lock_guard lock(m_mutex);
    m_projects.erase(projectId);
    m_dirty = true;
}

void SchemaLearner::forgetProject(const std::string &projectId)
{
    clear(projectId);
}

std::error_code SchemaLearner::saveIfDirty()
{
    std::lock_guard saving(m_saveMutex);
    // Each project's text is made under the lock; the slow write to the disk happens outside it.
    std::vector<std::string> parts;
    {
        std::lock_guard lock(m_mutex);
        if (!m_dirty)
            return {};
        m_dirty = false;
        for (const auto &[projectId, project] : m_projects) {
            SchemaSnapshot snapshot;
            for (const auto &[key, baseline] : project.baselines)
                snapshot.baselines.push_back(baseline);
            snapshot.drifts.assign(project.drifts.begin(), project.drifts.end());
            ordered_json entry = ordered_json::object();
            entry[projectId] = std::move(snapshot);
            std::string text = entry.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
            parts.push_back(text.substr(1, text.size() - 2)); // "id":{...} without the braces
        }
    }
    size_t written = 0;
    const auto failed = saveFileStreaming(m_file, [&](FileSink &out) {
        out.write("{");
        for (size_t i = 0; i < parts.size(); ++i) {
            if (i)
                out.write(",");
            out.write(parts[i]);
        }
        out.write("}");
        written = out.written();
    });
    parts = {};
    if (failed) {
        logError("could not save " + m_file.string() + ": " + failed.message());
        std::lock_guard lock(m_mutex);
        m_dirty = true;
    }
    if (written > 1024 * 1024)
        releaseFreedMemory();
    return failed;
}

} // namespace standin
