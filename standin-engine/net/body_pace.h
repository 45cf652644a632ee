// The pace a request body must keep, so one trickled a byte at a time cannot hold a connection.
#pragma once

#include "net/connection_set.h"

#include <chrono>
#include <cstddef>

namespace standin::net {

// The pace a request body must keep: no piece may take longer than the port's idle wait (short once
// the port fills), and the whole keeps a minimum rate. While a piece is awaited the connection is
// quiet, so a full port can close one stalled mid-body; one behind the minimum rate, which only its
// first seconds' grace keeps, is idle, so a full port closes it for a new one as it would an idle one.
class BodyPace final {
public:
    explicit BodyPace(ConnectionTicket *ticket);
    // How long the next piece may take; zero once the body fell behind the minimum rate.
    std::chrono::steady_clock::duration nextWait() const;
    void waiting();
    // False once the port chose the connection to make room: its request goes no further.
    bool received(std::size_t bytes);

private:
    ConnectionTicket *m_ticket;
    const std::chrono::steady_clock::time_point m_started;
    std::chrono::steady_clock::time_point m_lastByte;
    std::size_t m_received = 0;
};

} // namespace standin::net
