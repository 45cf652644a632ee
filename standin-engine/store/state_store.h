// store/: projects and traffic history, kept in memory and in the data folder.
// Projects with their routes, environments and chaos presets, kept in memory and saved under the data dir.
#pragma once

#include "core/test_switches.h"
#include "engine/records/engine_records.h"
#include "engine/records/route_records.h"
#include "mocks/route_matching.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
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
    // The most the state file may hold. A change that would pass it is refused and changes nothing, so
    // the state stays one the engine can save whole and read back.
    static constexpr size_t kMaxSavedBytes = 64 * 1024 * 1024;
    // Whether a refusal (an `error` text, or a returned one) is one for passing kMaxSavedBytes.
    static bool isOverBound(const std::string &error);

    // Overrides kMaxSavedBytes, in bytes; for tests that fill the state with a few writes.
    static constexpr const char *kTestMaxSavedBytesVariable = test_switches::kStateBytes;
    // kMaxSavedBytes, or the test override when one is set.
    static size_t configuredMaxSavedBytes();

    // Loads the file when there is one; otherwise starts with one empty project.
    explicit StateStore(std::filesystem::path file, size_t maxSavedBytes = kMaxSavedBytes);

    ProjectList projectList() const;
    std::string activeProjectId() const;
    ActiveProjectView activeView() const;
    int routeCount() const;

    std::vector<WireRoute> routes() const;
    // The same, shared with the version that holds them rather than copied.
    RouteSnapshot routeSnapshot() const;
    // Writes that can grow the state return why they were refused (see kMaxSavedBytes); nothing then changed.
    std::optional<std::string> setRoutes(std::vector<WireRoute> routes);
    // Adds imported routes in their order; one with the method, host and path of an existing route
    // replaces it, and new ones are added while the project holds fewer than kMaxRoutes (a longer list
    // the app could no longer push back). The rest are left out and counted. Nothing changes (and `error`
    // says why) when the state would pass its bound.
    // `imported` is taken (its routes move into the project), whatever the outcome.
    struct Merged {
        std::shared_ptr<const std::vector<WireRoute>> routes; // the project's whole list, shared with it
        size_t imported = 0;                                   // routes added or replaced
        size_t leftOut = 0;
    };
    std::optional<Merged> mergeRoutes(std::vector<WireRoute> &&imported, std::string &error);

    // Project operations; texts in `error` are shown to the user.
    std::optional<Project> createProject(const std::string &name, std::string &error);
    bool activateProject(const std::string &id);
    bool renameProject(const std::string &id, const std::string &name, std::string &error);
    // Nothing when there is no such project, or (with `error` set) when the copy would not fit.
    std::optional<Project> duplicateProject(const std::string &id, std::string *error = nullptr);
    enum class DeleteOutcome { Deleted, NotFound, LastProject };
    DeleteOutcome deleteProject(const std::string &id);
    // A new active project holding `routes` (the OpenAPI import); the name is made unique.
    std::optional<Project> addImportedProject(const std::string &name, std::vector<WireRoute> routes,
                                              std::string &error);

    EnvironmentSet environments() const;
    std::optional<std::string> setEnvironments(EnvironmentSet environments);

    ChaosState chaos() const;
    // "" switches chaos off; an unknown id changes nothing and returns false.
    bool setActiveChaos(const std::string &id);

    // The active project's routes and chaos presets as a profile carries them.
    ProjectState activeProject() const;
    std::optional<std::string> replaceFromProfile(std::vector<WireRoute> routes, std::optional<ChaosState> chaos);

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
    // A project as the store holds it: published whole and never changed afterwards, so a save or a
    // request reads it without the lock. Versions that did not change the routes share them.
    struct StoredProject {
        std::string id;
        std::string name;
        std::string updatedAt;
        std::shared_ptr<const std::vector<WireRoute>> routes;
        EnvironmentSet environments;
        ChaosState chaos;
    };
    using Stored = std::shared_ptr<const StoredProject>;
    using Projects = std::vector<Stored>;

    // A change of the state is made under m_writeMutex, one at a time: its copying and measuring hold
    // nobody else up. Only m_writeMutex's holder replaces m_projects and m_activeId, so it reads them
    // without m_mutex; every other reader takes m_mutex, and only for the moment of a pointer's copy.
    Stored find(const std::string &id) const;
    Stored active() const;
    // The state as one reader takes it: the projects and the active one's id, copied under m_mutex.
    std::pair<Projects, std::string> taken() const;
    Stored takenActive() const;
    static Project summaryOf(const StoredProject &project);
    static ProjectList listOf(const Projects &projects, const std::string &activeId);
    std::string uniqueName(const std::string &wanted) const;
    static void touch(StoredProject &project);
    // A new project under that id and name, with the built-in chaos presets.
    static StoredProject freshProject(std::string id, std::string name);
    // A copy of `project` with other routes (the rest shared or copied as it is).
    static StoredProject withRoutes(const StoredProject &project, std::vector<WireRoute> routes);
    // Whether the state would stay within kMaxSavedBytes with `candidate` in place of the project of its
    // id (or added, when there is none); its saved size goes to `measured`, the reason to `error`.
    bool fits(const StoredProject &candidate, size_t &measured, std::string &error) const;
    void measure() const;
    bool withinBound(const std::string &projectId, size_t projectBytes, std::string &error) const;
    // Puts a project that fits in place of the project of its id (or adds it) and makes `activeId` the
    // active one; readers see the change whole from then on, and the next save writes it.
    void place(StoredProject candidate, size_t measured, std::string activeId);
    // Makes `projects` and `activeId` the state readers see, and marks it changed.
    void install(Projects projects, std::string activeId);
    void forgetHits(const std::vector<std::string> &routeIds, bool all);
    void load();
    // Declared before a change's lock, so it saves after that lock is released: requests are not held
    // up while the file is synced to the disk. A failure is reported by the next save().
    struct SaveWhenDone {
        StateStore &store;
        ~SaveWhenDone() { store.save(); }
    };

    std::filesystem::path m_file;
    const size_t m_maxSavedBytes;
    std::mutex m_writeMutex; // one change at a time, taken before m_mutex
    std::mutex m_saveMutex;  // one writer of the file at a time, taken before m_mutex
    mutable std::mutex m_mutex;
    bool m_changed = false;
    std::string m_lastFailure; // logged once, not at every retry; guarded by m_saveMutex
    Projects m_projects;
    std::string m_activeId; // always names one of m_projects
    // What a request needs of the active project, built once per change of it.
    std::shared_ptr<const ActiveProjectView> m_view;
    Stored m_viewOf; // the project m_view was built from
    // Each project's size in the file, by id; measured at the first change, so a start stays one parse.
    // Guarded by m_writeMutex.
    mutable std::map<std::string, size_t> m_savedBytes;
    std::mutex m_hitsMutex;
    std::map<std::string, size_t> m_hits;
};

} // namespace standin
