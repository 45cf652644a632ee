// Every control request of the app against a real stand-in engine, in the record forms the app decodes.
#include "standin-engine/engine_process.h"
#include "standin-engine/test_upstream.h"

#include "support/test_support.h"

#include "engine/records/engine_records.h"
#include "engine/records/output_line_breaks.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

using standintest::EngineProcess;
using standintest::EventReader;
using standintest::proxyRequest;

namespace {

template <class T>
T decoded(const standintest::Result &reply)
{
    EXPECT_TRUE(reply);
    auto value = decodeRecord<T>(reply ? reply->body : std::string());
    EXPECT_TRUE(value) << (reply ? reply->body : std::string("no reply"));
    return value.value_or(T {});
}

std::string fixture(const char *name)
{
    std::ifstream in((testsupport::sourceDir() + "/tests/standin-engine/fixtures/").toStdString() + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

WireRoute route(const std::string &id, const std::string &path, const std::string &body)
{
    return standintest::wireRoute(id, "GET", "api.test", path, body);
}

class Engine : public standintest::EngineTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(startEngine());
        m_client = m_engine->client();
    }

    std::vector<WireRoute> routes() { return decoded<std::vector<WireRoute>>(m_client->Get("/routes")); }

    std::unique_ptr<standintest::HttpClient> m_client;
};

} // namespace

TEST_F(Engine, ProjectsCreateActivateRenameDuplicateAndDelete)
{
    const ProjectList initial = decoded<ProjectList>(m_client->Get("/projects"));
    ASSERT_EQ(initial.projects.size(), 1u);
    const std::string firstId = initial.activeId;
    ASSERT_TRUE(m_client->Post("/routes", encodeRecord(std::vector<WireRoute> {route("r-1", "/a", "{}")}),
                               "application/json"));

    const auto created = m_client->Post("/projects", R"({"name":"Mobile"})", "application/json");
    ASSERT_EQ(created->status / 100, 2);
    const Project mobile = decoded<Project>(created);
    EXPECT_EQ(mobile.name, "Mobile");
    EXPECT_EQ(mobile.routeCount, 0);
    EXPECT_EQ(decoded<ProjectList>(m_client->Get("/projects")).activeId, firstId);

    ASSERT_EQ(m_client->Post("/projects/" + mobile.id + "/activate")->status / 100, 2);
    EXPECT_EQ(decoded<ProjectList>(m_client->Get("/projects")).activeId, mobile.id);
    EXPECT_TRUE(routes().empty()); // each project has its own routes

    ASSERT_EQ(m_client->Patch("/projects/" + mobile.id, R"({"name":"Mobile app"})", "application/json")->status / 100, 2);
    ASSERT_EQ(m_client->Post("/projects/" + firstId + "/duplicate")->status / 100, 2);
    ProjectList list = decoded<ProjectList>(m_client->Get("/projects"));
    ASSERT_EQ(list.projects.size(), 3u);
    EXPECT_EQ(list.projects[1].name, "Mobile app");
    EXPECT_EQ(list.projects[2].routeCount, 1); // the copy has the original's route

    const ProjectList afterDelete = decoded<ProjectList>(m_client->Delete("/projects/" + mobile.id));
    EXPECT_EQ(afterDelete.projects.size(), 2u);
    EXPECT_NE(afterDelete.activeId, mobile.id); // the engine picked another active project

    EXPECT_EQ(m_client->Post("/projects", R"({"name":""})", "application/json")->status, 400);
    EXPECT_EQ(m_client->Post("/projects", R"({"title":"x"})", "application/json")->status, 400);
    EXPECT_EQ(m_client->Post("/projects/nope/activate")->status, 404);
    m_client->Delete("/projects/" + afterDelete.projects[1].id);
    EXPECT_EQ(m_client->Delete("/projects/" + afterDelete.projects[0].id)->status, 409); // the last one stays
}

