// The sidebar's route tree following single-route edits: one row changes in place, a move still moves.
#include "app/route_tree_model.h"

#include "app/app_state.h"
#include "engine/engine_client.h"

#include "app/qt_printers.h"
#include "app/test_routes.h"
#include "support/model_test_support.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

using testroutes::route;

// Every row with what it shows: "label(count)" per block, then "  id path on|off" per listed route.
QStringList rows(const RouteTreeModel &model)
{
    QStringList out;
    for (int b = 0; b < model.rowCount(); ++b) {
        const QModelIndex block = model.index(b, 0);
        out << block.data().toString() + QLatin1Char('(') + block.data(RouteTreeModel::CountRole).toString()
                   + QLatin1Char(')') + (block.data(RouteTreeModel::FoldedRole).toBool() ? "-" : "");
        for (int r = 0; r < model.rowCount(block); ++r) {
            const QModelIndex row = model.index(r, 0, block);
            out << QStringLiteral("  %1 %2 %3")
                       .arg(row.data(RouteTreeModel::RouteIDRole).toString(), row.data().toString(),
                            row.data(RouteTreeModel::EnabledRole).toBool() ? "on" : "off");
        }
    }
    return out;
}

// What a tree built afresh from the engine's routes shows.
QStringList freshRows(AppState &state, EngineClient &engine, const QStringList &folded = {})
{
    RouteTreeModel fresh(&state, &engine);
    for (const QString &label : folded)
        fresh.setFolded(label, true);
    return rows(fresh);
}

Endpoint withPath(Endpoint route, const std::string &path)
{
    route.path = path;
    return route;
}

} // namespace

TEST(RouteTreeModelEdits, OneEditChangesOneRowInPlace)
{
    AppState state;
    EngineClient engine;
    engine.setEndpoints({route("1", "api"), route("2", "cdn"), route("3", "api")});
    RouteTreeModel model(&state, &engine);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    testsupport::ModelSignals spy(&model);

    engine.updateEndpoint(withPath(engine.endpoints()[2], "/renamed"));
    ASSERT_EQ(spy.changed.count(), 1);
    EXPECT_EQ(spy.structural(), 0);
    const QModelIndex changed = spy.changed.first().at(0).value<QModelIndex>();
    EXPECT_EQ(changed, model.routeIndex("3"));
    EXPECT_EQ(spy.changed.first().at(1).value<QModelIndex>(), changed);
    EXPECT_EQ(changed.data().toString(), "/renamed");

    engine.toggleEndpoint(QStringLiteral("1"));
    ASSERT_EQ(spy.changed.count(), 2);
    EXPECT_EQ(spy.changed.last().at(0).value<QModelIndex>(), model.routeIndex("1"));
    EXPECT_FALSE(model.routeIndex("1").data(RouteTreeModel::EnabledRole).toBool());

    // A change the tree does not show (status, body) sends nothing.
    Endpoint status = engine.endpoints()[1];
    status.status = 404;
    status.body = "gone";
    engine.updateEndpoint(status);
    EXPECT_EQ(spy.changed.count(), 2);
    EXPECT_EQ(spy.structural(), 0);
    EXPECT_EQ(rows(model), freshRows(state, engine));
}

TEST(RouteTreeModelEdits, ChangeOfHostOrGroupStillMovesTheRow)
{
    AppState state;
    EngineClient engine;
    engine.setEndpoints({route("1", "api"), route("2", "cdn"), route("3", "api")});
    RouteTreeModel model(&state, &engine);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    testsupport::ModelSignals spy(&model);

    Endpoint moved = engine.endpoints()[2];
    moved.host = "cdn";
    engine.updateEndpoint(moved);
    EXPECT_GE(spy.structural(), 1);
    EXPECT_EQ(rows(model), (QStringList{"api(1)", "  1 /1 on", "cdn(2)", "  2 /2 on", "  3 /3 on"}));

    // The first group turns the tree into sections; another route joining it moves there.
    engine.setGroup(QStringLiteral("1"), QStringLiteral("g"));
    EXPECT_TRUE(model.showsGroups());
    engine.setGroup(QStringLiteral("3"), QStringLiteral("g"));
    EXPECT_EQ(rows(model), (QStringList{"g(2)", "  1 /1 on", "  3 /3 on", "Ungrouped(1)", "  2 /2 on"}));
    EXPECT_EQ(rows(model), freshRows(state, engine));
}

