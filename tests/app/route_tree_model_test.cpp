// The sidebar's route tree model: its rows for each kind of route list, folding, selection and change signals.
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

// The tree as text: "label(count)[ids]" per block, "label(count)-" for a folded block.
QStringList shape(const RouteTreeModel &model)
{
    QStringList out;
    for (int b = 0; b < model.rowCount(); ++b) {
        const QModelIndex block = model.index(b, 0);
        QString text = block.data().toString() + QLatin1Char('(') + block.data(RouteTreeModel::CountRole).toString()
                       + QLatin1Char(')');
        if (block.data(RouteTreeModel::FoldedRole).toBool()) {
            text += QLatin1Char('-');
        } else {
            QStringList ids;
            for (int r = 0; r < model.rowCount(block); ++r)
                ids << model.index(r, 0, block).data(RouteTreeModel::RouteIDRole).toString();
            text += QLatin1Char('[') + ids.join(QLatin1Char(',')) + QLatin1Char(']');
        }
        out << text;
    }
    return out;
}

struct TreeCase
{
    const char *name;
    QList<Endpoint> routes;
    QStringList folded;
    bool groups;
    QStringList expected;
};

void PrintTo(const TreeCase &c, std::ostream *os)
{
    *os << c.name;
}

class RouteTreeModelRows : public ::testing::TestWithParam<TreeCase>
{
};

const TreeCase treeCases[] = {
    {"HostView", {route("1", "B"), route("2", "A"), route("3", "B")}, {}, false, {"B(2)[1,3]", "A(1)[2]"}},
    {"HostViewEmptyHost", {route("1", "x"), route("2", ""), route("3", "")}, {}, false, {"x(1)[1]", "(2)[2,3]"}},
    {"GroupView",
     {route("1", "h", "beta"), route("2", "h"), route("3", "h", "Alpha"), route("4", "h", "alpha")},
     {},
     true,
     {"Alpha(1)[3]", "alpha(1)[4]", "beta(1)[1]", "Ungrouped(1)[2]"}},
    {"GroupViewSpaceAndLiteralUngrouped",
     {route("1", "h", " "), route("2", "h", "Ungrouped"), route("3", "h")},
     {},
     true,
     {" (1)[1]", "Ungrouped(2)[2,3]"}},
    {"FoldedSections",
     {route("1", "B"), route("2", "A"), route("3", "B", {}, false)},
     {"B"},
     false,
     {"B(2)-", "A(1)[2]"}},
    {"FoldedGroupSections",
     {route("1", "h", "g"), route("2", "h")},
     {"g", "Ungrouped"},
     true,
     {"g(1)-", "Ungrouped(1)-"}},
    {"EmptyList", {}, {"api"}, false, {}},
};

} // namespace

TEST_P(RouteTreeModelRows, HoldsTheBlocksAndSurvivesEveryChangeUnderTheTester)
{
    const TreeCase &c = GetParam();
    testsupport::ModelTestMessages messages;
    AppState state;
    EngineClient engine;
    RouteTreeModel model(&state, &engine);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);

    engine.setEndpoints(c.routes);
    for (const QString &label : c.folded)
        model.setFolded(label, true);
    EXPECT_EQ(model.showsGroups(), c.groups);
    EXPECT_EQ(shape(model), c.expected);

    // Every kind of change the sidebar makes, each checked by the tester as it happens.
    for (const QString &label : model.blockLabels())
        model.toggleFold(label);
    for (const QString &label : model.blockLabels())
        model.toggleFold(label);
    EXPECT_EQ(shape(model), c.expected);
    if (!c.routes.isEmpty()) {
        const QString first = QString::fromStdString(c.routes.first().id);
        state.select(NavItem::endpoints);
        state.setSelectedEndpointID(first);
        engine.toggleEndpoint(first);
        engine.setGroup(first, QStringLiteral("moved"));
        engine.setGroup(first, QString());
        engine.duplicateEndpoint(first);
        state.select(NavItem::dashboard);
    }
    engine.setEndpoints({});
    EXPECT_EQ(model.rowCount(), 0);
    engine.setEndpoints(c.routes);
    EXPECT_EQ(shape(model), c.expected);
    EXPECT_EQ(testsupport::ModelTestMessages::take(), QStringList{});
}

INSTANTIATE_TEST_SUITE_P(Cases, RouteTreeModelRows, ::testing::ValuesIn(treeCases),
                         [](const ::testing::TestParamInfo<TreeCase> &info) { return std::string(info.param.name); });

