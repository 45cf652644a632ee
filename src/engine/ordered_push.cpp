// OrderedPush: the debounce, the project gate, the held snapshot and the queue of one behind the write on the wire.
#include "engine/ordered_push.h"

#include "engine/engine_channel.h"
#include "engine/project_store.h"
#include "platform/strict_utf8.h"

#include <QNetworkReply>

#include <utility>

OrderedPush::OrderedPush(EngineChannel *channel, PushGate *gate, PushGate::Kind kind, QString path, QObject *parent)
    : QObject(parent)
    , m_channel(channel)
    , m_gate(gate)
    , m_kind(kind)
    , m_path(std::move(path))
{
    m_gate->attach(kind, this);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &OrderedPush::due);
}

void OrderedPush::schedule(Body body)
{
    m_body = std::move(body);
    m_project = m_gate->projects().activeProjectID();
    m_timer.start(m_debounceMs);
}

void OrderedPush::endDebounce()
{
    if (!debouncing())
        return;
    m_timer.stop();
    due();
}

void OrderedPush::due()
{
    const Body body = std::exchange(m_body, {});
    pass(Due{body ? body() : QByteArray(), m_project, false, {}});
}

void OrderedPush::submit(const QByteArray &body)
{
    pass(Due{body, m_gate->projects().activeProjectID(), false, {}});
}

void OrderedPush::pass(Due due)
{
    if (!due.pastGate) {
        switch (m_gate->verdict(m_kind, due.project)) {
        case PushGate::Verdict::send:
            break;
        case PushGate::Verdict::hold:
            hold(std::move(due.body), due.project);
            return;
        case PushGate::Verdict::drop:
            settle();
            return;
        }
    }
    if (!m_reply) {
        send(std::move(due));
        return;
    }
    // Overtaken before it left: it is no longer owed to anyone.
    if (m_queued && m_queued->sent)
        std::exchange(m_queued, std::nullopt)->sent();
    m_queued = std::move(due);
}

void OrderedPush::hold(QByteArray body, const QString &project)
{
    const QString &own = project.isEmpty() ? m_gate->projects().activeProjectID() : project;
    // A list waiting behind the wire for the same project is older than this one.
    if (m_queued && (m_queued->project == own || m_queued->project.isEmpty()))
        if (const Done sent = std::exchange(m_queued, std::nullopt)->sent)
            sent();
    m_held = std::move(body);
    m_heldProject = own;
}

void OrderedPush::send(Due due)
{
    m_replySent = std::move(due.sent);
    m_wireBody = due.body;
    m_wireProject = due.project.isEmpty() ? m_gate->projects().activeProjectID() : due.project;
    // A failed write is not sent again (the next push or load overtakes it), except to an engine
    // that replaces the one it went to.
    const int generation = m_generation;
    m_reply = m_channel->sendControl("POST", m_path, {}, due.body, m_channel->timeouts().push, this,
                                     [this, generation](const ControlReply &reply) {
                                         if (generation != m_generation)
                                             return;
                                         if (reply.timedOut) {
                                             timedOut();
                                             return;
                                         }
                                         if (!reply.transportFailed() && !reply.isSuccess())
                                             emit refused(refusalReason(reply));
                                         if (reply.isSuccess())
                                             emit landed(m_wireBody);
                                         if (reply.transportFailed() && m_gate->recovering())
                                             keepUnanswered();
                                         finished();
                                     });
    if (!m_reply)
        finished();
}

void OrderedPush::keepUnanswered()
{
    if (m_queued || m_held)
        return;
    m_held = m_wireBody;
    m_heldProject = m_wireProject;
}

QString OrderedPush::refusalReason(const ControlReply &reply)
{
    const auto refusal = decodeRecord<ErrorReply>(EngineChannel::asView(reply.body));
    QString reason = refusal ? QString::fromStdString(refusal->error).simplified() : QString();
    if (reason.isEmpty())
        reason = strictUtf8(reply.body.left(300)).value_or(QString()).simplified();
    return reason.isEmpty() ? QStringLiteral("HTTP ") + QString::number(reply.httpStatus) : reason;
}

void OrderedPush::timedOut()
{
    m_reply = nullptr;
    // The write may still land: the list due behind it waits until the engine has been replaced.
    if (m_queued) {
        Due next = std::move(*m_queued);
        m_queued.reset();
        hold(std::move(next.body), next.project);
        if (next.sent)
            next.sent();
    }
    keepUnanswered();
    // Said first, so that whoever the answer lets go on sees the gate already waiting for a new engine.
    emit gaveUp();
    if (const Done sent = std::exchange(m_replySent, {}))
        sent();
    emit answered();
    settle();
}

void OrderedPush::finished()
{
    m_reply = nullptr;
    const Done sent = std::exchange(m_replySent, {});
    if (m_queued) {
        Due next = std::move(*m_queued);
        m_queued.reset();
        pass(std::move(next));
    }
    if (sent)
        sent();
    emit answered();
    settle();
}

void OrderedPush::cancel()
{
    m_held.reset();
    ++m_generation;
    m_reply = nullptr;
    if (const Done sent = std::exchange(m_replySent, {}))
        sent();
    dropUnsent();
}

void OrderedPush::dropUnsent()
{
    m_timer.stop();
    m_body = {};
    if (m_queued) {
        const Done sent = std::exchange(m_queued, std::nullopt)->sent;
        if (sent)
            sent();
    }
    settle();
}

void OrderedPush::dropUnsentOf(const QString &project)
{
    if (debouncing() && m_project == project) {
        m_timer.stop();
        m_body = {};
    }
    if (m_queued && m_queued->project == project) {
        const Done sent = std::exchange(m_queued, std::nullopt)->sent;
        if (sent)
            sent();
    }
    if (m_held && m_heldProject == project)
        m_held.reset();
    settle();
}

void OrderedPush::postHeld(Done sent)
{
    if (!m_held) {
        if (sent)
            sent();
        return;
    }
    Due due{*std::exchange(m_held, std::nullopt), m_heldProject, true, std::move(sent)};
    pass(std::move(due));
}

void OrderedPush::dropHeld()
{
    if (!m_held)
        return;
    m_held.reset();
    settle();
}
