// Replays run on a few threads of their own, so a host that never answers holds no control worker
// and control requests never wait behind replays.
#pragma once

#include "control/control_http.h"

#include <boost/asio/thread_pool.hpp>

#include <atomic>
#include <cstddef>
#include <functional>

namespace standin {

class ReplayRunner final {
public:
    // Replays running at once; one more is refused rather than queued.
    static constexpr std::size_t kMaxRunning = 4;

    ReplayRunner();
    ~ReplayRunner();
    ReplayRunner(const ReplayRunner &) = delete;
    ReplayRunner &operator=(const ReplayRunner &) = delete;

    // Takes a place for one replay; false when all are taken.
    bool reserve();
    // Runs `work` in a place reserve() took, gives the place back, then hands its answer to `done`.
    void run(std::function<ControlResponse()> work, std::function<void(ControlResponse)> done);

private:
    std::atomic<std::size_t> m_running {0};
    boost::asio::thread_pool m_threads {kMaxRunning};
};

} // namespace standin
