// Against the real stand-in engine: an import, a slow project change, a hung engine or a large body never
// costs an edit. The window and the engine end holding the same lists, with every edit the user made.
#include "ops_test_support.h"

#include <QElapsedTimer>
#include <QSignalSpy>

using opstest::endpointIds;
using opstest::route;
using opstest::TinyYaml;

namespace {

// A HAR of `entries` exchanges over `distinct` paths, each answered with a body of about 1 KB.
QByteArray largeHar(int entries, int distinct, const QString &prefix)
{
    QByteArray har = R"({"log":{"version":"1.2","entries":[)";
    const QByteArray body = "{\\\"pad\\\":\\\"" + QByteArray(1000, 'x') + "\\\"}";
    for (int i = 0; i < entries; ++i) {
        if (i > 0)
            har += ',';
        har += R"({"request":{"method":"GET","url":"http://api.test/)" + prefix.toUtf8() + QByteArray::number(i % distinct)
               + R"("},"response":{"status":200,"content":{"mimeType":"application/json","text":")" + body + R"("}}})";
    }
    return har + "]}}";
}

class EditsKept : public EngineOpsTest
{
protected:
    void SetUp() override
    {
        EngineOpsTest::SetUp();
        qunsetenv("KESTRION_TEST_OPENAPI_HOLD_MS");
    }
    void TearDown() override
    {
        qunsetenv("KESTRION_TEST_OPENAPI_HOLD_MS");
        EngineOpsTest::TearDown();
    }

    // One control request's answer, read past the link's own lists.
    QByteArray engineGet(const QString &path)
    {
        std::optional<QByteArray> body;
        client().sendControl("GET", path, {}, std::nullopt, 20000, nullptr,
                             [&body](const ControlReply &reply) { body = reply.body; });
        EXPECT_TRUE(testsupport::waitFor([&] { return body.has_value(); }, 25000));
        return body.value_or(QByteArray());
    }
    QList<Endpoint> engineRoutes()
    {
        const auto routes = decodeRecord<std::vector<WireRoute>>(EngineChannel::asView(engineGet("routes")));
        return routes ? RouteList::fromWire(*routes) : QList<Endpoint>();
    }
    ProjectList engineProjects()
    {
        return decodeRecord<ProjectList>(EngineChannel::asView(engineGet("/projects"))).value_or(ProjectList{});
    }
    // The body of the route with this id, or "<none>".
    static QString bodyOf(const QList<Endpoint> &routes, const std::string &id)
    {
        for (const Endpoint &endpoint : routes)
            if (endpoint.id == id)
                return QString::fromStdString(endpoint.body);
        return QStringLiteral("<none>");
    }

    bool settled(int timeoutMs = 30000)
    {
        return testsupport::waitFor(
            [&] {
                return !client().routePushPending() && !client().environmentPushPending()
                       && !client().isSwitchingProject() && client().listWritesOpen() && client().routesLoaded();
            },
            timeoutMs);
    }

    void editBody(const std::string &id, const std::string &body)
    {
        for (Endpoint endpoint : client().endpoints()) {
            if (endpoint.id == id) {
                endpoint.body = body;
                client().updateEndpoint(endpoint);
            }
        }
    }

    bool activate(const QString &id)
    {
        client().activateProject(id);
        return testsupport::waitFor([&] { return !client().isSwitchingProject() && client().activeProjectID() == id; });
    }

    // A second project "Beta" holding r-b1, the first ("Default") r-a1; Default is active. Returns Beta's id.
    QString twoProjects()
    {
        client().replaceEndpoints({route("r-a1", "/a1", "a")});
        EXPECT_TRUE(settled());
        QString beta;
        EXPECT_TRUE(opstest::runToEnd([&](EngineClient::Done done) {
            client().createProject(QStringLiteral("Beta"), [&, done](const std::optional<QString> &id) {
                beta = id.value_or(QString());
                done();
            });
        }));
        const QString first = client().activeProjectID();
        EXPECT_TRUE(activate(beta));
        client().replaceEndpoints({route("r-b1", "/b1", "b")});
        EXPECT_TRUE(settled());
        EXPECT_TRUE(activate(first));
        return beta;
    }

