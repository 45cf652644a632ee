// OpenAPI import: JSON and YAML specifications become a project on the real stand-in engine,
// with the summary banner and log lines; failures keep routes and projects as they were.
#include "ops_test_support.h"
#include "support/temp_preferences.h"

using opstest::endpointIds;
using opstest::route;
using opstest::TinyYaml;

namespace {

const QByteArray PetsJson = R"({
  "openapi": "3.0.0",
  "info": {"title": "Pets API", "version": "1"},
  "servers": [{"url": "https://pets.test/v1"}],
  "paths": {
    "/pets": {
      "get": {"responses": {"200": {"content": {"application/json": {"example": [{"id": 1, "name": "Rex"}]}}}}},
      "post": {"responses": {"201": {"description": "created"}}}
    },
    "/pets/{id}": {
      "get": {"responses": {"200": {"content": {"application/json": {"example": {"id": 1, "name": "Rex"}}}}}}
    }
  }
})";

class OpenAPIImport : public EngineOpsTest
{
protected:
    QString writeSpec(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        EXPECT_TRUE(opstest::writeFile(path, bytes));
        return path;
    }

    bool waitForSummary() { return testsupport::waitFor([&] { return client().importSummary().has_value(); }); }

    const Project *projectNamed(const std::string &name) const
    {
        for (const Project &project : m_client->projects())
            if (project.name == name)
                return &project;
        return nullptr;
    }
};

} // namespace

TEST_F(OpenAPIImport, JsonSpecificationBecomesAProjectWithItsRoutes)
{
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().projects().isEmpty(); }));
    client().importOpenAPI(writeSpec(QStringLiteral("pets.json"), PetsJson));
    ASSERT_TRUE(waitForSummary());
    EXPECT_EQ(*client().importSummary(), QStringLiteral("Imported 3 routes into Pets API"));
    EXPECT_TRUE(logContains(QStringLiteral("imported 3 routes from pets.json \u2192 Pets API")));
    const Project *project = projectNamed("Pets API");
    ASSERT_NE(project, nullptr);
    EXPECT_EQ(project->routeCount, 3);
    // The engine made the new project active; its routes are loaded.
    EXPECT_EQ(client().activeProjectID(), QString::fromStdString(project->id));
    EXPECT_EQ(client().endpoints().size(), 3);
}

TEST_F(OpenAPIImport, YamlSpecificationWithOneRouteUsesTheSingular)
{
    ASSERT_TRUE(bootLoaded());
    client().importOpenAPI(writeSpec(QStringLiteral("tiny.yaml"), TinyYaml));
    ASSERT_TRUE(waitForSummary());
    EXPECT_EQ(*client().importSummary(), QStringLiteral("Imported 1 route into Tiny"));
    EXPECT_TRUE(logContains(QStringLiteral("imported 1 routes from tiny.yaml \u2192 Tiny")));
    ASSERT_NE(projectNamed("Tiny"), nullptr);
    ASSERT_EQ(client().endpoints().size(), 1);
    EXPECT_EQ(client().endpoints().first().path, "/ping");
}

TEST_F(OpenAPIImport, RouteEditedJustBeforeTheImportReachesTheOldProject)
{
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().activeProjectID().isEmpty(); }));
    const QString before = client().activeProjectID();
    client().setEndpoints({route("r-last", "/last")});
    client().pushRoutes();
    client().performOpenAPIImport(TinyYaml, QStringLiteral("tiny.yaml"));
    ASSERT_TRUE(waitForSummary());
    ASSERT_NE(client().activeProjectID(), before);

    client().activateProject(before);
    ASSERT_TRUE(testsupport::waitFor([&] { return client().activeProjectID() == before && !client().isSwitchingProject(); }));
    EXPECT_EQ(endpointIds(client().endpoints()), QStringList{QStringLiteral("r-last")});
}

