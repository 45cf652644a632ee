// Project state of the stand-in engine and its file under the data directory.
#include "store/state_store.h"

#include "store/route_text.h"

#include "core/bounded_input.h"
#include "core/data_file.h"
#include "core/engine_support.h"
#include "engine/records/record_ids.h"

#include <algorithm>
#include <cstdio>
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

// One project as its JSON object, written a route at a time so that no copy of the whole state is made.
template <class Sink, class Project>
void writeProject(Sink &out, const Project &project)
{
    out.write("{\"id\":" + dumped(project.id) + ",\"name\":" + dumped(project.name)
              + ",\"updatedAt\":" + dumped(project.updatedAt) + ",\"routes\":[");
    const std::vector<WireRoute> &routes = *project.routes;
    for (size_t i = 0; i < routes.size(); ++i) {
        if (i)
            out.write(",");
        writeRouteText(out, routes[i]);
    }
    out.write("],\"environments\":" + dumped(ordered_json(project.environments))
              + ",\"chaos\":" + dumped(ordered_json(project.chaos)) + "}");
}

template <class Project>
size_t savedSizeOf(const Project &project)
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

// What a request needs of the project: its routes shared, the active environment's variables and
// the active chaos preset.
std::shared_ptr<const ActiveProjectView> viewOf(const std::string &id,
                                                const std::shared_ptr<const std::vector<WireRoute>> &routes,
                                                const EnvironmentSet &environments, const ChaosState &chaos)
{
    auto view = std::make_shared<ActiveProjectView>();
    view->projectId = id;
    view->routes = RouteSnapshot(routes);
    for (const auto &environment : environments.environments) {
        if (environment.id == environments.activeId && environment.vars) {
            view->variables = VariableSnapshot(*environment.vars);
            break;
        }
    }
    for (const auto &preset : chaos.presets) {
        if (!chaos.activeId.empty() && preset.id == chaos.activeId)
            view->chaos = preset;
    }
    return view;
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
        m_projects.push_back(std::make_shared<const StoredProject>(freshProject(kDefaultProjectId, "Default")));
    std::string activeId = find(m_activeId) ? m_activeId : m_projects.front()->id;
    install(std::move(m_projects), std::move(activeId));
    m_changed = false;
}

bool StateStore::isOverBound(const std::string &error)
{
    return error.rfind(kOverBound, 0) == 0;
}

StateStore::StoredProject StateStore::withRoutes(const StoredProject &project, std::vector<WireRoute> routes)
{
    StoredProject copy = project;
    copy.routes = std::make_shared<const std::vector<WireRoute>>(std::move(routes));
    return copy;
}

bool StateStore::fits(const StoredProject &candidate, size_t &measured, std::string &error) const
{
    measured = savedSizeOf(candidate);
    return withinBound(candidate.id, measured, error);
}

void StateStore::measure() const
{
    for (const auto &project : m_projects) {
        if (!m_savedBytes.contains(project->id))
            m_savedBytes[project->id] = savedSizeOf(*project);
    }
}

