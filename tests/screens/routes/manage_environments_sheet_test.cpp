// The environments sheet: selection and its fallback, activation, rename, duplicate, delete, variables
// kept by position across reloads, and what reaches the engine.
#include "design/badges.h"
#include "design/ks_button.h"
#include "design/snow_text.h"
#include "design/snow_text_field.h"
#include "engine/link/ops_test_support.h"
#include "routes_test_support.h"
#include "screens/routes/manage_environments_sheet.h"
#include "screens/routes/record_list.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace {

MockEnvironment env(const std::string &id, const std::string &name,
                    std::vector<std::pair<std::string, std::string>> vars = {})
{
    MockEnvironment e;
    e.id = id;
    e.name = name;
    int n = 0;
    for (auto &[k, v] : vars)
        e.vars.push_back(EnvVar{id + "-v" + std::to_string(n++), k, v});
    return e;
}

bool rowSelected(ManageEnvironmentsSheet &sheet, const QString &id)
{
    const RecordListModel *model = sheet.list()->recordModel();
    return model->index(model->rowOf(id)).data(RecordListModel::FirstValueRole).toBool();
}

} // namespace

TEST(EnvironmentsSheet, EmptyThenNewEnvironmentIsSelectedAndActive)
{
    routestest::Objects objects;
    objects.engine.setEnvironments({});
    ManageEnvironmentsSheet sheet(objects.context());
    EXPECT_TRUE(sheet.showsEmptyState());
    EXPECT_EQ(sheet.list()->recordModel()->rowCount(), 0);

    sheet.addEnvironment();
    ASSERT_EQ(objects.engine.environments().size(), 1);
    const QString id = QString::fromStdString(objects.engine.environments().first().id);
    EXPECT_EQ(sheet.selectedID(), std::optional<QString>(id));
    EXPECT_EQ(objects.engine.activeEnvID(), id);
    EXPECT_FALSE(sheet.showsEmptyState());
    EXPECT_EQ(sheet.paneTitle()->text(), QStringLiteral("New environment"));
    EXPECT_FALSE(sheet.activeTag()->isHidden());
    EXPECT_TRUE(sheet.setActiveButton()->isHidden());
    EXPECT_TRUE(sheet.varRows().isEmpty());

    // A second one while the first is active takes over both the selection and the active mark.
    sheet.addEnvironment();
    const QString second = QString::fromStdString(objects.engine.environments().last().id);
    EXPECT_EQ(sheet.selectedID(), std::optional<QString>(second));
    EXPECT_EQ(objects.engine.activeEnvID(), second);
}

TEST(EnvironmentsSheet, SelectionFallsBackToTheFirstWhenTheChosenOneVanishes)
{
    routestest::Objects objects;
    objects.engine.setEnvironments({env("env-a", "Dev", {{"base", "dev"}}), env("env-b", "Staging", {{"base", "stg"}})});
    ManageEnvironmentsSheet sheet(objects.context());
    // Opened without a click: the first is shown selected.
    EXPECT_EQ(sheet.selectedID(), std::optional<QString>("env-a"));
    EXPECT_TRUE(rowSelected(sheet, QStringLiteral("env-a")));
    sheet.select(QStringLiteral("env-b"));
    EXPECT_EQ(sheet.paneTitle()->text(), QStringLiteral("Staging"));
    // A reload replaces the list with other ids: the pane falls back to the first instead of
    // claiming there are no environments.
    objects.engine.setEnvironments({env("env-c", "Prod", {{"base", "prod"}})});
    EXPECT_FALSE(sheet.showsEmptyState());
    EXPECT_EQ(sheet.selectedID(), std::optional<QString>("env-c"));
    EXPECT_EQ(sheet.paneTitle()->text(), QStringLiteral("Prod"));
    EXPECT_TRUE(rowSelected(sheet, QStringLiteral("env-c")));
}