TEST_F(Engine, EnvironmentsRoundTripAndFillPlaceholdersInMockBodies)
{
    const EnvironmentSet set {{{"env-A1B2C3D4", "Staging", std::vector<WireVar> {{"userId", "usr_77"}, {"", "x"}}},
                               {"env-2", "Empty", std::nullopt}},
                              "env-A1B2C3D4"};
    ASSERT_EQ(m_client->Post("/environments", encodeRecord(set), "application/json")->status, 200);
    const EnvironmentSet loaded = decoded<EnvironmentSet>(m_client->Get("/environments"));
    EXPECT_EQ(loaded, set);

    ASSERT_TRUE(m_client->Post("/routes",
                               encodeRecord(std::vector<WireRoute> {route("r-1", "/me", R"({"id":"{{userId}}"})")}),
                               "application/json"));
    const int proxyPort = m_engine->proxyPort();
    EXPECT_EQ(proxyRequest(proxyPort, "GET", "http://api.test/me")->body, R"({"id":"usr_77"})");

    EnvironmentSet none = set;
    none.activeId = "";
    ASSERT_TRUE(m_client->Post("/environments", encodeRecord(none), "application/json"));
    EXPECT_EQ(proxyRequest(proxyPort, "GET", "http://api.test/me")->body, R"({"id":"{{userId}}"})");
}

TEST_F(Engine, ChaosPresetsListSwitchAndInjectFaults)
{
    const ChaosState state = decoded<ChaosState>(m_client->Get("/chaos"));
    ASSERT_GE(state.presets.size(), 3u);
    EXPECT_EQ(state.activeId, "");

    ASSERT_TRUE(m_client->Post("/routes", encodeRecord(std::vector<WireRoute> {route("r-1", "/c", "ok")}),
                               "application/json"));
    ASSERT_EQ(m_client->Post("/chaos/active?id=slow-network")->status, 200);
    EXPECT_EQ(decoded<ChaosState>(m_client->Get("/chaos")).activeId, "slow-network");
    const auto slow = proxyRequest(m_engine->proxyPort(), "GET", "http://api.test/c");
    ASSERT_TRUE(slow);
    const auto record = decoded<std::vector<TrafficRecord>>(m_client->Get("/traffic?limit=1"));
    ASSERT_EQ(record.size(), 1u);
    EXPECT_GE(record[0].latencyMs, 200); // every answer is slowed by 200–800 ms

    EXPECT_EQ(m_client->Post("/chaos/active?id=unknown")->status, 404);
    ASSERT_EQ(m_client->Post("/chaos/active?id=")->status, 200);
    EXPECT_EQ(decoded<ChaosState>(m_client->Get("/chaos")).activeId, "");
}

TEST_F(Engine, CaptureImportAddsRoutesAndRefusesUnreadableFiles)
{
    const std::string har = R"({"log":{"entries":[{"time":3,"request":{"method":"GET","url":"https://api.test/feed"},
        "response":{"status":200,"content":{"text":"[]"}}}]}})";
    const auto reply = m_client->Post("/import?format=auto", har, "application/json");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    const auto imported = decoded<std::vector<WireRoute>>(reply);
    ASSERT_EQ(imported.size(), 1u);
    EXPECT_EQ(imported[0].path, "/feed");
    EXPECT_EQ(routes(), imported);
    EXPECT_EQ(reply->get_header_value("X-Kestrion-Imported-Pass-Through"), "0");
    EXPECT_EQ(reply->get_header_value(kImportCountsHeader), R"({"imported":1,"leftOut":0,"routeLimit":5000})");

    // A PNG (base64 in the file) can't be a text body: the real host will answer it. Text that came
    // base64-encoded stays a mock.
    const std::string images = R"({"log":{"entries":[
        {"request":{"method":"GET","url":"https://cdn.test/logo.png"},"response":{"status":200,
         "content":{"mimeType":"image/png","encoding":"base64","text":"iVBORw0KGgoAAAANSUhEUgAAAAE="}}},
        {"request":{"method":"GET","url":"https://cdn.test/hello.txt"},"response":{"status":200,
         "content":{"encoding":"base64","text":"aMOpbGxv"}}}]}})";
    const auto mixed = m_client->Post("/import?format=auto", images, "application/json");
    ASSERT_TRUE(mixed);
    ASSERT_EQ(mixed->status, 200) << mixed->body;
    EXPECT_EQ(mixed->get_header_value("X-Kestrion-Imported-Pass-Through"), "1");
    const auto all = decoded<std::vector<WireRoute>>(mixed);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[1].path, "/logo.png");
    EXPECT_TRUE(all[1].passThrough);
    EXPECT_EQ(all[1].body, "");
    EXPECT_EQ(all[2].path, "/hello.txt");
    EXPECT_FALSE(all[2].passThrough);
    EXPECT_EQ(all[2].body, "h\u00e9llo");

    const auto refused = m_client->Post("/import?format=auto", "<html>nope</html>", "application/json");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status / 100, 4);
    EXPECT_TRUE(decodeRecord<ErrorReply>(refused->body));
    EXPECT_EQ(routes().size(), 3u);
}

