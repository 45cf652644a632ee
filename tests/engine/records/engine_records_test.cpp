// Engine records against literal JSON, both directions, and their display helpers.
#include "engine/records/engine_records.h"

#include <gtest/gtest.h>

#include <cmath>

// Decodes the literal, checks the value, and checks that encoding gives the literal back.
template <class T> void expectRoundTrip(const std::string &literal, const T &expected)
{
    const auto decoded = decodeRecord<T>(literal);
    ASSERT_TRUE(decoded) << literal;
    EXPECT_EQ(*decoded, expected);
    EXPECT_EQ(encodeRecord(expected), literal);
}

TEST(ProjectRecords, LiteralJsonBothWays)
{
    expectRoundTrip<ProjectList>(
        R"({"activeId":"p2","projects":[{"id":"p1","name":"Default","routeCount":9,"updatedAt":"2026-06-28T10:00:00Z"},)"
        R"({"id":"p2","name":"Payments","routeCount":0,"updatedAt":"yesterday"}]})",
        ProjectList{"p2", {{"p1", "Default", 9, "2026-06-28T10:00:00Z"}, {"p2", "Payments", 0, "yesterday"}}});
    expectRoundTrip<ProjectNameRequest>(R"({"name":"New \"one\""})", ProjectNameRequest{"New \"one\""});
    // An answer of an engine from before the route limit of imports reads as before.
    expectRoundTrip<OpenAPIImportResult>(R"({"projectId":"p9","name":"Petstore","routeCount":12})",
                                         OpenAPIImportResult{"p9", "Petstore", 12, std::nullopt, std::nullopt});
    expectRoundTrip<OpenAPIImportResult>(
        R"({"projectId":"p9","name":"Big","routeCount":5000,"leftOut":2200,"routeLimit":5000})",
        OpenAPIImportResult{"p9", "Big", 5000, 2200, 5000});
    expectRoundTrip<ImportCounts>(R"({"imported":5000,"leftOut":2200,"routeLimit":5000})",
                                  ImportCounts{5000, 2200, 5000});
    EXPECT_FALSE(decodeRecord<ImportCounts>(R"({"imported":5000,"routeLimit":5000})"));
}

TEST(ProjectRecords, MissingActiveIdFailsTheWholeList)
{
    EXPECT_FALSE(decodeRecord<ProjectList>(R"({"projects":[]})"));
    EXPECT_TRUE(decodeRecord<ProjectList>(R"({"projects":[],"activeId":""})"));
    EXPECT_FALSE(decodeRecord<OpenAPIImportResult>(R"({"projectId":"p","name":"n"})"));
}

TEST(EnvironmentRecords, LiteralJsonBothWays)
{
    expectRoundTrip<EnvironmentSet>(
        R"({"environments":[{"id":"env-1A2B3C4D","name":"Staging","vars":[{"key":"token","value":"abc"},)"
        R"({"key":"","value":""}]},{"id":"e2","name":"Bare"}],"activeId":"env-1A2B3C4D"})",
        EnvironmentSet{{{"env-1A2B3C4D", "Staging", std::vector<WireVar>{{"token", "abc"}, {"", ""}}},
                        {"e2", "Bare", std::nullopt}},
                       "env-1A2B3C4D"});
}

TEST(EnvironmentRecords, MissingOrNullVarsMeansNoVariables)
{
    const auto missing = decodeRecord<WireEnvironment>(R"({"id":"e","name":"n"})");
    const auto null = decodeRecord<WireEnvironment>(R"({"id":"e","name":"n","vars":null})");
    ASSERT_TRUE(missing && null);
    EXPECT_TRUE(MockEnvironment::fromWire(*missing).vars.empty());
    EXPECT_TRUE(MockEnvironment::fromWire(*null).vars.empty());
    EXPECT_FALSE(decodeRecord<WireEnvironment>(R"({"id":"e","name":"n","vars":[{"key":"k"}]})"));
    EXPECT_FALSE(decodeRecord<EnvironmentSet>(R"({"environments":[]})"));
}

