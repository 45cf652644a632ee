// Projects with their routes, environments and chaos presets, kept in memory and saved under the data dir.
#pragma once

#include "engine/records/engine_records.h"
#include "engine/records/route_records.h"
#include "route_matching.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace standin {

// Everything one project owns.
struct ProjectState {
    std::string id;
    std::string name;
    std::string updatedAt;
    std::vector<WireRoute> routes;
    EnvironmentSet environments;
    ChaosState chaos;
};

// The chaos presets every new project starts with.
std::vector<ChaosPreset> builtInChaosPresets();

// The active project's routes as one request sees them: shared, not copied for every request.
class RouteSnapshot final {
public:
    RouteSnapshot();
    explicit RouteSnapshot(std::shared_ptr<const std::vector<WireRoute>> routes);

    operator const std::vector<WireRoute> &() const { return *m_routes; }
    const WireRoute &operator[](size_t index) const { return (*m_routes)[index]; }
    size_t size() const { return m_routes->size(); }
    bool empty() const { return m_routes->empty(); }
    auto begin() const { return m_routes->begin(); }
    auto end() const { return m_routes->end(); }

private:
    std::shared_ptr<const std::vector<WireRoute>> m_routes;
};

// What the proxy needs of the active project to answer one request.
struct ActiveProjectView {
    std::string projectId;
    RouteSnapshot routes;
    VariableSnapshot variables; // of the active environment, shared
    std::optional<ChaosPreset> chaos; // the active preset
};

class StateStore final {
public:
    static constexpr size_t kMaxRoutes = 5000;
    static constexpr size_t kMaxNameLength = 120;
    // Saves larger than this give the memory they took back to the system.
    static constexpr size_t kTrimAfterBytes = 1024 * 1024;

    // Loads the file when there is one; otherwise starts with one empty project.
    explicit StateStore(std::filesystem::path file);

    ProjectList projectList() const;
    std::string activeProjectId() const;
    ActiveProjectView activeView() const;
    int routeCount() const;

    std::vector<WireRoute> routes() const;
    void setRoutes(std::vector<WireRoute> routes);
    // Adds imported routes; one with the method, host and path of an existing route replaces it. Nothing
    // changes (and `error` says why) when the project would pass kMaxRoutes, a list the app could no
    // longer push back.
    std::optional<std::vector<WireRoute>> mergeRoutes(const std::vector<WireRoute> &imported, std::string &error);

    // Project operations; texts in `error` are shown to the user.
    std::optional<Project> createProject(const std::string &name, std::string &error);
    bool activateProject(const std::string &id);
    bool renameProject(const std::string &id, const std::string &name, std::string &error);
    std::optional<Project> duplicateProject(const std::string &id);
    enum class DeleteOutcome { Deleted, NotFound, LastProject };
    DeleteOutcome deleteProject(const std::string &id);
    // A new active project holding `routes` (the OpenAPI import); the name is made unique.
    Project addImportedProject(const std::string &name, std::vector<WireRoute> routes);

    EnvironmentSet environments() const;
    void setEnvironments(EnvironmentSet environments);

    ChaosState chaos() const;
    // "" switches chaos off; an unknown id changes nothing and returns false.
    bool setActiveChaos(const std::string &id);

    // The active project's routes and chaos presets as a profile carries them.
    ProjectState activeProject() const;
    void replaceFromProfile(std::vector<WireRoute> routes, std::optional<ChaosState> chaos);

    // Which answer of its sequence a route gives next; counts start over when the route changes.
    size_t nextHit(const std::string &routeId);

    // Why the state as it stands could not be written to its file.
    struct SaveFailure {
        std::error_code code;
        std::string message; // names the file and the reason
    };
    // Writes the state when it changed since its last successful save; nothing when the file now holds
    // every change. A failed save leaves the change marked, for the next call to try again.
    std::optional<SaveFailure> save();

private:
    ProjectState *findLocked(const std::string &id);
    const ProjectState *activeLocked() const;
    ProjectState *activeLocked();
    Project summaryOf(const ProjectState &project) const;
    ProjectList listLocked() const;
    std::string uniqueNameLocked(const std::string &wanted) const;
    void touchLocked(ProjectState &project);
    void load();
    // Marks the state changed (under the lock); the change is saved once the lock is let go.
    void changedLocked();
    // Declared before a mutator's lock, so it saves after that lock is released: requests are not held
    // up while the file is synced to the disk. A failure is reported by the next save().
    struct SaveWhenDone {
        StateStore &store;
        ~SaveWhenDone() { store.save(); }
    };

    std::filesystem::path m_file;
    mutable std::mutex m_mutex;
    std::mutex m_saveMutex; // one writer of the file at a time, taken before m_mutex
    bool m_changed = false;
    std::string m_lastFailure; // logged once, not at every retry; guarded by m_saveMutex
    std::vector<ProjectState> m_projects;
    std::string m_activeId;
    std::map<std::string, size_t> m_hits;
    // The active project's routes as last handed out; dropped whenever they or the active project change.
    mutable std::shared_ptr<const std::vector<WireRoute>> m_activeRoutes;
    // The active environment's variables as last handed out; dropped with the routes.
    mutable std::optional<VariableSnapshot> m_activeVariables;
};

} // namespace standin
