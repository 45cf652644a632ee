// The waiters for settled pushes and the queue of operations: one at a time, in the order asked.
#include "engine/operation_queue.h"
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

TEST(OperationQueue, RunsEachOnceTheOneBeforeHasEndedAndSwitchingCoversEveryQueuedSwitch)
{
    OperationQueue::Done go;
    OperationQueue queue([&](OperationQueue::Done next) { go = std::move(next); });
    std::vector<OperationQueue::Done> ends;
    std::string started;
    const auto operation = [&](char name) {
        return [&, name](OperationQueue::Done ended) {
            started += name;
            ends.push_back(std::move(ended));
        };
    };
    queue.enqueue(OperationQueue::Kind::switchProject, operation('1'));
    queue.enqueue(OperationQueue::Kind::other, operation('2'));
    queue.enqueue(OperationQueue::Kind::switchProject, operation('3'));
    EXPECT_TRUE(queue.switching());
    EXPECT_EQ(started, "");
    go(); // the gate lets the first go
    EXPECT_EQ(started, "1");
    ends[0]();
    ends[0](); // said twice: lets only one more go
    EXPECT_EQ(started, "1");
    go();
    EXPECT_EQ(started, "12");
    EXPECT_TRUE(queue.switching()) << "the second switch still waits";
    ends[1]();
    go();
    ends[2]();
    EXPECT_FALSE(queue.switching());
    EXPECT_FALSE(queue.busy());
}
