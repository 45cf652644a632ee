// Project state of the stand-in engine and its file under the data directory.
#include "store/state_store.h"

#include "core/bounded_input.h"
#include "core/data_file.h"
#include "core/engine_support.h"
#include "engine/records/record_ids.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <string_view>
#include <unordered_map>

namespace standin {

using nlohmann::json;
using nlohmann::ordered_json;

namespace {

constexpr const char *kDefaultProjectId = "default";

std::string routeSignature(const WireRoute &route)
{
    return lowerAscii(route.method) + " " + lowerAscii(route.host) + route.path;
}

std::string dumped(const ordered_json &j)
{
    return j.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

// Counts what a save would write, without writing it.
struct ByteCount {
    size_t bytes = 0;
    void write(std::string_view text) { bytes += text.size(); }
};

// One project as its JSON object, written a route at a time so that no copy of the whole state is made.
template <class Sink>
void writeProject(Sink &out, const ProjectState &project)
{
    out.write("{\"id\":" + dumped(project.id) + ",\"name\":" + dumped(project.name)
              + ",\"updatedAt\":" + dumped(project.updatedAt) + ",\"routes\":[");
    for (size_t i = 0; i < project.routes.size(); ++i) {
        if (i)
            out.write(",");
        out.write(dumped(ordered_json(project.routes[i])));
    }
    out.write("],\"environments\":" + dumped(ordered_json(project.environments))
              + ",\"chaos\":" + dumped(ordered_json(project.chaos)) + "}");
}

size_t savedSizeOf(const ProjectState &project)
{
    ByteCount count;
    writeProject(count, project);
    return count.bytes;
}

constexpr std::string_view kOverBound = "the saved state would grow to ";

std::string megabytes(size_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

// Everything of a project but its routes, which the caller gives anew.
ProjectState withRoutes(const ProjectState &project, std::vector<WireRoute> routes)
{
    ProjectState copy;
    copy.id = project.id;
    copy.name = project.name;
    copy.updatedAt = project.updatedAt;
    copy.routes = std::move(routes);
    copy.environments = project.environments;
    copy.chaos = project.chaos;
    return copy;
}

ProjectState projectFromJson(const json &j)
{
    const records::ObjectReader reader(j);
    ProjectState project;
    reader.required("id", project.id);
    reader.required("name", project.name);
    reader.required("updatedAt", project.updatedAt);
    reader.required("routes", project.routes);
    reader.required("environments", project.environments);
    reader.required("chaos", project.chaos);
    return project;
}

} // namespace

RouteSnapshot::RouteSnapshot()
    : m_routes(std::make_shared<const std::vector<WireRoute>>())
{
}

RouteSnapshot::RouteSnapshot(std::shared_ptr<const std::vector<WireRoute>> routes)
    : m_routes(std::move(routes))
{
}

std::vector<ChaosPreset> builtInChaosPresets()
{
    ChaosFault slow {"latency", 1.0, std::nullopt, std::nullopt, 200, 800};
    ChaosFault unavailable {"status", 0.25, 503, R"({"error":"Service Unavailable"})", std::nullopt, std::nullopt};
    ChaosFault drop {"drop", 0.1, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
    ChaosFault jitter {"latency", 0.5, std::nullopt, std::nullopt, 100, 1500};
    ChaosFault serverError {"status", 0.1, 500, R"({"error":"Internal Server Error"})", std::nullopt, std::nullopt};
    ChaosFault rareDrop {"drop", 0.05, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
    return {
        {"slow-network", "Slow network", {slow}},
        {"flaky-backend", "Flaky backend", {unavailable}},
        {"dropped-connections", "Dropped connections", {drop}},
        {"everything", "Everything at once", {jitter, serverError, rareDrop}},
    };
}

size_t StateStore::configuredMaxSavedBytes()
{
    return testSwitches().stateBytes.value_or(kMaxSavedBytes);
}

StateStore::StateStore(std::filesystem::path file, size_t maxSavedBytes)
    : m_file(std::move(file))
    , m_maxSavedBytes(maxSavedBytes)
{
    load();
    if (m_projects.empty())
        m_projects.push_back(freshProject(kDefaultProjectId, "Default"));
    if (!findLocked(m_activeId))
        m_activeId = m_projects.front().id;
}

bool StateStore::isOverBound(const std::string &error)
{
    return error.rfind(kOverBound, 0) == 0;
}

bool StateStore::fitsLocked(const ProjectState &candidate, size_t &measured, std::string &error) const
{
    measured = savedSizeOf(candidate);
    return withinBoundLocked(candidate.id, measured, error);
}

void StateStore::measureLocked() const
{
    for (const auto &project : m_projects) {
        if (!m_savedBytes.contains(project.id))
            m_savedBytes[project.id] = savedSizeOf(project);
    }
}

bool StateStore::withinBoundLocked(const std::string &projectId, size_t projectBytes, std::string &error) const
{
    measureLocked();
    // The file's frame and the active id, with room for the longest id a change could make active.
    constexpr size_t kFrame = 1024;
    size_t total = kFrame + projectBytes;
    for (const auto &[id, bytes] : m_savedBytes) {
        if (id != projectId)
            total += bytes + 1;
    }
    if (total <= m_maxSavedBytes)
        return true;
    error = std::string(kOverBound) + megabytes(total) + ", past the " + megabytes(m_maxSavedBytes)
            + " the engine keeps; nothing was changed. Delete projects or routes you no longer need, or make "
              "large bodies smaller";
    return false;
}

ProjectState &StateStore::placeLocked(ProjectState candidate, size_t measured)
{
    m_savedBytes[candidate.id] = measured;
    if (ProjectState *existing = findLocked(candidate.id)) {
        *existing = std::move(candidate);
        return *existing;
    }
    m_projects.push_back(std::move(candidate));
    return m_projects.back();
}

void StateStore::load()
{
    const auto text = readFileIfPresent(m_file);
    if (!text)
        return;
    std::string error;
    try {
        const auto parsed = parseDataFileJson(*text, error);
        if (!parsed)
            throw RecordError({}, error);
        const records::ObjectReader reader(*parsed);
        std::string activeId;
        reader.required("activeId", activeId);
        const auto &projects = parsed->at("projects");
        if (!projects.is_array())
            throw RecordError("projects", "expected an array");
        std::vector<ProjectState> loaded;
        for (const auto &project : projects)
            loaded.push_back(projectFromJson(project));
        m_projects = std::move(loaded);
        m_activeId = activeId;
    } catch (const std::exception &e) {
        // Keep the unreadable file for the user instead of overwriting it on the next save.
        const auto aside = keepAside(m_file);
        logError("state file " + m_file.string() + " could not be read (" + e.what() + "); "
                 + (aside ? "kept as " + aside->string() : std::string("it could not be moved aside")));
        m_projects.clear();
    }
    releaseFreedMemory();
}

void StateStore::changedLocked()
{
    m_changed = true;
    m_activeRoutes.reset(); // the next request takes a fresh snapshot
    m_activeVariables.reset();
}

std::optional<StateStore::SaveFailure> StateStore::save()
{
    std::lock_guard saving(m_saveMutex);
    {
        // A save that ran meanwhile already wrote this change (and finished: it held m_saveMutex).
        std::lock_guard lock(m_mutex);
        if (!m_changed)
            return std::nullopt;
    }
    SaveFailure failure;
    size_t written = 0;
    try {
        FileReplacement replacement(m_file);
        {
            std::lock_guard lock(m_mutex);
            m_changed = false;
            FileSink &out = replacement.sink();
            out.write("{\"version\":1,\"activeId\":" + dumped(m_activeId) + ",\"projects\":[");
            for (size_t i = 0; i < m_projects.size(); ++i) {
                if (i)
                    out.write(",");
                writeProject(out, m_projects[i]);
            }
            out.write("]}");
        }
        written = replacement.sink().written();
        failure.code = replacement.commit();
        failure.message = failure.code.message();
    } catch (const std::exception &e) {
        failure.code = std::make_error_code(std::errc::io_error);
        failure.message = e.what();
    }
    if (written > kTrimAfterBytes)
        releaseFreedMemory();
    if (!failure.code) {
        if (!m_lastFailure.empty())
            logLine("saved " + m_file.string() + " again");
        m_lastFailure.clear();
        return std::nullopt;
    }
    {
        std::lock_guard lock(m_mutex);
        m_changed = true; // still to be written
    }
    failure.message = "could not save " + m_file.string() + ": " + failure.message;
    if (failure.message != m_lastFailure)
        logError(failure.message + " (the change is in effect and saving is retried)");
    m_lastFailure = failure.message;
    return failure;
}

ProjectState *StateStore::findLocked(const std::string &id)
{
    const auto it = std::find_if(m_projects.begin(), m_projects.end(), [&](const auto &p) { return p.id == id; });
    return it == m_projects.end() ? nullptr : &*it;
}

const ProjectState *StateStore::activeLocked() const
{
    return const_cast<StateStore *>(this)->activeLocked();
}

ProjectState *StateStore::activeLocked()
{
    ProjectState *active = findLocked(m_activeId);
    return active ? active : &m_projects.front();
}

std::string StateStore::activeProjectId() const
{
    std::lock_guard lock(m_mutex);
    return activeLocked()->id;
}

ActiveProjectView StateStore::activeView() const
{
    std::lock_guard lock(m_mutex);
    const ProjectState &project = *activeLocked();
    ActiveProjectView view;
    view.projectId = project.id;
    if (!m_activeRoutes)
        m_activeRoutes = std::make_shared<const std::vector<WireRoute>>(project.routes);
    view.routes = RouteSnapshot(m_activeRoutes);
    if (!m_activeVariables) {
        m_activeVariables.emplace();
        for (const auto &environment : project.environments.environments) {
            if (environment.id == project.environments.activeId && environment.vars) {
                m_activeVariables.emplace(*environment.vars);
                break;
            }
        }
    }
    view.variables = *m_activeVariables;
    for (const auto &preset : project.chaos.presets) {
        if (!project.chaos.activeId.empty() && preset.id == project.chaos.activeId)
            view.chaos = preset;
    }
    return view;
}

int StateStore::routeCount() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(activeLocked()->routes.size());
}

std::vector<WireRoute> StateStore::routes() const
{
    std::lock_guard lock(m_mutex);
    return activeLocked()->routes;
}

std::optional<std::string> StateStore::setRoutes(std::vector<WireRoute> routes)
{
    SaveWhenDone saving {*this};
    std::lock_guard lock(m_mutex);
    const ProjectState &project = *activeLocked();
    ProjectState candidate = withRoutes(project, std::move(routes));
    touchLocked(candidate);
    size_t measured = 0;
    std::string error;
    if (!fitsLocked(candidate, measured, error))
        return error;
    std::map<std::string, const WireRoute *> before;
    for (const auto &route : project.routes)
        before.emplace(route.id, &route);
    for (const auto &route : candidate.routes) {
        const auto it = before.find(route.id);
        if (it == before.end() || !(*it->second == route))
            m_hits.erase(route.id);
    }
    placeLocked(std::move(candidate), measured);
    changedLocked();
    return std::nullopt;
}

std::optional<StateStore::Merged> StateStore::mergeRoutes(const std::vector<WireRoute> &imported,
                                                          std::string &error)
{
    SaveWhenDone saving {*this};
    std::lock_guard lock(m_mutex);
    ProjectState candidate = *activeLocked();
    std::unordered_map<std::string, size_t> bySignature;
    for (size_t i = 0; i < candidate.routes.size(); ++i)
        bySignature.emplace(routeSignature(candidate.routes[i]), i);
    Merged merged;
    std::vector<std::string> replacedIds;
    for (const auto &route : imported) {
        const auto [same, added] = bySignature.emplace(routeSignature(route), candidate.routes.size());
        if (!added) {
            WireRoute &existing = candidate.routes[same->second];
            WireRoute replacement = route;
            replacement.id = existing.id; // keeps a selected route selected in the app
            replacedIds.push_back(existing.id);
            existing = std::move(replacement);
        } else if (candidate.routes.size() < kMaxRoutes) {
            candidate.routes.push_back(route);
        } else {
            bySignature.erase(same);
            ++merged.leftOut;
            continue;
        }
        ++merged.imported;
    }
    touchLocked(candidate);
    size_t measured = 0;
    if (!fitsLocked(candidate, measured, error))
        return std::nullopt;
    for (const auto &id : replacedIds)
        m_hits.erase(id);
    const ProjectState &placed = placeLocked(std::move(candidate), measured);
    changedLocked();
    merged.routes = placed.routes;
    return merged;
}

EnvironmentSet StateStore::environments() const
{
    std::lock_guard lock(m_mutex);
    return activeLocked()->environments;
}

std::optional<std::string> StateStore::setEnvironments(EnvironmentSet environments)
{
    SaveWhenDone saving {*this};
    std::lock_guard lock(m_mutex);
    ProjectState &project = *activeLocked();
    // Only the environments change size (the new time is as long as the old), so only they are measured.
    measureLocked();
    const size_t measured = m_savedBytes[project.id] - dumped(ordered_json(project.environments)).size()
                            + dumped(ordered_json(environments)).size();
    std::string error;
    if (!withinBoundLocked(project.id, measured, error))
        return error;
    project.environments = std::move(environments);
    touchLocked(project);
    m_savedBytes[project.id] = measured;
    changedLocked();
    return std::nullopt;
}

ChaosState StateStore::chaos() const
{
    std::lock_guard lock(m_mutex);
    return activeLocked()->chaos;
}

bool StateStore::setActiveChaos(const std::string &id)
{
    SaveWhenDone saving {*this};
    std::lock_guard lock(m_mutex);
    ProjectState &project = *activeLocked();
    if (!id.empty()
        && std::none_of(project.chaos.presets.begin(), project.chaos.presets.end(),
                        [&](const auto &preset) { return preset.id == id; }))
        return false;
    project.chaos.activeId = id;
    m_savedBytes[project.id] = savedSizeOf(project); // one preset's id more or less: never past the bound
    changedLocked();
    return true;
}

ProjectState StateStore::activeProject() const
{
    std::lock_guard lock(m_mutex);
    return *activeLocked();
}

std::optional<std::string> StateStore::replaceFromProfile(std::vector<WireRoute> routes,
                                                          std::optional<ChaosState> chaos)
{
    SaveWhenDone saving {*this};
    std::lock_guard lock(m_mutex);
    ProjectState project = withRoutes(*activeLocked(), std::move(routes));
    if (chaos) {
        // An active id that names none of the presets would be a chaos state nobody can switch off.
        const bool known = std::any_of(chaos->presets.begin(), chaos->presets.end(),
                                       [&](const auto &preset) { return preset.id == chaos->activeId; });
        if (!known)
            chaos->activeId.clear();
        project.chaos = std::move(*chaos);
    }
    touchLocked(project);
    size_t measured = 0;
    std::string error;
    if (!fitsLocked(project, measured, error))
        return error;
    placeLocked(std::move(project), measured);
    m_hits.clear();
    changedLocked();
    return std::nullopt;
}

size_t StateStore::nextHit(const std::string &routeId)
{
    std::lock_guard lock(m_mutex);
    return m_hits[routeId]++;
}

} // namespace standin