TEST_F(Engine, OpenAPIImportMakesANewActiveProject)
{
    const auto yaml = m_client->Post("/import/openapi", fixture("petstore.yaml"), "application/octet-stream");
    ASSERT_TRUE(yaml);
    ASSERT_EQ(yaml->status, 200) << yaml->body;
    const OpenAPIImportResult result = decoded<OpenAPIImportResult>(yaml);
    EXPECT_EQ(result.name, "Petstore");
    EXPECT_EQ(result.routeCount, 4);
    const ProjectList list = decoded<ProjectList>(m_client->Get("/projects"));
    EXPECT_EQ(list.activeId, result.projectId);
    EXPECT_EQ(routes().size(), 4u);

    const auto json = m_client->Post("/import/openapi", fixture("orders.json"), "application/octet-stream");
    EXPECT_EQ(decoded<OpenAPIImportResult>(json).routeCount, 3);
    const auto again = m_client->Post("/import/openapi", fixture("petstore.yaml"), "application/octet-stream");
    EXPECT_EQ(decoded<OpenAPIImportResult>(again).name, "Petstore 2");

    const auto refused = m_client->Post("/import/openapi", "just: text\n", "application/octet-stream");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 422);
    EXPECT_NE(refused->body.find("not an OpenAPI"), std::string::npos);
}

TEST_F(Engine, RootCAIsGeneratedWithItsFileUnderTheDataDir)
{
    const CAInfo before = decoded<CAInfo>(m_client->Get("/ca"));
    EXPECT_FALSE(before.generated);
    EXPECT_EQ(before.fingerprint, "");

    const CAInfo made = decoded<CAInfo>(m_client->Post("/ca/generate"));
    EXPECT_TRUE(made.generated);
    EXPECT_EQ(made.fingerprint.size(), 95u);
    EXPECT_NE(made.certPEM.find("BEGIN CERTIFICATE"), std::string::npos);
    EXPECT_EQ(made.path.rfind(m_dir.path().toStdString(), 0), 0u);
    std::ifstream file(made.path);
    std::stringstream onDisk;
    onDisk << file.rdbuf();
    EXPECT_EQ(onDisk.str(), made.certPEM);
    EXPECT_EQ(decoded<CAInfo>(m_client->Get("/ca")), made);
}

TEST_F(Engine, ProfileExportThenImportReplacesTheRoutes)
{
    const std::vector<WireRoute> original = {route("r-1", "/one", "1"), route("r-2", "/two", "2")};
    ASSERT_TRUE(m_client->Post("/routes", encodeRecord(original), "application/json"));
    ASSERT_TRUE(m_client->Post("/chaos/active?id=flaky-backend"));
    const auto exported = m_client->Get("/profile?name=My%20Sandbox");
    ASSERT_TRUE(exported);
    EXPECT_EQ(nlohmann::json::parse(exported->body)["name"], "My Sandbox");

    ASSERT_TRUE(m_client->Post("/routes", "[]", "application/json"));
    ASSERT_TRUE(m_client->Post("/chaos/active?id="));
    const auto imported = m_client->Post("/profile", exported->body, "application/json");
    ASSERT_TRUE(imported);
    EXPECT_EQ(imported->status, 200);
    EXPECT_EQ(decoded<std::vector<WireRoute>>(imported), original);
    EXPECT_EQ(routes(), original);
    EXPECT_EQ(decoded<ChaosState>(m_client->Get("/chaos")).activeId, "flaky-backend");

    const auto refused = m_client->Post("/profile", R"({"some":"file"})", "application/json");
    EXPECT_EQ(refused->status, 400);
    EXPECT_EQ(routes(), original);

    // An id that would break a line of the engine's output is refused, as a name would be, wherever it comes from.
    nlohmann::json forged = nlohmann::json::parse(exported->body);
    forged["chaos"]["presets"][0]["id"] = "x\nKESTRION_CONTROL_PORT=1\ny";
    const auto forgedPreset = m_client->Post("/profile", forged.dump(), "application/json");
    EXPECT_EQ(forgedPreset->status, 400);
    EXPECT_NE(forgedPreset->body.find("chaos preset id \\\"x\\\\nKESTRION"), std::string::npos) << forgedPreset->body;
    forged = nlohmann::json::parse(exported->body);
    forged["routes"][0]["id"] = "r\r1";
    EXPECT_EQ(m_client->Post("/profile", forged.dump(), "application/json")->status, 400);
    WireRoute badRoute = route("r\u0007", "/bell", "");
    EXPECT_EQ(m_client->Post("/routes", encodeRecord(std::vector<WireRoute> {badRoute}), "application/json")->status, 400);
    const EnvironmentSet badEnvironment {{{"env\n1", "Staging", std::nullopt}}, "env\n1"};
    EXPECT_EQ(m_client->Post("/environments", encodeRecord(badEnvironment), "application/json")->status, 400);
    EXPECT_EQ(routes(), original);
    EXPECT_EQ(m_engine->output().count("KESTRION_CONTROL_PORT="), 1);
}

