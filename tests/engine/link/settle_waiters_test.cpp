// The waiters for settled pushes: one at a time, in the order they came.
#include "engine/settle_waiters.h"

#include <gtest/gtest.h>

#include <string>

TEST(SettleWaiters, GoOneAtATimeAndAWaiterThatStartsAPushHoldsTheRest)
{
    bool pending = true;
    std::string ran;
    SettleWaiters waiters([&] { return pending; });
    waiters.add([&] {
        ran += 'a';
        pending = true; // starts a push of its own
    });
    waiters.add([&] { ran += 'b'; });
    pending = false;
    waiters.release();
    EXPECT_EQ(ran, "a");
    // One asked for now still goes after the one that waited before it.
    pending = false;
    waiters.add([&] { ran += 'c'; });
    EXPECT_EQ(ran, "abc");
}
