// The test-only misbehaviours of the stand-in engine, which the engine link's tests rely on.
#include "standin-engine/engine_process.h"

#include "support/test_support.h"

#include "engine/records/engine_records.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using standintest::EngineProcess;
using standintest::EventReader;

TEST(FaultModes, CrashAfterReadyExitsWithStatusThree)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), {}, "crash-after-ready");
    ASSERT_TRUE(engine.start());
    ASSERT_TRUE(engine.waitForExit(3000));
    EXPECT_EQ(engine.exitCode(), 3);
}

TEST(FaultModes, SplitPortLineArrivesInTwoWrites)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), {}, "split-port-line");
    engine.process().setProcessChannelMode(QProcess::MergedChannels);
    ASSERT_TRUE(engine.start());
    // The reader saw the first half alone before the rest came.
    EXPECT_TRUE(engine.output().contains("KESTRION_CONTROL_PORT=" + QByteArray::number(engine.controlPort())));
    EXPECT_TRUE(engine.client()->Get("/health"));
}

TEST(FaultModes, LogFloodPrints250LinesBeforeThePortLine)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), {}, "log-flood");
    ASSERT_TRUE(engine.start());
    const QByteArray output = engine.output();
    const auto portAt = output.indexOf("KESTRION_CONTROL_PORT=");
    EXPECT_EQ(output.count("flood line "), 250);
    EXPECT_LT(output.indexOf("flood line 250\n"), portAt);
    EXPECT_TRUE(output.startsWith("flood line 1\n"));
}

TEST(FaultModes, HangHealthHoldsHealthButAnswersTheRest)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), {}, "hang-health");
    ASSERT_TRUE(engine.start());
    auto client = engine.client();
    client->set_read_timeout(0, 300 * 1000); // held for good: any wait shows it
    EXPECT_FALSE(client->Get("/health"));
    const auto routes = engine.client()->Get("/routes");
    ASSERT_TRUE(routes);
    EXPECT_EQ(routes->status, 200);
    engine.closeStdin();
    EXPECT_TRUE(engine.waitForExit(3000)); // a held request doesn't keep the process alive
}

TEST(FaultModes, GarbageEventsComeBeforeOneValidRequest)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path(), {}, "garbage-events");
    ASSERT_TRUE(engine.start());
    EventReader events(engine);
    ASSERT_TRUE(events.waitForPayload("/after-garbage"));

    const auto payloads = events.payloads();
    ASSERT_FALSE(payloads.empty());
    EXPECT_EQ(decodeRecord<EngineEvent>(payloads.front())->type, "hello");
    int undecodable = 0;
    for (const auto &payload : payloads) {
        if (!decodeRecord<EngineEvent>(payload))
            ++undecodable;
    }
    EXPECT_GE(undecodable, 3); // bad JSON, a request without payload, an empty data line
    const auto last = decodeRecord<EngineEvent>(payloads.back());
    ASSERT_TRUE(last);
    EXPECT_EQ(last->type, "request");
    ASSERT_TRUE(last->request);
    EXPECT_EQ(last->request->path, "/after-garbage");

    const auto lines = events.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string &line) {
        return !line.empty() && line.rfind("data:", 0) != 0 && line.front() != ':';
    }));
}
