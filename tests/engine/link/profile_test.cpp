// Profiles: export writes the engine's bytes (and nothing on a refusal), import replaces the routes
// and cancels a stale push, against the real stand-in engine and a recording fake.
#include "ops_test_support.h"

#include <nlohmann/json.hpp>

using opstest::endpointIds;
using opstest::route;

namespace {

class Profiles : public EngineOpsTest
{
protected:
    bool exportTo(const QString &path)
    {
        return opstest::runToEnd([&](EngineClient::Done done) { client().performExport(path, done); });
    }

    bool importFrom(const QString &path)
    {
        const QByteArray bytes = opstest::readFile(path);
        return opstest::runToEnd([&](EngineClient::Done done) {
            client().handleProfileImport(bytes, QFileInfo(path).fileName(), done);
        });
    }

    // Pushes a route list and waits until the engine holds it.
    bool pushAndSettle(const QList<Endpoint> &routes)
    {
        client().setEndpoints(routes);
        client().pushRoutes();
        return testsupport::waitFor([&] { return !client().routePushPending(); });
    }

    QStringList engineRouteIds()
    {
        client().setEndpoints({});
        opstest::runToEnd([&](EngineClient::Done done) { client().loadRoutes(done); });
        return endpointIds(client().endpoints());
    }
};

} // namespace

TEST_F(Profiles, ExportWritesTheEnginesProfileUnderTheChosenName)
{
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(pushAndSettle({route("r-1", "/one"), route("r-2", "/two")}));
    const QString path = m_dir.filePath(QStringLiteral("my profile.kestrion"));
    ASSERT_TRUE(exportTo(path));
    EXPECT_EQ(client().log().last(), QStringLiteral("exported profile \u2192 my profile.kestrion"));
    const auto document = nlohmann::json::parse(opstest::readFile(path).toStdString(), nullptr, false);
    ASSERT_TRUE(document.is_object());
    EXPECT_EQ(document.value("name", ""), "my profile");
    EXPECT_EQ(document["routes"].size(), 2u);
}

TEST_F(Profiles, PercentInTheFileNameIsNotReadAsAnEscape)
{
    ASSERT_TRUE(bootLoaded());
    const QString path = m_dir.filePath(QStringLiteral("100%41 done.kestrion"));
    ASSERT_TRUE(exportTo(path));
    EXPECT_EQ(client().log().last(), QStringLiteral("exported profile \u2192 100%41 done.kestrion"));
    const auto document = nlohmann::json::parse(opstest::readFile(path).toStdString(), nullptr, false);
    ASSERT_TRUE(document.is_object());
    EXPECT_EQ(document.value("name", ""), "100%41 done");
}

TEST_F(Profiles, ImportReplacesTheRoutesAndLogs)
{
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(pushAndSettle({route("r-1", "/one"), route("r-2", "/two")}));
    const QString path = m_dir.filePath(QStringLiteral("saved.kestrion"));
    ASSERT_TRUE(exportTo(path));
    ASSERT_TRUE(pushAndSettle({route("r-3", "/three")}));

    client().importProfile(path);
    ASSERT_TRUE(waitForLog(QStringLiteral("imported profile saved.kestrion")));
    EXPECT_EQ(endpointIds(client().endpoints()), (QStringList{QStringLiteral("r-1"), QStringLiteral("r-2")}));
    EXPECT_EQ(engineRouteIds(), (QStringList{QStringLiteral("r-1"), QStringLiteral("r-2")}));
}

TEST_F(Profiles, ImportCancelsAPendingRoutePush)
{
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(pushAndSettle({route("r-1", "/one")}));
    const QString path = m_dir.filePath(QStringLiteral("one.kestrion"));
    ASSERT_TRUE(exportTo(path));

    client().setEndpoints({route("r-stale", "/stale")});
    client().pushRoutes();
    ASSERT_TRUE(importFrom(path)); // inside the debounce
    opstest::settle(100); // long past the 10 ms a surviving push would wait
    EXPECT_EQ(engineRouteIds(), QStringList{QStringLiteral("r-1")});
}

TEST_F(Profiles, EmptyProfileEmptiesTheRoutes)
{
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(pushAndSettle({}));
    const QString path = m_dir.filePath(QStringLiteral("empty.kestrion"));
    ASSERT_TRUE(exportTo(path));
    ASSERT_TRUE(pushAndSettle({route("r-1", "/one")}));
    ASSERT_TRUE(importFrom(path));
    EXPECT_TRUE(client().endpoints().isEmpty());
}