    // Boots a fresh link on the same data, the hold switches as set now.
    bool rebootLink()
    {
        stopEngine();
        m_client = makeClient();
        // An engine under the sanitizers, on a loaded machine, takes its time to read a large state back.
        constexpr int kBootMs = 30000;
        return bootHealthy(false, kBootMs)
               && testsupport::waitFor([&] { return client().aiStatus() != AIStatus::initial(); }, kBootMs)
               && testsupport::waitFor([&] { return !client().activeProjectID().isEmpty(); }, kBootMs);
    }

    void shortenTimeouts(int pushMs, int projectMs, int openAPIMs)
    {
        ControlTimeouts timeouts = client().controlTimeouts();
        timeouts.push = pushMs;
        timeouts.project = projectMs;
        timeouts.openAPI = openAPIMs;
        client().setControlTimeouts(timeouts);
    }
};

} // namespace

TEST_F(EditsKept, EditsMadeWhileACaptureImportsAtTheAppsOwnDebounceJoinItsRoutes)
{
    ASSERT_TRUE(bootLoaded());
    client().setPushDebounceMs(EngineClient::PushDebounceMs);
    // A large capture, whose answer comes after the edit's debounce, and smaller ones, whose answer
    // comes before it.
    const int sizes[] = {3000, 300, 30};
    for (int round = 0; round < 3; ++round) {
        client().replaceEndpoints({route("r-1", "/one", "before")});
        ASSERT_TRUE(settled());
        const int distinct = sizes[round] * 2 / 3;
        const QByteArray har = largeHar(sizes[round], distinct, QStringLiteral("r%1-").arg(round));
        ASSERT_LT(har.size(), EngineClient::MaxImportBytes);
        bool imported = false;
        client().importData(har, QStringLiteral("capture.har"), [&] { imported = true; });
        const std::string added = "r-added-" + std::to_string(round);
        client().replaceEndpoints(client().endpoints() + QList<Endpoint>{route(added, "/added")});
        editBody("r-1", "edited in round " + std::to_string(round));
        ASSERT_TRUE(testsupport::waitFor([&] { return imported; }, 30000));
        ASSERT_TRUE(settled());

        const QList<Endpoint> shown = client().endpoints();
        EXPECT_EQ(shown.size(), 2 + distinct) << "round " << round;
        EXPECT_EQ(bodyOf(shown, "r-1").toStdString(), "edited in round " + std::to_string(round));
        EXPECT_NE(bodyOf(shown, added), QStringLiteral("<none>")) << "round " << round;
        EXPECT_EQ(engineRoutes(), shown) << "round " << round;
    }
}

TEST_F(EditsKept, EditsMadeWhileAProfileImportsAreLaidOverItsRoutes)
{
    holdFirst("POST /profile");
    ASSERT_TRUE(bootLoaded());
    client().replaceEndpoints({route("r-1", "/one", "kept")});
    ASSERT_TRUE(settled());
    const QString profile = m_dir.filePath(QStringLiteral("saved.kestrion"));
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) { client().performExport(profile, done); }));

    bool imported = false;
    client().handleProfileImport(opstest::readFile(profile), QStringLiteral("saved.kestrion"), [&] { imported = true; });
    ASSERT_TRUE(waitUntilHeld());
    editBody("r-1", "edited during the import");
    client().replaceEndpoints(client().endpoints() + QList<Endpoint>{route("r-2", "/two")});
    release();
    ASSERT_TRUE(testsupport::waitFor([&] { return imported; }));
    ASSERT_TRUE(settled());

    EXPECT_EQ(endpointIds(client().endpoints()), (QStringList{"r-1", "r-2"}));
    EXPECT_EQ(bodyOf(client().endpoints(), "r-1"), QStringLiteral("edited during the import"));
    EXPECT_EQ(engineRoutes(), client().endpoints());
}

