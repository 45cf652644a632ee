// OperationQueue: project operations, imports and exports, run one at a time in the order they were asked.
#pragma once

#include <QObject>

#include <deque>
#include <functional>

// Each operation starts once the one before it has ended and the gate lets it go (the edits made before
// it have reached the engine), so each acts on the project the operations before it left active.
class OperationQueue final : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void()>;
    // Gets `ended`, to be called once when the operation is over, whatever its outcome.
    using Operation = std::function<void(Done ended)>;
    // Calls go once the next operation may start.
    using Gate = std::function<void(Done go)>;
    enum class Kind { switchProject, other };

    explicit OperationQueue(Gate gate, QObject *parent = nullptr);

    void enqueue(Kind kind, Operation operation);
    // True while an operation runs or waits.
    bool busy() const { return m_running || !m_waiting.empty(); }
    // True while a project switch runs or waits.
    bool switching() const { return m_switches > 0; }
    // At quit: what waits is dropped, the one running is forgotten, and nothing starts until resume().
    void stop();
    void resume() { m_stopped = false; }

signals:
    void switchingChanged();
    void busyChanged();

private:
    struct Entry
    {
        Kind kind;
        Operation operation;
    };

    void startNext();
    void ended(Kind kind, int generation);

    Gate m_gate;
    std::deque<Entry> m_waiting;
    bool m_running = false;
    bool m_stopped = false;
    int m_switches = 0;
    int m_generation = 0; // an operation started before stop() ends nothing after it
};
