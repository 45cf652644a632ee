// The shared decoding rules: required keys, strict integers, 64-bit range, null, nesting.
#include "engine/records/engine_records.h"

#include <gtest/gtest.h>

#include <string>

TEST(JsonRules, MissingRequiredKeyFailsAndNamesTheKey)
{
    EXPECT_FALSE(decodeRecord<Project>(R"({"id":"p1","name":"Main","updatedAt":"now"})"));
    try {
        decodeJsonOrThrow<Project>(nlohmann::json::parse(R"({"id":"p1","name":"Main","updatedAt":"now"})"));
        FAIL() << "decoding should have thrown";
    } catch (const RecordError &error) {
        EXPECT_EQ(error.path(), "routeCount");
        EXPECT_NE(std::string(error.what()).find("routeCount"), std::string::npos);
    }
}

TEST(JsonRules, IntegersMustBeJsonIntegers)
{
    EXPECT_TRUE(decodeRecord<Project>(R"({"id":"p","name":"n","routeCount":3,"updatedAt":""})"));
    EXPECT_FALSE(decodeRecord<Project>(R"({"id":"p","name":"n","routeCount":1.5,"updatedAt":""})"));
    EXPECT_FALSE(decodeRecord<Project>(R"({"id":"p","name":"n","routeCount":2.0,"updatedAt":""})"));
    EXPECT_FALSE(decodeRecord<Project>(R"({"id":"p","name":"n","routeCount":"1","updatedAt":""})"));
    EXPECT_FALSE(decodeRecord<Project>(R"({"id":"p","name":"n","routeCount":true,"updatedAt":""})"));
}

TEST(JsonRules, IntFieldOutOfRangeFails)
{
    // Record integers are signed 64-bit: past 32 bits is fine, past 64 bits fails.
    EXPECT_TRUE(decodeRecord<Project>(R"({"id":"p","name":"n","routeCount":2147483648,"updatedAt":""})"));
    EXPECT_TRUE(decodeRecord<Project>(R"({"id":"p","name":"n","routeCount":-9223372036854775808,"updatedAt":""})"));
    EXPECT_FALSE(decodeRecord<Project>(R"({"id":"p","name":"n","routeCount":9223372036854775808,"updatedAt":""})"));
    EXPECT_FALSE(decodeRecord<Project>(R"({"id":"p","name":"n","routeCount":-9223372036854775809,"updatedAt":""})"));
}

TEST(JsonRules, SixtyFourBitFieldsKeepTheirRange)
{
    const std::string text = R"({"stage":"downloading_model","message":"m","downloaded":9007199254740993,)"
                             R"("total":9223372036854775807,"percent":12})";
    const auto progress = decodeRecord<AISetupProgress>(text);
    ASSERT_TRUE(progress);
    EXPECT_EQ(progress->downloaded, 9007199254740993LL);
    EXPECT_EQ(progress->total, INT64_MAX);
    EXPECT_EQ(encodeRecord(*progress), text);

    MockGenerateRequest request{"GET api/x", "{}", INT64_MIN, 3};
    EXPECT_EQ(encodeRecord(request), R"({"key":"GET api/x","example":"{}","seed":-9223372036854775808,"count":3})");
    EXPECT_EQ(decodeRecord<MockGenerateRequest>(encodeRecord(request)), request);

    // One past the signed range cannot be kept, so it is refused rather than wrapped.
    EXPECT_FALSE(decodeRecord<AISetupProgress>(
        R"({"stage":"s","message":"m","downloaded":9223372036854775808,"total":0,"percent":0})"));
}

TEST(JsonRules, UnknownKeysAreIgnored)
{
    const auto project = decodeRecord<Project>(
        R"({"id":"p","name":"n","routeCount":1,"updatedAt":"t","colour":"red","extra":{"deep":[1,2]}})");
    ASSERT_TRUE(project);
    EXPECT_EQ(*project, (Project{"p", "n", 1, "t"}));
}

TEST(JsonRules, NullForARequiredKeyFails)
{
    EXPECT_FALSE(decodeRecord<Project>(R"({"id":null,"name":"n","routeCount":1,"updatedAt":"t"})"));
}

