// One log line per key and quiet period, and a few in all.
#include "core/log_throttle.h"

#include "core/engine_support.h"

namespace standin {

bool LogThrottle::shouldLog(std::string_view key)
{
    key = key.substr(0, kMaxLoggedName);
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(m_mutex);
    if (m_linesInPeriod == 0 || now - m_periodStart >= kQuiet) {
        m_periodStart = now;
        m_linesInPeriod = 0;
    }
    if (m_linesInPeriod >= kMaxLinesPerQuiet)
        return false;
    if (m_last.size() > 1000)
        m_last.clear();
    auto entry = m_last.find(key);
    if (entry != m_last.end() && now - entry->second < kQuiet)
        return false;
    if (entry == m_last.end())
        entry = m_last.emplace(std::string(key), now).first;
    entry->second = now;
    ++m_linesInPeriod;
    return true;
}

} // namespace standin
