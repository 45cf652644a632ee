// Host names looked up while the name server stays silent or answers late: no lookup holds up another
// host, and a late answer reaches nothing that gave up on it.
#include "standin-engine/engine_process.h"
#include "standin-engine/silent_peer.h"
#include "standin-engine/test_upstream.h"

#include "support/test_support.h"

#include "engine/records/engine_records.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <sys/socket.h>
#include <vector>

using standintest::EngineProcess;
using standintest::SilentPeer;
using standintest::TestUpstream;
using standintest::proxyRequest;

// A replay gives up on a lookup at its deadline and its event loop goes; the name server's late answer
// must then reach nothing of it (it used to be posted into the freed loop and kill the engine).
TEST(NameLookups, AnAnswerAfterAReplayGaveUpOnItReachesNothingOfIt)
{
    SilentPeer nameServer(SOCK_DGRAM);
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), QStringList {"--autostart"});
    engine.setEnvironment("KESTRION_TEST_NAME_SERVERS", QString("127.0.0.1:%1").arg(nameServer.port()));
    engine.setEnvironment("KESTRION_TEST_LOOKUP_DEADLINE_MS", "300");
    ASSERT_TRUE(engine.start());

    const auto first = proxyRequest(engine.proxyPort(), "GET", "http://late.test/x");
    ASSERT_TRUE(first);
    ASSERT_EQ(first->status, 502);
    const auto records = engine.client()->Get("/traffic?limit=1");
    ASSERT_TRUE(records && records->status == 200);
    const auto page = decodeRecord<std::vector<TrafficRecord>>(records->body);
    ASSERT_TRUE(page && page->size() == 1u) << records->body;
    for (int i = 0; i < 3; ++i) {
        const auto replayed = engine.client()->Post("/replay/" + page->front().id);
        ASSERT_TRUE(replayed);
        EXPECT_NE(replayed->body.find("could not be resolved"), std::string::npos) << replayed->body;
    }

    // The late answers come; a lookup after them is answered too, so theirs have been handled.
    nameServer.answerEveryQuestion();
    const auto after = proxyRequest(engine.proxyPort(), "GET", "http://after.test/x");
    ASSERT_TRUE(after) << engine.output().toStdString();
    EXPECT_EQ(after->status, 502);
    EXPECT_NE(after->body.find("could not be resolved"), std::string::npos) << after->body;
    const auto health = engine.client()->Get("/health");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, 200);
}

TEST(NameLookups, NamesThatNeverResolveHoldUpNoOtherHost)
{
    SilentPeer nameServer(SOCK_DGRAM);
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), QStringList {"--autostart"});
    engine.setEnvironment("KESTRION_TEST_NAME_SERVERS", QString("127.0.0.1:%1").arg(nameServer.port()));
    engine.setEnvironment("KESTRION_TEST_LOOKUP_DEADLINE_MS", "1500");
    ASSERT_TRUE(engine.start());
    TestUpstream upstream([](const TestUpstream::Request &, TestUpstream::Reply &reply) { reply.body = "near"; });

    constexpr int kNames = 24;
    std::vector<std::future<standintest::Result>> stuck;
    for (int i = 0; i < kNames; ++i)
        stuck.push_back(std::async(std::launch::async, [&engine, i] {
            return proxyRequest(engine.proxyPort(), "GET", "http://never-" + std::to_string(i) + ".test/x");
        }));
    // Every lookup is out at once, none waiting for another to end...
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            for (int i = 0; i < kNames; ++i) {
                if (!nameServer.asked("never-" + std::to_string(i)))
                    return false;
            }
            return true;
        },
        10000));
    // ...and meanwhile hosts given by address or from the hosts file are reached, the engine's own
    // ports still refused however they are named.
    for (const std::string host : {"127.0.0.1", "localhost", "2130706433"}) {
        const auto reply = proxyRequest(engine.proxyPort(), "GET", "http://" + host + ":" + std::to_string(upstream.port()) + "/near");
        ASSERT_TRUE(reply) << host;
        EXPECT_EQ(reply->body, "near") << host;
        const auto own = proxyRequest(engine.proxyPort(), "GET", "http://" + host + ":" + std::to_string(engine.controlPort()) + "/health");
        ASSERT_TRUE(own) << host;
        EXPECT_EQ(own->status, 403) << host;
    }
    for (int i = 0; i < kNames; ++i) {
        const auto reply = stuck[i].get();
        ASSERT_TRUE(reply) << i;
        EXPECT_EQ(reply->status, 502) << i;
        EXPECT_NE(reply->body.find("never-" + std::to_string(i) + ".test could not be resolved"), std::string::npos)
            << reply->body;
    }
}
