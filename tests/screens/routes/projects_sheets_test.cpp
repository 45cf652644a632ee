// The projects sheets against the real stand-in engine and a recording fake: switching clears the
// selection first, Create runs once, a failed or cut create keeps the sheet; and the group sheet.
#include "app/project_actions.h"
#include "app/sheet_presenter.h"
#include "design/ks_button.h"
#include "design/snow_text.h"
#include "design/snow_text_field.h"
#include "engine/link/ops_test_support.h"
#include "routes_test_support.h"
#include "screens/routes/new_group_sheet.h"
#include "screens/routes/projects_sheets.h"
#include "screens/routes/record_list.h"
#include "screens/routes/sheets_logic.h"

#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

using routestest::route;

namespace {

QStringList titles(const QList<SnowMenuItem> &items)
{
    QStringList out;
    for (const SnowMenuItem &item : items)
        out.append(item.title + (item.disabled ? QStringLiteral(" (off)") : QString()));
    return out;
}

// A sheet inside the window-modal dialog the main window uses, so "dismiss" really closes something.
struct Presented
{
    QPointer<SheetDialog> dialog;
    template <typename Sheet>
    Sheet *present(SheetFlag flag, Sheet *sheet)
    {
        dialog = new SheetDialog(flag, nullptr);
        dialog->setContent(sheet);
        dialog->show();
        return sheet;
    }
    bool closed() const { return !dialog || !dialog->isVisible(); }
    ~Presented() { delete dialog.data(); }
};

class ProjectsLive : public EngineOpsTest
{
protected:
    AppState state;
    AppContext context() { return AppContext{&state, m_client.get(), nullptr, nullptr}; }

    QStringList engineRouteIds()
    {
        bool loaded = false;
        m_client->loadRoutes([&] { loaded = true; });
        testsupport::waitFor([&] { return loaded; });
        return opstest::endpointIds(m_client->endpoints());
    }
};

} // namespace

TEST(SheetsLogic, CountsNamesAndTheEnvironmentChoice)
{
    EXPECT_EQ(SheetsLogic::routeCountText(0), QStringLiteral("0 routes"));
    EXPECT_EQ(SheetsLogic::routeCountText(1), QStringLiteral("1 route"));
    EXPECT_EQ(SheetsLogic::routeCountText(2), QStringLiteral("2 routes"));
    EXPECT_EQ(SheetsLogic::trimmedName(QStringLiteral(" \t Team API\n ")), QStringLiteral("Team API"));
    EXPECT_EQ(SheetsLogic::trimmedName(QStringLiteral(" \n\t")), QString());
}

TEST_F(ProjectsLive, RouteCountsAreTheEnginesWhenOpenedAndAfterEachEdit)
{
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client->projects().size() == 1; }));
    const QString project = m_client->activeProjectID();
    QList<Endpoint> routes;
    for (int i = 0; i < 10; ++i)
        routes.append(opstest::route("r-" + std::to_string(i), "/p" + std::to_string(i)));
    m_client->replaceEndpoints(routes);
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client->routePushPending(); }));
    ASSERT_EQ(m_client->projects().first().routeCount, 0) << "the list loaded at start is stale";

    ManageProjectsSheet sheet(context());
    const auto shownCount = [&] {
        const RecordListModel *model = sheet.list()->recordModel();
        return model->index(model->rowOf(project)).data(RecordListModel::FirstValueRole + 1).toInt();
    };
    EXPECT_TRUE(testsupport::waitFor([&] { return shownCount() == 10; }));

    m_client->deleteEndpoint(QStringLiteral("r-0"));
    EXPECT_TRUE(testsupport::waitFor([&] { return shownCount() == 9; }));
}

