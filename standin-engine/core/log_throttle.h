// Lets one log line per key through in a quiet period, so a client retrying in a loop can't flood the log.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace standin {

class LogThrottle final {
public:
    static constexpr std::chrono::seconds kQuiet {60};
    // Lines let through in one quiet period whatever their keys, so a client making up a new name for
    // each try can't flood the log either.
    static constexpr std::size_t kMaxLinesPerQuiet = 20;

    // Keys are compared on their first kMaxLoggedName bytes.
    bool shouldLog(std::string_view key);

private:
    std::mutex m_mutex;
    std::map<std::string, std::chrono::steady_clock::time_point, std::less<>> m_last;
    std::chrono::steady_clock::time_point m_periodStart {};
    std::size_t m_linesInPeriod = 0;
};

} // namespace standin