TEST(EnvironmentsSheet, MenuActivatesRenamesDuplicatesAndDeletes)
{
    routestest::Objects objects;
    objects.engine.setEnvironments({env("env-a", "Dev", {{"token", "abc"}}), env("env-b", "Staging"), env("env-c", "Prod")});
    objects.engine.setActiveEnvID(QStringLiteral("env-a"));
    ManageEnvironmentsSheet sheet(objects.context());
    QStringList titles;
    for (const SnowMenuItem &item : sheet.envMenuItems(QStringLiteral("env-a")))
        titles.append(item.title);
    EXPECT_EQ(titles, QStringList({"Set active", "Rename", "Duplicate", "Delete"}));

    routestest::runEntry(sheet.envMenuItems(QStringLiteral("env-b")), QStringLiteral("Set active"));
    EXPECT_EQ(objects.engine.activeEnvID(), QStringLiteral("env-b"));

    // Rename keeps blanks and takes effect only on Return.
    routestest::runEntry(sheet.envMenuItems(QStringLiteral("env-c")), QStringLiteral("Rename"));
    ASSERT_NE(sheet.list()->renameEdit(), nullptr);
    EXPECT_EQ(sheet.list()->renameEdit()->text(), QStringLiteral("Prod"));
    sheet.list()->renameEdit()->setText(QStringLiteral(" Production "));
    EXPECT_EQ(objects.engine.environments()[2].name, "Prod");
    QTest::keyClick(sheet.list()->renameEdit(), Qt::Key_Return);
    EXPECT_EQ(objects.engine.environments()[2].name, " Production ");
    EXPECT_EQ(sheet.list()->renameEdit(), nullptr);

    // Duplicate: a copy at the end, own variables, selection and active unchanged.
    sheet.select(QStringLiteral("env-a"));
    routestest::runEntry(sheet.envMenuItems(QStringLiteral("env-a")), QStringLiteral("Duplicate"));
    ASSERT_EQ(objects.engine.environments().size(), 4);
    const MockEnvironment copy = objects.engine.environments().last();
    EXPECT_EQ(copy.name, "Dev copy");
    ASSERT_EQ(copy.vars.size(), 1u);
    EXPECT_EQ(copy.vars[0].key, "token");
    EXPECT_EQ(sheet.selectedID(), std::optional<QString>("env-a"));
    EXPECT_EQ(objects.engine.activeEnvID(), QStringLiteral("env-b"));

    // Deleting one that is neither chosen nor active changes neither.
    routestest::runEntry(sheet.envMenuItems(QStringLiteral("env-c")), QStringLiteral("Delete"));
    EXPECT_EQ(sheet.selectedID(), std::optional<QString>("env-a"));
    EXPECT_EQ(objects.engine.activeEnvID(), QStringLiteral("env-b"));
    // Deleting the chosen one chooses the first left; deleting the active one leaves none active.
    routestest::runEntry(sheet.envMenuItems(QStringLiteral("env-a")), QStringLiteral("Delete"));
    EXPECT_EQ(sheet.selectedID(), std::optional<QString>("env-b"));
    routestest::runEntry(sheet.envMenuItems(QStringLiteral("env-b")), QStringLiteral("Delete"));
    EXPECT_EQ(objects.engine.activeEnvID(), QString());
    routestest::runEntry(sheet.envMenuItems(QString::fromStdString(copy.id)), QStringLiteral("Delete"));
    EXPECT_TRUE(sheet.showsEmptyState());
}

TEST(EnvironmentsSheet, AFocusedFieldKeepsItsFocusAndWritesAcrossAReload)
{
    routestest::Objects objects;
    objects.engine.setEnvironments({env("env-a", "Dev", {{"base", "dev"}, {"token", "t"}})});
    ManageEnvironmentsSheet sheet(objects.context());
    sheet.show();
    sheet.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet));
    ASSERT_EQ(sheet.varRows().size(), 2);
    QLineEdit *key = sheet.varRows()[1]->keyField()->lineEdit();
    key->setFocus();
    ASSERT_TRUE(testsupport::waitFor([&] { return key->hasFocus(); }));
    key->end(false);
    QTest::keyClicks(key, QStringLiteral("X"));
    EXPECT_EQ(objects.engine.environments()[0].vars[1].key, "tokenX");
    const int cursor = key->cursorPosition();

    // A reload from the engine: same keys and values, fresh variable ids.
    objects.engine.setEnvironments({env("env-a", "Dev", {{"base", "dev"}, {"tokenX", "t"}})});
    ASSERT_EQ(sheet.varRows().size(), 2);
    EXPECT_EQ(sheet.varRows()[1]->keyField()->lineEdit(), key) << "the same field, not a rebuilt one";
    EXPECT_TRUE(key->hasFocus());
    EXPECT_EQ(key->cursorPosition(), cursor);
    // Typing goes on into the reloaded variable.
    QTest::keyClicks(key, QStringLiteral("Y"));
    EXPECT_EQ(objects.engine.environments()[0].vars[1].key, "tokenXY");
    EXPECT_EQ(objects.engine.environments()[0].vars[1].id, "env-a-v1");
}