TEST_F(Engine, ARouteListPastFourMebibytesIsSavedAndItsProfileImportsAgain)
{
    // A 3.6 MB one-line JSON body: with its quotes escaped the list is about 4.3 MB.
    std::string body = "[";
    while (body.size() < 3600 * 1000)
        body += R"({"k":"v"},)";
    body.back() = ']';
    const std::vector<WireRoute> large = {route("r-big", "/big", body)};
    const std::string list = encodeRecord(large);
    ASSERT_GT(list.size(), 4u * 1024 * 1024);
    m_client->set_read_timeout(30, 0); // each save is synced to a disk other tests share
    const auto saved = m_client->Post("/routes", list, "application/json");
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->status, 200) << saved->body.substr(0, 200);
    EXPECT_EQ(routes(), large);

    const auto exported = m_client->Get("/profile?name=Big");
    ASSERT_TRUE(exported);
    ASSERT_TRUE(m_client->Post("/routes", "[]", "application/json"));
    const auto imported = m_client->Post("/profile", exported->body, "application/json");
    ASSERT_TRUE(imported);
    EXPECT_EQ(imported->status, 200);
    EXPECT_EQ(routes(), large);
}

TEST_F(Engine, SchemaDriftIsLearnedFromTrafficAndSentAsAnEvent)
{
    // Learned from a host's answers, passed through; a mock route beside it teaches nothing.
    std::atomic<bool> changed {false};
    standintest::TestUpstream host([&](const standintest::TestUpstream::Request &, standintest::TestUpstream::Reply &reply) {
        reply.body = changed ? R"({"id":"usr_01","age":"36"})" : R"({"id":"usr_01","age":36})";
    });
    const std::string hostName = "127.0.0.1:" + std::to_string(host.port());
    WireRoute passed = route("r-1", "/v2/users/:id", "");
    passed.host = "127.0.0.1";
    passed.passThrough = true;
    ASSERT_TRUE(m_client->Post("/routes", encodeRecord(std::vector<WireRoute> {passed, route("r-2", "/mocked", R"({"a":1})")}),
                               "application/json"));
    EventReader events(*m_engine);
    ASSERT_TRUE(events.waitForPayload("\"hello\""));
    const int proxyPort = m_engine->proxyPort();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(proxyRequest(proxyPort, "GET", "http://" + hostName + "/v2/users/" + std::to_string(i)));
        ASSERT_TRUE(proxyRequest(proxyPort, "GET", "http://api.test/mocked"));
    }
    SchemaSnapshot snapshot = decoded<SchemaSnapshot>(m_client->Get("/schema"));
    ASSERT_EQ(snapshot.baselines.size(), 1u);
    EXPECT_EQ(snapshot.baselines[0].key, "GET " + hostName + "/v2/users/:id");
    EXPECT_TRUE(snapshot.baselines[0].locked);

    changed = true;
    ASSERT_TRUE(proxyRequest(proxyPort, "GET", "http://" + hostName + "/v2/users/9"));
    ASSERT_TRUE(events.waitForPayload("\"schema_drift\""));
    std::optional<EngineEvent> drift;
    for (const auto &payload : events.payloads()) {
        const auto event = decodeRecord<EngineEvent>(payload);
        if (event && event->type == "schema_drift")
            drift = event;
    }
    ASSERT_TRUE(drift && drift->drift);
    EXPECT_EQ(drift->drift->key, "GET " + hostName + "/v2/users/:id");
    EXPECT_EQ(drift->drift->breaking, 1);
    ASSERT_EQ(drift->drift->changes.size(), 1u);
    EXPECT_EQ(drift->drift->changes[0].path, "$.age");

    snapshot = decoded<SchemaSnapshot>(m_client->Get("/schema"));
    ASSERT_EQ(snapshot.drifts.size(), 1u);
    EXPECT_EQ(snapshot.drifts[0].trafficId, drift->drift->trafficId);
    // The finding shows the same short time whether it came as an event or with the snapshot.
    EXPECT_EQ(drift->time.size(), 12u) << drift->time;
    EXPECT_EQ(snapshot.drifts[0].time, drift->time);

    ASSERT_TRUE(m_client->Post("/schema/relearn?key=GET%20127.0.0.1%3A" + std::to_string(host.port())
                               + "%2Fv2%2Fusers%2F%3Aid"));
    EXPECT_FALSE(decoded<SchemaSnapshot>(m_client->Get("/schema")).baselines[0].locked);
    ASSERT_TRUE(m_client->Delete("/schema"));
    snapshot = decoded<SchemaSnapshot>(m_client->Get("/schema"));
    EXPECT_TRUE(snapshot.baselines.empty());
    EXPECT_TRUE(snapshot.drifts.empty());
}

