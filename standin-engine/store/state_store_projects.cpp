// The state store's projects: the list the app shows, and creating, switching, renaming, duplicating
// and deleting them.
#include "store/state_store.h"

#include "core/engine_support.h"

#include <algorithm>

namespace standin {

namespace {

std::string trimmed(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool validName(const std::string &name, std::string &error)
{
    if (name.empty()) {
        error = "project name must not be empty";
        return false;
    }
    if (name.size() > StateStore::kMaxNameLength) {
        error = "project name is too long (at most " + std::to_string(StateStore::kMaxNameLength) + " bytes)";
        return false;
    }
    // A NUL or line break would cut or break the name wherever it is shown or written.
    if (hasControlCharacter(name)) {
        error = "project name must not contain control characters or line breaks";
        return false;
    }
    return true;
}

} // namespace

ProjectState StateStore::freshProject(std::string id, std::string name)
{
    ProjectState project;
    project.id = std::move(id);
    project.name = std::move(name);
    project.updatedAt = nowIso();
    project.chaos.presets = builtInChaosPresets();
    return project;
}

Project StateStore::summaryOf(const ProjectState &project) const
{
    return Project {project.id, project.name, static_cast<int>(project.routes.size()), project.updatedAt};
}

ProjectList StateStore::listLocked() const
{
    ProjectList list;
    list.activeId = activeLocked()->id;
    for (const auto &project : m_projects)
        list.projects.push_back(summaryOf(project));
    return list;
}

std::string StateStore::uniqueNameLocked(const std::string &wanted) const
{
    const auto taken = [this](const std::string &name) {
        return std::any_of(m_projects.begin(), m_projects.end(), [&](const auto &p) { return p.name == name; });
    };
    if (!taken(wanted))
        return wanted;
    for (int n = 2;; ++n) {
        const std::string candidate = wanted + " " + std::to_string(n);
        if (!taken(candidate))
            return candidate;
    }
}

void StateStore::touchLocked(ProjectState &project)
{
    project.updatedAt = nowIso();
}

ProjectList StateStore::projectList() const
{
    std::lock_guard lock(m_mutex);
    return listLocked();
}

std::optional<Project> StateStore::createProject(const std::string &name, std::string &error)
{
    const std::string clean = trimmed(name);
    if (!validName(clean, error))
        return std::nullopt;
    SaveWhenDone saving {*this};
    std::lock_guard lock(m_mutex);
    ProjectState candidate = freshProject(makeShortId("p-"), clean);
    size_t measured = 0;
    if (!fitsLocked(candidate, measured, error))
        return std::nullopt;
    const ProjectState &placed = placeLocked(std::move(candidate), measured);
    changedLocked();
    return summaryOf(placed);
}

bool StateStore::activateProject(const std::string &id)
{
    SaveWhenDone saving {*this};
    std::lock_guard lock(m_mutex);
    if (!findLocked(id))
        return false;
    m_activeId = id;
    m_hits.clear();
    changedLocked();
    return true;
}

bool StateStore::renameProject(const std::string &id, const std::string &name, std::string &error)
{
    const std::string clean = trimmed(name);
    if (!validName(clean, error))
        return false;
    SaveWhenDone saving {*this};
    std::lock_guard lock(m_mutex);
    ProjectState *project = findLocked(id);
    if (!project) {
        error = "no project with id " + id;
        return false;
    }
    ProjectState candidate = *project;
    candidate.name = clean;
    touchLocked(candidate);
    size_t measured = 0;
    if (!fitsLocked(candidate, measured, error))
        return false;
    placeLocked(std::move(candidate), measured);
    changedLocked();
    return true;
}

std::optional<Project> StateStore::duplicateProject(const std::string &id, std::string *error)
{
    SaveWhenDone saving {*this};
    std::lock_guard lock(m_mutex);
    const ProjectState *source = findLocked(id);
    if (!source)
        return std::nullopt;
    ProjectState copy = *source;
    copy.id = makeShortId("p-");
    copy.name = uniqueNameLocked(source->name + " copy");
    copy.updatedAt = nowIso();
    size_t measured = 0;
    std::string refusal;
    if (!fitsLocked(copy, measured, refusal)) {
        if (error)
            *error = refusal;
        return std::nullopt;
    }
    const ProjectState &placed = placeLocked(std::move(copy), measured);
    changedLocked();
    return summaryOf(placed);
}

StateStore::DeleteOutcome StateStore::deleteProject(const std::string &id)
{
    SaveWhenDone saving {*this};
    std::lock_guard lock(m_mutex);
    if (!findLocked(id))
        return DeleteOutcome::NotFound;
    if (m_projects.size() == 1)
        return DeleteOutcome::LastProject;
    std::erase_if(m_projects, [&](const auto &p) { return p.id == id; });
    m_savedBytes.erase(id);
    if (m_activeId == id) {
        m_activeId = m_projects.front().id;
        m_hits.clear();
    }
    changedLocked();
    return DeleteOutcome::Deleted;
}

std::optional<Project> StateStore::addImportedProject(const std::string &name, std::vector<WireRoute> routes,
                                                      std::string &error)
{
    SaveWhenDone saving {*this};
    std::lock_guard lock(m_mutex);
    ProjectState project = freshProject(makeShortId("p-"), uniqueNameLocked(name));
    project.routes = std::move(routes);
    size_t measured = 0;
    if (!fitsLocked(project, measured, error))
        return std::nullopt;
    const ProjectState &placed = placeLocked(std::move(project), measured);
    m_activeId = placed.id;
    m_hits.clear();
    changedLocked();
    return summaryOf(placed);
}

} // namespace standin