TEST(RouteTreeModel, PathAndFlagChangesUpdateRowsInPlace)
{
    AppState state;
    EngineClient engine;
    engine.setEndpoints({route("1", "api"), route("2", "api")});
    RouteTreeModel model(&state, &engine);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);

    QList<Endpoint> edited = engine.endpoints();
    edited[1].path = "/renamed";
    edited[1].active = false;
    engine.setEndpoints(edited);
    EXPECT_EQ(resets.count(), 0);
    ASSERT_EQ(changes.count(), 1);
    const QModelIndex changed = changes.first().first().value<QModelIndex>();
    EXPECT_EQ(changed.data(RouteTreeModel::RouteIDRole).toString(), "2");
    EXPECT_EQ(changed.data().toString(), "/renamed");
    EXPECT_FALSE(changed.data(RouteTreeModel::EnabledRole).toBool());

    // Another route in the host changes which rows the block holds.
    engine.setEndpoints(edited + QList<Endpoint>{route("3", "api")});
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(shape(model), (QStringList{"api(3)[1,2,3]"}));
}

TEST(RouteTreeModel, FoldingRemovesAndRestoresTheRowsButKeepsTheCount)
{
    AppState state;
    EngineClient engine;
    engine.setEndpoints({route("1", "a"), route("2", "b"), route("3", "b")});
    RouteTreeModel model(&state, &engine);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    model.toggleFold("b");
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(removed.first().at(0).value<QModelIndex>(), model.blockIndex("b"));
    EXPECT_EQ(removed.first().at(1).toInt(), 0);
    EXPECT_EQ(removed.first().at(2).toInt(), 1);
    EXPECT_EQ(shape(model), (QStringList{"a(1)[1]", "b(2)-"}));
    EXPECT_FALSE(model.routeIndex("2").isValid());

    model.toggleFold("b");
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(shape(model), (QStringList{"a(1)[1]", "b(2)[2,3]"}));
}

TEST(RouteTreeModel, FoldingIsKeptByLabelAndPerBlockKind)
{
    AppState state;
    EngineClient engine;
    engine.setEndpoints({route("1", "api")});
    RouteTreeModel model(&state, &engine);
    model.setFolded("api", true);

    // The host goes away and comes back folded.
    engine.setEndpoints({route("2", "other")});
    engine.setEndpoints({route("1", "api"), route("2", "api")});
    EXPECT_EQ(shape(model), (QStringList{"api(2)-"}));

    // Group folding is its own set: "api" as a group label starts open.
    engine.setGroup("1", "api");
    EXPECT_TRUE(model.showsGroups());
    EXPECT_EQ(shape(model), (QStringList{"api(1)[1]", "Ungrouped(1)[2]"}));
    model.setFolded("Ungrouped", true);
    engine.setGroup("1", "");
    EXPECT_EQ(shape(model), (QStringList{"api(2)-"}));
    engine.setGroup("2", "x");
    EXPECT_EQ(shape(model), (QStringList{"x(1)[2]", "Ungrouped(1)-"}));
}

TEST(RouteTreeModel, SelectedRowFollowsTheOpenRouteOnTheRoutesScreenOnly)
{
    AppState state;
    EngineClient engine;
    engine.setEndpoints({route("1", "api"), route("2", "api")});
    RouteTreeModel model(&state, &engine);
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);

    state.select(NavItem::endpoints);
    state.setSelectedEndpointID(QStringLiteral("2"));
    EXPECT_TRUE(model.routeIndex("2").data(RouteTreeModel::SelectedRole).toBool());
    EXPECT_FALSE(model.routeIndex("1").data(RouteTreeModel::SelectedRole).toBool());
    ASSERT_GE(changes.count(), 1);
    EXPECT_EQ(changes.last().first().value<QModelIndex>(), model.routeIndex("2"));

    state.setSelectedEndpointID(QStringLiteral("1"));
    EXPECT_FALSE(model.routeIndex("2").data(RouteTreeModel::SelectedRole).toBool());
    EXPECT_TRUE(model.routeIndex("1").data(RouteTreeModel::SelectedRole).toBool());

    // Another screen with the same id still set: no route row is shown selected.
    state.setNav(NavItem::history);
    EXPECT_FALSE(model.routeIndex("1").data(RouteTreeModel::SelectedRole).toBool());
}
