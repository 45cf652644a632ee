// EngineClient: project operations that reach across areas (switch, duplicate, delete, reload).
#include "engine/engine_client.h"

#include <QUrl>

#include <utility>

void EngineClient::activateProject(const QString &id)
{
    if (id == m_projects->activeProjectID())
        return;
    setIsSwitchingProject(true);
    // The list shown still belongs to the old project until the new one's routes arrive.
    setRoutesLoaded(false);
    // Edits made before the switch belong to the old project: they reach the engine first.
    afterPendingPushes([this, id] {
        m_projects->beginChange();
        projectRequest(projectPath(id, QStringLiteral("/activate")), "POST", std::nullopt,
                       [this](const std::optional<QByteArray> &) {
                           // Whatever the answer, show the project the engine now reports as active.
                           loadProjects([this] {
                               reloadActiveProjectIntoUI([this] {
                                   m_projects->endChange();
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
                m_drift->forget();
                m_trafficFeed->reset();
                if (done)
                    done();
            });
        });
    });
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
    const bool wasActive = id == m_projects->activeProjectID();
    // Deleting the active project replaces the lists shown as a switch does: no list write until
    // the next project's lists are in, and no push made for the deleted project reaches it.
    if (wasActive)
        m_projects->beginActiveDelete();
    afterPendingPushes([this, id, wasActive] {
        if (wasActive)
            m_projects->beginChange();
        const auto finish = [this, wasActive] {
            if (!wasActive)
                return;
            m_projects->endChange();
            m_projects->endActiveDelete();
        };
        projectRequest(projectPath(id), "DELETE", std::nullopt,
                       [this, id, wasActive, finish](const std::optional<QByteArray> &body) {
                           dropWaitingPushesOf(id);
                           const auto list = body ? decodeRecord<ProjectList>(EngineChannel::asView(*body)) : std::nullopt;
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