TEST(EnvironmentRecords, ConversionsGiveFreshVarIdsAndAlwaysSendVars)
{
    const WireEnvironment wire{"e1", "Dev", std::vector<WireVar>{{"host", "localhost"}, {"port", "8080"}}};
    const MockEnvironment first = MockEnvironment::fromWire(wire);
    const MockEnvironment second = MockEnvironment::fromWire(wire);
    ASSERT_EQ(first.vars.size(), 2u);
    EXPECT_EQ(first.vars[1].key, "port");
    EXPECT_EQ(first.vars[1].value, "8080");
    EXPECT_NE(first.vars[0].id, second.vars[0].id);
    EXPECT_EQ(first.wire(), wire);

    const MockEnvironment empty{"env-00000000", "Empty", {}};
    EXPECT_EQ(encodeRecord(makeEnvironmentSet({empty}, "env-00000000")),
              R"({"environments":[{"id":"env-00000000","name":"Empty","vars":[]}],"activeId":"env-00000000"})");
}

TEST(ChaosRecords, LiteralJsonBothWays)
{
    expectRoundTrip<ChaosState>(
        R"({"presets":[{"id":"slow","name":"Slow network","faults":[{"kind":"latency","probability":1.0,)"
        R"("minMs":200,"maxMs":800}]},{"id":"flaky","name":"Flaky","faults":[{"kind":"status","probability":0.25,)"
        R"("status":503,"body":"busy"},{"kind":"drop","probability":0.1}]}],"activeId":"slow"})",
        ChaosState{{{"slow", "Slow network", {{"latency", 1.0, std::nullopt, std::nullopt, 200, 800}}},
                    {"flaky", "Flaky",
                     {{"status", 0.25, 503, "busy", std::nullopt, std::nullopt},
                      {"drop", 0.1, std::nullopt, std::nullopt, std::nullopt, std::nullopt}}}},
                   "slow"});
}

TEST(ChaosRecords, ProbabilityAcceptsAnyJsonNumber)
{
    const auto fault = decodeRecord<ChaosFault>(R"({"kind":"drop","probability":1})");
    ASSERT_TRUE(fault);
    EXPECT_DOUBLE_EQ(fault->probability, 1.0);
    EXPECT_FALSE(decodeRecord<ChaosFault>(R"({"kind":"drop","probability":"1"})"));
    EXPECT_FALSE(decodeRecord<ChaosFault>(R"({"kind":"status","probability":0.5,"status":500.5})"));
    EXPECT_FALSE(decodeRecord<ChaosState>(R"({"presets":[{"id":"a","name":"A"}],"activeId":""})"));
}

TEST(ChaosRecords, Summaries)
{
    EXPECT_EQ((ChaosFault{"latency", 1.0, std::nullopt, std::nullopt, 200, 800}.summary()), "+200–800ms");
    EXPECT_EQ((ChaosFault{"latency", 1.0, {}, {}, {}, {}}.summary()), "+0–0ms");
    EXPECT_EQ((ChaosFault{"status", 0.25, 503, {}, {}, {}}.summary()), "503 @ 25%");
    EXPECT_EQ((ChaosFault{"status", 0.125, {}, {}, {}, {}}.summary()), "500 @ 13%");
    EXPECT_EQ((ChaosFault{"drop", 1.0, {}, {}, {}, {}}.summary()), "drop @ 100%");
    EXPECT_EQ((ChaosFault{"drop", 0.005, {}, {}, {}, {}}.summary()), "drop @ 1%");
    EXPECT_EQ((ChaosFault{"Drop", 1.0, {}, {}, {}, {}}.summary()), "Drop");
    EXPECT_EQ((ChaosFault{"drop", 1e300, {}, {}, {}, {}}.summary()), "drop @ 9223372036854775807%");

    const ChaosPreset preset{"p", "Mixed", {{"latency", 1.0, {}, {}, 10, 20}, {"drop", 0.5, {}, {}, {}, {}}}};
    EXPECT_EQ(preset.summary(), "+10–20ms · drop @ 50%");
    EXPECT_EQ((ChaosPreset{"e", "Empty", {}}.summary()), "");
}

