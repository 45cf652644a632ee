// Fans engine events out to every open event-stream connection.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace standin {

// One listener's queue of event payloads (JSON texts), filled by the hub and drained by its connection.
class EventSubscription final {
public:
    // Waits up to `timeout` for payloads; returns what is queued (possibly nothing).
    std::vector<std::string> take(std::chrono::milliseconds timeout);
    bool closed() const;
    // Called (on the publishing thread) whenever a payload arrives or the stream closes, so an
    // asynchronous connection can wake up instead of polling; nullptr stops it.
    void setWaker(std::function<void()> waker);

private:
    friend class EventHub;
    void push(const std::string &payload);
    void close();

    mutable std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::string> m_queue;
    bool m_closed = false;
    std::function<void()> m_waker;
};

class EventHub final {
public:
    // A stalled reader must not make the engine hoard events without bound.
    static constexpr size_t kMaxQueued = 5000;

    std::shared_ptr<EventSubscription> subscribe();
    void unsubscribe(const std::shared_ptr<EventSubscription> &subscription);
    void publish(const std::string &payload);
    // Wakes every reader so their connections end (shutdown).
    void closeAll();
    size_t subscriberCount() const;

private:
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<EventSubscription>> m_subscriptions;
    bool m_closed = false;
};

} // namespace standin