TEST_F(ProjectsLive, SwitchingOntoADuplicateLeavesItsRoutesAlone)
{
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client->activeProjectID().isEmpty(); }));
    const QString first = m_client->activeProjectID();
    m_client->setEndpoints({opstest::route("r-shared", "/a", "{\"v\":1}"), opstest::route("r-other", "/b")});
    m_client->pushRoutes();
    m_client->flushPendingPushes(); // not after the debounce: the seed is not under test
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client->routePushPending(); }));
    m_client->duplicateProject(first);
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client->projects().size() == 2; }));
    QString copy;
    for (const Project &p : m_client->projects())
        if (QString::fromStdString(p.id) != first)
            copy = QString::fromStdString(p.id);

    // The duplicate shares the route ids; route "r-shared" is open in the inspector.
    state.setNav(NavItem::endpoints);
    state.setSelectedEndpointID(QStringLiteral("r-shared"));
    ManageProjectsSheet sheet(context());
    ASSERT_EQ(titles(sheet.rowMenuItems(copy)), QStringList({"Switch to", "Rename", "Duplicate", "Delete"}));
    std::optional<std::optional<QString>> selectionWhenSwitching;
    QObject::connect(m_client.get(), &EngineClient::isSwitchingProjectChanged, &sheet, [&] {
        if (m_client->isSwitchingProject() && !selectionWhenSwitching)
            selectionWhenSwitching = state.selectedEndpointID();
    });
    routestest::runEntry(sheet.rowMenuItems(copy), QStringLiteral("Switch to"));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client->activeProjectID() == copy && !m_client->isSwitchingProject(); }));
    ASSERT_TRUE(selectionWhenSwitching.has_value());
    EXPECT_EQ(*selectionWhenSwitching, std::nullopt) << "the selection is cleared before the switch starts";
    EXPECT_EQ(state.selectedEndpointID(), std::nullopt);

    // What the copy holds on the engine is what was duplicated.
    EXPECT_EQ(engineRouteIds(), QStringList({"r-shared", "r-other"}));
    EXPECT_EQ(m_client->endpoints().first().body, "{\"v\":1}");
    // The check-circle moved: the copy is now the active row, and its menu has no "Switch to".
    const int row = sheet.list()->recordModel()->rowOf(copy);
    EXPECT_TRUE(sheet.list()->recordModel()->index(row).data(RecordListModel::FirstValueRole).toBool());
    EXPECT_EQ(titles(sheet.rowMenuItems(copy)), QStringList({"Rename", "Duplicate", "Delete"}));

    // Deleting the active project also clears a selection made meanwhile.
    state.setSelectedEndpointID(QStringLiteral("r-other"));
    routestest::runEntry(sheet.rowMenuItems(copy), QStringLiteral("Delete"));
    EXPECT_EQ(state.selectedEndpointID(), std::nullopt);
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client->projects().size() == 1; }));
    EXPECT_EQ(titles(sheet.rowMenuItems(first)), QStringList({"Rename", "Duplicate", "Delete (off)"}));
}

TEST_F(ProjectsLive, DoubleClickedCreateMakesOneProjectAndSwitchesToIt)
{
    ASSERT_TRUE(bootLoaded());
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client->projects().size() == 1; }));
    state.setSelectedEndpointID(QStringLiteral("r-1"));
    Presented shown;
    auto *sheet = shown.present(SheetFlag::newProject, new NewProjectSheet(context()));
    QTest::keyClicks(sheet->nameField()->lineEdit(), QStringLiteral("  Team API \t"));
    QTest::mouseDClick(sheet->createButton(), Qt::LeftButton);
    QTest::mouseClick(sheet->createButton(), Qt::LeftButton);
    QTest::keyClick(sheet->nameField()->lineEdit(), Qt::Key_Return);
    EXPECT_TRUE(sheet->isCreating());
    EXPECT_TRUE(sheet->createButton()->loading());

    ASSERT_TRUE(testsupport::waitFor([&] { return shown.closed(); }));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client->isSwitchingProject() && m_client->projects().size() == 2; }));
    opstest::settle(300);
    ASSERT_EQ(m_client->projects().size(), 2) << "one POST, one project";
    const auto created = std::find_if(m_client->projects().begin(), m_client->projects().end(),
                                      [](const Project &p) { return p.name == "Team API"; });
    ASSERT_NE(created, m_client->projects().end());
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client->activeProjectID() == QString::fromStdString(created->id); }));
    EXPECT_EQ(state.selectedEndpointID(), std::nullopt);
}

