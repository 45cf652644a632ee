// The test-only hold of one control write (see control_hold.h).
#include "control/control_hold.h"

#include "control/control_http.h"
#include "core/test_switches.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace standin {

ControlHold &ControlHold::instance()
{
    static ControlHold hold;
    return hold;
}

ControlHold::ControlHold()
{
    const std::string &text = testSwitches().holdWrite;
    if (text.empty())
        return;
    std::istringstream words(text);
    words >> m_method >> m_path;
    std::getline(words >> std::ws, m_dir);
    if (m_dir.empty())
        m_method.clear();
}

bool ControlHold::takes(const ControlRequest &request)
{
    if (m_method.empty() || request.method != m_method || request.path != m_path)
        return false;
    return !m_taken.exchange(true);
}

net::asio::awaitable<bool> ControlHold::wait() const
{
    namespace fs = std::filesystem;
    const fs::path dir(m_dir);
    std::ofstream(dir / "held").put('\n');
    // Polled on the connection's own thread, which stays free for other connections between looks.
    net::asio::steady_timer tick(co_await net::asio::this_coro::executor);
    std::error_code missing;
    while (!fs::exists(dir / "release", missing)) {
        tick.expires_after(std::chrono::milliseconds(5));
        net::beast::error_code stopped;
        co_await tick.async_wait(net::asio::redirect_error(net::asio::use_awaitable, stopped));
        if (stopped)
            co_return false;
    }
    std::string how;
    std::ifstream(dir / "release") >> how;
    co_return how != "cut";
}

} // namespace standin
