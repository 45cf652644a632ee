// OperationQueue: the queue, the gate before each operation and the switching count.
#include "engine/operation_queue.h"

#include <QPointer>

#include <memory>
#include <utility>

OperationQueue::OperationQueue(Gate gate, QObject *parent)
    : QObject(parent)
    , m_gate(std::move(gate))
{
}

void OperationQueue::enqueue(Kind kind, Operation operation)
{
    if (m_stopped)
        return;
    const bool wasBusy = busy();
    m_waiting.push_back(Entry{kind, std::move(operation)});
    if (kind == Kind::switchProject && ++m_switches == 1)
        emit switchingChanged();
    if (!wasBusy)
        emit busyChanged();
    startNext();
}

void OperationQueue::startNext()
{
    if (m_running || m_waiting.empty() || m_stopped)
        return;
    m_running = true;
    Entry entry = std::move(m_waiting.front());
    m_waiting.pop_front();
    QPointer<OperationQueue> self(this);
    const int generation = m_generation;
    m_gate([self, generation, entry = std::move(entry)] {
        if (!self || self->m_generation != generation)
            return;
        // An operation that says it ended twice lets only one more go.
        auto once = std::make_shared<bool>(false);
        const Kind kind = entry.kind;
        entry.operation([self, once, kind, generation] {
            if (*once || !self)
                return;
            *once = true;
            self->ended(kind, generation);
        });
    });
}

void OperationQueue::ended(Kind kind, int generation)
{
    if (generation != m_generation)
        return;
    m_running = false;
    if (kind == Kind::switchProject && --m_switches == 0)
        emit switchingChanged();
    startNext();
    if (!busy())
        emit busyChanged();
}

void OperationQueue::stop()
{
    m_stopped = true;
    ++m_generation;
    const bool wasBusy = busy();
    m_running = false;
    m_waiting.clear();
    if (std::exchange(m_switches, 0) > 0)
        emit switchingChanged();
    if (wasBusy)
        emit busyChanged();
}