class ProjectsFake : public FakeEngineTest
{
protected:
    AppState state;
    AppContext context() { return AppContext{&state, &m_client, nullptr, nullptr}; }
};

TEST_F(ProjectsFake, FailedCreateKeepsTheSheetAndTheName)
{
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/projects" && request.method == "POST")
            return answer(500, R"({"error":"disk full"})");
        return std::nullopt;
    };
    connectClient();
    Presented shown;
    auto *sheet = shown.present(SheetFlag::newProject, new NewProjectSheet(context()));
    QTest::keyClicks(sheet->nameField()->lineEdit(), QStringLiteral("Payments"));
    QTest::keyClick(sheet->nameField()->lineEdit(), Qt::Key_Return);
    ASSERT_TRUE(testsupport::waitFor([&] { return !sheet->isCreating(); }));
    EXPECT_FALSE(shown.closed());
    EXPECT_EQ(sheet->nameField()->text(), QStringLiteral("Payments"));
    EXPECT_TRUE(sheet->errorText()->isVisible());
    EXPECT_FALSE(sheet->createButton()->loading());
    EXPECT_EQ(count("POST", "/projects"), 1);
    EXPECT_EQ(m_server.matching("POST", "/projects").first().body, QByteArray(R"({"name":"Payments"})"));
    // A retry is possible and sends again.
    sheet->create();
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/projects") == 2; }));
    // Blank names send nothing and change nothing.
    ASSERT_TRUE(testsupport::waitFor([&] { return !sheet->isCreating(); }));
    sheet->nameField()->lineEdit()->setText(QStringLiteral("  \n "));
    sheet->create();
    opstest::settle(100);
    EXPECT_EQ(count("POST", "/projects"), 2);
    EXPECT_FALSE(shown.closed());
}

TEST_F(ProjectsFake, ClosingTheSheetBeforeTheAnswerIsSafeAndSwitchesNothing)
{
    const CannedReply late = answer(200, R"({"id":"p-9","name":"Late","routeCount":0,"updatedAt":"now"})");
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/projects" && request.method == "POST") {
            CannedReply held; // answered once the sheet has gone
            held.hold = true;
            return held;
        }
        if (request.path() == "/projects" && request.method == "GET")
            return answer(200, R"({"activeId":"p-1","projects":[{"id":"p-1","name":"Main","routeCount":0,"updatedAt":"now"}]})");
        return std::nullopt;
    };
    connectClient();
    auto *sheet = new NewProjectSheet(context());
    sheet->nameField()->lineEdit()->setText(QStringLiteral("Late"));
    sheet->create();
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/projects") == 1; }));
    delete sheet;
    ASSERT_TRUE(m_server.release(m_server.lastIndexOf("POST", "/projects"), late));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_server.matching("POST", "/projects").first().answeredMs >= 0; }));
    opstest::settle(200);
    EXPECT_EQ(count("POST", "/projects/p-9/activate"), 0);
}

