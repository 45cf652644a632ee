// The event stream's hub: stalled readers closed at their bound, one copy shared, the app's streams kept apart.
#include "control/event_hub.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace standin;

TEST(EventHub, StalledReadersAreClosedAtTheirBoundAndEveryoneSharesOneCopy)
{
    EXPECT_EQ(EventHub::configuredQueueBytes(), EventHub::kMaxQueuedBytes); // without the test override
    EventHub hub;
    std::vector<std::shared_ptr<EventSubscription>> stalled;
    for (int i = 0; i < 20; ++i)
        stalled.push_back(hub.subscribe());
    const auto reader = hub.subscribe();
    const auto otherReader = hub.subscribe();

    const std::string big(50 * 1024, 'x');
    size_t delivered = 0;
    for (int i = 0; i < 200; ++i) {
        hub.publish(std::to_string(i) + big);
        for (const auto &subscription : stalled)
            ASSERT_LE(subscription->queuedBytes(), EventHub::kMaxQueuedBytes);
        const auto first = reader->take(std::chrono::milliseconds(0));
        const auto second = otherReader->take(std::chrono::milliseconds(0));
        ASSERT_EQ(first.size(), 1u);
        ASSERT_EQ(second.size(), 1u);
        EXPECT_EQ(first[0].get(), second[0].get()); // one copy, however many read it
        EXPECT_EQ(first[0]->substr(0, std::to_string(i).size()), std::to_string(i));
        ++delivered;
    }
    EXPECT_EQ(delivered, 200u);
    for (const auto &subscription : stalled) {
        EXPECT_TRUE(subscription->closed());
        EXPECT_TRUE(subscription->overflowed());
        EXPECT_EQ(subscription->queuedBytes(), 0u); // what it held is let go
    }
    EXPECT_FALSE(reader->closed());
    EXPECT_FALSE(reader->overflowed());

    // Past the cap a reader is refused; one leaving makes room again.
    std::vector<std::shared_ptr<EventSubscription>> more;
    while (auto subscription = hub.subscribe())
        more.push_back(subscription);
    EXPECT_EQ(hub.subscriberCount(), EventHub::kMaxSubscribers);
    hub.unsubscribe(stalled.front());
    EXPECT_NE(hub.subscribe(), nullptr);
    EXPECT_EQ(hub.subscribe(), nullptr);

    hub.closeAll();
    EXPECT_TRUE(reader->closed());
    EXPECT_FALSE(reader->overflowed());
}