TEST_F(EditsKept, ASwitchAskedForDuringACaptureImportWaitsForItAndTheEditsStayInTheirProject)
{
    holdFirst("POST /import");
    ASSERT_TRUE(bootLoaded());
    const QString beta = twoProjects();
    const QString first = client().activeProjectID();

    client().importData(largeHar(3, 3, QStringLiteral("imp-")), QStringLiteral("capture.har"));
    ASSERT_TRUE(waitUntilHeld());
    editBody("r-a1", "edited during the import");
    client().activateProject(beta);
    release();
    ASSERT_TRUE(testsupport::waitFor([&] { return client().activeProjectID() == beta; }));
    ASSERT_TRUE(settled());

    // Beta's routes are shown and kept as they were: nothing of the first project's reached them.
    EXPECT_EQ(endpointIds(client().endpoints()), QStringList{"r-b1"});
    EXPECT_EQ(engineRoutes(), client().endpoints());
    ASSERT_TRUE(activate(first));
    ASSERT_TRUE(settled());
    EXPECT_EQ(client().endpoints().size(), 4);
    EXPECT_EQ(bodyOf(client().endpoints(), "r-a1"), QStringLiteral("edited during the import"));
    EXPECT_EQ(engineRoutes(), client().endpoints());
}

TEST_F(EditsKept, ARouteWriteTheEngineNeverAnswersHasTheEngineReplacedAndTheSwitchStillGoes)
{
    ASSERT_TRUE(bootLoaded());
    const QString beta = twoProjects();
    const QString first = client().activeProjectID();
    holdFirst("POST /routes");
    ASSERT_TRUE(rebootLink());
    qunsetenv("KESTRION_TEST_HOLD_WRITE");
    shortenTimeouts(1500, 6000, 20000);
    const qint64 hung = client().engineProcessId();

    // The engine reads the whole write and never answers it: the only copy of the edit is that write.
    editBody("r-a1", "held at the engine");
    ASSERT_TRUE(waitUntilHeld());
    client().addEnvironment(QStringLiteral("Made meanwhile"));
    // The switch waits for the write on the wire only up to its limit.
    client().activateProject(beta);
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().isSwitchingProject() && client().activeProjectID() == beta; },
                                     30000));
    ASSERT_TRUE(settled());
    EXPECT_FALSE(processAlive(hung));
    EXPECT_EQ(endpointIds(client().endpoints()), QStringList{"r-b1"});
    EXPECT_TRUE(logContains(
        QStringLiteral("The engine did not answer the routes push in time and is being restarted; your edits are kept")));

    ASSERT_TRUE(activate(first));
    ASSERT_TRUE(settled());
    EXPECT_EQ(bodyOf(engineRoutes(), "r-a1"), QStringLiteral("held at the engine"));
    EXPECT_EQ(client().environments().size(), 1);
}