TEST_F(OpenAPIImport, EditsMadeDuringTheUploadLandInTheProjectTheyWereMadeIn)
{
    // The engine holds each upload a while, as a large document on a slow disk would.
    qputenv("KESTRION_TEST_OPENAPI_HOLD_MS", "500");
    ASSERT_TRUE(bootLoaded(true));
    qunsetenv("KESTRION_TEST_OPENAPI_HOLD_MS");
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().activeProjectID().isEmpty(); }));
    const QString before = client().activeProjectID();
    Endpoint edited = route("r-1", "/one");
    client().replaceEndpoints({edited});
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().routePushPending(); }));
    ASSERT_EQ(proxyGet(QStringLiteral("api.test"), QStringLiteral("/one")), 200);

    // A refused document leaves the engine on the same project, which serves the edit.
    bool finished = false;
    client().performOpenAPIImport("just: [unbalanced", QStringLiteral("notes.yaml"), [&] { finished = true; });
    edited.status = 418;
    client().updateEndpoint(edited);
    ASSERT_TRUE(testsupport::waitFor([&] { return finished; }));
    EXPECT_TRUE(client().importSummary()->startsWith(QStringLiteral("Import failed: ")));
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().routePushPending(); }));
    EXPECT_EQ(proxyGet(QStringLiteral("api.test"), QStringLiteral("/one")), 418);

    // An import that makes a new project active: the old project keeps what was edited meanwhile,
    // the new one its own routes.
    finished = false;
    client().performOpenAPIImport(TinyYaml, QStringLiteral("tiny.yaml"), [&] { finished = true; });
    edited.status = 451;
    client().updateEndpoint(edited);
    client().addEnvironment(QStringLiteral("Staging"));
    ASSERT_TRUE(testsupport::waitFor([&] { return finished; }));
    EXPECT_EQ(*client().importSummary(), QStringLiteral("Imported 1 route into Tiny"));
    ASSERT_NE(client().activeProjectID(), before);
    ASSERT_EQ(client().endpoints().size(), 1);
    EXPECT_EQ(client().endpoints().first().path, "/ping");

    client().activateProject(before);
    ASSERT_TRUE(testsupport::waitFor([&] { return client().activeProjectID() == before && !client().isSwitchingProject(); }));
    ASSERT_EQ(endpointIds(client().endpoints()), QStringList{QStringLiteral("r-1")});
    EXPECT_EQ(client().endpoints().first().status, 451);
    EXPECT_TRUE(std::any_of(client().environments().cbegin(), client().environments().cend(),
                            [](const MockEnvironment &environment) { return environment.name == "Staging"; }));
    EXPECT_EQ(proxyGet(QStringLiteral("api.test"), QStringLiteral("/one")), 451);
}

TEST_F(OpenAPIImport, UnreadableDocumentIsRefusedAndNothingChanges)
{
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().projects().isEmpty(); }));
    const QList<Project> projects = client().projects();
    client().importOpenAPI(writeSpec(QStringLiteral("notes.yaml"), "just: [unbalanced"));
    ASSERT_TRUE(waitForSummary());
    const QString summary = *client().importSummary();
    // The engine's message, not its JSON answer.
    EXPECT_TRUE(summary.startsWith(QStringLiteral("Import failed: the document could not be read: invalid YAML")))
        << summary.toStdString();
    const auto line = std::find_if(client().log().cbegin(), client().log().cend(), [](const QString &l) {
        return l.startsWith(QStringLiteral("openapi import notes.yaml failed: "));
    });
    ASSERT_NE(line, client().log().cend());
    EXPECT_TRUE(line->endsWith(summary.mid(15))) << line->toStdString();
    EXPECT_EQ(client().projects(), projects);
}

TEST_F(OpenAPIImport, MissingFileSaysCouldNotReadAndSendsNothing)
{
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().projects().isEmpty(); }));
    const QList<Project> projects = client().projects();
    client().importOpenAPI(m_dir.filePath(QStringLiteral("gone.json")));
    ASSERT_TRUE(waitForSummary());
    EXPECT_EQ(*client().importSummary(), QStringLiteral("Couldn't read gone.json"));
    opstest::settle(200);
    EXPECT_EQ(client().projects(), projects);
}

