// Projects against the real stand-in engine: switching, the pushes that must land first, the
// list operations; and the exact paths the link sends, checked on a recording fake engine.
#include "ops_test_support.h"

#include <QSignalSpy>

using opstest::endpointIds;
using opstest::route;

namespace {

const char DriftEvent[] = R"({"type":"schema_drift","time":"2026-12-07T10:00:00Z","drift":{"key":"GET api.test/a",)"
                          R"("trafficId":"t-1","breaking":1,"changes":[{"path":"$.id","kind":"type_changed","severity":"breaking"}]}})";
const char RequestEvent[] = R"({"type":"request","time":"2026-12-07T10:00:00Z","request":{"id":"t-2",)"
                            R"("time":"2026-12-07T10:00:00Z","method":"GET","host":"api.test","path":"/a",)"
                            R"("status":200,"latencyMs":3,"injected":true}})";

class Projects : public EngineOpsTest
{
protected:
    // Creates a project on the engine and returns its id ("" on failure).
    QString create(const QString &name)
    {
        std::optional<QString> id;
        bool finished = false;
        client().createProject(name, [&](const std::optional<QString> &result) {
            id = result;
            finished = true;
        });
        testsupport::waitFor([&] { return finished; });
        return id.value_or(QString());
    }

    bool activate(const QString &id)
    {
        client().activateProject(id);
        return testsupport::waitFor(
            [&] { return !client().isSwitchingProject() && client().activeProjectID() == id; });
    }

    bool hasProjectNamed(const std::string &name) const
    {
        for (const Project &project : m_client->projects())
            if (project.name == name)
                return true;
        return false;
    }
};

} // namespace

TEST_F(Projects, PendingRoutePushReachesTheOldProjectBeforeTheSwitch)
{
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().activeProjectID().isEmpty(); }));
    const QString first = client().activeProjectID();
    const QString second = create(QStringLiteral("Second"));
    ASSERT_FALSE(second.isEmpty());
    EXPECT_EQ(client().activeProjectID(), first); // creating does not switch

    client().setEndpoints({route("r-edit", "/edited")});
    client().pushRoutes();
    client().activateProject(second); // inside the debounce: no event has run since the push
    EXPECT_TRUE(client().isSwitchingProject());
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().isSwitchingProject(); }));
    EXPECT_EQ(client().activeProjectID(), second);
    EXPECT_FALSE(endpointIds(client().endpoints()).contains(QStringLiteral("r-edit")));

    ASSERT_TRUE(activate(first));
    EXPECT_EQ(endpointIds(client().endpoints()), QStringList{QStringLiteral("r-edit")});
}

TEST_F(Projects, PendingEnvironmentPushReachesTheOldProjectBeforeTheSwitch)
{
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().activeProjectID().isEmpty(); }));
    const QString first = client().activeProjectID();
    const QString second = create(QStringLiteral("Second"));
    ASSERT_FALSE(second.isEmpty());

    client().addEnvironment(QStringLiteral("Staging"));
    ASSERT_TRUE(activate(second));
    for (const MockEnvironment &environment : client().environments())
        EXPECT_NE(environment.name, "Staging");

    ASSERT_TRUE(activate(first));
    ASSERT_EQ(client().environments().size(), 1);
    EXPECT_EQ(client().environments().first().name, "Staging");
    EXPECT_EQ(client().activeEnvID(), QString::fromStdString(client().environments().first().id));
}

TEST_F(Projects, SwitchEmptiesTrafficAndDriftAndLoadsTheNewProject)
{
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().activeProjectID().isEmpty(); }));
    const QString first = client().activeProjectID();
    client().setEndpoints({route("r-one", "/one")});
    client().pushRoutes();
    const QString second = create(QStringLiteral("Second"));
    ASSERT_TRUE(activate(second));
    client().setEndpoints({route("r-two", "/two")});
    client().pushRoutes();

    client().handleEvent(RequestEvent);
    ASSERT_TRUE(testsupport::waitFor([&] { return client().traffic().size() == 1; }));
    client().handleEvent(DriftEvent);
    client().handleEvent(RequestEvent); // still buffered when the switch starts
    ASSERT_EQ(client().schemaDrifts().size(), 1);
    ASSERT_EQ(client().unseenDrift(), 1);

    ASSERT_TRUE(activate(first));
    EXPECT_TRUE(client().traffic().isEmpty());
    EXPECT_TRUE(client().schemaDrifts().isEmpty());
    EXPECT_EQ(client().unseenDrift(), 0);
    EXPECT_EQ(endpointIds(client().endpoints()), QStringList{QStringLiteral("r-one")});
    opstest::settle(100); // the buffered entry was dropped, not flushed 10 ms later
    EXPECT_TRUE(client().traffic().isEmpty());
}