// Halves as written in the engine's JSON land below .5 once multiplied in binary floating point.
TEST(ChaosRecords, PercentRoundsTheWrittenHalfUp)
{
    EXPECT_EQ((ChaosFault{"drop", 0.575, {}, {}, {}, {}}.summary()), "drop @ 58%");
    EXPECT_EQ((ChaosFault{"status", 0.145, 503, {}, {}, {}}.summary()), "503 @ 15%");
    EXPECT_EQ((ChaosFault{"status", 0.285, 429, {}, {}, {}}.summary()), "429 @ 29%");
    EXPECT_EQ((ChaosFault{"drop", 0.5749, {}, {}, {}, {}}.summary()), "drop @ 57%");
    EXPECT_EQ((ChaosFault{"drop", 0.0, {}, {}, {}, {}}.summary()), "drop @ 0%");
    EXPECT_EQ((ChaosFault{"drop", 1e-7, {}, {}, {}, {}}.summary()), "drop @ 0%");
    EXPECT_EQ((ChaosFault{"drop", 2.5, {}, {}, {}, {}}.summary()), "drop @ 250%");
    EXPECT_EQ((ChaosFault{"drop", -0.575, {}, {}, {}, {}}.summary()), "drop @ -58%");
    EXPECT_EQ((ChaosFault{"drop", std::nan(""), {}, {}, {}, {}}.summary()), "drop @ 0%");
    EXPECT_EQ((ChaosFault{"drop", -1e300, {}, {}, {}, {}}.summary()), "drop @ -9223372036854775808%");
    // Decoded from the engine's text, not only from literals.
    const auto fault = decodeRecord<ChaosFault>(R"({"kind":"drop","probability":0.575})");
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault->summary(), "drop @ 58%");
}

TEST(ChaosRecords, SummariesOfPresetsFollowTheirFaults)
{
    const ChaosPreset preset{"p", "Mixed", {{"latency", 1.0, {}, {}, 10, 20}, {"drop", 0.5, {}, {}, {}, {}}}};
    EXPECT_EQ(preset.summary(), "+10–20ms · drop @ 50%");
    EXPECT_EQ((ChaosPreset{"e", "Empty", {}}.summary()), "");
}

TEST(EngineHealthRecord, LiteralJsonBothWays)
{
    expectRoundTrip<EngineHealth>(
        R"({"status":"ok","version":"0.9.1","pid":4242,"uptimeSeconds":12.5,"proxyRunning":true,"proxyPort":8899,)"
        R"("controlPort":53111,"memoryBytes":9007199254740993,"goroutines":17,"routeCount":9})",
        EngineHealth{"ok", "0.9.1", 4242, 12.5, true, 8899, 53111, 9007199254740993LL, 17, 9});
}

TEST(EngineHealthRecord, EveryKeyIsRequired)
{
    EXPECT_FALSE(decodeRecord<EngineHealth>(
        R"({"status":"ok","version":"1","pid":1,"uptimeSeconds":1,"proxyRunning":true,"proxyPort":1,)"
        R"("controlPort":1,"memoryBytes":1,"routeCount":1})"));
    EXPECT_FALSE(decodeRecord<EngineHealth>(
        R"({"status":"ok","version":"1","pid":1,"uptimeSeconds":1,"proxyRunning":true,"proxyPort":1,)"
        R"("controlPort":1,"memoryBytes":-1,"goroutines":1,"routeCount":1})"));
}

TEST(EngineEventRecord, PayloadsAreOptionalAndNullMeansAbsent)
{
    const auto hello = decodeRecord<EngineEvent>(R"({"type":"hello","time":"t0","request":null,"drift":null})");
    ASSERT_TRUE(hello);
    EXPECT_FALSE(hello->request);
    EXPECT_EQ(encodeRecord(*hello), R"({"type":"hello","time":"t0"})");

    EXPECT_FALSE(decodeRecord<EngineEvent>(R"({"time":"t0"})"));
    EXPECT_FALSE(decodeRecord<EngineEvent>(R"({"type":"hello"})"));
    // A present payload of the wrong shape drops the whole event.
    EXPECT_FALSE(decodeRecord<EngineEvent>(R"({"type":"request","time":"t","request":{"id":"x"}})"));
    EXPECT_FALSE(decodeRecord<EngineEvent>(R"({"type":"hello","time":"t","health":"fine"})"));
}

TEST(EngineEventRecord, RequestEventBothWays)
{
    const std::string literal =
        R"({"type":"request","time":"10:00:01","request":{"id":"t1","time":"10:00:00","method":"patch",)"
        R"("host":"api.x","path":"/a","status":200,"latencyMs":12,"injected":true}})";
    const EngineEvent event{"request", "10:00:01", std::nullopt,
                            WireTrafficEvent{"t1", "10:00:00", "patch", "api.x", "/a", 200, 12, true}, std::nullopt};
    expectRoundTrip<EngineEvent>(literal, event);

    const TrafficEntry entry = TrafficEntry::fromEvent(*event.request);
    EXPECT_EQ(entry, (TrafficEntry{"t1", "10:00:00", HTTPMethod::PATCH, "api.x", "/a", 200, 12, true, true}));
    WireTrafficEvent head = *event.request;
    head.method = "HEAD";
    EXPECT_EQ(TrafficEntry::fromEvent(head).method, HTTPMethod::GET);
}