TEST_F(EditsKept, AnActivationGivenUpOnNeverLandsAndTheNextEditStaysInItsProject)
{
    ASSERT_TRUE(bootLoaded());
    const QString beta = twoProjects();
    const QString first = client().activeProjectID();
    holdFirst("POST " + ProjectStore::path(beta, QStringLiteral("/activate")).toUtf8());
    ASSERT_TRUE(rebootLink());
    qunsetenv("KESTRION_TEST_HOLD_WRITE");
    shortenTimeouts(60000, 1000, 20000);
    const qint64 hung = client().engineProcessId();
    QSignalSpy notices(&client(), &EngineClient::notice);

    client().activateProject(beta);
    ASSERT_TRUE(waitUntilHeld());
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().isSwitchingProject(); }, 20000));
    ASSERT_GE(notices.count(), 1);
    EXPECT_EQ(notices.first().first().toString(),
              QStringLiteral("The engine did not answer the project switch in time and is being restarted; your edits are kept"));
    // The engine that held the activation is gone, so letting it go changes nothing.
    release();
    EXPECT_FALSE(processAlive(hung));
    ASSERT_TRUE(settled());
    EXPECT_EQ(client().activeProjectID(), QString::fromStdString(engineProjects().activeId));
    EXPECT_EQ(client().activeProjectID(), first);

    editBody("r-a1", "after the switch failed");
    ASSERT_TRUE(settled());
    EXPECT_EQ(QString::fromStdString(engineProjects().activeId), first);
    EXPECT_EQ(bodyOf(engineRoutes(), "r-a1"), QStringLiteral("after the switch failed"));
    ASSERT_TRUE(activate(beta));
    EXPECT_EQ(endpointIds(engineRoutes()), QStringList{"r-b1"});
}

TEST_F(EditsKept, AnOpenAPIImportPastItsLimitLeavesEveryProjectItsOwnRoutes)
{
    ASSERT_TRUE(bootLoaded());
    const QString beta = twoProjects();
    const QString first = client().activeProjectID();
    // The engine takes far longer over the document than the link waits.
    qputenv("KESTRION_TEST_OPENAPI_HOLD_MS", "4000");
    ASSERT_TRUE(rebootLink());
    qunsetenv("KESTRION_TEST_OPENAPI_HOLD_MS");
    shortenTimeouts(60000, 6000, 500);
    const qint64 hung = client().engineProcessId();

    bool finished = false;
    client().performOpenAPIImport(TinyYaml, QStringLiteral("tiny.yaml"), [&] { finished = true; });
    editBody("r-a1", "made during the upload");
    ASSERT_TRUE(testsupport::waitFor([&] { return finished; }, 20000));
    EXPECT_EQ(*client().importSummary(), QStringLiteral("Import failed \u2014 engine unreachable"));
    EXPECT_FALSE(processAlive(hung));
    ASSERT_TRUE(settled());
    EXPECT_EQ(client().activeProjectID(), QString::fromStdString(engineProjects().activeId));
    EXPECT_EQ(bodyOf(engineRoutes(), "r-a1"), QStringLiteral("made during the upload"));

    editBody("r-a1", "after the import failed");
    ASSERT_TRUE(settled());
    EXPECT_EQ(bodyOf(engineRoutes(), "r-a1"), QStringLiteral("after the import failed"));
    EXPECT_EQ(engineProjects().projects.size(), 2u);
    ASSERT_TRUE(activate(beta));
    EXPECT_EQ(endpointIds(engineRoutes()), QStringList{"r-b1"});
    ASSERT_TRUE(activate(first));
}

TEST_F(EditsKept, DeletingTheActiveProjectPastItsLimitShowsWhatTheEngineHasActive)
{
    ASSERT_TRUE(bootLoaded());
    const QString beta = twoProjects();
    ASSERT_TRUE(activate(beta));
    holdFirst("DELETE " + ProjectStore::path(beta).toUtf8());
    ASSERT_TRUE(rebootLink());
    qunsetenv("KESTRION_TEST_HOLD_WRITE");
    shortenTimeouts(60000, 1000, 20000);

    client().deleteProject(beta);
    ASSERT_TRUE(waitUntilHeld());
    ASSERT_TRUE(settled(20000));
    release();
    // Still there: the engine that was asked is gone; the one shown is the one the engine has active.
    EXPECT_EQ(client().activeProjectID(), QString::fromStdString(engineProjects().activeId));
    EXPECT_EQ(client().activeProjectID(), beta);
    editBody("r-b1", "kept");
    ASSERT_TRUE(settled());
    EXPECT_EQ(bodyOf(engineRoutes(), "r-b1"), QStringLiteral("kept"));
    EXPECT_EQ(engineProjects().projects.size(), 2u);
}

