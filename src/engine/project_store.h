// ProjectStore: the engine's projects, the active one, and whether a project change is under way.
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

    // False while a switch, the delete of the active project or the end of an import is under way:
    // the lists shown may belong to the project being left, so route and environment writes do nothing.
    bool writesOpen() const { return !m_isSwitchingProject && m_writesClosed == 0; }
    // Whether a push made for `project` may still be posted: only to the project it was made for,
    // and never once a request that changes the active project has gone out (the engine may
    // already be on the next one). A push made before the active project was known goes to it.
    bool pushMayLand(const QString &project) const;
    // True while a request that may change the active project is under way.
    bool changeUnderWay() const { return m_changesSent > 0; }

    // Brackets a time when list writes are refused (the delete of the active project, an import's
    // reload), from its start to the next project's lists.
    void closeWrites() { ++m_writesClosed; }
    void reopenWrites() { --m_writesClosed; }
    // Brackets a request that changes the active project, from its sending to the reload after it.
    void beginChange() { ++m_changesSent; }
    void endChange() { --m_changesSent; }

    void load(Done done = {});
    // done gets the new project's id, or none on any failure; the project does not become active.
    void create(const QString &name, std::function<void(const std::optional<QString> &)> done = {});
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
    int m_writesClosed = 0;
    int m_changesSent = 0;
};
