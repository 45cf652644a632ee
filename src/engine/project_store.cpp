// ProjectStore: the project list and the requests that change it.
#include "engine/project_store.h"

#include "engine/engine_channel.h"

#include <QUrl>

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

QByteArray ProjectStore::nameBody(const QString &name)
{
    return QByteArray::fromStdString(encodeRecord(ProjectNameRequest{name.toStdString()}));
}

void ProjectStore::rename(const QString &id, const QString &name)
{
    m_channel->projectRequest(path(id), "PATCH", nameBody(name),
                              [this](const std::optional<QByteArray> &) { load(); });
}
