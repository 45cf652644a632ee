// The pace a request body must keep.
#include "net/body_pace.h"

#include "core/test_switches.h"

namespace standin::net {

namespace {

std::chrono::steady_clock::duration bodyGrace()
{
    static const std::chrono::steady_clock::duration grace = [] {
        if (const auto milliseconds = testSwitches().bodyGrace)
            return std::chrono::steady_clock::duration(*milliseconds);
        return std::chrono::steady_clock::duration(Limits::kBodyGrace);
    }();
    return grace;
}

} // namespace

BodyPace::BodyPace(ConnectionTicket *ticket)
    : m_ticket(ticket)
    , m_started(std::chrono::steady_clock::now())
    , m_lastByte(m_started)
{
}

std::chrono::steady_clock::duration BodyPace::nextWait() const
{
    using namespace std::chrono;
    const auto now = steady_clock::now();
    const auto due = m_started + bodyGrace()
                     + duration_cast<steady_clock::duration>(
                         duration<double>(static_cast<double>(m_received) / Limits::kMinBodyBytesPerSecond));
    const steady_clock::duration perPiece = m_ticket ? m_ticket->idleWait() : steady_clock::duration(Limits::kProgress);
    return std::min(perPiece, due - now);
}

void BodyPace::waiting()
{
    using namespace std::chrono;
    if (!m_ticket)
        return;
    // When the body fell behind the minimum rate, if it did: trickled within the grace, it holds its
    // place for little.
    const auto behindSince = m_started + duration_cast<steady_clock::duration>(duration<double>(
                                             static_cast<double>(m_received) / Limits::kMinBodyBytesPerSecond));
    if (behindSince < steady_clock::now())
        m_ticket->setIdleSince(behindSince);
    else
        m_ticket->setQuiet(m_lastByte);
}

bool BodyPace::received(std::size_t bytes)
{
    if (m_ticket && !m_ticket->setIdle(false))
        return false;
    if (bytes == 0)
        return true;
    m_received += bytes;
    m_lastByte = std::chrono::steady_clock::now();
    return true;
}

} // namespace standin::net