bool StateStore::withinBound(const std::string &projectId, size_t projectBytes, std::string &error) const
{
    measure();
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

void StateStore::place(StoredProject candidate, size_t measured, std::string activeId)
{
    m_savedBytes[candidate.id] = measured;
    Projects projects = m_projects;
    auto placed = std::make_shared<const StoredProject>(std::move(candidate));
    const auto same = std::find_if(projects.begin(), projects.end(), [&](const auto &p) { return p->id == placed->id; });
    if (same != projects.end())
        *same = std::move(placed);
    else
        projects.push_back(std::move(placed));
    install(std::move(projects), std::move(activeId));
}

void StateStore::install(Projects projects, std::string activeId)
{
    const auto active = std::find_if(projects.begin(), projects.end(), [&](const auto &p) { return p->id == activeId; });
    Stored activeProject = active != projects.end() ? *active : projects.front();
    std::shared_ptr<const ActiveProjectView> view = m_view;
    if (activeProject != m_viewOf)
        view = viewOf(activeProject->id, activeProject->routes, activeProject->environments, activeProject->chaos);
    {
        std::lock_guard lock(m_mutex);
        std::swap(m_projects, projects);
        m_activeId = activeProject->id;
        m_view = std::move(view);
        m_viewOf = std::move(activeProject);
        m_changed = true;
    }
    // The versions replaced go here, outside the lock, unless a save or a request still holds them.
}

void StateStore::forgetHits(const std::vector<std::string> &routeIds, bool all)
{
    std::lock_guard lock(m_hitsMutex);
    if (all)
        m_hits.clear();
    for (const auto &id : routeIds)
        m_hits.erase(id);
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
        Projects loaded;
        for (const auto &json : projects) {
            ProjectState project = projectFromJson(json);
            loaded.push_back(std::make_shared<const StoredProject>(StoredProject {
                std::move(project.id), std::move(project.name), std::move(project.updatedAt),
                std::make_shared<const std::vector<WireRoute>>(std::move(project.routes)),
                std::move(project.environments), std::move(project.chaos)}));
        }
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

std::optional<StateStore::SaveFailure> StateStore::save()
{
    std::lock_guard saving(m_saveMutex);
    Projects projects;
    std::string activeId;
    {
        // A save that ran meanwhile already wrote this change (and finished: it held m_saveMutex).
        std::lock_guard lock(m_mutex);
        if (!m_changed)
            return std::nullopt;
        m_changed = false;
        projects = m_projects;
        activeId = m_activeId;
    }
    // Written from the versions taken: no change waits for the file, nor any request.
    SaveFailure failure;
    size_t written = 0;
    try {
        FileReplacement replacement(m_file);
        FileSink &out = replacement.sink();
        out.write("{\"version\":1,\"activeId\":" + dumped(activeId) + ",\"projects\":[");
        for (size_t i = 0; i < projects.size(); ++i) {
            if (i)
                out.write(",");
            writeProject(out, *projects[i]);
        }
        out.write("]}");
        written = out.written();
        failure.code = replacement.commit();
        failure.message = failure.code.message();
    } catch (const std::exception &e) {
        failure.code = std::make_error_code(std::errc::io_error);
        failure.message = e.what();
    }
    projects.clear();
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

StateStore::Stored StateStore::find(const std::string &id) const
{
    const auto it = std::find_if(m_projects.begin(), m_projects.end(), [&](const auto &p) { return p->id == id; });
    return it == m_projects.end() ? nullptr : *it;
}

StateStore::Stored StateStore::active() const
{
    return m_viewOf;
}

std::pair<StateStore::Projects, std::string> StateStore::taken() const
{
    std::lock_guard lock(m_mutex);
    return {m_projects, m_activeId};
}

StateStore::Stored StateStore::takenActive() const
{
    std::lock_guard lock(m_mutex);
    return m_viewOf;
}

std::string StateStore::activeProjectId() const
{
    std::lock_guard lock(m_mutex);
    return m_activeId;
}

ActiveProjectView StateStore::activeView() const
{
    std::shared_ptr<const ActiveProjectView> view;
    {
        std::lock_guard lock(m_mutex);
        view = m_view;
    }
    return *view;
}

int StateStore::routeCount() const
{
    return static_cast<int>(takenActive()->routes->size());
}

std::vector<WireRoute> StateStore::routes() const
{
    return *takenActive()->routes;
}

RouteSnapshot StateStore::routeSnapshot() const
{
    return RouteSnapshot(takenActive()->routes);
}

std::optional<std::string> StateStore::setRoutes(std::vector<WireRoute> routes)
{
    SaveWhenDone saving {*this};
    std::lock_guard writing(m_writeMutex);
    const Stored project = active();
    StoredProject candidate = withRoutes(*project, std::move(routes));
    touch(candidate);
    size_t measured = 0;
    std::string error;
    if (!fits(candidate, measured, error))
        return error;
    std::map<std::string, const WireRoute *> before;
    for (const auto &route : *project->routes)
        before.emplace(route.id, &route);
    std::vector<std::string> changed;
    for (const auto &route : *candidate.routes) {
        const auto it = before.find(route.id);
        if (it == before.end() || !(*it->second == route))
            changed.push_back(route.id);
    }
    place(std::move(candidate), measured, project->id);
    forgetHits(changed, false);
    return std::nullopt;
}

std::optional<StateStore::Merged> StateStore::mergeRoutes(std::vector<WireRoute> &&imported, std::string &error)
{
    SaveWhenDone saving {*this};
    std::lock_guard writing(m_writeMutex);
    const Stored project = active();
    const std::vector<WireRoute> &before = *project->routes;
    // Where each imported route goes: in place of an existing route (index < before.size()) or as a new
    // one. A file may name one route twice; the last one comes in, once, under the id of the first.
    std::unordered_map<std::string, size_t> bySignature;
    for (size_t i = 0; i < before.size(); ++i)
        bySignature.emplace(routeSignature(before[i]), i);
    constexpr size_t kNone = static_cast<size_t>(-1);
    std::vector<size_t> replacing(before.size(), kNone); // by existing route, the imported one taking its place
    std::vector<std::pair<size_t, size_t>> added;        // the first and the last imported route of each new one
    Merged merged;
    for (size_t k = 0; k < imported.size(); ++k) {
        const size_t slot = before.size() + added.size();
        const auto [same, isNew] = bySignature.emplace(routeSignature(imported[k]), slot);
        if (!isNew) {
            if (same->second < before.size())
                replacing[same->second] = k;
            else
                added[same->second - before.size()].second = k;
        } else if (slot < kMaxRoutes) {
            added.emplace_back(k, k);
        } else {
            bySignature.erase(same);
            ++merged.leftOut;
        }
    }
    // Only the routes that stay are copied; the imported ones move in.
    std::vector<WireRoute> routes;
    routes.reserve(before.size() + added.size());
    std::vector<std::string> replacedIds;
    for (size_t i = 0; i < before.size(); ++i) {
        if (replacing[i] == kNone) {
            routes.push_back(before[i]);
            continue;
        }
        routes.push_back(std::move(imported[replacing[i]]));
        routes.back().id = before[i].id; // keeps a selected route selected in the app
        replacedIds.push_back(before[i].id);
        ++merged.imported;
    }
    for (const auto &[first, last] : added) {
        std::string id = imported[first].id;
        routes.push_back(std::move(imported[last]));
        routes.back().id = std::move(id);
        ++merged.imported;
    }
    imported.clear();
    StoredProject candidate = withRoutes(*project, std::move(routes));
    touch(candidate);
    size_t measured = 0;
    if (!fits(candidate, measured, error))
        return std::nullopt;
    merged.routes = candidate.routes;
    place(std::move(candidate), measured, project->id);
    forgetHits(replacedIds, false);
    return merged;
}

EnvironmentSet StateStore::environments() const
{
    return takenActive()->environments;
}

std::optional<std::string> StateStore::setEnvironments(EnvironmentSet environments)
{
    SaveWhenDone saving {*this};
    std::lock_guard writing(m_writeMutex);
    const Stored project = active();
    // Only the environments change size (the new time is as long as the old), so only they are measured.
    measure();
    const size_t measured = m_savedBytes[project->id] - dumped(ordered_json(project->environments)).size()
                            + dumped(ordered_json(environments)).size();
    std::string error;
    if (!withinBound(project->id, measured, error))
        return error;
    StoredProject candidate = *project;
    candidate.environments = std::move(environments);
    touch(candidate);
    place(std::move(candidate), measured, project->id);
    return std::nullopt;
}

ChaosState StateStore::chaos() const
{
    return takenActive()->chaos;
}

bool StateStore::setActiveChaos(const std::string &id)
{
    SaveWhenDone saving {*this};
    std::lock_guard writing(m_writeMutex);
    const Stored project = active();
    if (!id.empty()
        && std::none_of(project->chaos.presets.begin(), project->chaos.presets.end(),
                        [&](const auto &preset) { return preset.id == id; }))
        return false;
    StoredProject candidate = *project;
    candidate.chaos.activeId = id;
    const size_t measured = savedSizeOf(candidate); // one preset's id more or less: never past the bound
    place(std::move(candidate), measured, project->id);
    return true;
}

ProjectState StateStore::activeProject() const
{
    const Stored project = takenActive();
    return ProjectState {project->id, project->name, project->updatedAt, *project->routes, project->environments,
                         project->chaos};
}

std::optional<std::string> StateStore::replaceFromProfile(std::vector<WireRoute> routes,
                                                          std::optional<ChaosState> chaos)
{
    SaveWhenDone saving {*this};
    std::lock_guard writing(m_writeMutex);
    const Stored active = this->active();
    StoredProject project = withRoutes(*active, std::move(routes));
    if (chaos) {
        // An active id that names none of the presets would be a chaos state nobody can switch off.
        const bool known = std::any_of(chaos->presets.begin(), chaos->presets.end(),
                                       [&](const auto &preset) { return preset.id == chaos->activeId; });
        if (!known)
            chaos->activeId.clear();
        project.chaos = std::move(*chaos);
    }
    touch(project);
    size_t measured = 0;
    std::string error;
    if (!fits(project, measured, error))
        return error;
    place(std::move(project), measured, active->id);
    forgetHits({}, true);
    return std::nullopt;
}

size_t StateStore::nextHit(const std::string &routeId)
{
    std::lock_guard lock(m_hitsMutex);
    return m_hits[routeId]++;
}

} // namespace standin