TEST_F(EditsKept, ARouteListPastFourMebibytesIsSavedAndARefusedOneIsShownWithItsReason)
{
    ASSERT_TRUE(bootLoaded());
    QSignalSpy notices(&client(), &EngineClient::notice);
    // A 3.6 MB one-line JSON body; with its quotes escaped the list is about 4.3 MB.
    std::string body = "[";
    while (body.size() < 3600 * 1000)
        body += R"({"k":"v"},)";
    body.back() = ']';
    client().replaceEndpoints({route("r-big", "/big", body), route("r-small", "/small")});
    ASSERT_TRUE(settled());
    EXPECT_EQ(notices.count(), 0);
    ASSERT_TRUE(rebootLink());
    EXPECT_EQ(bodyOf(client().endpoints(), "r-big").size(), qsizetype(body.size()));
    // Its profile, past the 4 MB of other control bodies, is imported back whole.
    const QString profile = m_dir.filePath(QStringLiteral("big.kestrion"));
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) { client().performExport(profile, done); }));
    ASSERT_GT(QFileInfo(profile).size(), 4 * 1024 * 1024);
    client().replaceEndpoints({route("r-other", "/other")});
    ASSERT_TRUE(settled());
    client().importProfile(profile);
    ASSERT_TRUE(testsupport::waitFor([&] { return client().endpoints().size() == 2; }, 20000));
    ASSERT_TRUE(settled());
    EXPECT_EQ(bodyOf(engineRoutes(), "r-big").size(), qsizetype(body.size()));
    EXPECT_EQ(engineRoutes(), client().endpoints());

    // The engine keeps at most 5,000 routes: the one past them is refused, and the user hears why.
    QList<Endpoint> many;
    for (int i = 0; i <= 5000; ++i)
        many.append(route("r-" + std::to_string(i), "/" + std::to_string(i)));
    QSignalSpy refused(&client(), &EngineClient::notice);
    client().replaceEndpoints(many);
    ASSERT_TRUE(testsupport::waitFor([&] { return refused.count() == 1; }, 20000));
    const QString expected = QStringLiteral("The engine refused to save the routes: too many routes (at most 5000)");
    EXPECT_EQ(refused.first().first().toString(), expected);
    EXPECT_TRUE(logContains(expected));
}

TEST_F(EditsKept, EditsHeldDuringAnOpenAPIUploadSurviveAQuitBeforeItsAnswer)
{
    // The answer comes after the quit has begun, and well within the two seconds it keeps for edits
    // held behind an answer, even on a slow, loaded machine.
    qputenv("KESTRION_TEST_OPENAPI_HOLD_MS", "500");
    ASSERT_TRUE(bootLoaded());
    qunsetenv("KESTRION_TEST_OPENAPI_HOLD_MS");
    client().replaceEndpoints({route("r-1", "/one", "before")});
    ASSERT_TRUE(settled());
    const QString first = client().activeProjectID();

    client().performOpenAPIImport(TinyYaml, QStringLiteral("tiny.yaml"));
    editBody("r-1", "made during the upload");
    stopEngine();

    m_client = makeClient();
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().activeProjectID().isEmpty(); }));
    if (client().activeProjectID() != first) {
        ASSERT_TRUE(activate(first));
    }
    EXPECT_EQ(bodyOf(engineRoutes(), "r-1"), QStringLiteral("made during the upload"));
}