TEST_F(Engine, PromptGenerationWithoutALocalModelFollowsTheExample)
{
    const std::string example = R"({"items":[{"id":"a_1","n":3}]})";
    const auto generated = m_client->Post("/mock/generate", encodeRecord(MockGenerateRequest {"", example, 42, 4}),
                                          "application/json");
    ASSERT_TRUE(generated);
    const auto ai = m_client->Post("/mock/ai", encodeRecord(MockAIRequest {"five users", "GET api.test/u", example, 42, 4}),
                                   "application/json");
    ASSERT_TRUE(ai);
    EXPECT_EQ(ai->status, 200);
    EXPECT_EQ(ai->get_header_value("X-Kestrion-Tier"), "tier1");
    EXPECT_EQ(ai->body, generated->body); // the same generator, seed and count
    EXPECT_EQ(nlohmann::json::parse(ai->body)["items"].size(), 4u);
    const auto otherSeed = m_client->Post("/mock/ai", encodeRecord(MockAIRequest {"five users", "", example, 43, 4}),
                                          "application/json");
    ASSERT_TRUE(otherSeed);
    EXPECT_NE(otherSeed->body, ai->body);

    const auto noExample = m_client->Post("/mock/ai", encodeRecord(MockAIRequest {"users", "", "", 1, 1}),
                                          "application/json");
    ASSERT_TRUE(noExample);
    EXPECT_EQ(noExample->status, 422);
    EXPECT_FALSE(noExample->has_header("X-Kestrion-Tier"));
    EXPECT_EQ(nlohmann::json::parse(noExample->body),
              nlohmann::json::parse(R"({"error":"a Tier-1 generation needs an example body: this engine has no local )"
                                    R"(model, so it builds the body from the example, not from the prompt alone"})"));

    // The generator's limits hold here too.
    const std::string tooDeep = std::string(500, '[') + std::string(500, ']');
    const auto refused = m_client->Post("/mock/ai", encodeRecord(MockAIRequest {"users", "", tooDeep, 1, 1}),
                                        "application/json");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 422);
    EXPECT_FALSE(refused->has_header("X-Kestrion-Tier"));
    EXPECT_EQ(m_client->Post("/mock/ai", R"({"prompt":"users"})", "application/json")->status, 400);
}

