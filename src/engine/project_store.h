// ProjectStore: the engine's projects, the active one, and whether a switch is under way.
#pragma once

#include "engine/records/engine_records.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class EngineChannel;

class ProjectStore final : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void()>;

    explicit ProjectStore(EngineChannel *channel, QObject *parent = nullptr);

    const QList<Project> &projects() const { return m_projects; }
    void setProjects(const QList<Project> &projects);
    const QString &activeProjectID() const { return m_activeProjectID; }
    void setActiveProjectID(const QString &id);
    bool isSwitchingProject() const { return m_isSwitchingProject; }
    void setIsSwitchingProject(bool switching);

    void load(Done done = {});
    // The body of a create or rename: {"name": name}.
    static QByteArray nameBody(const QString &name);
    void rename(const QString &id, const QString &name);

    // The control path of one project; an id holding "/", "?" or "#" stays inside its segment.
    static QString path(const QString &id, const QString &suffix = {});

signals:
    void projectsChanged();
    void activeProjectIDChanged();
    void isSwitchingProjectChanged();

private:
    EngineChannel *m_channel;
    QList<Project> m_projects;
    QString m_activeProjectID;
    bool m_isSwitchingProject = false;
};
