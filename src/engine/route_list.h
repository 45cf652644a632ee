// RouteList: the active project's routes, their debounced push and the edits screens make to them.
#pragma once

#include "engine/ordered_push.h"
#include "engine/records/route_records.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class EngineChannel;
class PushGate;

// Every edit and push passes the push gate (PushGate): while a project change is under way an edit
// does nothing, and a push reaches only the project it was made for.
class RouteList final : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void()>;
    using Decoded = std::optional<QList<Endpoint>>;
    static constexpr int PushDebounceMs = 150;
    // Route lists this long are read on a worker: a project of thousands of routes takes several frames.
    static constexpr qsizetype OffThreadDecodeBytes = 256 * 1024;

    RouteList(EngineChannel *channel, PushGate *gate, QObject *parent = nullptr);

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
    // Reads an engine's answer that should be a route list (none when it is not one) and hands it to
    // then(), answers in the order they were given: a long one is read on a worker, so then() may run
    // only after the event loop has turned, but never before an answer given earlier.
    void decodeInTurn(const QByteArray &body, std::function<void(Decoded)> then);

    // ---- Intents: each changes the list and pushes it ----
    void replaceEndpoints(const QList<Endpoint> &endpoints);
    void updateEndpoint(Endpoint endpoint);
    std::optional<QString> duplicateEndpoint(const QString &id);
    void toggleEndpoint(const QString &id);
    // Removes every route with this id.
    void deleteEndpoint(const QString &id);
    void setGroup(const QString &id, const QString &group);
    void renameGroup(const QString &oldName, const QString &newName);
    QStringList groupNames() const;

    // ---- The debounced push (see OrderedPush) ----
    int pushDebounceMs() const { return m_writes->debounceMs(); }
    void setPushDebounceMs(int ms) { m_writes->setDebounceMs(ms); }
    void push();
    // Pushes the list as it is now, without a debounce, even while a project change waits to start:
    // an import's answer with the edits made meanwhile still belongs to the project it was made for.
    void pushNow();
    // True from push() until the newest list has been answered or dropped.
    bool pushPending() const { return m_writes->pending(); }
    void afterPushSettles(Done done) { m_writes->afterSettles(std::move(done)); }
    // Drops every list not yet sent, a held one included (the one on the wire is left to be answered).
    void cancelPush() { m_writes->cancel(); }
    // The list the engine is known to hold: loaded from it, or the answer to an import.
    void setEngineHolds(const QList<Endpoint> &routes);
    // While a push is pending: the ids of the routes added, changed or removed since the list the
    // engine is known to hold, in list order, removed ones last.
    QStringList unsentRouteIds() const;

    static QList<Endpoint> fromWire(const std::vector<WireRoute> &routes);
    // The engine's answer to an import, with the edits made while it was on its way laid over it: each
    // route added or changed since `base` (by id) takes its place or is appended, and each route removed
    // since then is removed.
    static QList<Endpoint> withEditsSince(const QList<Endpoint> &base, const QList<Endpoint> &edited,
                                          const QList<Endpoint> &imported);

signals:
    void endpointsChanged();
    void routesLoadedChanged();
    // The engine took a pushed list.
    void pushLanded();

private:
    void schedulePush();
    void didChange(int position);
    // The list the waiting push was made from, encoded; taken once its debounce ends.
    QByteArray takePushBody();
    // Remembers which list a body was made from, so that once the engine takes it nothing is read back.
    QByteArray madeFrom(QByteArray body, const QList<Endpoint> &routes);
    void engineTook(const QByteArray &body);
    void forgetDropped();
    void deliverDecoded();
    // A list with long bodies is encoded on a worker while the debounce runs, so that the push need not
    // encode it on the window's thread; the push takes that encoding if the list has not changed since.
    void encodeAhead();
    // Runs edit on the route with this id and pushes; false when no route has it or writes are closed.
    bool editRoute(const QString &id, const std::function<void(Endpoint &)> &edit);

    EngineChannel *m_channel;
    PushGate *m_gate;
    QList<Endpoint> m_endpoints;
    quint64 m_revision = 0;
    int m_editedEndpoint = -1;
    bool m_routesLoaded = false;

    OrderedPush *m_writes;
    // Set only when the list was replaced while a push waited: the list that push was scheduled with.
    std::optional<QList<Endpoint>> m_pushRoutes;
    struct Encoded
    {
        quint64 revision = 0;
        QByteArray body;
    };
    std::optional<Encoded> m_encodedAhead;
    // What the engine holds: the last list loaded, imported or pushed and taken; none when not known.
    std::optional<QList<Endpoint>> m_engineList;
    // The bodies made and still on their way, each with the list it encodes, oldest first.
    struct Made
    {
        QByteArray body;
        QList<Endpoint> routes;
    };
    QList<Made> m_made;

    // Answers being read, oldest first; each is handed on once it and every one before it is read.
    struct Decoding
    {
        std::optional<Decoded> result;
        std::function<void(Decoded)> then;
    };
    QList<std::shared_ptr<Decoding>> m_decoding;
    bool m_delivering = false;
};