TEST(RouteTreeModelEdits, GroupThatOnlyLooksUngroupedStillSwitchesTheTreeBackToHosts)
{
    // A route grouped as "Ungrouped" sits in the same section as routes without a group; clearing its
    // group keeps the label but leaves no group at all, so the tree goes back to hosts.
    AppState state;
    EngineClient engine;
    engine.setEndpoints({route("1", "api", "Ungrouped"), route("2", "api")});
    RouteTreeModel model(&state, &engine);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    ASSERT_TRUE(model.showsGroups());

    engine.setGroup(QStringLiteral("1"), QString());
    EXPECT_FALSE(model.showsGroups());
    EXPECT_EQ(rows(model), (QStringList{"api(2)", "  1 /1 on", "  2 /2 on"}));
    EXPECT_EQ(model.index(0, 0).data(RouteTreeModel::SymbolRole).toString(), "globe");
}

TEST(RouteTreeModelEdits, EditInAFoldedBlockShowsWhenUnfolded)
{
    AppState state;
    EngineClient engine;
    engine.setEndpoints({route("1", "api"), route("2", "cdn")});
    RouteTreeModel model(&state, &engine);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setFolded(QStringLiteral("api"), true);
    testsupport::ModelSignals spy(&model);

    engine.updateEndpoint(withPath(engine.endpoints()[0], "/hidden"));
    EXPECT_EQ(spy.changed.count(), 0);
    EXPECT_EQ(spy.structural(), 0);
    model.setFolded(QStringLiteral("api"), false);
    EXPECT_EQ(model.routeIndex("1").data().toString(), "/hidden");
}

TEST(RouteTreeModelEdits, RowsMatchAFreshTreeAfterEveryKindOfEdit)
{
    AppState state;
    EngineClient engine;
    engine.setEndpoints({route("1", "api"), route("2", "cdn"), route("3", "api"), route("4", "img")});
    RouteTreeModel model(&state, &engine);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setFolded(QStringLiteral("cdn"), true);

    const std::vector<std::function<void()>> edits = {
        [&] { engine.updateEndpoint(withPath(engine.endpoints()[3], "/4b")); },
        [&] { engine.toggleEndpoint(QStringLiteral("2")); },
        [&] {
            Endpoint e = engine.endpoints()[0];
            e.host = "img";
            engine.updateEndpoint(e);
        },
        [&] { engine.setGroup(QStringLiteral("2"), QStringLiteral("b")); },
        [&] { engine.updateEndpoint(withPath(engine.endpoints()[2], "/3b")); },
        [&] { engine.setGroup(QStringLiteral("4"), QStringLiteral("a")); },
        [&] { engine.duplicateEndpoint(QStringLiteral("4")); },
        [&] { engine.updateEndpoint(withPath(engine.endpoints()[4], "/copy")); },
        [&] { engine.setGroup(QStringLiteral("2"), QString()); },
        [&] { engine.renameGroup(QStringLiteral("a"), QStringLiteral("z")); },
        [&] { engine.setGroup(QStringLiteral("4"), QString()); },
        [&] { engine.toggleEndpoint(QStringLiteral("3")); },
    };
    for (std::size_t i = 0; i < edits.size(); ++i) {
        edits[i]();
        const QStringList folded = model.showsGroups() ? QStringList{} : QStringList{QStringLiteral("cdn")};
        EXPECT_EQ(rows(model), freshRows(state, engine, folded)) << "after edit " << i;
    }
}
