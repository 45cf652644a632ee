// Event fan-out to the event-stream connections.
#include "control/event_hub.h"

#include <algorithm>
#include <utility>

namespace standin {

std::vector<EventPayload> EventSubscription::take(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    if (timeout.count() > 0) // a look without a wait needs no clock
        m_ready.wait_for(lock, timeout, [this] { return m_closed || !m_queue.empty(); });
    std::vector<EventPayload> taken(std::make_move_iterator(m_queue.begin()), std::make_move_iterator(m_queue.end()));
    m_queue.clear();
    m_queuedBytes = 0;
    return taken;
}

bool EventSubscription::closed() const
{
    std::lock_guard lock(m_mutex);
    return m_closed;
}

bool EventSubscription::overflowed() const
{
    std::lock_guard lock(m_mutex);
    return m_overflowed;
}

size_t EventSubscription::queuedBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_queuedBytes;
}

void EventSubscription::setWaker(std::function<void()> waker)
{
    std::lock_guard lock(m_mutex);
    m_waker = std::move(waker);
}

void EventSubscription::push(const EventPayload &payload)
{
    std::function<void()> waker;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return;
        if (m_queuedBytes + payload->size() > m_maxQueuedBytes) {
            // Dropping events silently would leave the reader with a false picture; ending the stream
            // tells it to reconnect.
            m_queue.clear();
            m_queuedBytes = 0;
            m_closed = true;
            m_overflowed = true;
        } else {
            const bool halfFull = m_queuedBytes >= m_maxQueuedBytes / 2;
            m_queue.push_back(payload);
            m_queuedBytes += payload->size();
            // A reader takes the whole queue when it wakes: only the first event after a take wakes it,
            // so a busy proxy's publishers don't all wake the same connection; and once more when the
            // queue passes half its bound, in case the reader waits for more to join the first.
            if (m_queue.size() > 1 && (halfFull || m_queuedBytes < m_maxQueuedBytes / 2))
                return;
        }
        waker = m_waker;
    }
    m_ready.notify_all();
    if (waker)
        waker();
}

void EventSubscription::close()
{
    std::function<void()> waker;
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        waker = m_waker;
    }
    m_ready.notify_all();
    if (waker)
        waker();
}

EventHub::EventHub(size_t maxQueuedBytes)
    : m_maxQueuedBytes(maxQueuedBytes)
    , m_instance([] {
        static std::atomic<std::uint64_t> hubs {0};
        return ++hubs;
    }())
{
}

size_t EventHub::configuredQueueBytes()
{
    return testSwitches().eventQueueBytes.value_or(kMaxQueuedBytes);
}

std::shared_ptr<EventSubscription> EventHub::subscribe()
{
    auto subscription = std::make_shared<EventSubscription>(m_maxQueuedBytes);
    std::lock_guard lock(m_mutex);
    if (m_closed) {
        subscription->close();
        return subscription;
    }
    if (m_subscriptions->size() >= kMaxSubscribers)
        return nullptr;
    auto grown = std::make_shared<SubscriberList>(*m_subscriptions);
    grown->push_back(subscription);
    m_subscriptions = std::move(grown);
    ++m_version;
    m_listening = true;
    return subscription;
}

void EventHub::unsubscribe(const std::shared_ptr<EventSubscription> &subscription)
{
    std::lock_guard lock(m_mutex);
    auto shrunk = std::make_shared<SubscriberList>(*m_subscriptions);
    std::erase(*shrunk, subscription);
    m_subscriptions = std::move(shrunk);
    ++m_version;
    m_listening = !m_subscriptions->empty();
}

void EventHub::publish(const std::string &payload)
{
    if (listening())
        publish(std::make_shared<const std::string>(payload));
}

void EventHub::publish(EventPayload payload)
{
    // Each publishing thread keeps the list it saw last while the list stays the same, so a busy proxy's
    // threads don't all take the hub's lock for every event.
    struct Seen {
        std::uint64_t hub = 0;
        std::uint64_t version = 0;
        std::shared_ptr<const SubscriberList> list;
    };
    thread_local Seen seen;
    const std::uint64_t version = m_version.load(std::memory_order_acquire);
    if (seen.hub != m_instance || seen.version != version) {
        std::lock_guard lock(m_mutex);
        seen = {m_instance, m_version.load(std::memory_order_relaxed), m_subscriptions};
    }
    for (const auto &subscription : *seen.list)
        subscription->push(payload);
}

void EventHub::closeAll()
{
    std::shared_ptr<const SubscriberList> subscriptions;
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        subscriptions = std::exchange(m_subscriptions, std::make_shared<const SubscriberList>());
        ++m_version;
        m_listening = false;
    }
    for (const auto &subscription : *subscriptions)
        subscription->close();
}

size_t EventHub::subscriberCount() const
{
    std::lock_guard lock(m_mutex);
    return m_subscriptions->size();
}

} // namespace standin