TEST_F(ProjectsFake, AReplyCutMidBodyIsAFailure)
{
    // A server that starts a good answer to the create and drops the connection halfway.
    QTcpServer cutter;
    ASSERT_TRUE(cutter.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&cutter, &QTcpServer::newConnection, &cutter, [&] {
        while (QTcpSocket *socket = cutter.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                const QByteArray head = socket->readAll();
                if (head.startsWith("POST /projects ")) {
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 80\r\n\r\n"
                                  "{\"id\":\"p-2\",\"na");
                    socket->flush();
                    socket->disconnectFromHost();
                }
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    m_client.ingestOutput("KESTRION_CONTROL_PORT=" + QByteArray::number(cutter.serverPort()) + "\n");
    auto sheet = std::make_unique<NewProjectSheet>(context());
    sheet->nameField()->lineEdit()->setText(QStringLiteral("Cut"));
    sheet->create();
    ASSERT_TRUE(testsupport::waitFor([&] { return !sheet->isCreating(); }, 10000));
    EXPECT_FALSE(sheet->errorText()->isHidden());
    EXPECT_EQ(sheet->nameField()->text(), QStringLiteral("Cut"));
    EXPECT_TRUE(m_client.activeProjectID().isEmpty());
}

TEST_F(ProjectsFake, RenameSendsTheTextExactlyAndLeavesRenameModeAtOnce)
{
    connectClient();
    m_client.setProjects({Project{"p-1", "Main", 1, "now"}, Project{"p-2", "Other", 2, "now"}});
    m_client.setActiveProjectID(QStringLiteral("p-1"));
    ManageProjectsSheet sheet(context());
    sheet.show();
    routestest::runEntry(sheet.rowMenuItems(QStringLiteral("p-2")), QStringLiteral("Rename"));
    EXPECT_EQ(sheet.renaming(), QStringLiteral("p-2"));
    QLineEdit *edit = sheet.list()->renameEdit();
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), QStringLiteral("Other"));
    // Another row's "Rename" moves the field and drops what was typed.
    QTest::keyClicks(edit, QStringLiteral(" lost"));
    routestest::runEntry(sheet.rowMenuItems(QStringLiteral("p-1")), QStringLiteral("Rename"));
    ASSERT_NE(sheet.list()->renameEdit(), nullptr);
    EXPECT_EQ(sheet.list()->renameEdit()->text(), QStringLiteral("Main"));
    // A reload of the list while typing keeps the field and its text.
    sheet.list()->renameEdit()->setText(QStringLiteral("  Core "));
    m_client.setProjects({Project{"p-1", "Main", 3, "later"}, Project{"p-2", "Other", 2, "now"}});
    ASSERT_NE(sheet.list()->renameEdit(), nullptr);
    EXPECT_EQ(sheet.list()->renameEdit()->text(), QStringLiteral("  Core "));
    QTest::keyClick(sheet.list()->renameEdit(), Qt::Key_Return);
    EXPECT_EQ(sheet.renaming(), QString());
    EXPECT_EQ(sheet.list()->renameEdit(), nullptr);
    ASSERT_TRUE(testsupport::waitFor([&] { return count("PATCH", "/projects/p-1") == 1; }));
    EXPECT_EQ(m_server.matching("PATCH", "/projects/p-1").first().body, QByteArray(R"({"name":"  Core "})"));
}

TEST_F(ProjectsFake, RenameFocusesTheNameSoTypingAndReturnReachIt)
{
    connectClient();
    m_client.setProjects({Project{"p-1", "Main", 1, "now"}, Project{"p-2", "Other", 2, "now"}});
    m_client.setActiveProjectID(QStringLiteral("p-1"));
    Presented presented;
    auto *sheet = presented.present(SheetFlag::manageProjects, new ManageProjectsSheet(context()));
    presented.dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(presented.dialog));
    routestest::runEntry(sheet->rowMenuItems(QStringLiteral("p-2")), QStringLiteral("Rename"));
    QLineEdit *edit = sheet->list()->renameEdit();
    ASSERT_NE(edit, nullptr);
    ASSERT_TRUE(testsupport::waitFor([&] { return edit->hasFocus(); }));
    EXPECT_EQ(edit->selectedText(), QStringLiteral("Other"));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Side"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(sheet->renaming(), QString());
    ASSERT_TRUE(testsupport::waitFor([&] { return count("PATCH", "/projects/p-2") == 1; }));
    EXPECT_EQ(m_server.matching("PATCH", "/projects/p-2").first().body, QByteArray(R"({"name":"Side"})"));
    EXPECT_FALSE(presented.closed()) << "Return renames; it does not close the sheet";
}

