// Edge cases of the wire records against literal JSON: optional keys, wrong types, defaults.
#include "engine/records/engine_records.h"
#include "engine/records/route_input.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// A route with every always-present key; `extra` is spliced in before the closing brace.
std::string route(const std::string &extra = {})
{
    return R"({"id":"r-1","method":"GET","host":"h","path":"/","status":200,"latencyMs":0,"active":true,)"
           R"("body":"","passThrough":false)"
        + extra + "}";
}

std::string routeList(const std::string &extra)
{
    return "[" + route() + "," + route(extra) + "]";
}

} // namespace

TEST(WireRoute, OptionalKeyOfTheWrongTypeFailsTheWholeList)
{
    for (const char *extra : {R"(,"override":404)", R"(,"group":5)", R"(,"seqMode":1)", R"(,"sequence":{})",
                              R"(,"sequence":[{"status":200,"body":"","repeat":"2"}])",
                              R"(,"sequence":[{"status":200,"body":"","latencyMs":1.5}])",
                              R"(,"sequence":[{"status":200,"body":"","override":false}])",
                              R"(,"sequence":[null])"})
        EXPECT_FALSE(decodeRecord<std::vector<WireRoute>>(routeList(extra))) << extra;
    for (const char *badAlways : {R"({"id":"r","method":"GET","host":"h","path":"/","status":200,"latencyMs":0,)"
                                  R"("active":"true","body":"","passThrough":false})",
                                  R"({"id":7,"method":"GET","host":"h","path":"/","status":200,"latencyMs":0,)"
                                  R"("active":true,"body":"","passThrough":false})",
                                  R"({"id":"r","method":"GET","host":"h","path":"/","status":200,"latencyMs":null,)"
                                  R"("active":true,"body":"","passThrough":false})"})
        EXPECT_FALSE(decodeRecord<std::vector<WireRoute>>("[" + route() + "," + badAlways + "]")) << badAlways;
    EXPECT_TRUE(decodeRecord<std::vector<WireRoute>>(routeList(R"(,"seqMode":null,"group":null,"override":null)")));
}

TEST(WireRoute, EngineStepsGetTheirDefaultsAndComeBackTrimmed)
{
    const auto wire = decodeRecord<WireRoute>(
        route(R"(,"sequence":[{"status":200,"body":"a","latencyMs":null,"override":null,"repeat":null},)"
              R"({"status":418,"body":"b","latencyMs":30,"override":"404","repeat":0},)"
              R"({"status":503,"body":"c","override":"Timeout","repeat":4}],"seqMode":"cycle")"));
    ASSERT_TRUE(wire);
    const Endpoint endpoint = Endpoint::fromWire(*wire);
    ASSERT_EQ(endpoint.sequence.size(), 3u);
    EXPECT_EQ(endpoint.sequence[0].latency, 0);
    EXPECT_EQ(endpoint.sequence[0].override, ErrorOverride::ok);
    EXPECT_EQ(endpoint.sequence[0].repeatCount, 1);
    EXPECT_EQ(endpoint.sequence[1].latency, 30);
    EXPECT_EQ(endpoint.sequence[1].override, ErrorOverride::notFound);
    EXPECT_EQ(endpoint.sequence[1].repeatCount, 0); // carried as sent; only the next push drops it
    EXPECT_EQ(endpoint.sequence[2].override, ErrorOverride::ok); // wire texts are case-sensitive
    EXPECT_EQ(endpoint.sequence[2].repeatCount, 4);
    EXPECT_EQ(endpoint.seqMode, "cycle");

    EXPECT_EQ(encodeRecord(endpoint.wire()),
              route(R"(,"sequence":[{"status":200,"body":"a"},{"status":418,"body":"b","latencyMs":30,"override":"404"},)"
                    R"({"status":503,"body":"c","repeat":4}],"seqMode":"cycle")"));
}

TEST(WireRoute, EmptySeqModeWithStepsIsSentAsItIs)
{
    Endpoint endpoint = Endpoint::fromWire(*decodeRecord<WireRoute>(route()));
    endpoint.sequence = {MockStep::make(200, "x")};
    endpoint.seqMode = "";
    EXPECT_EQ(encodeRecord(endpoint.wire()), route(R"(,"sequence":[{"status":200,"body":"x"}],"seqMode":"")"));
    EXPECT_EQ(Endpoint::fromWire(endpoint.wire()).seqMode, "");
}

