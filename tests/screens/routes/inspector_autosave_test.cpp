// The inspector's auto-save against the real stand-in engine: what is sent, when, and what is kept.
#include "inspector_fixture.h"

#include "design/mini_field.h"
#include "design/choice_chips.h"
#include "design/snow_menu_popup.h"
#include "design/snow_select.h"
#include "design/snow_switch.h"
#include "design/snow_text_field.h"
#include "design/badges.h"
#include "design/snow_text.h"
#include "screens/routes/inspector_logic.h"

#include <QLineEdit>
#include <QTest>

namespace {

void type(SnowTextField *field, const QString &text)
{
    QTest::keyClicks(field->lineEdit(), text);
}

} // namespace

TEST_F(InspectorEngineTest, OpeningAndClosingSendsNothing)
{
    seed({inspectorRoute("r-a", 0), inspectorRoute("r-b")});
    InspectorView &inspector = open("r-a");
    // A route with an out-of-range status is shown as it is and not saved by merely looking at it.
    EXPECT_EQ(inspector.statusField()->value(), 0);
    EXPECT_EQ(inspector.headerChip()->status(), 0);
    inspector.close();
    EXPECT_EQ(state.selectedEndpointID(), std::nullopt);
    m_view.reset();
    EXPECT_TRUE(noPushWaiting());
    EXPECT_EQ(m_writes, 0);
    EXPECT_EQ(find("r-a")->status, 0);
}

TEST_F(InspectorEngineTest, TwoQuickEditsGiveOnePostWithBoth)
{
    seed({inspectorRoute("r-a"), inspectorRoute("r-b")});
    InspectorView &inspector = open("r-a");
    type(inspector.pathField(), QStringLiteral("/v2"));
    QTest::mouseClick(inspector.enableMockSwitch(), Qt::LeftButton);
    // Each edit is in the list at once; the header follows the saved route.
    EXPECT_EQ(find("r-a")->path, "/r-a/v2");
    EXPECT_FALSE(find("r-a")->active);
    EXPECT_EQ(inspector.headerTitle()->text(), "/r-a/v2");
    ASSERT_TRUE(settled());
    EXPECT_EQ(m_routePosts, 1);
    const nlohmann::json saved = routeIn(engineRoutes(), "r-a");
    EXPECT_EQ(saved["path"], "/r-a/v2");
    EXPECT_EQ(saved["active"], false);
}

TEST_F(InspectorEngineTest, OutsideToggleSurvivesTheNextKeystroke)
{
    seed({inspectorRoute("r-a")});
    InspectorView &inspector = open("r-a");
    QLineEdit *path = inspector.pathField()->lineEdit();
    path->setFocus();
    path->setCursorPosition(2);
    // The routes table switches the route off while the inspector is open.
    client().toggleEndpoint(QStringLiteral("r-a"));
    EXPECT_FALSE(inspector.enableMockSwitch()->isOn());
    QTest::keyClicks(path, QStringLiteral("x"));
    EXPECT_FALSE(find("r-a")->active);
    EXPECT_EQ(find("r-a")->path, "/rx-a");
    // The field was not refilled under the cursor.
    EXPECT_EQ(path->cursorPosition(), 3);
    ASSERT_TRUE(settled());
    EXPECT_EQ(routeIn(engineRoutes(), "r-a")["active"], false);
}

