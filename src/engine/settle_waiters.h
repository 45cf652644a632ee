// Callbacks that wait for a debounced push to settle: let go one at a time, in the order they came.
#pragma once

#include <deque>
#include <functional>
#include <utility>

class SettleWaiters final
{
public:
    using Done = std::function<void()>;

    explicit SettleWaiters(std::function<bool()> pending)
        : m_pending(std::move(pending))
    {
    }

    // Runs done at once when nothing is pending and no earlier waiter is left; else it waits its turn.
    void add(Done done)
    {
        if (!done)
            return;
        m_waiters.push_back(std::move(done));
        release();
    }

    // Lets the waiters go in order while nothing is pending: one that starts another push or change
    // keeps those behind it waiting for that one too.
    void release()
    {
        if (m_releasing)
            return; // the loop below goes on with it
        m_releasing = true;
        while (!m_waiters.empty() && !m_pending()) {
            Done next = std::move(m_waiters.front());
            m_waiters.pop_front();
            next();
        }
        m_releasing = false;
    }

private:
    std::function<bool()> m_pending;
    std::deque<Done> m_waiters;
    bool m_releasing = false;
};
