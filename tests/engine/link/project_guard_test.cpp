// Route and environment writes across project operations, against the real stand-in engine: no write
// during a switch, and the edits made before an operation land in the project they were made for.
#include "ops_test_support.h"
#include "relay_control_server.h"

#include <QFileInfo>

#include <functional>

using opstest::endpointIds;
using opstest::route;

namespace {

// Two projects on the engine: "Default" (active, two routes, one environment) and "Beta" (one of each).
class TwoProjects : public EngineOpsTest
{
protected:
    void SetUp() override
    {
        EngineOpsTest::SetUp();
        ASSERT_TRUE(bootLoaded());
        ASSERT_TRUE(testsupport::waitFor([&] { return !client().activeProjectID().isEmpty(); }));
        m_default = client().activeProjectID();
        Endpoint grouped = route("r-d2", "/d2");
        grouped.group = "Old";
        ASSERT_TRUE(fill({route("r-d1", "/d1"), grouped}, "DefaultEnv"));

        ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) {
            client().createProject(QStringLiteral("Beta"), [&, done](const std::optional<QString> &id) {
                m_beta = id.value_or(QString());
                done();
            });
        }));
        ASSERT_FALSE(m_beta.isEmpty());
        ASSERT_TRUE(activate(m_beta));
        ASSERT_TRUE(fill({route("r-b1", "/b1")}, "BetaEnv"));
        ASSERT_TRUE(activate(m_default));
    }

    bool activate(const QString &id)
    {
        client().activateProject(id);
        return testsupport::waitFor(
            [&] { return !client().isSwitchingProject() && client().activeProjectID() == id; });
    }

    // Gives the active project these routes and one environment, and waits until the engine holds them.
    bool fill(const QList<Endpoint> &routes, const QString &environment)
    {
        client().setEndpoints(routes);
        client().pushRoutes();
        client().addEnvironment(environment);
        return testsupport::waitFor(
            [&] { return !client().routePushPending() && !client().environmentPushPending(); });
    }

    // What the engine holds for its active project, read afresh.
    QStringList engineRouteIds()
    {
        opstest::runToEnd([&](EngineClient::Done done) { client().loadRoutes(done); });
        return endpointIds(client().endpoints());
    }
    QStringList engineEnvironmentNames()
    {
        opstest::runToEnd([&](EngineClient::Done done) { client().loadEnvironments(done); });
        QStringList names;
        for (const MockEnvironment &environment : client().environments())
            names.append(QString::fromStdString(environment.name));
        return names;
    }

    const Endpoint *find(const std::string &id) const
    {
        for (const Endpoint &endpoint : m_client->endpoints())
            if (endpoint.id == id)
                return &endpoint;
        return nullptr;
    }

    QString m_default;
    QString m_beta;
};

struct Writer
{
    const char *name;
    std::function<void(EngineClient &)> write;
};

void PrintTo(const Writer &writer, std::ostream *out)
{
    *out << writer.name;
}

std::string writerName(const ::testing::TestParamInfo<Writer> &info)
{
    return info.param.name;
}

QString firstEnvironmentId(const EngineClient &client)
{
    return client.environments().isEmpty() ? QString()
                                           : QString::fromStdString(client.environments().first().id);
}

const Writer Writers[] = {
    {"TableSwitch", [](EngineClient &c) { c.toggleEndpoint(QStringLiteral("r-d1")); }},
    {"Inspector",
     [](EngineClient &c) {
         Endpoint edited = c.endpoints().value(0);
         edited.path = "/edited";
         c.updateEndpoint(edited);
     }},
    {"DuplicateRoute", [](EngineClient &c) { c.duplicateEndpoint(QStringLiteral("r-d1")); }},
    {"MoveToGroup", [](EngineClient &c) { c.setGroup(QStringLiteral("r-d1"), QStringLiteral("New")); }},
    {"RenameGroup", [](EngineClient &c) { c.renameGroup(QStringLiteral("Old"), QStringLiteral("New")); }},
    {"ReplaceList",
     [](EngineClient &c) {
         c.setEndpoints({route("r-demo", "/demo")});
         c.pushRoutes();
     }},
    {"DeleteRoute",
     [](EngineClient &c) {
         QList<Endpoint> routes = c.endpoints();
         routes.removeFirst();
         c.setEndpoints(routes);
         c.pushRoutes();
     }},
    {"PushAlone", [](EngineClient &c) { c.pushRoutes(); }},
    {"NoEnvironment",
     [](EngineClient &c) {
         c.setActiveEnvID(QString());
         c.pushEnvironments();
     }},
    {"AddEnvironment", [](EngineClient &c) { c.addEnvironment(QStringLiteral("Late")); }},
    {"RenameEnvironment",
     [](EngineClient &c) { c.renameEnvironment(firstEnvironmentId(c), QStringLiteral("Renamed")); }},
    {"DuplicateEnvironment", [](EngineClient &c) { c.duplicateEnvironment(firstEnvironmentId(c)); }},
    {"DeleteEnvironment", [](EngineClient &c) { c.deleteEnvironment(firstEnvironmentId(c)); }},
    {"AddVariable", [](EngineClient &c) { c.addVar(firstEnvironmentId(c)); }},
    {"ReplaceEnvironments",
     [](EngineClient &c) {
         c.setEnvironments({});
         c.pushEnvironments();
     }},
};