TEST(WireRoute, EngineFieldsWithoutStepsOrGroupTextAreNotSentBack)
{
    // The engine may send an empty list, a mode and an empty group; the push leaves all three out.
    const auto wire = decodeRecord<WireRoute>(route(R"(,"sequence":[],"seqMode":"cycle","group":"","override":"ok")"));
    ASSERT_TRUE(wire);
    const Endpoint endpoint = Endpoint::fromWire(*wire);
    EXPECT_TRUE(endpoint.sequence.empty());
    EXPECT_EQ(endpoint.seqMode, "cycle");
    EXPECT_EQ(endpoint.group, "");
    EXPECT_EQ(endpoint.override, ErrorOverride::ok);
    EXPECT_EQ(encodeRecord(endpoint.wire()), route());
    EXPECT_EQ(Endpoint::fromWire(endpoint.wire()).seqMode, "sticky");
}

TEST(WireRoute, MethodTextsFromTheEngine)
{
    for (const auto &[text, method] : std::vector<std::pair<std::string, HTTPMethod>>{
             {"Put", HTTPMethod::PUT},
             {"connect", HTTPMethod::CONNECT},
             {"OPTIONS", HTTPMethod::GET},
             {" POST", HTTPMethod::GET},
             {"POST ", HTTPMethod::GET}}) {
        const auto wire = decodeRecord<WireRoute>(
            R"({"id":"r","method":")" + text
            + R"(","host":"h","path":"/","status":200,"latencyMs":0,"active":true,"body":"","passThrough":false})");
        ASSERT_TRUE(wire) << text;
        EXPECT_EQ(Endpoint::fromWire(*wire).method, method) << text;
        EXPECT_EQ(wire->method, text) << "the wire form keeps the engine's text";
    }
}

TEST(EngineRecords, NullOptionalKeysCountAsAbsentAndAreNotWrittenBack)
{
    const auto record = decodeRecord<TrafficRecord>(
        R"({"id":"t","time":"n","method":"GET","host":"api.x","path":"/p","status":200,"latencyMs":3,)"
        R"("injected":true,"scheme":null,"query":null,"reqHeaders":null,"reqBody":null,"respBody":null})");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->url(), "http://api.x/p");
    EXPECT_EQ(encodeRecord(*record), R"({"id":"t","time":"n","method":"GET","host":"api.x","path":"/p","status":200,)"
                                     R"("latencyMs":3,"injected":true})");

    const auto fault = decodeRecord<ChaosFault>(
        R"({"kind":"status","probability":0.5,"status":null,"body":null,"minMs":null,"maxMs":null})");
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault->summary(), "500 @ 50%");
    EXPECT_EQ(encodeRecord(*fault), R"({"kind":"status","probability":0.5})");

    const auto change = decodeRecord<SchemaChange>(
        R"({"path":"$.a","kind":"field_removed","severity":"breaking","baseline":["int"],"actual":null})");
    ASSERT_TRUE(change);
    EXPECT_EQ(change->transition(), "int");
    EXPECT_EQ(encodeRecord(*change), R"({"path":"$.a","kind":"field_removed","severity":"breaking","baseline":["int"]})");

    const auto progress = decodeRecord<AISetupProgress>(
        R"({"stage":"done","message":"Ready","downloaded":5,"total":0,"percent":100,"err":null})");
    ASSERT_TRUE(progress);
    EXPECT_FALSE(progress->err);
    EXPECT_EQ(encodeRecord(*progress), R"({"stage":"done","message":"Ready","downloaded":5,"total":0,"percent":100})");

    const auto baseline = decodeRecord<SchemaBaseline>(
        R"({"key":"k","method":"GET","host":"h","path":"/","locked":false,"samples":0,"updated":null,"sketch":null})");
    ASSERT_TRUE(baseline);
    EXPECT_FALSE(baseline->updated);
    EXPECT_FALSE(baseline->sketch);
}

