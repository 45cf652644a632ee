// PushGate: the verdict on each due push, the landing of held pushes in their own projects, and the flush at quit.
#include "engine/push_gate.h"

#include "engine/engine_channel.h"
#include "engine/ordered_push.h"
#include "engine/project_store.h"

#include <QEventLoop>
#include <QTimer>

#include <memory>

PushGate::PushGate(EngineChannel *channel, const ProjectStore *projects, QObject *parent)
    : QObject(parent)
    , m_channel(channel)
    , m_projects(projects)
{
}

void PushGate::attach(Kind kind, OrderedPush *push)
{
    (kind == Kind::routes ? m_routes : m_environments) = push;
    const QString what = kind == Kind::routes ? QStringLiteral("routes") : QStringLiteral("environments");
    connect(push, &OrderedPush::gaveUp, this, [this, what] { emit gaveUp(what + QStringLiteral(" push")); });
    connect(push, &OrderedPush::refused, this, [this, what](const QString &reason) { emit refused(what, reason); });
    connect(push, &OrderedPush::answered, this, &PushGate::releaseWaiters);
}

bool PushGate::editsOpen() const
{
    return !m_projects->isSwitchingProject() && m_editsClosed == 0;
}

void PushGate::endRecovery()
{
    m_recovering = false;
    releaseWaiters();
}

void PushGate::endResync()
{
    m_resyncing = false;
    releaseWaiters();
}

PushGate::Verdict PushGate::verdict(Kind kind, const QString &project) const
{
    // A push made before the active project was known goes to it.
    if (project != m_projects->activeProjectID() && !project.isEmpty())
        return Verdict::drop;
    if (m_changes > 0 || m_recovering || m_resyncing)
        return Verdict::hold;
    if (kind == Kind::routes && m_imports > 0)
        return Verdict::hold;
    return Verdict::send;
}

void PushGate::endDebounces()
{
    m_routes->endDebounce();
    m_environments->endDebounce();
}

bool PushGate::unanswered() const
{
    return m_routes->unanswered() || m_environments->unanswered();
}

bool PushGate::hasHeld() const
{
    return m_routes->hasHeld() || m_environments->hasHeld();
}

bool PushGate::heldForAnAnswer() const
{
    return (m_changes > 0 || m_imports > 0 || m_recovering || m_resyncing) && hasHeld();
}

bool PushGate::settled() const
{
    const auto idle = [](const OrderedPush *push) { return !push || !push->pending(); };
    return idle(m_routes) && idle(m_environments) && m_imports == 0 && !m_recovering && !m_resyncing;
}

void PushGate::endImport(const Done &then)
{
    --m_imports;
    if (then)
        then();
    releaseWaiters();
}

void PushGate::afterSettles(Done done)
{
    // The pushes keep their debounce and are waited out to their answer: going on earlier would let a
    // late push land on the project that is active by then and overwrite its lists.
    m_waiters.add(std::move(done));
}

void PushGate::releaseWaiters()
{
    m_waiters.release();
}

void PushGate::dropUnsentOf(const QString &project)
{
    m_routes->dropUnsentOf(project);
    m_environments->dropUnsentOf(project);
    releaseWaiters();
}

void PushGate::dropHeldRoutes()
{
    m_routes->endDebounce();
    m_routes->dropHeld();
}

void PushGate::releaseHeldRoutes()
{
    m_routes->endDebounce();
    if (m_routes->hasHeld() && m_routes->heldProject() == m_projects->activeProjectID())
        m_routes->postHeld();
}