class WriteDuringSwitch : public TwoProjects, public ::testing::WithParamInterface<Writer>
{
};

} // namespace

TEST_P(WriteDuringSwitch, LeavesTheNewProjectAsItWas)
{
    // A second link reaches the same engine through a relay that holds the new project's route
    // load: the engine is already on Beta while the link still shows Default.
    RelayControlServer relay(*client().controlPort());
    EngineClient relayed;
    relayed.ingestOutput("KESTRION_CONTROL_TOKEN=" + controlToken() + "\nKESTRION_CONTROL_PORT="
                         + QByteArray::number(relay.port()) + "\n");
    ASSERT_TRUE(testsupport::waitFor([&] {
        return relayed.aiStatus() != AIStatus::initial() && relayed.routesLoaded()
               && relayed.activeProjectID() == m_default && !relayed.environments().isEmpty();
    }));
    relay.holdWhen([](const RecordedRequest &request) { return request.method == "GET" && request.path() == "/routes"; });
    relayed.activateProject(m_beta);
    ASSERT_TRUE(testsupport::waitFor([&] { return relay.heldCount() == 1; }));
    ASSERT_TRUE(relayed.isSwitchingProject());
    const quint64 revision = relayed.endpointsRevision();

    GetParam().write(relayed);
    EXPECT_FALSE(relayed.routePushPending());
    EXPECT_FALSE(relayed.environmentPushPending());
    EXPECT_EQ(relayed.endpointsRevision(), revision);

    relay.releaseHeld();
    ASSERT_TRUE(testsupport::waitFor([&] { return !relayed.isSwitchingProject(); }));
    EXPECT_EQ(relayed.activeProjectID(), m_beta);
    EXPECT_EQ(endpointIds(relayed.endpoints()), QStringList{QStringLiteral("r-b1")});
    EXPECT_EQ(relay.count("POST", "/routes"), 0);
    EXPECT_EQ(relay.count("POST", "/environments"), 0);

    // The engine, asked directly: Beta's own route and environment, unchanged.
    EXPECT_EQ(engineRouteIds(), QStringList{QStringLiteral("r-b1")});
    EXPECT_EQ(engineEnvironmentNames(), QStringList{QStringLiteral("BetaEnv")});
}

INSTANTIATE_TEST_SUITE_P(EveryWriter, WriteDuringSwitch, ::testing::ValuesIn(Writers), writerName);

TEST_F(TwoProjects, EnvironmentChoiceRightAfterASwitchStartsChangesNothing)
{
    client().activateProject(m_beta);
    client().setActiveEnvID(QString()); // the picker's "No environment"
    client().pushEnvironments();
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return !client().isSwitchingProject() && !client().environmentPushPending(); }));
    EXPECT_EQ(engineEnvironmentNames(), QStringList{QStringLiteral("BetaEnv")});
    EXPECT_EQ(client().activeEnvID(), firstEnvironmentId(client()));

    ASSERT_TRUE(activate(m_default));
    EXPECT_EQ(engineEnvironmentNames(), QStringList{QStringLiteral("DefaultEnv")});
}

