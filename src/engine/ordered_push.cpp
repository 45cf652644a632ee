// OrderedPush: the debounce, the project gate, the held snapshot and the queue of one behind the write on the wire.
#include "engine/ordered_push.h"

#include "engine/engine_channel.h"
#include "engine/project_store.h"

#include <QNetworkReply>

#include <utility>

OrderedPush::OrderedPush(EngineChannel *channel, const ProjectStore *projects, QString path, QObject *parent)
    : QObject(parent)
    , m_channel(channel)
    , m_projects(projects)
    , m_path(std::move(path))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &OrderedPush::due);
}

void OrderedPush::schedule(Body body)
{
    m_body = std::move(body);
    m_project = m_projects->activeProjectID();
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
    pass(Due{body, m_projects->activeProjectID(), false, {}});
}

void OrderedPush::pass(Due due)
{
    if (!due.pastGate) {
        const QString &active = m_projects->activeProjectID();
        if (m_projects->changeUnderWay() && (due.project == active || due.project.isEmpty())) {
            // The engine may be on another project by now: the snapshot waits to be landed in its own.
            m_held = std::move(due.body);
            m_heldProject = active;
            return;
        }
        if (!m_projects->pushMayLand(due.project)) {
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

void OrderedPush::send(Due due)
{
    m_replySent = std::move(due.sent);
    // The answer is not examined and a failed write is not sent again: the next push or load overtakes it.
    const int generation = m_generation;
    m_reply = m_channel->sendControl("POST", m_path, {}, due.body, 0, this,
                                     [this, generation](const ControlReply &) {
                                         if (generation == m_generation)
                                             finished();
                                     });
    if (!m_reply)
        finished();
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
