// RouteList and the project gate on their own: the intents, and what the gate lets through.
#include "engine/engine_channel.h"
#include "engine/environment_store.h"
#include "engine/project_store.h"
#include "engine/route_list.h"
#include "ops_test_support.h"

#include <QSignalSpy>

using opstest::endpointIds;
using opstest::route;

TEST(ProjectGate, PushesLandOnlyInTheirOwnProjectAndNeverDuringAChange)
{
    EngineChannel channel;
    ProjectStore projects(&channel);
    EXPECT_TRUE(projects.pushMayLand(QString())); // before the active project is known
    projects.setActiveProjectID(QStringLiteral("p-1"));
    EXPECT_TRUE(projects.pushMayLand(QStringLiteral("p-1")));
    EXPECT_TRUE(projects.pushMayLand(QString()));
    EXPECT_FALSE(projects.pushMayLand(QStringLiteral("p-2")));
    projects.beginChange();
    EXPECT_FALSE(projects.pushMayLand(QStringLiteral("p-1")));
    projects.endChange();
    EXPECT_TRUE(projects.pushMayLand(QStringLiteral("p-1")));

    EXPECT_TRUE(projects.writesOpen());
    projects.closeWrites();
    EXPECT_FALSE(projects.writesOpen());
    projects.reopenWrites();
    projects.setIsSwitchingProject(true);
    EXPECT_FALSE(projects.writesOpen());
}

TEST(RouteList, IntentsEditTheListAndPushWhileTheGateIsOpen)
{
    EngineChannel channel;
    ProjectStore projects(&channel);
    RouteList routes(&channel, &projects);
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
    EnvironmentStore environments(&channel, &projects);
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
