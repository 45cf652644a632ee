// A few threads for replays, with a place taken before the work is handed over.
#include "replay/replay_runner.h"

#include "engine/records/error_reply.h"

#include <boost/asio/post.hpp>

#include <exception>

namespace standin {

ReplayRunner::ReplayRunner() = default;

ReplayRunner::~ReplayRunner()
{
    m_threads.join();
}

bool ReplayRunner::reserve()
{
    std::size_t running = m_running.load();
    do {
        if (running >= kMaxRunning)
            return false;
    } while (!m_running.compare_exchange_weak(running, running + 1));
    return true;
}

void ReplayRunner::run(std::function<ControlResponse()> work, std::function<void(ControlResponse)> done)
{
    boost::asio::post(m_threads, [this, work = std::move(work), done = std::move(done)] {
        ControlResponse answer;
        try {
            answer = work();
        } catch (const std::exception &e) {
            answer = ControlResponse {};
            answer.status = 500;
            answer.setContent(encodeRecord(ErrorReply {std::string("replay failed: ") + e.what()}), "application/json");
        }
        // The place is free before the answer leaves, so whoever reads it can replay again at once.
        --m_running;
        done(std::move(answer));
    });
}

} // namespace standin