TEST(EnvironmentsSheet, RenameTakesTheFocusFromAVariableBeingEdited)
{
    routestest::Objects objects;
    objects.engine.setEnvironments({env("env-a", "Dev", {{"base", "dev"}})});
    ManageEnvironmentsSheet sheet(objects.context());
    sheet.show();
    sheet.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet));
    QLineEdit *value = sheet.varRows()[0]->valueField()->lineEdit();
    value->setFocus();
    ASSERT_TRUE(testsupport::waitFor([&] { return value->hasFocus(); }));
    value->end(false);
    QTest::keyClicks(value, QStringLiteral("-x"));
    ASSERT_EQ(objects.engine.environments()[0].vars[0].value, "dev-x");

    // Keys go wherever the focus is: after "Rename" that is the name field, whole name selected.
    routestest::runEntry(sheet.envMenuItems(QStringLiteral("env-a")), QStringLiteral("Rename"));
    QLineEdit *rename = sheet.list()->renameEdit();
    ASSERT_NE(rename, nullptr);
    ASSERT_TRUE(testsupport::waitFor([&] { return rename->hasFocus(); }));
    EXPECT_EQ(rename->selectedText(), QStringLiteral("Dev"));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Local"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(objects.engine.environments()[0].name, "Local");
    EXPECT_EQ(objects.engine.environments()[0].vars[0].value, "dev-x") << "the variable is left alone";
    EXPECT_EQ(value->text(), QStringLiteral("dev-x"));
}

TEST(EnvironmentsSheet, VariablesAreStoredAsTypedAndRemovedByTheirButton)
{
    routestest::Objects objects;
    objects.engine.setEnvironments({env("env-a", "Dev")});
    ManageEnvironmentsSheet sheet(objects.context());
    sheet.show();
    sheet.addVariable();
    sheet.addVariable();
    ASSERT_EQ(sheet.varRows().size(), 2);
    EXPECT_EQ(objects.engine.environments()[0].vars[1].key, "");
    QTest::keyClicks(sheet.varRows()[0]->keyField()->lineEdit(), QStringLiteral(" sp ace"));
    QTest::keyClicks(sheet.varRows()[0]->valueField()->lineEdit(), QStringLiteral("{{x}}"));
    EXPECT_EQ(objects.engine.environments()[0].vars[0].key, " sp ace");
    EXPECT_EQ(objects.engine.environments()[0].vars[0].value, "{{x}}");
    QTest::mouseClick(sheet.varRows()[0]->removeButton(), Qt::LeftButton);
    ASSERT_EQ(objects.engine.environments()[0].vars.size(), 1u);
    EXPECT_EQ(objects.engine.environments()[0].vars[0].key, "");
    EXPECT_EQ(sheet.varRows().size(), 1);
}

// Five keystrokes into a key reach the real engine as one post carrying the whole key.
class EnvironmentsLive : public EngineOpsTest
{
};

TEST_F(EnvironmentsLive, TypedKeyReachesTheEngineWhole)
{
    ASSERT_TRUE(bootLoaded());
    AppState state;
    ManageEnvironmentsSheet sheet(AppContext{&state, m_client.get(), nullptr, nullptr});
    sheet.show();
    sheet.addEnvironment();
    sheet.addVariable();
    ASSERT_EQ(sheet.varRows().size(), 1);
    QTest::keyClicks(sheet.varRows()[0]->keyField()->lineEdit(), QStringLiteral("token"));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client->environmentPushPending(); }));
    bool loaded = false;
    m_client->setEnvironments({});
    m_client->loadEnvironments([&] { loaded = true; });
    ASSERT_TRUE(testsupport::waitFor([&] { return loaded; }));
    ASSERT_EQ(m_client->environments().size(), 1);
    EXPECT_EQ(m_client->environments()[0].name, "New environment");
    ASSERT_EQ(m_client->environments()[0].vars.size(), 1u);
    EXPECT_EQ(m_client->environments()[0].vars[0].key, "token");
    EXPECT_EQ(m_client->activeEnvID(), QString::fromStdString(m_client->environments()[0].id));
    // The reload gave new variable ids; the sheet still shows the row.
    EXPECT_EQ(sheet.varRows().size(), 1);
    EXPECT_EQ(sheet.varRows()[0]->keyField()->text(), QStringLiteral("token"));
}

TEST(EnvironmentsSheetRender, States)
{
    routestest::Objects objects;
    const QSize size(ManageEnvironmentsSheet::Width, ManageEnvironmentsSheet::Height);
    objects.engine.setEnvironments({});
    EXPECT_TRUE(routestest::renderBothThemes("sheet_environments_empty", size,
                                             [&] { return new ManageEnvironmentsSheet(objects.context()); }));
    objects.engine.setEnvironments({env("env-a", "Development", {{"baseUrl", "https://dev.acme.dev"}, {"token", "dev-123"}}),
                                    env("env-b", "Staging", {{"baseUrl", "https://stg.acme.dev"}}), env("env-c", "Production")});
    objects.engine.setActiveEnvID(QStringLiteral("env-a"));
    EXPECT_TRUE(routestest::renderBothThemes("sheet_environments", size,
                                             [&] { return new ManageEnvironmentsSheet(objects.context()); }));
    EXPECT_TRUE(routestest::renderBothThemes("sheet_environments_renaming", size, [&] {
        auto *sheet = new ManageEnvironmentsSheet(objects.context());
        sheet->select(QStringLiteral("env-b"));
        sheet->startRename(QStringLiteral("env-c"));
        return sheet;
    }));
}