TEST_F(Engine, MockGenerationAndTheMissingLocalModel)
{
    const MockGenerateRequest request {"", R"({"items":[{"id":"a_1","n":3}]})", 42, 4};
    const auto generated = m_client->Post("/mock/generate", encodeRecord(request), "application/json");
    ASSERT_TRUE(generated);
    EXPECT_EQ(generated->status, 200);
    const auto body = nlohmann::json::parse(generated->body);
    EXPECT_EQ(body["items"].size(), 4u);
    EXPECT_EQ(m_client->Post("/mock/generate", encodeRecord(request), "application/json")->body, generated->body);
    EXPECT_EQ(m_client->Post("/mock/generate", R"({"seed":1})", "application/json")->status, 400);

    const AIStatus status = decoded<AIStatus>(m_client->Get("/ai/status"));
    EXPECT_FALSE(status.available);
    EXPECT_FALSE(status.running);
    EXPECT_FALSE(status.detail.empty());
    EXPECT_FALSE(decoded<AIStatus>(m_client->Post("/ai/start")).running);
    EXPECT_EQ(decoded<AISetupProgress>(m_client->Get("/ai/setup")).stage, "idle");
    ASSERT_EQ(m_client->Post("/ai/setup", "{}", "application/json")->status / 100, 2);
    const AISetupProgress progress = decoded<AISetupProgress>(m_client->Get("/ai/setup"));
    EXPECT_EQ(progress.stage, "error"); // ends the app's setup poll at once
    EXPECT_TRUE(progress.err);
}

TEST_F(Engine, ProjectSwitchKeepsEachProjectsSchemaApart)
{
    standintest::TestUpstream host([](const standintest::TestUpstream::Request &, standintest::TestUpstream::Reply &reply) {
        reply.body = R"({"a":1})";
    });
    ASSERT_TRUE(proxyRequest(m_engine->proxyPort(), "GET", "http://127.0.0.1:" + std::to_string(host.port()) + "/s"));
    EXPECT_EQ(decoded<SchemaSnapshot>(m_client->Get("/schema")).baselines.size(), 1u);
    const Project other = decoded<Project>(m_client->Post("/projects", R"({"name":"Other"})", "application/json"));
    ASSERT_TRUE(m_client->Post("/projects/" + other.id + "/activate"));
    EXPECT_TRUE(decoded<SchemaSnapshot>(m_client->Get("/schema")).baselines.empty());
}

TEST_F(Engine, ImportsSentTogetherAreEachTakenWhole)
{
    constexpr int kImports = 4;
    std::vector<std::thread> senders;
    std::vector<standintest::Result> answers(kImports);
    for (int n = 0; n < kImports; ++n) {
        senders.emplace_back([&, n] {
            std::string entries;
            for (int i = 0; i < 300; ++i)
                entries += (i ? "," : "") + std::string(R"({"request":{"method":"GET","url":"https://api.test/)")
                           + std::to_string(n) + "/" + std::to_string(i) + R"("},"response":{"status":200}})";
            answers[static_cast<size_t>(n)]
                = m_engine->client()->Post("/import?format=auto", R"({"log":{"entries":[)" + entries + "]}}",
                                           "application/json");
        });
    }
    for (auto &sender : senders)
        sender.join();
    for (const auto &answer : answers) {
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, 200) << answer->body;
        EXPECT_EQ(answer->get_header_value(kImportCountsHeader), R"({"imported":300,"leftOut":0,"routeLimit":5000})");
    }
    EXPECT_EQ(routes().size(), 4u * 300u);
}