TEST(JsonRules, OneBadElementFailsTheWholeArray)
{
    const std::string good = R"({"id":"a","name":"A","routeCount":1,"updatedAt":"t"})";
    const std::string bad = R"({"id":"b","name":"B","routeCount":"2","updatedAt":"t"})";
    EXPECT_EQ(decodeRecord<std::vector<Project>>("[" + good + "," + good + "]")->size(), 2u);
    EXPECT_FALSE(decodeRecord<std::vector<Project>>("[" + good + "," + bad + "]"));
    EXPECT_FALSE(decodeRecord<ProjectList>(R"({"activeId":"a","projects":[)" + good + "," + bad + "]}"));
    try {
        decodeJsonOrThrow<ProjectList>(nlohmann::json::parse(R"({"activeId":"a","projects":[)" + good + "," + bad + "]}"));
        FAIL() << "decoding should have thrown";
    } catch (const RecordError &error) {
        EXPECT_EQ(error.path(), "projects[1].routeCount");
    }
}

TEST(JsonRules, RejectsWhatIsNotAnObjectOrNotJson)
{
    EXPECT_FALSE(decodeRecord<Project>(""));
    EXPECT_FALSE(decodeRecord<Project>("[]"));
    EXPECT_FALSE(decodeRecord<Project>("null"));
    EXPECT_FALSE(decodeRecord<Project>(R"({"id":"p","name":"n","routeCount":1,"updatedAt":"t"} trailing)"));
    EXPECT_FALSE(decodeRecord<Project>(R"({"id":"p","name":"n","routeCount":1,"updatedAt":"t")"));
    EXPECT_FALSE(decodeRecord<std::vector<Project>>("{}"));
}

TEST(JsonRules, RejectsInvalidUtf8)
{
    const std::string text = "{\"id\":\"p\xff\",\"name\":\"n\",\"routeCount\":1,\"updatedAt\":\"t\"}";
    EXPECT_FALSE(decodeRecord<Project>(text));
}

TEST(JsonRules, RejectsExcessiveNestingWithoutCrashing)
{
    const std::string deep = R"({"id":"p","name":"n","routeCount":1,"updatedAt":"t","x":)" + std::string(100000, '[')
        + std::string(100000, ']') + "}";
    EXPECT_FALSE(decodeRecord<Project>(deep));

    // Brackets inside strings are text, not nesting.
    const std::string bracketsInText = R"({"id":")" + std::string(500, '[') + R"(","name":"n","routeCount":1,"updatedAt":"t"})";
    EXPECT_TRUE(decodeRecord<Project>(bracketsInText));

    // Ignored members still count: the limit guards the parser, not only the record.
    std::string nested = "0";
    for (int i = 0; i < records::kMaxNesting; ++i)
        nested = "[" + nested + "]";
    EXPECT_FALSE(decodeRecord<Project>(R"({"id":"p","name":"n","routeCount":1,"updatedAt":"t","x":)" + nested + "}"));
    // One level less (the object itself counts) is still fine.
    nested = nested.substr(1, nested.size() - 2);
    EXPECT_TRUE(decodeRecord<Project>(R"({"id":"p","name":"n","routeCount":1,"updatedAt":"t","x":)" + nested + "}"));
}

TEST(JsonRules, EncodingReplacesInvalidUtf8InsteadOfThrowing)
{
    ErrorReply reply{"bad \xff byte"};
    EXPECT_EQ(encodeRecord(reply), "{\"error\":\"bad \xEF\xBF\xBD byte\"}");
    EXPECT_EQ(encodeRecord(ErrorReply{"caf\xC3\xA9 \xE2\x86\x92"}), "{\"error\":\"caf\xC3\xA9 \xE2\x86\x92\"}");
}

TEST(JsonRules, DecodeJsonNeverThrows)
{
    EXPECT_FALSE(decodeJson<Project>(nlohmann::json::parse("42")));
    EXPECT_TRUE(decodeJson<ErrorReply>(nlohmann::json::parse(R"({"error":"x"})")));
}

TEST(JsonRules, PlainJsonHoldsTheSameValuesAsTheOrderedEncoding)
{
    WireRoute route{"r", "GET", "h", "/", 200, 0, true, "", "404", false,
                    std::vector<WireStep>{{201, "b", 5, std::nullopt, 2}}, "sticky", "G"};
    const nlohmann::json plain = route;
    EXPECT_EQ(plain, nlohmann::json::parse(encodeRecord(route)));
    EXPECT_EQ(decodeJson<WireRoute>(plain), route);

    const EngineEvent event{"request", "t", std::nullopt, WireTrafficEvent{"i", "t", "GET", "h", "/", 200, 1, false},
                            std::nullopt};
    const nlohmann::json plainEvent = event;
    EXPECT_EQ(plainEvent, nlohmann::json::parse(encodeRecord(event)));
    EXPECT_FALSE(plainEvent.contains("health"));
}
