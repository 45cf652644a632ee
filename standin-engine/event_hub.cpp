// Event fan-out to the event-stream connections.
#include "event_hub.h"

#include <algorithm>

namespace standin {

std::vector<std::string> EventSubscription::take(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    m_ready.wait_for(lock, timeout, [this] { return m_closed || !m_queue.empty(); });
    std::vector<std::string> taken(std::make_move_iterator(m_queue.begin()),
                                   std::make_move_iterator(m_queue.end()));
    m_queue.clear();
    return taken;
}

bool EventSubscription::closed() const
{
    std::lock_guard lock(m_mutex);
    return m_closed;
}

void EventSubscription::setWaker(std::function<void()> waker)
{
    std::lock_guard lock(m_mutex);
    m_waker = std::move(waker);
}

void EventSubscription::push(const std::string &payload)
{
    std::function<void()> waker;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return;
        if (m_queue.size() >= EventHub::kMaxQueued)
            m_queue.pop_front();
        m_queue.push_back(payload);
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

std::shared_ptr<EventSubscription> EventHub::subscribe()
{
    auto subscription = std::make_shared<EventSubscription>();
    std::lock_guard lock(m_mutex);
    if (m_closed)
        subscription->close();
    else
        m_subscriptions.push_back(subscription);
    return subscription;
}

void EventHub::unsubscribe(const std::shared_ptr<EventSubscription> &subscription)
{
    std::lock_guard lock(m_mutex);
    std::erase(m_subscriptions, subscription);
}

void EventHub::publish(const std::string &payload)
{
    std::lock_guard lock(m_mutex);
    for (const auto &subscription : m_subscriptions)
        subscription->push(payload);
}

void EventHub::closeAll()
{
    std::lock_guard lock(m_mutex);
    m_closed = true;
    for (const auto &subscription : m_subscriptions)
        subscription->close();
    m_subscriptions.clear();
}

size_t EventHub::subscriberCount() const
{
    std::lock_guard lock(m_mutex);
    return m_subscriptions.size();
}

} // namespace standin