TEST_F(Engine, BombsAndHugeImportsGet4xxAndChangeNothing)
{
    std::string bomb = "openapi: 3.0.0\ninfo: {title: Bomb}\npaths: {}\na: &a [x, x, x, x, x, x, x, x, x, x]\n";
    for (char level = 'b'; level <= 'j'; ++level) {
        bomb += std::string(1, level) + ": &" + level + " [";
        for (int i = 0; i < 10; ++i)
            bomb += std::string(i ? ", *" : "*") + static_cast<char>(level - 1);
        bomb += "]\n";
    }
    const auto exploded = m_client->Post("/import/openapi", bomb, "application/octet-stream");
    ASSERT_TRUE(exploded);
    EXPECT_EQ(exploded->status, 422);
    EXPECT_TRUE(decodeRecord<ErrorReply>(exploded->body));

    const auto deep = m_client->Post("/import/openapi", std::string(3000, '[') + std::string(3000, ']'),
                                     "application/octet-stream");
    EXPECT_EQ(deep->status / 100, 4);
    std::string blockNesting;
    for (int i = 0; i < 3000; ++i)
        blockNesting += "- ";
    for (const std::string &deepYaml : {"a: " + std::string(3000, '[') + std::string(3000, ']'), blockNesting + "x\n"})
        EXPECT_EQ(m_client->Post("/import/openapi", deepYaml, "application/octet-stream")->status / 100, 4);

    // Imports may be as large as a profile; past that they are refused unread, naming the limit.
    const std::string huge = "[" + std::string(6 * 1024 * 1024, ' ') + "]";
    EXPECT_EQ(m_client->Post("/import?format=auto", huge, "application/json")->status, 422);
    for (const char *path : {"/import?format=auto", "/import/openapi"}) {
        const auto tooLarge = m_client->Post(path, std::string(64 * 1024 * 1024 + 1, ' '), "application/json");
        ASSERT_TRUE(tooLarge);
        EXPECT_EQ(tooLarge->status, 413);
        EXPECT_NE(tooLarge->body.find("at most 67108864 bytes"), std::string::npos) << tooLarge->body;
    }
    // A profile may be as large as the saved state: this one is refused for what it is, not its size.
    EXPECT_EQ(m_client->Post("/profile", huge, "application/json")->status, 400);
    EXPECT_EQ(m_client->Post("/profile", std::string(64 * 1024 * 1024 + 1, ' '), "application/json")->status, 413);

    EXPECT_EQ(decoded<ProjectList>(m_client->Get("/projects")).projects.size(), 1u);
    EXPECT_TRUE(routes().empty());
    EXPECT_EQ(m_engine->process().state(), QProcess::Running);
}

TEST_F(Engine, OverlongControlPathsAreRefusedAndTheEngineKeepsAnswering)
{
    // Long enough that a backtracking matcher would overflow its stack on an I/O thread.
    const auto huge = m_client->Get("/traffic/" + std::string(60 * 1024, 'a'));
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->status, 414);
    EXPECT_NE(huge->body.find("request target too long"), std::string::npos) << huge->body;

    // Under the limit a long id is only an unknown one.
    const auto longId = m_client->Get("/traffic/" + std::string(12 * 1024, 'b'));
    ASSERT_TRUE(longId);
    EXPECT_EQ(longId->status, 404);
    const auto manySegments = m_client->Get([] {
        std::string path;
        while (path.size() < 15 * 1024)
            path += "/x";
        return path;
    }());
    ASSERT_TRUE(manySegments);
    EXPECT_EQ(manySegments->status, 404);

    const auto health = m_client->Get("/health");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, 200);
    EXPECT_EQ(decoded<std::vector<WireRoute>>(m_client->Get("/routes")).size(), 0u);
}

namespace {

// The engine's output cut into lines where the app cuts it.
std::vector<std::string> outputLinesAsTheAppReadsThem(const std::string &output)
{
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < output.size(); ++i) {
        if (const int breakLength = outputLineBreakAt(output, i); breakLength > 0) {
            lines.emplace_back();
            i += breakLength - 1;
        } else {
            lines.back() += output[i];
        }
    }
    return lines;
}

} // namespace

