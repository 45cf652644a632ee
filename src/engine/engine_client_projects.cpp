// EngineClient: the engine's projects (list, create, switch, rename, duplicate, delete).
#include "engine/engine_client.h"

#include <QUrl>

#include <utility>

namespace {

QByteArray nameBody(const QString &name)
{
    return QByteArray::fromStdString(encodeRecord(ProjectNameRequest{name.toStdString()}));
}

} // namespace

QString EngineClient::projectPath(const QString &id, const QString &suffix)
{
    // An id holding "/", "?" or "#" must not reach another path or become a query.
    return QStringLiteral("/projects/") + QString::fromLatin1(QUrl::toPercentEncoding(id)) + suffix;
}

void EngineClient::loadProjects(Done done)
{
    projectRequest(QStringLiteral("/projects"), "GET", std::nullopt,
                   [this, done](const std::optional<QByteArray> &body) {
                       if (body) {
                           if (auto list = decodeRecord<ProjectList>(asView(*body))) {
                               setProjects(QList<Project>(list->projects.begin(), list->projects.end()));
                               setActiveProjectID(QString::fromStdString(list->activeId));
                           }
                       }
                       if (done)
                           done();
                   });
}

void EngineClient::createProject(const QString &name,
                                 std::function<void(const std::optional<QString> &)> done)
{
    projectRequest(QStringLiteral("/projects"), "POST", nameBody(name),
                   [this, done](const std::optional<QByteArray> &body) {
                       const auto project = body ? decodeRecord<Project>(asView(*body)) : std::nullopt;
                       if (!project) {
                           if (done)
                               done(std::nullopt);
                           return;
                       }
                       const QString id = QString::fromStdString(project->id);
                       loadProjects([done, id] {
                           if (done)
                               done(id);
                       });
                   });
}

void EngineClient::activateProject(const QString &id)
{
    if (id == m_activeProjectID)
        return;
    setIsSwitchingProject(true);
    // The list shown still belongs to the old project until the new one's routes arrive.
    setRoutesLoaded(false);
    // Edits made before the switch belong to the old project: they reach the engine first.
    afterPendingPushes([this, id] {
        ++m_projectChangesSent;
        projectRequest(projectPath(id, QStringLiteral("/activate")), "POST", std::nullopt,
                       [this](const std::optional<QByteArray> &) {
                           // Whatever the answer, show the project the engine now reports as active.
                           loadProjects([this] {
                               reloadActiveProjectIntoUI([this] {
                                   --m_projectChangesSent;
                                   setIsSwitchingProject(false);
                               });
                           });
                       });
    });
}

void EngineClient::reloadActiveProjectIntoUI(Done done)
{
    loadRoutes([this, done] {
        loadChaos([this, done] {
            loadEnvironments([this, done] {
                ++m_schemaEpoch;
                setSchemaDrifts({});
                setUnseenDrift(0);
                m_trafficFeed->reset();
                if (done)
                    done();
            });
        });
    });
}

void EngineClient::renameProject(const QString &id, const QString &name)
{
    projectRequest(projectPath(id), "PATCH", nameBody(name),
                   [this](const std::optional<QByteArray> &) { loadProjects(); });
}

void EngineClient::duplicateProject(const QString &id)
{
    // The copy holds the edits made before it.
    afterPendingPushes([this, id] {
        projectRequest(projectPath(id, QStringLiteral("/duplicate")), "POST", std::nullopt,
                       [this](const std::optional<QByteArray> &) { loadProjects(); });
    });
}

void EngineClient::deleteProject(const QString &id)
{
    const bool wasActive = id == m_activeProjectID;
    // Deleting the active project replaces the lists shown as a switch does: no list write until
    // the next project's lists are in, and no push made for the deleted project reaches it.
    if (wasActive)
        ++m_activeProjectDeletes;
    afterPendingPushes([this, id, wasActive] {
        if (wasActive)
            ++m_projectChangesSent;
        const auto finish = [this, wasActive] {
            if (!wasActive)
                return;
            --m_projectChangesSent;
            --m_activeProjectDeletes;
        };
        projectRequest(projectPath(id), "DELETE", std::nullopt,
                       [this, id, wasActive, finish](const std::optional<QByteArray> &body) {
                           dropWaitingPushesOf(id);
                           const auto list = body ? decodeRecord<ProjectList>(asView(*body)) : std::nullopt;
                           if (!list) {
                               loadProjects(finish);
                               return;
                           }
                           setProjects(QList<Project>(list->projects.begin(), list->projects.end()));
                           setActiveProjectID(QString::fromStdString(list->activeId));
                           // The engine has chosen another active project.
                           if (wasActive)
                               reloadActiveProjectIntoUI(finish);
                           else
                               finish();
                       });
    });
}

void EngineClient::afterPendingPushes(Done done)
{
    // The pushes keep their debounce and are waited out to their answer: going on earlier would let
    // a late push land on the project that is active by then and overwrite its lists.
    afterRoutePushSettles(
        [this, done = std::move(done)]() mutable { afterEnvironmentPushSettles(std::move(done)); });
}
