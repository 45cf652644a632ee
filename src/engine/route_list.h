// RouteList: the active project's routes, their debounced push and the edits screens make to them.
#pragma once

#include "engine/records/route_records.h"
#include "engine/settle_waiters.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>
#include <vector>

class EngineChannel;
class ProjectStore;
class QNetworkReply;

// Every write passes the project gate: while a project change is under way it does nothing, and a
// push reaches only the project it was made for.
class RouteList final : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void()>;
    static constexpr int PushDebounceMs = 150;

    RouteList(EngineChannel *channel, const ProjectStore *projects, QObject *parent = nullptr);

    const QList<Endpoint> &endpoints() const { return m_endpoints; }
    // Counts the changes of `endpoints`; editedEndpoint() is the position of the one route the
    // latest change replaced in place, or -1 when it may have touched the list anywhere.
    quint64 revision() const { return m_revision; }
    int editedEndpoint() const { return m_editedEndpoint; }
    // True once a route load has answered for the active project; false before, while a load or a
    // project switch is under way, after a failed load and after the engine exits. Until then
    // `endpoints` may not be the engine's list, so nothing should replace it wholesale.
    bool routesLoaded() const { return m_routesLoaded; }
    void setRoutesLoaded(bool loaded);

    // Replaces the list locally without pushing (a waiting push keeps the list it was made from).
    void setEndpoints(const QList<Endpoint> &endpoints);
    // Replaces the list with a load's or an import's answer, past the gate.
    void applyLoaded(const QList<Endpoint> &routes);
    void load(Done done = {});

    // ---- Intents: each changes the list and pushes it ----
    void replaceEndpoints(const QList<Endpoint> &endpoints);
    void updateEndpoint(const Endpoint &endpoint);
    std::optional<QString> duplicateEndpoint(const QString &id);
    void toggleEndpoint(const QString &id);
    // Removes every route with this id.
    void deleteEndpoint(const QString &id);
    void setGroup(const QString &id, const QString &group);
    void renameGroup(const QString &oldName, const QString &newName);
    QStringList groupNames() const;

    // ---- The debounced push ----
    int pushDebounceMs() const { return m_pushDebounceMs; }
    void setPushDebounceMs(int ms) { m_pushDebounceMs = ms; }
    void push();
    // True from push() until its post has been answered or dropped.
    bool pushPending() const;
    void afterPushSettles(Done done);
    // Sends the waiting push at once; the reply in flight, or null when none.
    QNetworkReply *sendPendingPushNow();
    // Drops a waiting push and aborts one in flight.
    void cancelPush();
    // Drops a push still waiting out its debounce (one in flight is left to finish).
    void dropWaitingPush();
    void dropWaitingPushOf(const QString &project);

    // A push that comes due while a change of the active project is under way is held, with the
    // project it was made for, until the change has ended and that project can be made active.
    bool hasHeldPush() const { return m_heldBody.has_value(); }
    const QString &heldPushProject() const { return m_heldProject; }
    // Ends the debounce of a waiting push at once (so it is held while a change is under way).
    void holdWaitingPush();
    // Posts the held push past the gate: the caller has made its project the active one.
    void postHeldPush(Done sent = {});
    void dropHeldPush();

    static QList<Endpoint> fromWire(const std::vector<WireRoute> &routes);

signals:
    void endpointsChanged();
    void routesLoadedChanged();

private:
    void didChange(int position);
    QByteArray pushBody() const;
    void post(const QByteArray &body);
    // sent runs once the post has been answered, failed or been overtaken by a newer push.
    void send(const QByteArray &body, Done sent = {});
    void finishPush();
    // Runs edit on the route with this id and pushes; false when no route has it or writes are closed.
    bool editRoute(const QString &id, const std::function<void(Endpoint &)> &edit);

    EngineChannel *m_channel;
    const ProjectStore *m_projects;
    QList<Endpoint> m_endpoints;
    quint64 m_revision = 0;
    int m_editedEndpoint = -1;
    bool m_routesLoaded = false;

    // The snapshot waits out the debounce, then one post is in flight.
    QTimer m_pushTimer;
    int m_pushDebounceMs = PushDebounceMs;
    // Set only when the list was replaced while a push waited: the list that push was scheduled with.
    std::optional<QList<Endpoint>> m_pushRoutes;
    // The active project when the waiting push was made.
    QString m_pushProject;
    std::optional<QByteArray> m_heldBody;
    QString m_heldProject;
    QPointer<QNetworkReply> m_pushReply;
    int m_pushGeneration = 0;
    SettleWaiters m_pushWaiters;
};