// NEL, LS and PS end a line of the engine's output for the app as a line feed does: a host name, a
// document's title or an id holding one must not start a control-port line of its own.
TEST_F(Engine, NoRequestFileOrIdStartsALineOfTheOutputWithAnyLineBreakTheAppKnows)
{
    ASSERT_EQ(m_client->Post("/ca/generate")->status, 200);
    standintest::RawSocket tunnel;
    ASSERT_TRUE(tunnel.connect(m_engine->proxyPort()));
    const std::string authority = "a\u2028KESTRION_CONTROL_PORT=4441\u2028b:443";
    ASSERT_TRUE(tunnel.send("CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n"));
    EXPECT_FALSE(tunnel.readUntil("\r\n\r\n", std::chrono::seconds(10)).empty());

    const std::string document = R"({"openapi":"3.0.0","info":{"title":"x\u2028KESTRION_CONTROL_PORT=4442\u0085y"},)"
                                 R"("paths":{"/a":{"get":{"responses":{"200":{"description":"ok"}}}}}})";
    const auto imported = m_client->Post("/import/openapi", document, "application/octet-stream");
    ASSERT_TRUE(imported);
    ASSERT_EQ(imported->status, 200) << imported->body;
    EXPECT_EQ(decoded<OpenAPIImportResult>(imported).name, "x KESTRION_CONTROL_PORT=4442 y");

    nlohmann::json profile = nlohmann::json::parse(m_client->Get("/profile")->body);
    profile["chaos"]["presets"][0]["id"] = "p\u0085KESTRION_CONTROL_PORT=4443";
    EXPECT_EQ(m_client->Post("/profile", profile.dump(), "application/json")->status, 400);
    const WireRoute separated = route("r\u2029KESTRION_CONTROL_PORT=4444", "/a", "");
    EXPECT_EQ(m_client->Post("/routes", encodeRecord(std::vector<WireRoute> {separated}), "application/json")->status,
              400);
    const EnvironmentSet environment {{{"env\u2028KESTRION_CONTROL_PORT=4445", "Staging", std::nullopt}}, ""};
    EXPECT_EQ(m_client->Post("/environments", encodeRecord(environment), "application/json")->status, 400);
    EXPECT_EQ(m_client->Post("/projects", R"({"name":"n\u2029KESTRION_CONTROL_PORT=4446"})", "application/json")->status,
              400);

    // Once the tunnel's and the import's lines are out, the one control-port line is the engine's own.
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            const QByteArray output = m_engine->output();
            return output.contains("relayed without interception") && output.contains("OpenAPI import");
        },
        10000))
        << m_engine->output().toStdString();
    std::size_t portLines = 0;
    for (const auto &line : outputLinesAsTheAppReadsThem(m_engine->output().toStdString()))
        portLines += line.starts_with("KESTRION_CONTROL_PORT=") ? 1 : 0;
    EXPECT_EQ(portLines, 1u) << m_engine->output().toStdString();
}

// Whatever an import keeps, the app pushes back with the next edit of the route list.
TEST_F(Engine, ImportsKeepOnlyRoutesThatAPushOfTheListTakesBack)
{
    const std::vector<WireRoute> original = {route("r-1", "/one", "1")};
    ASSERT_EQ(m_client->Post("/routes", encodeRecord(original), "application/json")->status, 200);
    for (const std::string id : {"bad\nid", "bad\u2028id", "bad\u0085id"}) {
        const auto refused = m_client->Post("/import", encodeRecord(std::vector<WireRoute> {route(id, "/two", "2")}),
                                            "application/json");
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 422) << refused->body;
        EXPECT_NE(refused->body.find("route id"), std::string::npos) << refused->body;
        EXPECT_EQ(routes(), original);
    }
    const auto taken = m_client->Post("/import", encodeRecord(std::vector<WireRoute> {route("r-2", "/two", "2")}),
                                      "application/json");
    ASSERT_TRUE(taken);
    ASSERT_EQ(taken->status, 200) << taken->body;
    EXPECT_EQ(m_client->Post("/routes", taken->body, "application/json")->status, 200);
    EXPECT_EQ(routes().size(), 2u);
}

// An operation the document describes only by its failure is mocked with that failure.
TEST_F(Engine, AnOperationWhoseOnlyAnswerIsAFailureIsImportedWithIt)
{
    const std::string document = R"({"openapi":"3.0.0","info":{"title":"Failures"},"paths":{
        "/missing":{"get":{"responses":{"404":{"description":"gone","content":{"application/json":
            {"example":{"error":"not found"}}}}}}},
        "/limited":{"get":{"responses":{"503":{"description":"later"},"429":{"description":"slow down"}}}},
        "/ranged":{"get":{"responses":{"5XX":{"description":"broken"}}}},
        "/fine":{"get":{"responses":{"404":{"description":"gone"},"201":{"description":"made"}}}}}})";
    const auto imported = m_client->Post("/import/openapi", document, "application/octet-stream");
    ASSERT_TRUE(imported);
    ASSERT_EQ(imported->status, 200) << imported->body;
    std::map<std::string, std::int64_t> statuses;
    for (const auto &route : routes())
        statuses[route.path] = route.status;
    EXPECT_EQ(statuses, (std::map<std::string, std::int64_t> {{"/missing", 404}, {"/limited", 429}, {"/ranged", 500},
                                                              {"/fine", 201}}));
    const auto answer = proxyRequest(m_engine->proxyPort(), "GET", "http://api.example.com/missing");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 404);
    EXPECT_EQ(nlohmann::json::parse(answer->body), nlohmann::json::parse(R"({"error":"not found"})"));
}
