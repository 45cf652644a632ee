// Fans engine events out to every open event-stream connection.
#pragma once

#include "core/test_switches.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace standin {

// One event's JSON text, shared by every subscriber it is queued for.
using EventPayload = std::shared_ptr<const std::string>;

// One listener's queue of event payloads, filled by the hub and drained by its connection.
class EventSubscription final {
public:
    // Waits up to `timeout` for payloads; returns what is queued (possibly nothing).
    std::vector<EventPayload> take(std::chrono::milliseconds timeout);
    bool closed() const;
    // Closed because its reader fell too far behind: its connection should end without a goodbye.
    bool overflowed() const;
    size_t queuedBytes() const;
    // Called (on the publishing thread) whenever a payload arrives or the stream closes, so an
    // asynchronous connection can wake up instead of polling; nullptr stops it.
    void setWaker(std::function<void()> waker);

    explicit EventSubscription(size_t maxQueuedBytes) : m_maxQueuedBytes(maxQueuedBytes) {}

private:
    friend class EventHub;
    void push(const EventPayload &payload);
    void close();

    const size_t m_maxQueuedBytes;
    mutable std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<EventPayload> m_queue;
    size_t m_queuedBytes = 0;
    bool m_closed = false;
    bool m_overflowed = false;
    std::function<void()> m_waker;
};

class EventHub final {
public:
    // A reader that lets this much wait unread is not reading: it is closed rather than fed without
    // bound (the app reads promptly and never comes near it).
    static constexpr size_t kMaxQueuedBytes = 4 * 1024 * 1024;
    // Overrides kMaxQueuedBytes, in bytes; for tests that stall readers with a few events.
    static constexpr const char *kTestQueueVariable = test_switches::kEventQueueBytes;
    // Every event goes to every subscriber; past this many, more would slow the proxy for all.
    static constexpr size_t kMaxSubscribers = 64;

    explicit EventHub(size_t maxQueuedBytes = kMaxQueuedBytes);
    // kMaxQueuedBytes, or the test override when one is set.
    static size_t configuredQueueBytes();

    // A new subscription, or nullptr when kMaxSubscribers are already listening.
    std::shared_ptr<EventSubscription> subscribe();
    void unsubscribe(const std::shared_ptr<EventSubscription> &subscription);
    void publish(const std::string &payload);
    void publish(EventPayload payload);
    // Without a lock, so a publisher builds an event's text only when someone will read it.
    bool listening() const { return m_listening.load(std::memory_order_relaxed); }
    // Wakes every reader so their connections end (shutdown).
    void closeAll();
    size_t subscriberCount() const;

private:
    using SubscriberList = std::vector<std::shared_ptr<EventSubscription>>;

    const size_t m_maxQueuedBytes;
    mutable std::mutex m_mutex;
    // Replaced, never changed in place, so a publisher fans out over its own snapshot without the lock.
    std::shared_ptr<const SubscriberList> m_subscriptions = std::make_shared<const SubscriberList>();
    std::atomic<bool> m_listening {false}; // m_subscriptions holds any
    std::atomic<std::uint64_t> m_version {0}; // counts changes of m_subscriptions
    const std::uint64_t m_instance; // tells this hub from another in a publisher's cache
    bool m_closed = false;
};

} // namespace standin