TEST(EngineRecords, WrongJsonTypesFailTheWholeDocument)
{
    const std::string health = R"({"status":"ok","version":"1","pid":1,"uptimeSeconds":7,"proxyRunning":true,)"
                               R"("proxyPort":8080,"controlPort":9,"memoryBytes":1,"goroutines":1,"routeCount":0})";
    const auto decoded = decodeRecord<EngineHealth>(health);
    ASSERT_TRUE(decoded) << "a whole number is a valid JSON number for the float field";
    EXPECT_DOUBLE_EQ(decoded->uptimeSeconds, 7.0);
    auto with = [&](const std::string &from, const std::string &to) {
        std::string text = health;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    EXPECT_FALSE(decodeRecord<EngineHealth>(with(R"("proxyRunning":true)", R"("proxyRunning":1)")));
    EXPECT_FALSE(decodeRecord<EngineHealth>(with(R"("uptimeSeconds":7)", R"("uptimeSeconds":"7")")));
    EXPECT_FALSE(decodeRecord<EngineHealth>(with(R"("pid":1)", R"("pid":1.5)")));

    EXPECT_FALSE(decodeRecord<CAInfo>(R"({"generated":"true","fingerprint":"","notAfter":"","subject":"",)"
                                      R"("certPEM":"","path":""})"));
    EXPECT_FALSE(decodeRecord<EnvironmentSet>(R"({"environments":[{"id":"e","name":"n","vars":[{"key":"k","value":1}]}],)"
                                              R"("activeId":""})"));
    EXPECT_FALSE(decodeRecord<EnvironmentSet>(R"({"environments":[],"activeId":null})"));
    EXPECT_FALSE(decodeRecord<ChaosState>(R"({"presets":[],"activeId":null})"));
    EXPECT_FALSE(decodeRecord<SchemaSketch>(R"({"paths":[],"samples":0})"));
    EXPECT_FALSE(decodeRecord<SchemaField>(R"({"types":["int",null],"present":1})"));
    EXPECT_FALSE(decodeRecord<SchemaDriftRecord>(R"({"key":"k","trafficId":"t","time":"n","changes":null})"));
    EXPECT_FALSE(decodeRecord<AIStatus>(R"({"available":true,"running":"no","serverBin":"","model":"",)"
                                        R"("endpoint":"","detail":""})"));
    EXPECT_FALSE(decodeRecord<OpenAPIImportResult>(R"({"projectId":"p","name":"n","routeCount":"3"})"));
    EXPECT_FALSE(decodeRecord<Project>(R"({"id":"p","name":"n","routeCount":1,"updatedAt":0})"));
}

TEST(EngineEventRecord, UnknownTypeStillCarriesItsHealth)
{
    const auto event = decodeRecord<EngineEvent>(
        R"({"type":"tick","time":"t","extra":{"a":[1]},"health":{"status":"ok","version":"v","pid":2,)"
        R"("uptimeSeconds":1.5,"proxyRunning":true,"proxyPort":9999,"controlPort":4,"memoryBytes":0,)"
        R"("goroutines":3,"routeCount":9}})");
    ASSERT_TRUE(event);
    EXPECT_EQ(event->type, "tick");
    ASSERT_TRUE(event->health);
    EXPECT_TRUE(event->health->proxyRunning);
    EXPECT_EQ(event->health->routeCount, 9);
    EXPECT_FALSE(event->request);
    EXPECT_FALSE(event->drift);
    // A drift payload whose count is not an integer drops the event.
    EXPECT_FALSE(decodeRecord<EngineEvent>(
        R"({"type":"schema_drift","time":"t","drift":{"key":"k","trafficId":"x","breaking":"1","changes":[]}})"));
}

TEST(AIRecords, BytesTextFollowsPrintfRounding)
{
    // "%.1f" rounds the exact binary value, so an exact tie goes to the even digit.
    for (const std::int64_t bytes : {std::int64_t{268435456}, std::int64_t{805306368}, std::int64_t{1181116006},
                                     std::int64_t{53687091}, std::int64_t{999999999999}}) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.1f GB", static_cast<double>(bytes) / 1073741824.0);
        AISetupProgress progress = AISetupProgress::initial();
        progress.downloaded = bytes;
        EXPECT_EQ(progress.bytesText(), expected) << bytes;
    }
    AISetupProgress progress = AISetupProgress::initial();
    progress.downloaded = 268435456;
    progress.total = 805306368;
    EXPECT_EQ(progress.bytesText(), "0.2 GB / 0.8 GB");
}

TEST(RouteInput, EditorTextsFromTheParts)
{
    EXPECT_EQ(RouteInput::normalizeHost("https://"), "");
    EXPECT_EQ(RouteInput::normalizeHost("\tHTTPS://Api.Example.com:8443/v1?x=1\n"), "api.example.com:8443");
    EXPECT_EQ(RouteInput::normalizeHost("/only/a/path"), "");
    EXPECT_EQ(RouteInput::normalizeHost("api .Example.com"), "api .example.com");
    EXPECT_EQ(RouteInput::normalizePath("  users  "), "/users");
    EXPECT_EQ(RouteInput::normalizePath("///"), "/");
    EXPECT_EQ(RouteInput::normalizePath("/Users/:ID//"), "/Users/:ID");
    EXPECT_EQ(RouteInput::normalizePath("/a b/"), "/a b");
}
