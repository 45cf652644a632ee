// Callbacks that wait for a debounced push to settle: run at once when nothing is pending, else when it settles.
#pragma once

#include <functional>
#include <utility>
#include <vector>

class SettleWaiters final
{
public:
    using Done = std::function<void()>;

    void add(Done done, bool pending)
    {
        if (!done)
            return;
        if (!pending) {
            done();
            return;
        }
        m_waiters.push_back(std::move(done));
    }

    // Runs every waiter once the push is no longer pending; a waiter may start another push.
    void release(bool pending)
    {
        if (pending)
            return;
        std::vector<Done> waiters;
        waiters.swap(m_waiters);
        for (Done &waiter : waiters)
            waiter();
    }

private:
    std::vector<Done> m_waiters;
};