TEST_F(OpenAPIImport, WithoutEngineNothingVisibleHappens)
{
    bool finished = false;
    client().performOpenAPIImport(TinyYaml, QStringLiteral("tiny.yaml"), [&] { finished = true; });
    EXPECT_TRUE(finished);
    EXPECT_FALSE(client().importSummary().has_value());
    EXPECT_TRUE(client().log().isEmpty());
}

using OpenAPIAnswers = FakeEngineTest;

TEST_F(OpenAPIAnswers, LongRefusalIsCutAt140CharactersInTheSummaryOnly)
{
    const QByteArray detail = QByteArray(138, 'x') + "\xF0\x9F\x90\xBE" + "e\xCC\x81" + QByteArray(357, 'y');
    m_answer = [&](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/import/openapi")
            return answer(400, detail, "text/plain");
        return std::nullopt;
    };
    connectClient();
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) {
        m_client.performOpenAPIImport("{}", QStringLiteral("big.json"), done);
    }));
    const RecordedRequest upload = m_server.matching("POST", "/import/openapi").first();
    EXPECT_EQ(upload.headers.value("content-type"), "application/octet-stream");
    EXPECT_EQ(upload.body, QByteArray("{}"));
    // 138 letters, the paw (one character, two UTF-16 units) and "e" with its accent (one character).
    EXPECT_EQ(*m_client.importSummary(),
              QStringLiteral("Import failed: ") + QString::fromUtf8(detail.left(138 + 4 + 3)));
    EXPECT_EQ(m_client.log().last(), QStringLiteral("openapi import big.json failed: ") + QString::fromUtf8(detail));
}

TEST_F(OpenAPIAnswers, SuccessStatusWithoutRouteCountIsAFailure)
{
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/import/openapi")
            return answer(200, R"({"projectId":"p-9","name":"Half"})");
        return std::nullopt;
    };
    connectClient();
    const int projectLoads = count("GET", "/projects");
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) {
        m_client.performOpenAPIImport("{}", QStringLiteral("half.json"), done);
    }));
    EXPECT_EQ(*m_client.importSummary(), QStringLiteral(R"(Import failed: {"projectId":"p-9","name":"Half"})"));
    EXPECT_EQ(count("GET", "/projects"), projectLoads);
}

TEST(OpenAPIUnreachable, ClosedPortSaysEngineUnreachable)
{
    testsupport::TemporaryPreferencesDir dir;
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    EngineClient client;
    client.ingestOutput("KESTRION_CONTROL_PORT=" + QByteArray::number(closedPort) + "\n");
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) {
        client.performOpenAPIImport("{}", QStringLiteral("x.json"), done);
    }));
    EXPECT_EQ(*client.importSummary(), QStringLiteral("Import failed \u2014 engine unreachable"));
    EXPECT_FALSE(client.log().last().startsWith(QStringLiteral("openapi import")));
}

TEST_F(OpenAPIAnswers, UploadWaitsForTheRoutePushToBeAnswered)
{
    // An answer slower than the cap on shutdown's wait for pushes: the upload waits past it.
    m_client.setPendingPushWaitMs(100);
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.method == "POST" && request.path() == "/routes") {
            CannedReply slow = answer(200, "{}");
            slow.delayMs = 250;
            return slow;
        }
        if (request.path() == "/import/openapi")
            return answer(200, R"({"projectId":"p-9","name":"Pets","routeCount":2})");
        return std::nullopt;
    };
    connectClient();
    m_client.setEndpoints({route("r-1", "/one")});
    m_client.pushRoutes();
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) {
        m_client.performOpenAPIImport("{}", QStringLiteral("pets.json"), done);
    }));
    EXPECT_EQ(*m_client.importSummary(), QStringLiteral("Imported 2 routes into Pets"));
    const RecordedRequest push = m_server.matching("POST", "/routes").first();
    const RecordedRequest upload = m_server.matching("POST", "/import/openapi").first();
    ASSERT_GE(push.answeredMs, 0);
    EXPECT_GE(upload.receivedMs, push.answeredMs);
}
