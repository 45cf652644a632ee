// One log line per key and quiet period.
#include "log_throttle.h"

namespace standin {

bool LogThrottle::shouldLog(const std::string &key)
{
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(m_mutex);
    if (m_last.size() > 1000)
        m_last.clear();
    auto [entry, added] = m_last.try_emplace(key, now);
    if (!added && now - entry->second < kQuiet)
        return false;
    entry->second = now;
    return true;
}

} // namespace standin
