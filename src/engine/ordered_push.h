// OrderedPush: the debounced push of one kind of list (routes, environments), one write on the wire at a time.
#pragma once

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
class ProjectStore;

// A write that may have left is never cut short: aborting a reply does not take back what the engine
// already received, and an older list could then land after a newer one. So the newest snapshot waits
// behind the write on the wire, replacing any snapshot already waiting, and goes once that write has
// been answered, whatever the answer. A failed write is not sent again.
//
// Every snapshot passes the project gate when it comes due: while a change of the active project is
// under way it is held with the project it was made for, and it reaches only that project.
class OrderedPush final : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void()>;
    using Body = std::function<QByteArray()>;

    // Each write is a POST of the snapshot to `path` (as sendControl joins it). It has no time limit: a
    // timeout would cut it short too. An engine that exits closes the connection, which ends it.
    OrderedPush(EngineChannel *channel, const ProjectStore *projects, QString path, QObject *parent = nullptr);

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
    void afterSettles(Done done) { m_waiters.add(std::move(done), pending()); }

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
    void settle() { m_waiters.release(pending()); }

    EngineChannel *m_channel;
    const ProjectStore *m_projects;
    QString m_path;

    QTimer m_timer;
    int m_debounceMs = 150;
    Body m_body;
    QString m_project; // the active project when the waiting snapshot was made
    std::optional<Due> m_queued;
    std::optional<QByteArray> m_held;
    QString m_heldProject;
    QPointer<QNetworkReply> m_reply;
    Done m_replySent;
    int m_generation = 0; // an answer to a write sent before cancel() counts for nothing
    SettleWaiters m_waiters;
};
