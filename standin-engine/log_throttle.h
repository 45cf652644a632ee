// Lets one log line per key through in a quiet period, so a client retrying in a loop can't flood the log.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

namespace standin {

class LogThrottle final {
public:
    static constexpr std::chrono::seconds kQuiet {60};
    bool shouldLog(const std::string &key);

private:
    std::mutex m_mutex;
    std::map<std::string, std::chrono::steady_clock::time_point> m_last;
};

} // namespace standin
