// ProjectStore: the project list and the gate that keeps list writes and pushes inside one project.
#include "engine/project_store.h"

#include "engine/engine_channel.h"

#include <QUrl>

namespace {

QByteArray nameBody(const QString &name)
{
    return QByteArray::fromStdString(encodeRecord(ProjectNameRequest{name.toStdString()}));
}

} // namespace

ProjectStore::ProjectStore(EngineChannel *channel, QObject *parent)
    : QObject(parent)
    , m_channel(channel)
{
}

void ProjectStore::setProjects(const QList<Project> &projects)
{
    m_projects = projects;
    emit projectsChanged();
}

void ProjectStore::setActiveProjectID(const QString &id)
{
    m_activeProjectID = id;
    emit activeProjectIDChanged();
}

void ProjectStore::setIsSwitchingProject(bool switching)
{
    m_isSwitchingProject = switching;
    emit isSwitchingProjectChanged();
}

bool ProjectStore::pushMayLand(const QString &project) const
{
    return m_changesSent == 0 && (project == m_activeProjectID || project.isEmpty());
}

QString ProjectStore::path(const QString &id, const QString &suffix)
{
    return QStringLiteral("/projects/") + QString::fromLatin1(QUrl::toPercentEncoding(id)) + suffix;
}

void ProjectStore::load(Done done)
{
    m_channel->projectRequest(QStringLiteral("/projects"), "GET", std::nullopt,
                              [this, done](const std::optional<QByteArray> &body) {
                                  if (body) {
                                      if (auto list = decodeRecord<ProjectList>(EngineChannel::asView(*body))) {
                                          setProjects(QList<Project>(list->projects.begin(), list->projects.end()));
                                          setActiveProjectID(QString::fromStdString(list->activeId));
                                      }
                                  }
                                  if (done)
                                      done();
                              });
}

void ProjectStore::create(const QString &name, std::function<void(const std::optional<QString> &)> done)
{
    m_channel->projectRequest(QStringLiteral("/projects"), "POST", nameBody(name),
                              [this, done](const std::optional<QByteArray> &body) {
                                  const auto project = body ? decodeRecord<Project>(EngineChannel::asView(*body)) : std::nullopt;
                                  if (!project) {
                                      if (done)
                                          done(std::nullopt);
                                      return;
                                  }
                                  const QString id = QString::fromStdString(project->id);
                                  load([done, id] {
                                      if (done)
                                          done(id);
                                  });
                              });
}

void ProjectStore::rename(const QString &id, const QString &name)
{
    m_channel->projectRequest(path(id), "PATCH", nameBody(name),
                              [this](const std::optional<QByteArray> &) { load(); });
}