TEST(GroupSheet, CreateRenameMergeAndCancel)
{
    routestest::Objects objects;
    objects.engine.setEndpoints({route("a", HTTPMethod::GET, "h", "/a", "Auth"), route("b", HTTPMethod::GET, "h", "/b"),
                                 route("c", HTTPMethod::GET, "h", "/c", "Billing")});
    {
        objects.state.openNewGroup(QStringLiteral("b"));
        NewGroupSheet sheet(objects.context());
        EXPECT_EQ(sheet.titleText()->text(), QStringLiteral("New group"));
        EXPECT_EQ(sheet.nameField()->text(), QString());
        QTest::keyClicks(sheet.nameField()->lineEdit(), QStringLiteral("  Payments \t"));
        QTest::keyClick(sheet.nameField()->lineEdit(), Qt::Key_Return);
        EXPECT_EQ(objects.engine.endpoints()[1].group, "Payments");
        EXPECT_EQ(objects.state.groupAssignTarget(), std::nullopt);
    }
    {
        // Renaming onto another group's name merges the two.
        objects.state.openRenameGroup(QStringLiteral("Auth"));
        NewGroupSheet sheet(objects.context());
        EXPECT_EQ(sheet.titleText()->text(), QStringLiteral("Rename group"));
        EXPECT_EQ(sheet.nameField()->text(), QStringLiteral("Auth"));
        sheet.nameField()->lineEdit()->setText(QStringLiteral("Billing"));
        sheet.commit();
        EXPECT_EQ(objects.engine.endpoints()[0].group, "Billing");
        EXPECT_EQ(objects.state.groupRenameFrom(), std::nullopt);
    }
    {
        // A blank name and Cancel change nothing and clear both targets.
        objects.state.openRenameGroup(QStringLiteral("Billing"));
        objects.state.setGroupAssignTarget(QStringLiteral("b"));
        NewGroupSheet sheet(objects.context());
        sheet.nameField()->lineEdit()->setText(QStringLiteral("   "));
        sheet.commit();
        EXPECT_EQ(objects.engine.groupNames(), QStringList({"Billing", "Payments"}));
        objects.state.setGroupAssignTarget(QStringLiteral("b"));
        NewGroupSheet other(objects.context());
        other.finish();
        EXPECT_EQ(objects.state.groupAssignTarget(), std::nullopt);
        EXPECT_EQ(objects.state.groupRenameFrom(), std::nullopt);
    }
}

TEST(ProjectSheetsRender, States)
{
    routestest::Objects objects;
    objects.engine.setProjects({Project{"p-1", "Acme storefront", 12, "now"}, Project{"p-2", "Payments sandbox", 1, "now"},
                                Project{"p-3", "Empty", 0, "now"}});
    objects.engine.setActiveProjectID(QStringLiteral("p-1"));
    EXPECT_TRUE(routestest::renderBothThemes("sheet_projects", QSize(460, 420),
                                             [&] { return new ManageProjectsSheet(objects.context()); }));
    EXPECT_TRUE(routestest::renderBothThemes("sheet_projects_renaming", QSize(460, 420), [&] {
        auto *sheet = new ManageProjectsSheet(objects.context());
        sheet->startRename(QStringLiteral("p-2"));
        return sheet;
    }));
    // Sheets without a fixed height take the height of their content, as the sheet dialog gives them.
    const auto natural = [](QWidget *sheet) {
        std::unique_ptr<QWidget> owned(sheet);
        sheet->adjustSize();
        return sheet->size();
    };
    EXPECT_TRUE(routestest::renderBothThemes("sheet_new_project", natural(new NewProjectSheet(objects.context())),
                                             [&] { return new NewProjectSheet(objects.context()); }));
    auto *probe = new NewProjectSheet(objects.context());
    probe->errorText()->show();
    EXPECT_TRUE(routestest::renderBothThemes("sheet_new_project_failed", natural(probe), [&] {
        auto *sheet = new NewProjectSheet(objects.context());
        sheet->nameField()->lineEdit()->setText(QStringLiteral("Payments"));
        sheet->errorText()->show();
        return sheet;
    }));
    objects.state.openRenameGroup(QStringLiteral("Auth"));
    EXPECT_TRUE(routestest::renderBothThemes("sheet_group_rename", natural(new NewGroupSheet(objects.context())),
                                             [&] { return new NewGroupSheet(objects.context()); }));
}
