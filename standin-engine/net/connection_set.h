// Open connections of a port and their idle marks: what a full port closes to make room, and how many it holds.
#pragma once

#include "net/net_limits.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace standin::net {

// Open connections of one port, so stopping the port closes every one of them, and a full port makes
// room by closing the connection idle the longest.
class ConnectionSet final {
public:
    // When a connection went idle (steady clock ticks), 0 while it is busy, negated while it is quiet
    // (a tunnel or a body that has moved nothing since then), `kClosedMark` once a full port chose it
    // to make room; set without a lock.
    using IdleMark = std::atomic<std::chrono::steady_clock::rep>;
    static constexpr std::chrono::steady_clock::rep kClosedMark = std::numeric_limits<std::chrono::steady_clock::rep>::min();

    // Past `capacity - reserve` connections, each new one closes the longest idle one, so the last
    // `reserve` places stay free for as long as anything idle can make room.
    explicit ConnectionSet(std::size_t capacity = Limits::kMaxConnections, std::size_t reserve = 0);

    // Returns an id, or 0 when the port holds its maximum and none of them is idle. `mark`, when
    // given, receives the connection's idle mark.
    std::uint64_t add(std::function<void()> close, std::shared_ptr<IdleMark> *mark = nullptr);
    void remove(std::uint64_t id);
    // Idle: waiting for a request (or the rest of its header); a new connection is idle from its accept.
    void setIdle(std::uint64_t id, bool idle);
    // False once the connection was chosen to make room: the choice and the connection turning busy
    // are one step, so a connection being closed never starts an exchange.
    static bool setIdle(IdleMark &mark, bool idle);
    // Quiet: a stream that moved nothing since `since`; it counts as idle once that lasted the short
    // idle wait.
    static void setQuiet(IdleMark &mark, std::chrono::steady_clock::time_point since);
    // Idle since `since` though not waiting for a request: a connection that only drops what its client
    // still sends, or a body behind the minimum pace. A full port closes it for a new one as an idle one.
    static void setIdleSince(IdleMark &mark, std::chrono::steady_clock::time_point since);
    void closeAll();
    std::size_t size() const { return m_count; }
    // How long a kept-alive connection may wait for its next request: shorter once the port fills.
    std::chrono::steady_clock::duration idleWait() const;

private:
    struct Entry {
        std::function<void()> close;
        std::shared_ptr<IdleMark> idleSince;
    };
    // The connection idle the longest, its mark already closed; end() when none is idle enough.
    std::unordered_map<std::uint64_t, Entry>::iterator takeLongestIdle();

    const std::size_t m_capacity;
    const std::size_t m_reserve;
    mutable std::mutex m_mutex;
    std::unordered_map<std::uint64_t, Entry> m_entries;
    std::atomic<std::size_t> m_count {0};
    std::uint64_t m_nextId = 1;
};

enum class PortKind { Control, Proxy };

// The most connections a port holds: `Limits::kMaxConnections`, or less when the port's test switch
// asks for it (so a test can fill the port), and never more than the descriptor limit allows:
// a passed-through request holds two sockets, one to the client and one to the host.
std::size_t connectionCapacity(PortKind kind);
// The same from a given descriptor limit and wanted caps.
std::size_t connectionCapacity(std::size_t descriptors, std::size_t controlWanted, std::size_t proxyWanted,
                               PortKind kind);

// Keeps one connection in its ConnectionSet for as long as it lives.
class ConnectionTicket final {
public:
    ConnectionTicket(ConnectionSet &set, std::function<void()> close);
    ~ConnectionTicket();
    ConnectionTicket(const ConnectionTicket &) = delete;
    ConnectionTicket &operator=(const ConnectionTicket &) = delete;
    explicit operator bool() const { return m_id != 0; }
    // False once the port chose this connection to make room (its close is on the way).
    bool setIdle(bool idle) { return !m_idle || ConnectionSet::setIdle(*m_idle, idle); }
    void setQuiet(std::chrono::steady_clock::time_point since)
    {
        if (m_idle)
            ConnectionSet::setQuiet(*m_idle, since);
    }
    void setIdleSince(std::chrono::steady_clock::time_point since)
    {
        if (m_idle)
            ConnectionSet::setIdleSince(*m_idle, since);
    }
    std::chrono::steady_clock::duration idleWait() const { return m_set.idleWait(); }

private:
    ConnectionSet &m_set;
    std::shared_ptr<ConnectionSet::IdleMark> m_idle;
    std::uint64_t m_id;
};

} // namespace standin::net