TEST_F(Projects, ActivatingTheActiveProjectDoesNothing)
{
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().activeProjectID().isEmpty(); }));
    QSignalSpy switching(&client(), &EngineClient::isSwitchingProjectChanged);
    client().activateProject(client().activeProjectID());
    opstest::settle(100);
    EXPECT_EQ(switching.count(), 0);
    EXPECT_FALSE(client().isSwitchingProject());
}

TEST_F(Projects, RenameDuplicateAndDeleteFollowTheEngine)
{
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().projects().isEmpty(); }));
    const QString first = client().activeProjectID();
    const QString other = create(QStringLiteral("Other"));
    ASSERT_FALSE(other.isEmpty());
    ASSERT_TRUE(hasProjectNamed("Other"));

    client().renameProject(other, QStringLiteral("Renamed"));
    ASSERT_TRUE(testsupport::waitFor([&] { return hasProjectNamed("Renamed"); }));
    EXPECT_FALSE(hasProjectNamed("Other"));

    const qsizetype before = client().projects().size();
    client().duplicateProject(other);
    ASSERT_TRUE(testsupport::waitFor([&] { return client().projects().size() == before + 1; }));
    EXPECT_EQ(client().activeProjectID(), first); // the copy does not become active

    // Deleting a project that is not active reloads nothing else.
    client().setEndpoints({route("r-local", "/local")});
    client().deleteProject(other);
    ASSERT_TRUE(testsupport::waitFor([&] { return client().projects().size() == before; }));
    EXPECT_EQ(endpointIds(client().endpoints()), QStringList{QStringLiteral("r-local")});

    // Deleting the active one shows the project the engine picked instead, with its routes.
    client().deleteProject(first);
    ASSERT_TRUE(testsupport::waitFor([&] { return client().projects().size() == before - 1; }));
    EXPECT_NE(client().activeProjectID(), first);
    EXPECT_FALSE(client().activeProjectID().isEmpty());
    ASSERT_TRUE(testsupport::waitFor([&] { return client().endpoints().isEmpty(); }));
}

TEST_F(Projects, WithoutEngineTheSwitchStillClearsTheViews)
{
    client().handleEvent(RequestEvent);
    client().handleEvent(DriftEvent);
    std::optional<QString> created = QStringLiteral("unset");
    client().createProject(QStringLiteral("X"), [&](const std::optional<QString> &id) { created = id; });
    EXPECT_FALSE(created.has_value());

    QSignalSpy switching(&client(), &EngineClient::isSwitchingProjectChanged);
    client().activateProject(QStringLiteral("p-elsewhere"));
    EXPECT_EQ(switching.count(), 2); // on and off again
    EXPECT_FALSE(client().isSwitchingProject());
    EXPECT_TRUE(client().schemaDrifts().isEmpty());
    EXPECT_EQ(client().pendingTrafficCount(), 0);
    opstest::settle(100);
    EXPECT_TRUE(client().traffic().isEmpty());
}

TEST(ProjectPath, IdIsPercentEncodedAsOnePathComponent)
{
    EXPECT_EQ(EngineClient::projectPath(QStringLiteral("p-1A2B")), QStringLiteral("/projects/p-1A2B"));
    EXPECT_EQ(EngineClient::projectPath(QStringLiteral("a/b c?d#e%"), QStringLiteral("/activate")),
              QStringLiteral("/projects/a%2Fb%20c%3Fd%23e%25/activate"));
}

using ProjectRequests = FakeEngineTest;

TEST_F(ProjectRequests, EncodedIdsAndNameBodiesGoOutExactly)
{
    connectClient();
    m_client.renameProject(QStringLiteral("team/api"), QStringLiteral("Ünïcode \"name\""));
    m_client.duplicateProject(QStringLiteral("x?y"));
    m_client.activateProject(QStringLiteral("a b"));
    m_client.deleteProject(QStringLiteral("../p"));
    ASSERT_TRUE(testsupport::waitFor([&] { return count("DELETE", "/projects/..%2Fp") == 1; }));
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/projects/a%20b/activate") == 1; }));
    ASSERT_TRUE(testsupport::waitFor([&] { return count("PATCH", "/projects/team%2Fapi") == 1; }));

    const QList<RecordedRequest> renames = m_server.matching("PATCH", "/projects/team%2Fapi");
    ASSERT_EQ(renames.size(), 1);
    EXPECT_EQ(renames.first().body, QByteArray(R"({"name":"Ünïcode \"name\""})"));
    EXPECT_EQ(renames.first().headers.value("content-type"), "application/json");
    EXPECT_EQ(count("POST", "/projects/x%3Fy/duplicate"), 1);
    EXPECT_TRUE(m_server.matching("POST", "/projects/a%20b/activate").first().body.isEmpty());
    // Without a body no content type is sent.
    EXPECT_FALSE(m_server.matching("POST", "/projects/a%20b/activate").first().headers.contains("content-type"));
    EXPECT_FALSE(m_server.matching("POST", "/projects/x%3Fy/duplicate").first().headers.contains("content-type"));
}