TEST(EngineEventRecord, DriftEventBothWays)
{
    const std::string literal =
        R"({"type":"schema_drift","time":"t5","health":{"status":"ok","version":"v","pid":1,"uptimeSeconds":0.0,)"
        R"("proxyRunning":false,"proxyPort":8899,"controlPort":1,"memoryBytes":0,"goroutines":0,"routeCount":0},)"
        R"("drift":{"key":"GET api.x/users","trafficId":"t4","breaking":1,"changes":[{"path":"$.id",)"
        R"("kind":"type_changed","severity":"breaking","baseline":["int"],"actual":["string"]}]}})";
    const auto event = decodeRecord<EngineEvent>(literal);
    ASSERT_TRUE(event && event->drift && event->health);
    EXPECT_EQ(encodeRecord(*event), literal);
    EXPECT_FALSE(event->health->proxyRunning);
    const SchemaDriftRecord record = SchemaDriftRecord::fromEvent(*event->drift, event->time);
    EXPECT_EQ(record.time, "t5");
    EXPECT_EQ(record.trafficId, "t4");
    EXPECT_EQ(record.breaking(), 1);
}

TEST(CAInfoRecord, LiteralJsonBothWays)
{
    expectRoundTrip<CAInfo>(
        R"({"generated":true,"fingerprint":"AB:CD","notAfter":"2036-01-01","subject":"CN=Kestrion Root CA",)"
        R"("certPEM":"-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n","path":"/tmp/ca.pem"})",
        CAInfo{true, "AB:CD", "2036-01-01", "CN=Kestrion Root CA",
               "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n", "/tmp/ca.pem"});
    EXPECT_FALSE(decodeRecord<CAInfo>(R"({"generated":false,"fingerprint":"","notAfter":"","subject":"","certPEM":""})"));
}

