// OrderedPush: the debounced push of one kind of list (routes, environments), one write on the wire at a time.
#pragma once

#include "engine/push_gate.h"
#include "engine/settle_waiters.h"

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

class EngineChannel;
struct ControlReply;

// A write that may have left is never cut short: aborting a reply does not take back what the engine
// already received, and an older list could then land after a newer one. So the newest snapshot waits
// behind the write on the wire, replacing any snapshot already waiting, and goes once that write has
// been answered, whatever the answer. A failed write is not sent again.
//
// A write not answered within its time limit may still land, so nothing is sent after it: the snapshot
// due behind it is held, and the gate is told, so the engine that hung is replaced before the next write.
//
// Every snapshot passes the gate (PushGate) when it comes due: it is sent, held with the project it
// was made for, or dropped.
class OrderedPush final : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void()>;
    using Body = std::function<QByteArray()>;

    // Each write is a POST of the snapshot to `path` (as sendControl joins it), under the channel's push
    // time limit. An engine that exits closes the connection, which ends it.
    OrderedPush(EngineChannel *channel, PushGate *gate, PushGate::Kind kind, QString path,
                QObject *parent = nullptr);

    int debounceMs() const { return m_debounceMs; }
    void setDebounceMs(int ms) { m_debounceMs = ms; }

    // Starts the debounce again, for the active project; body is called once it ends.
    void schedule(Body body);
    bool debouncing() const { return m_timer.isActive(); }
    // Ends the debounce now: the snapshot passes the gate (sent, queued, held or dropped).
    void endDebounce();
    // A snapshot for the active project that is due now, without a debounce.
    void submit(const QByteArray &body);

    // True until the newest snapshot has been answered or dropped.
    bool pending() const { return debouncing() || m_reply || m_queued || m_held; }
    // True while a write is on the wire or due behind it.
    bool unanswered() const { return m_reply || m_queued; }
    void afterSettles(Done done) { m_waiters.add(std::move(done)); }

    // At shutdown: drops every snapshot not yet sent, and stops waiting for the write on the wire (which
    // is not cut short: the engine it went to is going away).
    void cancel();
    // Drops the snapshots still waiting (debounce or queue), whatever project they were made for.
    void dropUnsent();
    // Drops the snapshots made for `project` that were not sent, held ones included.
    void dropUnsentOf(const QString &project);

    bool hasHeld() const { return m_held.has_value(); }
    const QString &heldProject() const { return m_heldProject; }
    // Sends the held snapshot past the gate (the caller has made its project the active one); sent runs
    // once it has been answered, or at once when there is none.
    void postHeld(Done sent = {});
    void dropHeld();

signals:
    // A write was answered (or failed); the next one due may have gone.
    void answered();
    // The engine took a write (a 2xx answer) of this body.
    void landed(const QByteArray &body);
    // A write got no answer in time; what was due behind it is held.
    void gaveUp();
    // The engine answered a write with an error; reason is its own text, else the status.
    void refused(const QString &reason);

private:
    struct Due
    {
        QByteArray body;
        QString project;
        bool pastGate = false;
        Done sent;
    };

    void due();
    // The gate, then the one ordering rule: a snapshot goes now when the wire is free, else waits behind it.
    void pass(Due due);
    void send(Due due);
    void finished();
    void timedOut();
    // Keeps the unanswered write to be landed again, unless a newer snapshot is due.
    void keepUnanswered();
    static QString refusalReason(const ControlReply &reply);
    void hold(QByteArray body, const QString &project);
    void settle() { m_waiters.release(); }

    EngineChannel *m_channel;
    PushGate *m_gate;
    PushGate::Kind m_kind;
    QString m_path;

    QTimer m_timer;
    int m_debounceMs = 150;
    Body m_body;
    QString m_project; // the active project when the waiting snapshot was made
    std::optional<Due> m_queued;
    std::optional<QByteArray> m_held;
    QString m_heldProject;
    QPointer<QNetworkReply> m_reply;
    // What is on the wire: sent again to a replacing engine when nothing newer is due, as the engine
    // that hung may never have applied it.
    QByteArray m_wireBody;
    QString m_wireProject;
    Done m_replySent;
    int m_generation = 0; // an answer to a write sent before cancel() counts for nothing
    SettleWaiters m_waiters{[this] { return pending(); }};
};