TEST_F(ProjectRequests, FailedCreateReturnsNoneAndKeepsTheList)
{
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/projects" && request.method == "GET")
            return answer(200, R"({"activeId":"p-1","projects":[{"id":"p-1","name":"Main","routeCount":0,"updatedAt":"now"}]})");
        if (request.path() == "/projects" && request.method == "POST")
            return answer(500, R"({"id":"p-2","name":"New","routeCount":0,"updatedAt":"now"})");
        return std::nullopt;
    };
    connectClient();
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.projects().size() == 1; }));
    const int loads = count("GET", "/projects");

    std::optional<QString> created = QStringLiteral("unset");
    bool finished = false;
    m_client.createProject(QStringLiteral("New"), [&](const std::optional<QString> &id) {
        created = id;
        finished = true;
    });
    ASSERT_TRUE(testsupport::waitFor([&] { return finished; }));
    EXPECT_FALSE(created.has_value());
    EXPECT_EQ(m_client.projects().size(), 1);
    EXPECT_EQ(count("GET", "/projects"), loads); // no reload after a failure
}

TEST_F(ProjectRequests, SwitchWaitsForBothPushesToBeAnswered)
{
    // Slow answers: a switch that went on before them could let the pushes land on the new project.
    // They are slower than the cap on shutdown's wait for pushes; the switch waits past it.
    m_client.setPendingPushWaitMs(100);
    m_client.setPushDebounceMs(EngineClient::PushDebounceMs);
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.method == "POST" && (request.path() == "/routes" || request.path() == "/environments")) {
            CannedReply slow = answer(200, "{}");
            slow.delayMs = 250;
            return slow;
        }
        return std::nullopt;
    };
    connectClient();
    const qint64 start = m_server.elapsed();
    m_client.setEndpoints({route("r-1", "/one")});
    m_client.pushRoutes();
    m_client.addEnvironment(QStringLiteral("Staging"));
    m_client.activateProject(QStringLiteral("p-2"));
    EXPECT_TRUE(m_client.isSwitchingProject());
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/projects/p-2/activate") == 1; }, 8000));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client.isSwitchingProject(); }));

    const RecordedRequest push = m_server.matching("POST", "/routes").first();
    const RecordedRequest environments = m_server.matching("POST", "/environments").first();
    const RecordedRequest activation = m_server.matching("POST", "/projects/p-2/activate").first();
    // The pushes keep their debounce rather than being hurried out by the switch.
    EXPECT_GE(push.receivedMs - start, 100);
    EXPECT_GE(environments.receivedMs - start, 100);
    ASSERT_GE(push.answeredMs, 0);
    ASSERT_GE(environments.answeredMs, 0);
    EXPECT_GE(activation.receivedMs, push.answeredMs);
    EXPECT_GE(activation.receivedMs, environments.answeredMs);
    EXPECT_EQ(m_server.matching("POST", "/routes").size(), 1);
}

TEST_F(ProjectRequests, UnansweredProjectRequestGivesUpAtTheProjectTimeout)
{
    // Six seconds by default, shortened here; other requests keep their 60 s.
    EXPECT_EQ(ControlTimeouts{}.project, 6000);
    ControlTimeouts timeouts;
    timeouts.project = 100;
    m_client.setControlTimeouts(timeouts);
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.method == "POST" && request.path() == "/projects") {
            CannedReply held;
            held.hold = true;
            return held;
        }
        return std::nullopt;
    };
    connectClient();
    std::optional<QString> created = QStringLiteral("unset");
    bool finished = false;
    m_client.createProject(QStringLiteral("Slow"), [&](const std::optional<QString> &id) {
        created = id;
        finished = true;
    });
    // Well before the 60 s of other requests.
    ASSERT_TRUE(testsupport::waitFor([&] { return finished; }, 9000));
    EXPECT_FALSE(created.has_value());
}
