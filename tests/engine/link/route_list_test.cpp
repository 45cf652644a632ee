// RouteList and the push gate on their own: the intents, and what the gate lets through.
#include "engine/engine_channel.h"
#include "engine/environment_store.h"
#include "engine/project_store.h"
#include "engine/push_gate.h"
#include "engine/route_list.h"
#include "ops_test_support.h"

#include <QSignalSpy>

using opstest::endpointIds;
using opstest::route;

TEST(PushGate, PushesLandOnlyInTheirOwnProjectAndAreHeldWhileTheEngineMayBeChanging)
{
    using Verdict = PushGate::Verdict;
    constexpr auto routes = PushGate::Kind::routes;
    constexpr auto environments = PushGate::Kind::environments;
    EngineChannel channel;
    ProjectStore projects(&channel);
    PushGate gate(&channel, &projects);
    EXPECT_EQ(gate.verdict(routes, QString()), Verdict::send); // before the active project is known
    projects.setActiveProjectID(QStringLiteral("p-1"));
    EXPECT_EQ(gate.verdict(routes, QStringLiteral("p-1")), Verdict::send);
    EXPECT_EQ(gate.verdict(routes, QString()), Verdict::send);
    EXPECT_EQ(gate.verdict(routes, QStringLiteral("p-2")), Verdict::drop);
    gate.beginChange();
    EXPECT_EQ(gate.verdict(routes, QStringLiteral("p-1")), Verdict::hold);
    EXPECT_EQ(gate.verdict(routes, QStringLiteral("p-2")), Verdict::drop);
    gate.endChange();
    // An import rewrites the routes only.
    gate.beginImport();
    EXPECT_EQ(gate.verdict(routes, QStringLiteral("p-1")), Verdict::hold);
    EXPECT_EQ(gate.verdict(environments, QStringLiteral("p-1")), Verdict::send);
    gate.endImport();
    gate.beginRecovery();
    EXPECT_EQ(gate.verdict(environments, QStringLiteral("p-1")), Verdict::hold);
    gate.endRecovery();
    gate.beginResync();
    EXPECT_EQ(gate.verdict(environments, QStringLiteral("p-1")), Verdict::hold);
    gate.endResync();
    EXPECT_EQ(gate.verdict(routes, QStringLiteral("p-1")), Verdict::send);

    EXPECT_TRUE(gate.editsOpen());
    gate.closeEdits();
    EXPECT_FALSE(gate.editsOpen());
    gate.reopenEdits();
    projects.setIsSwitchingProject(true);
    EXPECT_FALSE(gate.editsOpen());
}

TEST(RouteList, EditsMadeDuringAnImportAreLaidOverItsAnswer)
{
    const QList<Endpoint> before = {route("r-1", "/one"), route("r-2", "/two"), route("r-3", "/three")};
    QList<Endpoint> edited = before;
    edited[0].body = "changed";
    edited.removeAt(1);
    edited.append(route("r-new", "/new"));
    // The engine appended its capture to the list it held.
    QList<Endpoint> imported = before;
    imported.append(route("r-cap", "/captured"));

    EXPECT_EQ(endpointIds(RouteList::withEditsSince(before, edited, imported)),
              (QStringList{"r-1", "r-3", "r-cap", "r-new"}));
    EXPECT_EQ(RouteList::withEditsSince(before, edited, imported).first().body, "changed");
    EXPECT_EQ(RouteList::withEditsSince(before, before, imported), imported);
}

TEST(RouteList, IntentsEditTheListAndPushWhileTheGateIsOpen)
{
    EngineChannel channel;
    ProjectStore projects(&channel);
    PushGate gate(&channel, &projects);
    RouteList routes(&channel, &gate);
    QSignalSpy changed(&routes, &RouteList::endpointsChanged);

    routes.replaceEndpoints({route("r-1", "/a"), route("r-2", "/b"), route("r-1", "/c")});
    EXPECT_TRUE(routes.pushPending());
    routes.toggleEndpoint(QStringLiteral("r-2"));
    EXPECT_FALSE(routes.endpoints()[1].active);
    EXPECT_EQ(routes.editedEndpoint(), 1);
    routes.deleteEndpoint(QStringLiteral("r-1")); // every route with the id
    EXPECT_EQ(endpointIds(routes.endpoints()), QStringList{QStringLiteral("r-2")});
    EXPECT_EQ(routes.editedEndpoint(), -1);
    const std::optional<QString> copy = routes.duplicateEndpoint(QStringLiteral("r-2"));
    ASSERT_TRUE(copy.has_value());
    EXPECT_EQ(endpointIds(routes.endpoints()), (QStringList{QStringLiteral("r-2"), *copy}));
    EXPECT_EQ(changed.count(), 4);
    routes.cancelPush();

    // A switch closes the gate: nothing changes, nothing is pushed, no observer is told.
    projects.setIsSwitchingProject(true);
    const QList<Endpoint> before = routes.endpoints();
    routes.replaceEndpoints({});
    routes.toggleEndpoint(QStringLiteral("r-2"));
    routes.deleteEndpoint(QStringLiteral("r-2"));
    EXPECT_FALSE(routes.duplicateEndpoint(QStringLiteral("r-2")).has_value());
    routes.setGroup(QStringLiteral("r-2"), QStringLiteral("G"));
    routes.setEndpoints({});
    routes.push();
    EXPECT_EQ(routes.endpoints(), before);
    EXPECT_FALSE(routes.pushPending());
    EXPECT_EQ(changed.count(), 4);

    // A load's answer still arrives during the switch.
    routes.applyLoaded({route("r-9", "/z")});
    EXPECT_EQ(endpointIds(routes.endpoints()), QStringList{QStringLiteral("r-9")});
}

TEST(EnvironmentStore, ChoosingIsOneIntentAndTheGateHoldsItBack)
{
    EngineChannel channel;
    ProjectStore projects(&channel);
    PushGate gate(&channel, &projects);
    EnvironmentStore environments(&channel, &gate);
    environments.addEnvironment(QStringLiteral("Staging"));
    const QString staging = environments.activeEnvID();
    ASSERT_FALSE(staging.isEmpty());
    environments.chooseEnvironment(QString());
    EXPECT_TRUE(environments.activeEnvID().isEmpty());
    EXPECT_TRUE(environments.pushPending());
    environments.cancelPush();

    projects.setIsSwitchingProject(true);
    environments.chooseEnvironment(staging);
    environments.addEnvironment(QStringLiteral("Late"));
    EXPECT_TRUE(environments.activeEnvID().isEmpty());
    EXPECT_EQ(environments.environments().size(), 1);
    EXPECT_FALSE(environments.pushPending());
}