TEST_F(EditsKept, AQuitDuringASlowOpenAPIImportEndsWithinItsTimeAndStartsNoEngine)
{
    // The engine takes longer over the document than the link would wait for it (at the app's own limits).
    qputenv("KESTRION_TEST_OPENAPI_HOLD_MS", "30000");
    ASSERT_TRUE(bootLoaded());
    qunsetenv("KESTRION_TEST_OPENAPI_HOLD_MS");
    client().replaceEndpoints({route("r-1", "/one", "kept"), route("r-2", "/two", "before")});
    ASSERT_TRUE(settled());
    const qint64 engine = client().engineProcessId();
    QSignalSpy notices(&client(), &EngineClient::notice);

    client().performOpenAPIImport(TinyYaml, QStringLiteral("tiny.yaml"));
    editBody("r-2", "made during the upload");
    // The quit, up to the link's end, which sees its engine out.
    QElapsedTimer quitting;
    quitting.start();
    client().shutdown();
    const QStringList log = client().log();
    const qint64 left = client().engineProcessId();
    m_client.reset();
    const qint64 quitMs = quitting.elapsed();
    RecordProperty("quitMs", int(quitMs));

    // The 3 s bound itself is the link's timers; here the quit must not have waited for the held import.
    EXPECT_LT(quitMs, 15000);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(log.count(QStringLiteral("launching kestrion-engine\u2026")), 1);
    EXPECT_TRUE(log.contains(QStringLiteral("quit before the engine took the edits to routes r-2")));
    EXPECT_FALSE(processAlive(engine));
    for (const QList<QVariant> &notice : notices)
        EXPECT_FALSE(notice.first().toString().contains(QStringLiteral("restarted"))) << notice.first().toString().toStdString();
}

namespace {

// What an operation of a pair is done to: the second project, the first one, and a folder for files.
struct PairIds
{
    QString beta;
    QString first;
    QString folder;
};
using PairOp = std::function<void(EngineClient &, const PairIds &)>;

// Operations asked for back to back, the first held at the engine (the write `held` names) until the
// others have been asked.
struct OperationPair
{
    const char *name;
    std::function<QByteArray(const PairIds &)> held;
    QList<PairOp> ops;
    // Which project is active at the end, and the route ids each project holds then (none when it is gone).
    bool endsOnBeta;
    QStringList firstRoutes;
    QStringList betaRoutes;
};

void PrintTo(const OperationPair &pair, std::ostream *out)
{
    *out << pair.name;
}

const auto heldSwitch = [](const PairIds &ids) {
    return "POST " + ProjectStore::path(ids.beta, QStringLiteral("/activate")).toUtf8();
};
const auto heldImport = [](const PairIds &) { return QByteArray("POST /import"); };
const PairOp switchToBeta = [](EngineClient &c, const PairIds &ids) { c.activateProject(ids.beta); };
const PairOp switchBack = [](EngineClient &c, const PairIds &ids) { c.activateProject(ids.first); };
// Imports a capture of one request to this path.
PairOp importing(const char *path, const char *file)
{
    const QByteArray har = R"({"log":{"entries":[{"request":{"method":"GET","url":"http://api.test/)" + QByteArray(path)
                           + R"("},"response":{"status":200,"content":{"text":"[]"}}}]}})";
    return [har, file](EngineClient &c, const PairIds &) { c.importData(har, QString::fromLatin1(file)); };
}
const PairOp importOne = importing("imp-1", "one.har");
const PairOp importOther = importing("imp-2", "two.har");

const OperationPair Pairs[] = {
    {"SwitchThenSwitch", heldSwitch, {switchToBeta, switchBack}, false, {"a1"}, {"b1"}},
    {"ImportThenSwitch", heldImport, {importOne, switchToBeta}, true, {"a1", "imp-1"}, {"b1"}},
    {"SwitchThenImport", heldSwitch, {switchToBeta, importOne}, true, {"a1"}, {"b1", "imp-1"}},
    {"DeleteThenSwitchToIt", [](const PairIds &ids) { return "DELETE " + ProjectStore::path(ids.beta).toUtf8(); },
     {[](EngineClient &c, const PairIds &ids) { c.deleteProject(ids.beta); }, switchToBeta}, false, {"a1"}, {}},
    {"ExportThenSwitch", [](const PairIds &) { return QByteArray("GET /profile"); },
     {[](EngineClient &c, const PairIds &ids) { c.performExport(ids.folder + QStringLiteral("/first.kestrion")); },
      switchToBeta},
     true, {"a1"}, {"b1"}},
    {"ImportThenImport", heldImport, {importOne, importOther}, false, {"a1", "imp-1", "imp-2"}, {"b1"}},
    {"ImportThenImportThenSwitch", heldImport, {importOne, importOther, switchToBeta}, true, {"a1", "imp-1", "imp-2"},
     {"b1"}},
};

