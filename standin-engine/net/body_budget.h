// One engine-wide bound on the bytes of bodies the proxy holds in memory at once, so many slow or
// unfinished uploads can't take the machine's memory between them.
#pragma once

#include <atomic>
#include <cstddef>

namespace standin {

class BodyBudget final {
public:
    static constexpr std::size_t kDefaultBytes = 256 * 1024 * 1024;

    explicit BodyBudget(std::size_t bytes);
    // The default bound, or the test switch's when one is set.
    static std::size_t configuredBytes();

    // False (and nothing taken) when the bytes would pass the bound.
    bool take(std::size_t bytes);
    void give(std::size_t bytes);
    std::size_t inUse() const { return m_used; }
    std::size_t limit() const { return m_limit; }

private:
    const std::size_t m_limit;
    std::atomic<std::size_t> m_used {0};
};

// Bytes of one body held against the budget; given back when the lease ends.
class BodyLease final {
public:
    explicit BodyLease(BodyBudget *budget)
        : m_budget(budget)
    {
    }
    ~BodyLease() { release(); }
    BodyLease(const BodyLease &) = delete;
    BodyLease &operator=(const BodyLease &) = delete;

    // Holds `total` bytes in all; false when the budget has no room for the growth.
    bool growTo(std::size_t total);
    void release();

private:
    BodyBudget *m_budget;
    std::size_t m_held = 0;
};

} // namespace standin
