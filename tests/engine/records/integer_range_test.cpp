// Record integers hold signed 64-bit values (memoryBytes unsigned 64-bit), so one large value does
// not fail a whole document; and host lower-casing covers every script.
#include "engine/records/engine_records.h"
#include "engine/records/route_input.h"

#include <gtest/gtest.h>

namespace {

std::string health(const std::string &memoryBytes)
{
    return R"({"status":"ok","version":"1","pid":4000000000,"uptimeSeconds":1.5,"proxyRunning":true,)"
           R"("proxyPort":9999,"controlPort":1,"memoryBytes":)"
           + memoryBytes + R"(,"goroutines":3000000000,"routeCount":0})";
}

} // namespace

TEST(IntegerRange, HealthTakesAnUnsigned64BitMemoryCount)
{
    const auto top = decodeRecord<EngineHealth>(health("9223372036854775808"));
    ASSERT_TRUE(top) << "2^63 is a memory size, not a missed health check";
    EXPECT_EQ(top->memoryBytes, std::uint64_t(1) << 63);
    EXPECT_EQ(top->pid, 4000000000);
    EXPECT_EQ(top->goroutines, 3000000000);
    EXPECT_EQ(decodeRecord<EngineHealth>(health("18446744073709551615"))->memoryBytes, UINT64_MAX);
    EXPECT_FALSE(decodeRecord<EngineHealth>(health("-1"))) << "a negative size is no size";
    EXPECT_FALSE(decodeRecord<EngineHealth>(health("18446744073709551616"))) << "past 64 bits";
    EXPECT_FALSE(decodeRecord<EngineHealth>(health("1.5")));
}

TEST(IntegerRange, CountsPastThirtyTwoBitsDecodeInEveryRecord)
{
    const auto baseline = decodeRecord<SchemaBaseline>(
        R"({"key":"k","method":"GET","host":"h","path":"/","locked":false,"samples":3000000000,)"
        R"("sketch":{"paths":{"$.id":{"types":["int"],"present":3000000000}},"samples":3000000000}})");
    ASSERT_TRUE(baseline);
    EXPECT_EQ(baseline->samples, 3000000000);
    EXPECT_EQ(baseline->sketch->samples, 3000000000);
    EXPECT_EQ(baseline->sketch->paths.at("$.id").present, 3000000000);

    const auto projects = decodeRecord<ProjectList>(
        R"({"activeId":"p","projects":[{"id":"p","name":"n","routeCount":-5000000000,"updatedAt":""}]})");
    ASSERT_TRUE(projects);
    EXPECT_EQ(projects->projects.at(0).routeCount, -5000000000);

    const auto routes = decodeRecord<std::vector<WireRoute>>(
        R"([{"id":"r","method":"GET","host":"","path":"/","status":200,"latencyMs":9223372036854775807,)"
        R"("active":true,"body":"","passThrough":false,"sequence":[{"status":200,"body":"","repeat":3000000000}]}])");
    ASSERT_TRUE(routes);
    EXPECT_EQ(routes->at(0).latencyMs, INT64_MAX);
    EXPECT_EQ(toEndpoints(*routes).at(0).sequence.at(0).repeatCount, 3000000000);
    EXPECT_EQ(encodeRecord(routes->at(0).sequence->at(0)), R"({"status":200,"body":"","repeat":3000000000})");

    const auto record = decodeRecord<TrafficRecord>(
        R"({"id":"t","time":"t","method":"GET","host":"h","path":"/","status":200,"latencyMs":5000000000,"injected":false})");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->latencyMs, 5000000000);
    EXPECT_FALSE(decodeRecord<TrafficRecord>(
        R"({"id":"t","time":"t","method":"GET","host":"h","path":"/","status":9223372036854775808,"latencyMs":0,"injected":false})"))
        << "a signed field past 2^63 - 1 still fails";
}

TEST(RouteInputCase, HostsAreLowerCasedInEveryScript)
{
    EXPECT_EQ(RouteInput::normalizeHost("\xEF\xBC\xA1\xEF\xBC\xA2\xEF\xBC\xA3.test"), "\xEF\xBD\x81\xEF\xBD\x82\xEF\xBD\x83.test")
        << "fullwidth ABC";
    EXPECT_EQ(RouteInput::normalizeHost("\xD4\xB1\xD5\xA2.am"), "\xD5\xA1\xD5\xA2.am") << "Armenian";
    EXPECT_EQ(RouteInput::normalizeHost("\xE1\x82\xA0.ge"), "\xE2\xB4\x80.ge") << "Georgian Asomtavruli";
    EXPECT_EQ(RouteInput::normalizeHost("\xF0\x90\x90\x80.test"), "\xF0\x90\x90\xA8.test") << "Deseret, four bytes";
    EXPECT_EQ(RouteInput::normalizeHost("\xC8\xBA.test"), "\xE2\xB1\xA5.test") << "a capital whose small form is longer";
    EXPECT_EQ(RouteInput::normalizeHost("\xC4\xB0stanbul.test"), "i\xCC\x87stanbul.test") << "dotted capital I";
    EXPECT_EQ(RouteInput::normalizeHost("\xCE\xA3\xCE\x9F\xCE\xA6\xCE\x99\xCE\x91.gr"), "\xCF\x83\xCE\xBF\xCF\x86\xCE\xB9\xCE\xB1.gr");
    const std::string mixed = RouteInput::normalizeHost("\xD4\xB1\xEF\xBC\xA1\xC4\xB0x");
    EXPECT_EQ(RouteInput::normalizeHost(mixed), mixed) << "lower-casing twice changes nothing more";
}
