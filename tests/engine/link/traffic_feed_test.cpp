// TrafficFeed: one batch per flush, the newest 300 kept, session counts that go on past them and
// start again wherever the list is emptied.
#include "engine/engine_client.h"
#include "engine/traffic_feed.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

TrafficEntry entry(int index, bool injected)
{
    TrafficEntry e;
    e.id = "t-" + std::to_string(index);
    e.injected = injected;
    e.fresh = true;
    return e;
}

} // namespace

TEST(TrafficFeed, CountsEveryRequestWhileTheListKeepsTheNewest300)
{
    TrafficFeed feed;
    QSignalSpy counts(&feed, &TrafficFeed::sessionCountsChanged);
    QSignalSpy flushed(&feed, &TrafficFeed::flushed);
    for (int i = 0; i < 200; ++i)
        feed.append(entry(i, i % 4 == 0));
    EXPECT_EQ(feed.sessionRequestCount(), 0); // counted as they reach the list
    feed.flush();
    for (int i = 200; i < 500; ++i)
        feed.append(entry(i, i % 4 == 0));
    feed.flush();

    ASSERT_EQ(feed.traffic().size(), 300);
    EXPECT_EQ(feed.traffic().first().id, "t-200");
    EXPECT_EQ(feed.traffic().last().id, "t-499");
    EXPECT_EQ(feed.sessionRequestCount(), 500);
    EXPECT_EQ(feed.sessionInjectedCount(), 125);
    EXPECT_EQ(counts.count(), 2);
    ASSERT_EQ(flushed.count(), 2);
    EXPECT_EQ(flushed.at(1), (QList<QVariant>{300, 200}));

    // Emptied: the counts start again, and what was still buffered is dropped.
    feed.append(entry(500, true));
    feed.reset();
    EXPECT_EQ(feed.sessionRequestCount(), 0);
    EXPECT_EQ(feed.sessionInjectedCount(), 0);
    feed.flush();
    EXPECT_TRUE(feed.traffic().isEmpty());

    // A list handed in whole counts as what it holds.
    feed.reset({entry(1, true), entry(2, false), entry(3, true)});
    EXPECT_EQ(feed.sessionRequestCount(), 3);
    EXPECT_EQ(feed.sessionInjectedCount(), 2);
}

TEST(TrafficFeed, EngineClientCountsRequestEventsAndAReloadStartsThemAgain)
{
    EngineClient client;
    const char event[] = R"({"type":"request","time":"2026-12-07T10:00:00Z","request":{"id":"t-1",)"
                         R"("time":"2026-12-07T10:00:00Z","method":"GET","host":"api.test","path":"/a",)"
                         R"("status":200,"latencyMs":3,"injected":true}})";
    for (int i = 0; i < 350; ++i)
        client.handleEvent(event);
    client.flushTraffic();
    EXPECT_EQ(client.traffic().size(), 300);
    EXPECT_EQ(client.sessionRequestCount(), 350);
    EXPECT_EQ(client.sessionInjectedCount(), 350);

    // Without an engine the reload loads nothing but still empties the list.
    bool reloaded = false;
    client.reloadActiveProjectIntoUI([&] { reloaded = true; });
    ASSERT_TRUE(reloaded);
    EXPECT_TRUE(client.traffic().isEmpty());
    EXPECT_EQ(client.sessionRequestCount(), 0);
}