class PairInTurn : public EditsKept, public ::testing::WithParamInterface<OperationPair>
{
};

// The imported routes get ids of the engine's: every route is named by its path, joined for the failure text.
std::string routeNames(const QList<Endpoint> &routes)
{
    QStringList names;
    for (const Endpoint &endpoint : routes)
        names.append(QString::fromStdString(endpoint.path).mid(1));
    return names.join(QLatin1Char(' ')).toStdString();
}

std::string pairName(const ::testing::TestParamInfo<OperationPair> &info)
{
    return info.param.name;
}

} // namespace

TEST_P(PairInTurn, EngineAndWindowAgreeAndNoEditIsLost)
{
    const OperationPair &pair = GetParam();
    ASSERT_TRUE(bootLoaded());
    const QString beta = twoProjects();
    const QString first = client().activeProjectID();
    const PairIds ids{beta, first, m_dir.path()};
    holdFirst(pair.held(ids));
    ASSERT_TRUE(rebootLink());
    qunsetenv("KESTRION_TEST_HOLD_WRITE");

    // An edit just before the first operation, and one while it is held: the second lands unless the
    // window no longer takes edits to the first project's list.
    editBody("r-a1", "before");
    pair.ops.first()(client(), ids);
    ASSERT_TRUE(waitUntilHeld());
    editBody("r-a1", "while held");
    const QString lastEdit = bodyOf(client().endpoints(), "r-a1");
    for (const PairOp &op : pair.ops.mid(1))
        op(client(), ids);
    EXPECT_TRUE(client().operationsUnderWay());
    release();
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().operationsUnderWay(); }, 20000));
    ASSERT_TRUE(settled());

    const QString expectedActive = pair.endsOnBeta ? beta : first;
    EXPECT_EQ(client().activeProjectID(), expectedActive);
    EXPECT_EQ(QString::fromStdString(engineProjects().activeId), expectedActive);
    EXPECT_EQ(engineRoutes(), client().endpoints());
    EXPECT_EQ(routeNames(client().endpoints()), (pair.endsOnBeta ? pair.betaRoutes : pair.firstRoutes).join(' ').toStdString());
    EXPECT_EQ(int(engineProjects().projects.size()), pair.betaRoutes.isEmpty() ? 1 : 2);
    EXPECT_FALSE(client().routePushPending());

    // Each project, as the engine holds it, with the edits made to the first one.
    if (!pair.betaRoutes.isEmpty()) {
        ASSERT_TRUE(activate(beta));
        EXPECT_EQ(routeNames(engineRoutes()), pair.betaRoutes.join(' ').toStdString());
    }
    ASSERT_TRUE(activate(first));
    EXPECT_EQ(routeNames(engineRoutes()), pair.firstRoutes.join(' ').toStdString());
    EXPECT_EQ(bodyOf(engineRoutes(), "r-a1"), lastEdit);
    const QByteArray exported = opstest::readFile(m_dir.filePath(QStringLiteral("first.kestrion")));
    if (!exported.isEmpty()) {
        EXPECT_TRUE(exported.contains("r-a1"));
        EXPECT_FALSE(exported.contains("r-b1"));
    }
}

INSTANTIATE_TEST_SUITE_P(EachPair, PairInTurn, ::testing::ValuesIn(Pairs), pairName);
