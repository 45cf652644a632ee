// EngineClient: project operations that reach across areas (create, switch, duplicate, delete, reload).
#include "engine/engine_client.h"

#include <QUrl>

#include <memory>
#include <utility>

void EngineClient::createProject(const QString &name, std::function<void(const std::optional<QString> &)> done)
{
    const auto finish = [done](const std::optional<QString> &id) {
        if (done)
            done(id);
    };
    changeRequest(
        QStringLiteral("project creation"), QStringLiteral("/projects"), "POST", ProjectStore::nameBody(name),
        [this, finish](const std::optional<QByteArray> &body) {
            const auto project = body ? decodeRecord<Project>(EngineChannel::asView(*body)) : std::nullopt;
            if (!project) {
                finish(std::nullopt);
                return;
            }
            const QString id = QString::fromStdString(project->id);
            loadProjects([finish, id] { finish(id); });
        },
        [finish] { finish(std::nullopt); });
}

void EngineClient::activateProject(const QString &id)
{
    // Behind other operations, the project active by the time it runs is not known yet.
    if (!m_operations->busy() && id == m_projects->activeProjectID())
        return;
    inTurn(OperationQueue::Kind::switchProject, [this, id](Done ended) {
        m_gate->beginChange();
        const Done finish = [this, ended] {
            m_gate->endChange();
            ended();
        };
        changeRequest(
            QStringLiteral("project switch"), projectPath(id, QStringLiteral("/activate")), "POST", std::nullopt,
            [this, finish](const std::optional<QByteArray> &) {
                // Whatever the answer, show the project the engine now reports as active.
                loadProjects([this, finish] { reloadActiveProjectIntoUI(finish); });
            },
            // The replacing engine's project has been learnt and shown.
            finish);
    });
    // The list shown still belongs to the old project until the new one's routes arrive.
    setRoutesLoaded(false);
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
    inTurn(OperationQueue::Kind::other, [this, id](Done ended) {
        projectRequest(projectPath(id, QStringLiteral("/duplicate")), "POST", std::nullopt,
                       [this, ended](const std::optional<QByteArray> &) { loadProjects(ended); });
    });
}

void EngineClient::deleteProject(const QString &id)
{
    // Deleting the project shown replaces the lists shown as a switch does: no list write until the
    // next project's lists are in, and no push made for the deleted project reaches it.
    const bool shown = id == m_projects->activeProjectID();
    if (shown)
        m_gate->closeEdits();
    inTurn(OperationQueue::Kind::other, [this, id, shown](Done ended) {
        const bool wasActive = id == m_projects->activeProjectID();
        if (wasActive)
            m_gate->beginChange();
        const Done finish = [this, wasActive, shown, ended] {
            if (wasActive)
                m_gate->endChange();
            if (shown)
                m_gate->reopenEdits();
            ended();
        };
        changeRequest(
            QStringLiteral("project deletion"), projectPath(id), "DELETE", std::nullopt,
            [this, id, wasActive, finish](const std::optional<QByteArray> &body) {
                m_gate->dropUnsentOf(id);
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
            },
            finish);
    });
}
