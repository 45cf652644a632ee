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

StateStore::StoredProject StateStore::freshProject(std::string id, std::string name)
{
    StoredProject project;
    project.id = std::move(id);
    project.name = std::move(name);
    project.updatedAt = nowIso();
    project.routes = std::make_shared<const std::vector<WireRoute>>();
    project.chaos.presets = builtInChaosPresets();
    return project;
}

Project StateStore::summaryOf(const StoredProject &project)
{
    return Project {project.id, project.name, static_cast<int>(project.routes->size()), project.updatedAt};
}

ProjectList StateStore::listOf(const Projects &projects, const std::string &activeId)
{
    ProjectList list;
    list.activeId = activeId;
    for (const auto &project : projects)
        list.projects.push_back(summaryOf(*project));
    return list;
}

std::string StateStore::uniqueName(const std::string &wanted) const
{
    const auto taken = [this](const std::string &name) {
        return std::any_of(m_projects.begin(), m_projects.end(), [&](const auto &p) { return p->name == name; });
    };
    if (!taken(wanted))
        return wanted;
    for (int n = 2;; ++n) {
        const std::string candidate = wanted + " " + std::to_string(n);
        if (!taken(candidate))
            return candidate;
    }
}

void StateStore::touch(StoredProject &project)
{
    project.updatedAt = nowIso();
}

ProjectList StateStore::projectList() const
{
    const auto [projects, activeId] = taken();
    return listOf(projects, activeId);
}

std::optional<Project> StateStore::createProject(const std::string &name, std::string &error)
{
    const std::string clean = trimmed(name);
    if (!validName(clean, error))
        return std::nullopt;
    SaveWhenDone saving {*this};
    std::lock_guard writing(m_writeMutex);
    StoredProject candidate = freshProject(makeShortId("p-"), clean);
    size_t measured = 0;
    if (!fits(candidate, measured, error))
        return std::nullopt;
    const Project created = summaryOf(candidate);
    place(std::move(candidate), measured, m_activeId);
    return created;
}

bool StateStore::activateProject(const std::string &id)
{
    SaveWhenDone saving {*this};
    std::lock_guard writing(m_writeMutex);
    if (!find(id))
        return false;
    install(m_projects, id);
    forgetHits({}, true);
    return true;
}

bool StateStore::renameProject(const std::string &id, const std::string &name, std::string &error)
{
    const std::string clean = trimmed(name);
    if (!validName(clean, error))
        return false;
    SaveWhenDone saving {*this};
    std::lock_guard writing(m_writeMutex);
    const Stored project = find(id);
    if (!project) {
        error = "no project with id " + id;
        return false;
    }
    StoredProject candidate = *project;
    candidate.name = clean;
    touch(candidate);
    size_t measured = 0;
    if (!fits(candidate, measured, error))
        return false;
    place(std::move(candidate), measured, m_activeId);
    return true;
}

std::optional<Project> StateStore::duplicateProject(const std::string &id, std::string *error)
{
    SaveWhenDone saving {*this};
    std::lock_guard writing(m_writeMutex);
    const Stored source = find(id);
    if (!source)
        return std::nullopt;
    StoredProject copy = *source; // the routes stay shared until either copy changes them
    copy.id = makeShortId("p-");
    copy.name = uniqueName(source->name + " copy");
    copy.updatedAt = nowIso();
    size_t measured = 0;
    std::string refusal;
    if (!fits(copy, measured, refusal)) {
        if (error)
            *error = refusal;
        return std::nullopt;
    }
    const Project created = summaryOf(copy);
    place(std::move(copy), measured, m_activeId);
    return created;
}

StateStore::DeleteOutcome StateStore::deleteProject(const std::string &id)
{
    SaveWhenDone saving {*this};
    std::lock_guard writing(m_writeMutex);
    if (!find(id))
        return DeleteOutcome::NotFound;
    if (m_projects.size() == 1)
        return DeleteOutcome::LastProject;
    Projects projects = m_projects;
    std::erase_if(projects, [&](const auto &p) { return p->id == id; });
    m_savedBytes.erase(id);
    const bool wasActive = m_activeId == id;
    std::string activeId = wasActive ? projects.front()->id : m_activeId;
    install(std::move(projects), std::move(activeId));
    if (wasActive)
        forgetHits({}, true);
    return DeleteOutcome::Deleted;
}

std::optional<Project> StateStore::addImportedProject(const std::string &name, std::vector<WireRoute> routes,
                                                      std::string &error)
{
    SaveWhenDone saving {*this};
    std::lock_guard writing(m_writeMutex);
    StoredProject project = freshProject(makeShortId("p-"), uniqueName(name));
    project.routes = std::make_shared<const std::vector<WireRoute>>(std::move(routes));
    size_t measured = 0;
    if (!fits(project, measured, error))
        return std::nullopt;
    const Project created = summaryOf(project);
    const std::string id = project.id;
    place(std::move(project), measured, id);
    forgetHits({}, true);
    return created;
}

} // namespace standin
