// The route list's revision and the position a single-route edit names, which lists use to update one row.
#include "ops_test_support.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

TEST(RouteEditRevision, SingleRouteEditsNameTheirPositionAndOtherChangesDoNot)
{
    EngineClient client;
    QSignalSpy changes(&client, &EngineClient::endpointsChanged);
    const quint64 start = client.endpointsRevision();
    client.setEndpoints({opstest::route("r-1", "/a"), opstest::route("r-2", "/b"), opstest::route("r-3", "/c")});
    quint64 revision = client.endpointsRevision();
    EXPECT_EQ(revision, start + 1);
    EXPECT_EQ(client.editedEndpoint(), -1);

    // Each change moves the revision by one and is told once.
    const auto expectChange = [&](int edited) {
        EXPECT_EQ(client.endpointsRevision(), ++revision);
        EXPECT_EQ(client.editedEndpoint(), edited);
        EXPECT_EQ(changes.count(), int(revision - start));
    };
    Endpoint edited = client.endpoints()[1];
    edited.path = "/b2";
    client.updateEndpoint(edited);
    expectChange(1);
    client.toggleEndpoint(QStringLiteral("r-3"));
    expectChange(2);
    client.setGroup(QStringLiteral("r-1"), QStringLiteral("g"));
    expectChange(0);
    client.duplicateEndpoint(QStringLiteral("r-1"));
    expectChange(-1);
    client.updateEndpoint(client.endpoints()[3]);
    expectChange(3);
    client.renameGroup(QStringLiteral("g"), QStringLiteral("h"));
    expectChange(-1);
    client.setEndpoints(client.endpoints());
    expectChange(-1);

    // What finds no route changes nothing, and says so by keeping the revision.
    Endpoint missing = opstest::route("r-9", "/z");
    client.updateEndpoint(missing);
    client.toggleEndpoint(QStringLiteral("r-9"));
    client.setGroup(QStringLiteral("r-9"), QStringLiteral("g"));
    client.renameGroup(QStringLiteral("none"), QStringLiteral("x"));
    EXPECT_EQ(client.endpointsRevision(), revision);
    EXPECT_EQ(changes.count(), int(revision - start));
    EXPECT_EQ(opstest::endpointIds(client.endpoints()).size(), 4);
}