void PushGate::landHeld(std::function<void(bool switched)> done, bool switchedSoFar)
{
    endDebounces();
    // An engine being replaced is asked nothing: the new one's state is learnt first, and the held
    // pushes land then.
    if (!hasHeld() || m_recovering) {
        done(switchedSoFar);
        return;
    }
    const QString project = m_routes->hasHeld() ? m_routes->heldProject() : m_environments->heldProject();
    // Edits made meanwhile were held in turn: the next round lands them.
    const auto nextRound = [this, done](bool switched) { landHeld(done, switched); };

    // Made active for the posts, then the engine's own project again.
    const auto landElsewhere = [this, project, switchedSoFar, nextRound](const QString &active) {
        m_channel->projectRequest(
            ProjectStore::path(project, QStringLiteral("/activate")), "POST", std::nullopt,
            [this, project, active, switchedSoFar, nextRound](const std::optional<QByteArray> &answer, bool timedOut) {
                if (timedOut) {
                    emit gaveUp(QStringLiteral("project activation"));
                    nextRound(true);
                    return;
                }
                if (!answer) {
                    dropUnsentOf(project);
                    emit lost(QStringLiteral("their project no longer exists"));
                    nextRound(switchedSoFar);
                    return;
                }
                postHeldOf(project, [this, active, nextRound] {
                    m_channel->projectRequest(ProjectStore::path(active, QStringLiteral("/activate")), "POST",
                                              std::nullopt,
                                              [this, nextRound](const std::optional<QByteArray> &, bool timedOut) {
                                                  if (timedOut)
                                                      emit gaveUp(QStringLiteral("project activation"));
                                                  nextRound(true);
                                              });
                });
            });
    };

    // The project the engine has active now, whatever the list shown says.
    m_channel->projectRequest(
        QStringLiteral("/projects"), "GET", std::nullopt,
        [this, project, switchedSoFar, nextRound, landElsewhere, done](const std::optional<QByteArray> &body,
                                                                       bool timedOut) {
            const auto list = body ? decodeRecord<ProjectList>(EngineChannel::asView(*body)) : std::nullopt;
            if (!list) {
                if (timedOut) {
                    // Kept for the engine that replaces this one.
                    emit gaveUp(QStringLiteral("project list"));
                } else {
                    m_routes->dropHeld();
                    m_environments->dropHeld();
                    emit lost(QStringLiteral("the engine did not say which project is active"));
                }
                done(switchedSoFar);
                return;
            }
            const QString active = QString::fromStdString(list->activeId);
            if (project == active)
                postHeldOf(project, [nextRound, switchedSoFar] { nextRound(switchedSoFar); });
            else
                landElsewhere(active);
        });
}

void PushGate::postHeldOf(const QString &project, Done done)
{
    // Both go out together; done runs once both have been answered.
    auto outstanding = std::make_shared<int>(2);
    const Done one = [outstanding, done] {
        if (--*outstanding == 0)
            done();
    };
    for (OrderedPush *push : {m_routes, m_environments}) {
        if (push->hasHeld() && push->heldProject() == project)
            push->postHeld(one);
        else
            one();
    }
}

void PushGate::flush(int waitMs)
{
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(waitMs);
    // A project change still under way lands what it held once its answer is in; wait for that first.
    const auto changeOver = [this] { return !heldForAnAnswer(); };
    if (!changeOver()) {
        QTimer poll;
        connect(&poll, &QTimer::timeout, &loop, [&] {
            if (changeOver())
                loop.quit();
        });
        poll.start(10);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    if (!deadline.isActive())
        return;
    endDebounces();
    if (hasHeld() && !m_recovering) {
        // The landing may outlive this wait: it must then find no loop to quit.
        struct Landing
        {
            bool done = false;
            QEventLoop *loop = nullptr;
        };
        const auto landing = std::make_shared<Landing>();
        landHeld([landing](bool) {
            landing->done = true;
            if (landing->loop)
                landing->loop->quit();
        });
        if (!landing->done && deadline.isActive()) {
            landing->loop = &loop;
            loop.exec(QEventLoop::ExcludeUserInputEvents);
            landing->loop = nullptr;
        }
    }
    // A list due behind the one on the wire goes as that one is answered, inside this loop.
    const auto answered = [this] { return !unanswered(); };
    if (answered() || !deadline.isActive())
        return;
    for (OrderedPush *push : {m_routes, m_environments})
        connect(push, &OrderedPush::answered, &loop, [&loop, &answered] {
            if (answered())
                loop.quit();
        });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}
