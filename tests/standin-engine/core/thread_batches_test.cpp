// Items added from many threads at once: each thread's place holds no more than its taker can need and
// hands back that thread's own oldest, shown ahead the add before, and a take has all the rest, in
// each thread's order.
#include "core/thread_batches.h"

#include <gtest/gtest.h>

#include <numeric>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

using namespace standin;

TEST(ThreadBatches, EachThreadHandsBackItsOwnOldestPastWhatIsKeptAsShownAheadAndATakeHasTheRest)
{
    using Item = std::pair<int, int>; // the adding thread, and its count
    ThreadBatches<Item> batches;
    constexpr int kThreads = 4;
    constexpr int kEach = 1000;
    constexpr int kKept = 100;
    std::vector<std::vector<Item>> handedBack(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // What a full place shows ahead comes first the next time.
            std::optional<Item> shownNext;
            for (int n = 0; n < kEach; ++n) {
                const auto ahead = [&](const auto &items) {
                    ASSERT_EQ(items.size(), static_cast<std::size_t>(kKept));
                    shownNext = items.front();
                };
                const std::optional<Item> shownBefore = shownNext;
                if (auto oldest = batches.add([&] { return Item {t, n}; }, kKept, ahead)) {
                    if (n > kKept) {
                        EXPECT_EQ(oldest, shownBefore);
                    }
                    handedBack[static_cast<std::size_t>(t)].push_back(*oldest);
                }
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    std::vector<std::vector<int>> taken(kThreads);
    for (const auto &[t, n] : batches.takeAll())
        taken[static_cast<std::size_t>(t)].push_back(n);
    for (int t = 0; t < kThreads; ++t) {
        std::vector<Item> oldest;
        for (int n = 0; n < kEach - kKept; ++n)
            oldest.emplace_back(t, n);
        EXPECT_EQ(handedBack[static_cast<std::size_t>(t)], oldest) << "thread " << t;
        std::vector<int> newest(kKept);
        std::iota(newest.begin(), newest.end(), kEach - kKept);
        EXPECT_EQ(taken[static_cast<std::size_t>(t)], newest) << "thread " << t;
    }
    EXPECT_TRUE(batches.takeAll().empty());
}

TEST(ThreadBatches, APlaceBoundInBytesHandsBackItsOldestUntilItFitsButKeepsItsNewest)
{
    using Item = std::pair<int, std::size_t>; // number, size
    struct Case {
        std::vector<std::size_t> sizes;
        std::vector<int> handedBackAtLast; // by the last add
        std::vector<int> left;
    };
    const std::vector<Case> cases {
        {{40, 40, 40}, {0}, {1, 2}},          // one past the bound
        {{10, 10, 10, 10, 90}, {0, 1, 2}, {3, 4}}, // a large one takes several places
        {{30, 150}, {0}, {1}},                // larger than the bound alone: still kept
        {{50, 50}, {}, {0, 1}},               // at the bound: all kept
    };
    for (const Case &c : cases) {
        ThreadBatches<Item> batches;
        std::vector<Item> last;
        for (std::size_t i = 0; i < c.sizes.size(); ++i)
            last = batches.add([&] { return Item {static_cast<int>(i), c.sizes[i]}; }, c.sizes[i], 100, 100, [](const auto &) {});
        std::vector<int> handedBack;
        for (const auto &[n, size] : last)
            handedBack.push_back(n);
        std::vector<int> left;
        for (const auto &[n, size] : batches.takeAll())
            left.push_back(n);
        EXPECT_EQ(handedBack, c.handedBackAtLast) << c.sizes.size() << " items";
        EXPECT_EQ(left, c.left) << c.sizes.size() << " items";
    }
}