TEST_F(Profiles, RefusedImportLeavesTheRoutes)
{
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(pushAndSettle({route("r-1", "/one")}));
    const QString path = m_dir.filePath(QStringLiteral("notes.kestrion"));
    ASSERT_TRUE(opstest::writeFile(path, R"({"hello":"world"})"));
    ASSERT_TRUE(importFrom(path));
    EXPECT_EQ(client().log().last(), QStringLiteral("import notes.kestrion failed (invalid .kestrion?)"));
    EXPECT_EQ(endpointIds(client().endpoints()), QStringList{QStringLiteral("r-1")});
}

TEST_F(Profiles, WithoutEngineImportCouldNotReadAndExportDoesNothing)
{
    const QString path = m_dir.filePath(QStringLiteral("p.kestrion"));
    ASSERT_TRUE(opstest::writeFile(path, "{}"));
    client().importProfile(path);
    ASSERT_TRUE(waitForLog(QStringLiteral("import: could not read p.kestrion")));

    client().importProfile(m_dir.filePath(QStringLiteral("missing.kestrion")));
    ASSERT_TRUE(waitForLog(QStringLiteral("import: could not read missing.kestrion")));

    const int lines = int(client().log().size());
    ASSERT_TRUE(exportTo(path));
    EXPECT_EQ(client().log().size(), lines);
    EXPECT_EQ(opstest::readFile(path), QByteArray("{}"));
}

TEST(ProfileExportName, DropsOnlyTheLastExtension)
{
    EXPECT_EQ(EngineClient::profileExportName(QStringLiteral("my profile.kestrion")), QStringLiteral("my profile"));
    EXPECT_EQ(EngineClient::profileExportName(QStringLiteral("team.v2.kestrion")), QStringLiteral("team.v2"));
    EXPECT_EQ(EngineClient::profileExportName(QStringLiteral("noext")), QStringLiteral("noext"));
    EXPECT_EQ(EngineClient::profileExportName(QStringLiteral(".kestrion")), QStringLiteral(".kestrion"));
}

using ProfileAnswers = FakeEngineTest;

TEST_F(ProfileAnswers, RefusedExportLeavesTheUsersFileUntouched)
{
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/profile")
            return answer(500, "engine exploded", "text/plain");
        return std::nullopt;
    };
    connectClient();
    const QString path = m_dir.filePath(QStringLiteral("keep me.kestrion"));
    ASSERT_TRUE(opstest::writeFile(path, "the user's earlier profile"));
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) { m_client.performExport(path, done); }));
    EXPECT_EQ(opstest::readFile(path), QByteArray("the user's earlier profile"));
    EXPECT_EQ(m_client.log().last(), QStringLiteral("export profile failed: HTTP 500"));
    EXPECT_EQ(m_server.matching("GET", "/profile").first().target, QByteArray("/profile?name=keep%20me"));
}

TEST_F(ProfileAnswers, UnwritableTargetIsLogged)
{
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/profile")
            return answer(200, R"({"kestrionProfile":1,"routes":[]})");
        return std::nullopt;
    };
    connectClient();
    const QString path = m_dir.filePath(QStringLiteral("no-such-folder/out.kestrion"));
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) { m_client.performExport(path, done); }));
    EXPECT_EQ(m_client.log().last(), QStringLiteral("could not write out.kestrion"));
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(ProfileAnswers, UndecodableSuccessKeepsRoutesButReloadsChaos)
{
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.method == "POST" && request.path() == "/profile")
            return answer(200, "not routes");
        return std::nullopt;
    };
    connectClient();
    m_client.setEndpoints({route("r-1", "/one")});
    const int chaosLoads = count("GET", "/chaos");
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) {
        m_client.handleProfileImport(QByteArray("{}"), QStringLiteral("odd.kestrion"), done);
    }));
    EXPECT_EQ(endpointIds(m_client.endpoints()), QStringList{QStringLiteral("r-1")});
    EXPECT_EQ(count("GET", "/chaos"), chaosLoads + 1);
    EXPECT_EQ(m_client.log().last(), QStringLiteral("imported profile odd.kestrion"));
    EXPECT_EQ(m_server.matching("POST", "/profile").first().headers.value("content-type"), "application/json");
}
