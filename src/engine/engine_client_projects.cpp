// EngineClient: project operations that reach across areas (switch, duplicate, delete, reload, held pushes).
#include "engine/engine_client.h"

#include <QUrl>

#include <memory>
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
        m_projects->closeWrites();
    afterPendingPushes([this, id, wasActive] {
        if (wasActive)
            m_projects->beginChange();
        const auto finish = [this, wasActive] {
            if (!wasActive)
                return;
            m_projects->endChange();
            m_projects->reopenWrites();
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

void EngineClient::landHeldPushes(std::function<void(bool switched)> done, bool switchedSoFar)
{
    m_routes->writes().endDebounce();
    m_environments->writes().endDebounce();
    if (!m_routes->writes().hasHeld() && !m_environments->writes().hasHeld()) {
        done(switchedSoFar);
        return;
    }
    const QString project =
        m_routes->writes().hasHeld() ? m_routes->writes().heldProject() : m_environments->writes().heldProject();
    // Edits made meanwhile were held in turn: the next round lands them.
    const auto nextRound = [this, done](bool switched) { landHeldPushes(done, switched); };

    // Made active for the posts, then the engine's own project again.
    const auto landElsewhere = [this, project, switchedSoFar, nextRound](const QString &active) {
        projectRequest(projectPath(project, QStringLiteral("/activate")), "POST", std::nullopt,
                       [this, project, active, switchedSoFar, nextRound](const std::optional<QByteArray> &answer) {
                           if (!answer) {
                               // The project is gone: its edits have nowhere to go.
                               dropWaitingPushesOf(project);
                               nextRound(switchedSoFar);
                               return;
                           }
                           postHeldPushesOf(project, [this, active, nextRound] {
                               projectRequest(projectPath(active, QStringLiteral("/activate")), "POST",
                                              std::nullopt,
                                              [nextRound](const std::optional<QByteArray> &) { nextRound(true); });
                           });
                       });
    };

    // The project the engine has active now, whatever the list shown says.
    projectRequest(QStringLiteral("/projects"), "GET", std::nullopt,
                   [this, project, switchedSoFar, nextRound, landElsewhere,
                    done](const std::optional<QByteArray> &body) {
                       const auto list = body ? decodeRecord<ProjectList>(EngineChannel::asView(*body)) : std::nullopt;
                       if (!list) {
                           m_routes->writes().dropHeld();
                           m_environments->writes().dropHeld();
                           done(switchedSoFar);
                           return;
                       }
                       const QString active = QString::fromStdString(list->activeId);
                       if (project == active)
                           postHeldPushesOf(project, [nextRound, switchedSoFar] { nextRound(switchedSoFar); });
                       else
                           landElsewhere(active);
                   });
}

void EngineClient::postHeldPushesOf(const QString &project, Done done)
{
    // Both go out together; done runs once both have been answered.
    auto outstanding = std::make_shared<int>(2);
    const Done one = [outstanding, done] {
        if (--*outstanding == 0)
            done();
    };
    if (m_routes->writes().hasHeld() && m_routes->writes().heldProject() == project)
        m_routes->writes().postHeld(one);
    else
        one();
    if (m_environments->writes().hasHeld() && m_environments->writes().heldProject() == project)
        m_environments->writes().postHeld(one);
    else
        one();
}