TEST(TrafficRecords, LiteralJsonBothWays)
{
    expectRoundTrip<std::vector<TrafficRecord>>(
        R"([{"id":"t1","time":"now","method":"GET","host":"h","path":"/p","status":200,"latencyMs":5,"injected":false},)"
        R"({"id":"t2","time":"then","method":"POST","host":"h","path":"/q","status":500,"latencyMs":70,"injected":true,)"
        R"("scheme":"https","query":"a=1","reqHeaders":{"Accept":"*/*","X-Id":"7"},"reqBody":"{}","respBody":"oops"}])",
        std::vector<TrafficRecord>{
            {"t1", "now", "GET", "h", "/p", 200, 5, false, {}, {}, {}, {}, {}},
            {"t2", "then", "POST", "h", "/q", 500, 70, true, "https", "a=1",
             std::map<std::string, std::string>{{"Accept", "*/*"}, {"X-Id", "7"}}, "{}", "oops"}});
    EXPECT_FALSE(decodeRecord<TrafficRecord>(
        R"({"id":"t","time":"n","method":"GET","host":"h","path":"/","status":200,"latencyMs":1,"injected":false,)"
        R"("reqHeaders":{"A":1}})"));
}

TEST(TrafficRecords, Url)
{
    TrafficRecord record{"t", "n", "GET", "api.x", "/users", 200, 1, false, {}, {}, {}, {}, {}};
    EXPECT_EQ(record.url(), "http://api.x/users");
    record.scheme = "";
    record.query = "";
    EXPECT_EQ(record.url(), "http://api.x/users");
    record.scheme = "https";
    record.query = "page=2";
    EXPECT_EQ(record.url(), "https://api.x/users?page=2");
}

TEST(SchemaRecords, SnapshotLiteralJsonBothWays)
{
    const std::string literal =
        R"({"baselines":[{"key":"GET api.x/users","method":"GET","host":"api.x","path":"/users","locked":true,)"
        R"("samples":3,"updated":"t9","sketch":{"paths":{"$.id":{"types":["int"],"present":3},)"
        R"("$.name":{"types":["string","null"],"present":2}},"samples":3}},{"key":"k2","method":"POST","host":"h",)"
        R"("path":"/p","locked":false,"samples":1}],"drifts":[{"key":"k2","trafficId":"t7","time":"t8","changes":[]}]})";
    SchemaSnapshot expected;
    expected.baselines = {
        SchemaBaseline{"GET api.x/users", "GET", "api.x", "/users", true, 3, "t9",
                       SchemaSketch{{{"$.id", {{"int"}, 3}}, {"$.name", {{"string", "null"}, 2}}}, 3}},
        SchemaBaseline{"k2", "POST", "h", "/p", false, 1, std::nullopt, std::nullopt}};
    expected.drifts = {SchemaDriftRecord{"k2", "t7", "t8", {}}};
    expectRoundTrip<SchemaSnapshot>(literal, expected);
    EXPECT_FALSE(decodeRecord<SchemaSnapshot>(R"({"baselines":[]})"));
}

TEST(SchemaRecords, ChangeLabelsAndTransitions)
{
    SchemaChange change{"$.a", "field_added", "warning", {}, {}};
    EXPECT_EQ(change.kindLabel(), "Field added");
    EXPECT_FALSE(change.transition());
    for (const auto &[kind, label] : std::vector<std::pair<std::string, std::string>>{
             {"field_removed", "Field removed"},
             {"type_changed", "Type changed"},
             {"became_nullable", "Now nullable"},
             {"numeric_format", "Numeric format"},
             {"Type_Changed", "Type_Changed"},
             {"renamed", "renamed"}}) {
        change.kind = kind;
        EXPECT_EQ(change.kindLabel(), label);
    }
    change.baseline = std::vector<std::string>{"string"};
    EXPECT_EQ(change.transition(), "string");
    change.baseline = std::vector<std::string>{"int", "null"};
    change.actual = std::vector<std::string>{"string"};
    EXPECT_EQ(change.transition(), "int|null → string");
    change.baseline.reset();
    EXPECT_EQ(change.transition(), "string");
    change.actual = std::vector<std::string>{};
    EXPECT_FALSE(change.transition());
}

TEST(SchemaRecords, DriftCountsBySeverity)
{
    const SchemaDriftRecord record{"k", "t", "n",
                                   {{"a", "type_changed", "breaking", {}, {}},
                                    {"b", "field_added", "warning", {}, {}},
                                    {"c", "field_removed", "breaking", {}, {}},
                                    {"d", "x", "Breaking", {}, {}}}};
    EXPECT_EQ(record.breaking(), 2);
    EXPECT_EQ(record.warnings(), 1);
}

TEST(AIRecords, LiteralJsonBothWays)
{
    expectRoundTrip<AIStatus>(
        R"({"available":false,"running":false,"serverBin":"","model":"","endpoint":"","detail":"no model installed"})",
        AIStatus{false, false, "", "", "", "no model installed"});
    expectRoundTrip<AISetupProgress>(
        R"({"stage":"error","message":"Download failed","downloaded":1073741824,"total":4294967296,"percent":25,)"
        R"("err":"disk full"})",
        AISetupProgress{"error", "Download failed", 1073741824LL, 4294967296LL, 25, "disk full"});
    expectRoundTrip<MockAIRequest>(R"({"prompt":"three users","key":"","example":"","seed":42,"count":3})",
                                   MockAIRequest{"three users", "", "", 42, 3});
    EXPECT_FALSE(decodeRecord<AIStatus>(R"({"available":true,"running":true,"serverBin":"","model":"","endpoint":""})"));
}

TEST(AIRecords, InitialValues)
{
    const AIStatus status = AIStatus::initial();
    EXPECT_FALSE(status.available);
    EXPECT_EQ(status.detail, "checking");
    EXPECT_EQ(status.model, "");
    const AISetupProgress progress = AISetupProgress::initial();
    EXPECT_EQ(progress.stage, "idle");
    EXPECT_EQ(progress.total, 0);
    EXPECT_FALSE(progress.err);
    EXPECT_EQ(encodeRecord(progress), R"({"stage":"idle","message":"","downloaded":0,"total":0,"percent":0})");
}

TEST(AIRecords, BytesText)
{
    AISetupProgress progress = AISetupProgress::initial();
    EXPECT_EQ(progress.bytesText(), "0.0 GB");
    progress.total = 1;
    EXPECT_EQ(progress.bytesText(), "0.0 GB / 0.0 GB");
    progress.downloaded = 1610612736; // 1.5 GiB
    progress.total = 4294967296;
    EXPECT_EQ(progress.bytesText(), "1.5 GB / 4.0 GB");
    progress.total = -1;
    EXPECT_EQ(progress.bytesText(), "1.5 GB");
}

TEST(ErrorReplyRecord, LiteralJsonBothWays)
{
    expectRoundTrip<ErrorReply>(R"({"error":"unreadable capture"})", ErrorReply{"unreadable capture"});
}