TEST_F(InspectorEngineTest, SavedStatusZeroIsSavedAs100WhicheverFieldIsEdited)
{
    seed({inspectorRoute("r-a", 0)});
    InspectorView &inspector = open("r-a");
    type(inspector.hostField(), QStringLiteral("x"));
    EXPECT_EQ(find("r-a")->status, 100);
    EXPECT_EQ(find("r-a")->host, "api.testx");
    // The field keeps what it was given; the header shows the saved value.
    EXPECT_EQ(inspector.statusField()->value(), 0);
    EXPECT_EQ(inspector.headerChip()->status(), 100);
    typeOver(inspector.statusField()->lineEdit(), QStringLiteral("700"));
    QTest::keyClick(inspector.statusField()->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(find("r-a")->status, 599);
    EXPECT_EQ(inspector.statusField()->lineEdit()->text(), "700");
    ASSERT_TRUE(settled());
    EXPECT_EQ(routeIn(engineRoutes(), "r-a")["status"], 599);
}

TEST_F(InspectorEngineTest, ClearedHostKeepsTheSavedOneAndTurnsItsLabelRed)
{
    seed({inspectorRoute("r-a")});
    InspectorView &inspector = open("r-a");
    const Palette &palette = Palette::light();
    EXPECT_EQ(inspector.hostLabel()->color(), palette.mutedForeground);
    inspector.hostField()->lineEdit()->selectAll();
    QTest::keyClick(inspector.hostField()->lineEdit(), Qt::Key_Backspace);
    EXPECT_EQ(inspector.hostField()->text(), "");
    EXPECT_EQ(find("r-a")->host, "api.test");
    EXPECT_EQ(inspector.hostLabel()->color(), QColor(224, 49, 49));
    EXPECT_EQ(inspector.headerTitle()->toolTip(), "api.test/r-a");
    bool copied = false;
    QString clipboard;
    Desktop::setCopyHook([&](const QString &text) {
        copied = true;
        clipboard = text;
    });
    inspector.routeActions()[1].action();
    Desktop::setCopyHook({});
    EXPECT_TRUE(copied);
    EXPECT_EQ(clipboard, "http://api.test/r-a");

    // Typed again with a scheme, capitals and a path: saved normalised, the field keeps the text.
    type(inspector.hostField(), QStringLiteral(" HTTPS://Shop.Example:8443/v1 "));
    EXPECT_EQ(find("r-a")->host, "shop.example:8443");
    EXPECT_EQ(inspector.hostField()->text(), " HTTPS://Shop.Example:8443/v1 ");
    EXPECT_EQ(inspector.hostLabel()->color(), palette.mutedForeground);
    ASSERT_TRUE(settled());
    EXPECT_EQ(routeIn(engineRoutes(), "r-a")["host"], "shop.example:8443");
}

TEST_F(InspectorEngineTest, PickingTheSameMethodOrChipAgainSavesNothing)
{
    seed({inspectorRoute("r-a")});
    InspectorView &inspector = open("r-a");
    int changes = 0;
    QObject::connect(&client(), &EngineClient::endpointsChanged, &m_watch, [&] { ++changes; });
    const QList<SnowMenuItem> methods = inspector.methodSelect()->menu()->currentItems();
    ASSERT_EQ(methods.size(), 6);
    EXPECT_TRUE(methods[0].checked);
    methods[0].action();
    emit inspector.errorChips(0)->selectionEdited(int(ErrorOverride::ok));
    // A path that normalises to what is saved changes the field but not the route.
    type(inspector.pathField(), QStringLiteral("/"));
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(noPushWaiting());
    EXPECT_EQ(m_writes, 0);

    methods[1].action();
    EXPECT_EQ(find("r-a")->method, HTTPMethod::POST);
    EXPECT_EQ(inspector.methodSelect()->value(), "POST");
    EXPECT_EQ(inspector.headerBadge()->method(), "POST");
    EXPECT_EQ(changes, 1);
}

TEST_F(InspectorEngineTest, StatusTypedAndNotCommittedIsSavedBeforeClosing)
{
    seed({inspectorRoute("r-a"), inspectorRoute("r-b")});
    InspectorView &inspector = open("r-a");
    typeOver(inspector.statusField()->lineEdit(), QStringLiteral("404"));
    EXPECT_TRUE(inspector.statusField()->hasPendingEdit());
    EXPECT_EQ(find("r-a")->status, 200);
    // The close button takes no focus, so the field never lost it.
    inspector.closeButton()->trigger();
    EXPECT_EQ(find("r-a")->status, 404);
    EXPECT_EQ(find("r-b")->status, 200);
    EXPECT_EQ(state.selectedEndpointID(), std::nullopt);
}

TEST_F(InspectorEngineTest, StatusTypedIsSavedIntoItsOwnRouteWhenAnotherIsSelected)
{
    seed({inspectorRoute("r-a"), inspectorRoute("r-b")});
    InspectorView &inspector = open("r-a");
    typeOver(inspector.statusField()->lineEdit(), QStringLiteral("201"));
    // Taken down the way the window does it when the selection moves: hidden, then deleted later.
    state.setSelectedEndpointID(QStringLiteral("r-b"));
    inspector.hide();
    EXPECT_TRUE(testsupport::waitFor([this] { return find("r-a")->status == 201; }));
    EXPECT_EQ(find("r-b")->status, 200);
}

TEST_F(InspectorEngineTest, EditsDuringAProjectSwitchNeverReachTheNewProject)
{
    seed({inspectorRoute("r-a")});
    InspectorView &inspector = open("r-a");
    client().setIsSwitchingProject(true);
    type(inspector.pathField(), QStringLiteral("/late"));
    EXPECT_EQ(find("r-a")->path, "/r-a");
    EXPECT_TRUE(noPushWaiting());
    EXPECT_EQ(m_writes, 0);
    // The switch ends on the same project: the draft shows what is saved again.
    client().setIsSwitchingProject(false);
    EXPECT_EQ(inspector.pathField()->text(), "/r-a");

    // Another project became active under the inspector: its edits are dropped.
    client().setActiveProjectID(QStringLiteral("other"));
    type(inspector.pathField(), QStringLiteral("/b"));
    typeOver(inspector.statusField()->lineEdit(), QStringLiteral("500"));
    inspector.commitPendingEdits();
    EXPECT_EQ(find("r-a")->path, "/r-a");
    EXPECT_EQ(find("r-a")->status, 200);
    EXPECT_FALSE(inspector.model()->isCurrent());
}

TEST_F(InspectorEngineTest, DeleteClosesFirstAndRemovesEveryCopyOfTheId)
{
    Endpoint twin = inspectorRoute("r-a");
    twin.path = "/twin";
    seed({inspectorRoute("r-a"), inspectorRoute("r-b"), twin});
    InspectorView &inspector = open("r-a");
    bool listedWhenClosed = false;
    QObject::connect(&state, &AppState::selectedEndpointIDChanged, &m_watch,
                     [&] { listedWhenClosed = find("r-a") != nullptr; });
    inspector.routeActions()[3].action();
    EXPECT_TRUE(listedWhenClosed);
    EXPECT_EQ(opstest::endpointIds(client().endpoints()), QStringList{"r-b"});
    ASSERT_TRUE(settled());
    EXPECT_EQ(engineRoutes().size(), 1u);
}

TEST_F(InspectorEngineTest, DuplicateSelectsTheCopyBelowTheOriginal)
{
    seed({inspectorRoute("r-a"), inspectorRoute("r-b")});
    InspectorView &inspector = open("r-a");
    typeOver(inspector.statusField()->lineEdit(), QStringLiteral("418"));
    inspector.routeActions()[0].action();
    const QList<Endpoint> &routes = client().endpoints();
    ASSERT_EQ(routes.size(), 3);
    EXPECT_EQ(state.selectedEndpointID(), QString::fromStdString(routes[1].id));
    EXPECT_EQ(state.nav(), NavItem::endpoints);
    EXPECT_EQ(routes[1].status, 418);
    EXPECT_EQ(routes[2].id, "r-b");
}
