// The engine-wide bound on buffered body bytes.
#include "net/body_budget.h"

#include "core/test_switches.h"

#include <algorithm>
#include <string>

namespace standin {

BodyBudget::BodyBudget(std::size_t bytes)
    : m_limit(bytes)
{
}

std::size_t BodyBudget::configuredBytes()
{
    return testSwitches().bodyBudget.value_or(kDefaultBytes);
}

bool BodyBudget::take(std::size_t bytes)
{
    std::size_t used = m_used.load();
    do {
        if (bytes > m_limit - std::min(used, m_limit))
            return false;
    } while (!m_used.compare_exchange_weak(used, used + bytes));
    return true;
}

void BodyBudget::give(std::size_t bytes)
{
    m_used -= bytes;
}

bool BodyLease::growTo(std::size_t total)
{
    if (!m_budget || total <= m_held)
        return true;
    if (!m_budget->take(total - m_held))
        return false;
    m_held = total;
    return true;
}

void BodyLease::release()
{
    if (m_budget && m_held)
        m_budget->give(m_held);
    m_held = 0;
}

} // namespace standin
