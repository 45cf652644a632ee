// PushGate: the one place that says whether the lists may be edited and where each due push may go.
#pragma once

#include "engine/settle_waiters.h"

#include <QObject>
#include <QString>

#include <functional>

class EngineChannel;
class OrderedPush;
class ProjectStore;

// Edits change the lists shown; their pushes reach the engine only through here. A push reaches only
// the project it was made for. While the engine's active project may be changing, while an import is
// rewriting the routes, or while a hung engine is being replaced, a due push is held rather than sent,
// and is landed once the engine's state is known again; it is dropped only when its project is gone.
class PushGate final : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void()>;
    enum class Kind { routes, environments };
    enum class Verdict { send, hold, drop };

    PushGate(EngineChannel *channel, const ProjectStore *projects, QObject *parent = nullptr);

    const ProjectStore &projects() const { return *m_projects; }
    // Each push names itself once, at its creation.
    void attach(Kind kind, OrderedPush *push);

    // False while a switch, the delete of the active project or the reload after an import is under way:
    // the lists shown may belong to the project being left, so route and environment edits do nothing.
    bool editsOpen() const;
    // Brackets such a time, from its start to the next project's lists.
    void closeEdits() { ++m_editsClosed; }
    void reopenEdits() { --m_editsClosed; }
    // Brackets a request that may change the active project, from its sending to the reload after it.
    void beginChange() { ++m_changes; }
    void endChange() { --m_changes; }
    bool changeUnderWay() const { return m_changes > 0; }
    // Brackets a capture or profile import: the engine rewrites the routes, so route pushes wait for
    // its answer (the edits are then laid over the imported list), and so does any project operation.
    // `then` runs before whatever waited for the import, so that what it pushes goes first.
    void beginImport() { ++m_imports; }
    void endImport(const Done &then = {});
    bool importUnderWay() const { return m_imports > 0; }
    // Brackets the replacement of an engine that stopped answering, up to its lists being shown again.
    void beginRecovery() { m_recovering = true; }
    void endRecovery();
    bool recovering() const { return m_recovering; }
    // Brackets the time from the new engine's connection until its lists are shown, held edits landed.
    void beginResync() { m_resyncing = true; }
    void endResync();

    // What becomes of a push made for `project` that is due now.
    Verdict verdict(Kind kind, const QString &project) const;

    // Every push waiting out its debounce comes due now.
    void endDebounces();
    // True while a write is on the wire or due behind it.
    bool unanswered() const;
    // Calls done once both pushes have settled (held ones landed) and no engine is being replaced.
    void afterSettles(Done done);
    // Drops the pushes made for `project` that were not sent, held ones included.
    void dropUnsentOf(const QString &project);
    void dropHeldRoutes();
    // Sends the held route push to the active project it was made for (an import ended without changing it).
    void releaseHeldRoutes();
    // Lands the held pushes, and any made meanwhile, each in the project it was made for; done says
    // whether the engine's active project was changed and changed back on the way.
    void landHeld(std::function<void(bool switched)> done, bool switchedSoFar = false);
    bool hasHeld() const;
    // True while held pushes wait for an answer still to come (a project change, an import, a new engine).
    bool heldForAnAnswer() const;

    // At shutdown: the edits still owed to the engine land first, for at most waitMs, and what is still
    // not sent after that is dropped.
    void flush(int waitMs);

signals:
    // A write got no answer within its time limit; it may still land, so nothing may be written after it.
    void gaveUp(const QString &what);
    // The engine refused a write, saying why.
    void refused(const QString &what, const QString &reason);
    // Held edits were dropped: their project is gone, or the engine could not say which one is active.
    void lost(const QString &why);

private:
    OrderedPush &push(Kind kind) const { return kind == Kind::routes ? *m_routes : *m_environments; }
    void postHeldOf(const QString &project, Done done);
    bool settled() const;
    void releaseWaiters();

    EngineChannel *m_channel;
    const ProjectStore *m_projects;
    OrderedPush *m_routes = nullptr;
    OrderedPush *m_environments = nullptr;
    int m_editsClosed = 0;
    int m_changes = 0;
    int m_imports = 0;
    bool m_recovering = false;
    bool m_resyncing = false;
    SettleWaiters m_waiters{[this] { return !settled(); }};
};