TEST_F(TwoProjects, DeletingTheActiveProjectRightAfterAnEditLeavesTheNextOneItsOwnRoutes)
{
    client().toggleEndpoint(QStringLiteral("r-d1"));
    client().deleteProject(m_default);
    // Until the next project is shown, the list on screen is the deleted one's: writes do nothing.
    client().toggleEndpoint(QStringLiteral("r-d2"));
    ASSERT_TRUE(testsupport::waitFor([&] { return client().activeProjectID() == m_beta && client().routesLoaded(); }));
    ASSERT_TRUE(testsupport::waitFor([&] { return endpointIds(client().endpoints()) == QStringList{"r-b1"}; }));
    EXPECT_FALSE(client().routePushPending());
    EXPECT_EQ(engineRouteIds(), QStringList{QStringLiteral("r-b1")});
    EXPECT_EQ(engineEnvironmentNames(), QStringList{QStringLiteral("BetaEnv")});
    EXPECT_EQ(client().projects().size(), 1);
}

TEST_F(TwoProjects, DuplicateRightAfterAnEditCopiesTheEdit)
{
    client().toggleEndpoint(QStringLiteral("r-d1"));
    client().duplicateProject(m_default);
    ASSERT_TRUE(testsupport::waitFor([&] { return client().projects().size() == 3; }));
    QString copy;
    for (const Project &project : client().projects())
        if (project.id != m_default.toStdString() && project.id != m_beta.toStdString())
            copy = QString::fromStdString(project.id);
    ASSERT_TRUE(activate(copy));
    ASSERT_NE(find("r-d1"), nullptr);
    EXPECT_FALSE(find("r-d1")->active);
}

TEST_F(TwoProjects, ExportRightAfterAnEditHoldsTheEdit)
{
    Endpoint edited = *find("r-d1");
    edited.path = "/edited-before-export";
    client().updateEndpoint(edited);
    const QString path = m_dir.filePath(QStringLiteral("now.kestrion"));
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) { client().performExport(path, done); }));
    EXPECT_TRUE(opstest::readFile(path).contains("/edited-before-export"));
}

TEST_F(TwoProjects, CaptureImportKeepsAnEditStillWaiting)
{
    client().toggleEndpoint(QStringLiteral("r-d1"));
    const QByteArray har = R"({"log":{"entries":[{"time":3,"request":{"method":"GET","url":"https://api.test/feed"},)"
                           R"("response":{"status":200,"content":{"text":"[]"}}}]}})";
    ASSERT_TRUE(opstest::runToEnd(
        [&](EngineClient::Done done) { client().importData(har, QStringLiteral("session.har"), done); }));
    EXPECT_EQ(endpointIds(client().endpoints()).size(), 3);
    ASSERT_NE(find("r-d1"), nullptr);
    EXPECT_FALSE(find("r-d1")->active);
    // And on the engine, not only on screen.
    ASSERT_EQ(engineRouteIds().size(), 3);
    EXPECT_FALSE(find("r-d1")->active);
}

TEST_F(TwoProjects, ProfileImportLandsTheWaitingEditFirst)
{
    const QString path = m_dir.filePath(QStringLiteral("default.kestrion"));
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) { client().performExport(path, done); }));

    RelayControlServer relay(*client().controlPort());
    EngineClient relayed;
    relayed.setPushDebounceMs(ShortDebounceMs);
    relayed.ingestOutput("KESTRION_CONTROL_TOKEN=" + controlToken() + "\nKESTRION_CONTROL_PORT="
                         + QByteArray::number(relay.port()) + "\n");
    ASSERT_TRUE(testsupport::waitFor([&] { return relayed.aiStatus() != AIStatus::initial() && relayed.routesLoaded(); }));
    relayed.toggleEndpoint(QStringLiteral("r-d1"));
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) {
        relayed.handleProfileImport(opstest::readFile(path), QFileInfo(path).fileName(), done);
    }));
    ASSERT_EQ(relay.count("POST", "/routes"), 1);
    const RecordedRequest push = relay.recorded().matching("POST", "/routes").first();
    const RecordedRequest import = relay.recorded().matching("POST", "/profile").first();
    ASSERT_GE(push.answeredMs, 0);
    EXPECT_GE(import.receivedMs, push.answeredMs);
    // The profile's routes stand, and no push came after the import.
    ASSERT_EQ(endpointIds(relayed.endpoints()), (QStringList{"r-d1", "r-d2"}));
    EXPECT_TRUE(relayed.endpoints().first().active);
    ASSERT_TRUE(engineRouteIds().contains(QStringLiteral("r-d1")));
    EXPECT_TRUE(find("r-d1")->active);
}
