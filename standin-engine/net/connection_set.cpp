// Connection bookkeeping for the engine's two ports.
#include "net/connection_set.h"

#include "core/test_switches.h"
#include "net/io_pool.h"

#include <limits>

namespace standin::net {

ConnectionSet::ConnectionSet(std::size_t capacity, std::size_t reserve)
    : m_capacity(std::max<std::size_t>(capacity, 1))
    , m_reserve(std::min(reserve, m_capacity - 1))
{
}

std::unordered_map<std::uint64_t, ConnectionSet::Entry>::iterator ConnectionSet::takeLongestIdle()
{
    const auto quietEnough = std::chrono::steady_clock::duration(Limits::kIdleUnderPressure).count();
    // A connection may turn busy while it is being chosen: it is taken only while its mark is still the
    // one it was chosen by, else the choice is made again.
    for (;;) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        // Ties go to the older id: connections are added in the order they were accepted.
        auto oldest = m_entries.end();
        std::chrono::steady_clock::rep oldestSince = 0;
        std::chrono::steady_clock::rep oldestMark = 0;
        for (auto entry = m_entries.begin(); entry != m_entries.end(); ++entry) {
            const auto mark = entry->second.idleSince->load();
            auto since = mark;
            if (since < 0) {
                since = -since;
                if (now - since < quietEnough)
                    continue;
            }
            if (since != 0
                && (oldest == m_entries.end() || since < oldestSince
                    || (since == oldestSince && entry->first < oldest->first))) {
                oldest = entry;
                oldestSince = since;
                oldestMark = mark;
            }
        }
        if (oldest == m_entries.end() || oldest->second.idleSince->compare_exchange_strong(oldestMark, kClosedMark))
            return oldest;
    }
}

std::uint64_t ConnectionSet::add(std::function<void()> close, std::shared_ptr<IdleMark> *mark)
{
    std::function<void()> evicted;
    std::uint64_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_entries.size() >= m_capacity - m_reserve) {
            if (const auto oldest = takeLongestIdle(); oldest != m_entries.end()) {
                evicted = std::move(oldest->second.close);
                m_entries.erase(oldest);
            } else if (m_entries.size() >= m_capacity) {
                return 0;
            }
        }
        id = m_nextId++;
        auto idleSince = std::make_shared<IdleMark>(0);
        if (mark)
            *mark = idleSince;
        m_entries.emplace(id, Entry {std::move(close), std::move(idleSince)});
        m_count = m_entries.size();
    }
    if (evicted)
        evicted();
    return id;
}

void ConnectionSet::remove(std::uint64_t id)
{
    std::lock_guard lock(m_mutex);
    m_entries.erase(id);
    m_count = m_entries.size();
}

void ConnectionSet::setIdle(std::uint64_t id, bool idle)
{
    std::lock_guard lock(m_mutex);
    if (const auto entry = m_entries.find(id); entry != m_entries.end())
        setIdle(*entry->second.idleSince, idle);
}

bool ConnectionSet::setIdle(IdleMark &mark, bool idle)
{
    const auto now = std::max<std::chrono::steady_clock::rep>(1, std::chrono::steady_clock::now().time_since_epoch().count());
    std::chrono::steady_clock::rep current = mark.load();
    for (;;) {
        if (current == kClosedMark)
            return false;
        // Marking an idle connection again keeps its place in line.
        if (idle && current > 0)
            return true;
        if (mark.compare_exchange_weak(current, idle ? now : 0))
            return true;
    }
}

void ConnectionSet::setQuiet(IdleMark &mark, std::chrono::steady_clock::time_point since)
{
    const auto quiet = -std::max<std::chrono::steady_clock::rep>(1, since.time_since_epoch().count());
    std::chrono::steady_clock::rep current = mark.load();
    while (current != kClosedMark && !mark.compare_exchange_weak(current, quiet)) {
    }
}

void ConnectionSet::setIdleSince(IdleMark &mark, std::chrono::steady_clock::time_point since)
{
    const auto idle = std::max<std::chrono::steady_clock::rep>(1, since.time_since_epoch().count());
    std::chrono::steady_clock::rep current = mark.load();
    while (current != kClosedMark && !mark.compare_exchange_weak(current, idle)) {
    }
}

void ConnectionSet::closeAll()
{
    std::vector<std::function<void()>> closers;
    {
        std::lock_guard lock(m_mutex);
        for (const auto &[id, entry] : m_entries)
            closers.push_back(entry.close);
    }
    for (auto &close : closers)
        close();
}

std::chrono::steady_clock::duration ConnectionSet::idleWait() const
{
    return size() * 2 >= m_capacity ? std::chrono::steady_clock::duration(Limits::kIdleUnderPressure)
                                    : std::chrono::steady_clock::duration(Limits::kIdle);
}

std::size_t connectionCapacity(std::size_t descriptors, std::size_t controlWanted, std::size_t proxyWanted,
                               PortKind kind)
{
    constexpr std::size_t kFloor = 8;
    const std::size_t budget = descriptors > Limits::kReservedDescriptors + 4 * kFloor
                                   ? descriptors - Limits::kReservedDescriptors
                                   : 4 * kFloor;
    const std::size_t control = std::min(controlWanted, std::max(kFloor, budget / 8));
    if (kind == PortKind::Control)
        return control;
    const std::size_t left = budget > control ? budget - control : 0;
    return std::min(proxyWanted, std::max(kFloor, left / 2));
}

std::size_t connectionCapacity(PortKind kind)
{
    const TestSwitches &switches = testSwitches();
    const std::size_t wanted = (kind == PortKind::Control ? switches.controlConnections : switches.proxyConnections)
                                   .value_or(Limits::kMaxConnections);
    return kind == PortKind::Control
               ? connectionCapacity(descriptorLimit(), wanted, Limits::kMaxConnections, kind)
               : connectionCapacity(descriptorLimit(), Limits::kMaxConnections, wanted, kind);
}

ConnectionTicket::ConnectionTicket(ConnectionSet &set, std::function<void()> close)
    : m_set(set)
    , m_id(set.add(std::move(close), &m_idle))
{
}

ConnectionTicket::~ConnectionTicket()
{
    if (m_id)
        m_set.remove(m_id);
}

} // namespace standin::net
