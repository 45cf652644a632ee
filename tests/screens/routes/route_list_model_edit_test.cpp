// The routes table's model following single-route edits: one row changes in place, a move still moves.
#include "routes_test_support.h"
#include "screens/routes/route_list_model.h"
#include "support/model_test_support.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <functional>

using routestest::route;

namespace {

// Every row with what it shows.
QStringList rows(const RouteListModel &model)
{
    QStringList out;
    for (int i = 0; i < model.rowCount(); ++i) {
        const QModelIndex row = model.index(i);
        if (RouteListModel::Kind(row.data(RouteListModel::KindRole).toInt()) == RouteListModel::Kind::header) {
            out << QStringLiteral("%1(%2)%3")
                       .arg(row.data(RouteListModel::LabelRole).toString(),
                            row.data(RouteListModel::CountRole).toString(),
                            row.data(RouteListModel::CollapsedRole).toBool() ? "-" : "");
            continue;
        }
        QStringList fields;
        for (int role : {int(RouteListModel::RouteIDRole), int(RouteListModel::MethodRole), int(RouteListModel::HostRole),
                         int(RouteListModel::PathRole), int(RouteListModel::StatusRole),
                         int(RouteListModel::LatencyRole), int(RouteListModel::ActiveRole),
                         int(RouteListModel::SelectedRole)})
            fields << row.data(role).toString();
        out << QStringLiteral("  ") + fields.join(QLatin1Char(' '));
    }
    return out;
}

// What a model built afresh over the engine's routes shows with the same filter and folds.
QStringList freshRows(routestest::Objects &objects, const RouteListModel &live)
{
    RouteListModel fresh(&objects.state, &objects.engine);
    fresh.setFilter(live.filter());
    for (const QString &label : live.collapsedGroups())
        fresh.toggleCollapsed(label);
    return rows(fresh);
}

class RouteListEdits : public ::testing::Test
{
protected:
    void SetUp() override
    {
        objects.engine.setEndpoints({
            route("r1", HTTPMethod::GET, "api.shop.dev", "/v1/cart", "Shop"),
            route("r2", HTTPMethod::POST, "api.shop.dev", "/v1/items", "Shop"),
            route("r3", HTTPMethod::DELETE, "target.example", "/budget"),
            route("r4", HTTPMethod::PUT, "api.shop.dev", "/v1/cart/:id", "Admin"),
        });
        model = std::make_unique<RouteListModel>(&objects.state, &objects.engine);
        tester = std::make_unique<QAbstractItemModelTester>(model.get(),
                                                            QAbstractItemModelTester::FailureReportingMode::Fatal);
    }

    Endpoint current(const std::string &id) const
    {
        for (const Endpoint &e : objects.engine.endpoints()) {
            if (e.id == id)
                return e;
        }
        ADD_FAILURE() << "no route " << id;
        return {};
    }

    routestest::Objects objects;
    std::unique_ptr<RouteListModel> model;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

} // namespace

TEST_F(RouteListEdits, OneEditChangesOneRowInPlace)
{
    objects.state.setSelectedEndpointID(QStringLiteral("r2"));
    testsupport::ModelSignals spy(model.get());
    QSignalSpy listings(model.get(), &RouteListModel::listingChanged);

    Endpoint edited = current("r2");
    edited.path = "/v1/items/all";
    edited.status = 201;
    edited.latency = 1200;
    objects.engine.updateEndpoint(edited);
    ASSERT_EQ(spy.changed.count(), 1);
    EXPECT_EQ(spy.structural(), 0);
    EXPECT_EQ(listings.count(), 1);
    const QModelIndex changed = spy.changed.first().at(0).value<QModelIndex>();
    EXPECT_EQ(changed.row(), model->rowOfRoute("r2"));
    EXPECT_EQ(spy.changed.first().at(1).value<QModelIndex>(), changed);
    EXPECT_EQ(changed.data(RouteListModel::PathRole).toString(), "/v1/items/all");
    EXPECT_EQ(changed.data(RouteListModel::StatusRole).toLongLong(), 201);
    EXPECT_EQ(changed.data(RouteListModel::LatencyRole).toLongLong(), 1200);
    EXPECT_TRUE(changed.data(RouteListModel::SelectedRole).toBool());

    objects.engine.toggleEndpoint(QStringLiteral("r3"));
    ASSERT_EQ(spy.changed.count(), 2);
    EXPECT_EQ(spy.changed.last().at(0).value<QModelIndex>().row(), model->rowOfRoute("r3"));
    EXPECT_FALSE(model->index(model->rowOfRoute("r3")).data(RouteListModel::ActiveRole).toBool());

    // A change the table does not show (the body) sends no row change.
    Endpoint body = current("r1");
    body.body = "{\"changed\":true}";
    objects.engine.updateEndpoint(body);
    EXPECT_EQ(spy.changed.count(), 2);
    EXPECT_EQ(spy.structural(), 0);
    EXPECT_EQ(rows(*model), freshRows(objects, *model));
}

TEST_F(RouteListEdits, ChangeOfGroupOrFilterVerdictStillMovesTheRow)
{
    // Another group: the row leaves its section and both headers count again.
    objects.engine.setGroup(QStringLiteral("r1"), QStringLiteral("Admin"));
    EXPECT_EQ(model->shownRouteIDs(), (QStringList{"r1", "r4", "r2", "r3"}));
    EXPECT_EQ(model->index(model->rowOfHeader("Admin")).data(RouteListModel::CountRole).toInt(), 2);
    EXPECT_EQ(model->index(model->rowOfHeader("Shop")).data(RouteListModel::CountRole).toInt(), 1);

    // Under a filter, an edit that stops matching removes the row and one that starts matching adds it.
    model->setFilter(QStringLiteral("cart"));
    EXPECT_EQ(model->shownRouteIDs(), (QStringList{"r1", "r4"}));
    testsupport::ModelSignals spy(model.get());
    Endpoint gone = current("r4");
    gone.path = "/v1/basket/:id";
    objects.engine.updateEndpoint(gone);
    EXPECT_EQ(model->shownRouteIDs(), QStringList{"r1"});
    EXPECT_GE(spy.removed.count(), 1);
    EXPECT_EQ(model->filteredCount(), 1);
    Endpoint back = current("r3");
    back.path = "/cart/budget";
    objects.engine.updateEndpoint(back);
    EXPECT_EQ(model->shownRouteIDs(), (QStringList{"r1", "r3"}));
    EXPECT_GE(spy.inserted.count(), 1);
    EXPECT_EQ(model->filteredCount(), 2);
    EXPECT_EQ(rows(*model), freshRows(objects, *model));
}

TEST_F(RouteListEdits, GroupThatOnlyLooksUngroupedStillUngroupsTheTable)
{
    objects.engine.setEndpoints({route("r1", HTTPMethod::GET, "h", "/a", "Ungrouped"), route("r2", HTTPMethod::GET, "h", "/b")});
    ASSERT_TRUE(model->hasGroups());
    objects.engine.setGroup(QStringLiteral("r1"), QString());
    EXPECT_FALSE(model->hasGroups());
    EXPECT_EQ(model->rowOfHeader("Ungrouped"), -1);
    EXPECT_EQ(model->shownRouteIDs(), (QStringList{"r1", "r2"}));
}

TEST_F(RouteListEdits, EditInACollapsedSectionSendsNoRowChangeAndShowsWhenOpened)
{
    model->toggleCollapsed(QStringLiteral("Shop"));
    testsupport::ModelSignals spy(model.get());
    Endpoint hidden = current("r1");
    hidden.path = "/v1/cart/hidden";
    objects.engine.updateEndpoint(hidden);
    EXPECT_EQ(spy.changed.count(), 0);
    EXPECT_EQ(spy.structural(), 0);
    model->toggleCollapsed(QStringLiteral("Shop"));
    EXPECT_EQ(model->index(model->rowOfRoute("r1")).data(RouteListModel::PathRole).toString(), "/v1/cart/hidden");
}

TEST_F(RouteListEdits, RowsMatchAFreshModelAfterEveryKindOfEdit)
{
    model->setFilter(QStringLiteral("v1"));
    model->toggleCollapsed(QStringLiteral("Admin"));
    objects.state.setSelectedEndpointID(QStringLiteral("r1"));
    const auto edit = [&](const std::string &id, const std::function<void(Endpoint &)> &change) {
        Endpoint e = current(id);
        change(e);
        objects.engine.updateEndpoint(e);
    };
    const std::vector<std::function<void()>> edits = {
        [&] { edit("r1", [](Endpoint &e) { e.method = HTTPMethod::PATCH; }); },
        [&] { edit("r2", [](Endpoint &e) { e.host = "v1.example"; }); },
        [&] { edit("r3", [](Endpoint &e) { e.path = "/v1/budget"; }); },
        [&] { edit("r4", [](Endpoint &e) { e.path = "/v2/cart"; }); },
        [&] { objects.engine.toggleEndpoint(QStringLiteral("r1")); },
        [&] { objects.engine.setGroup(QStringLiteral("r3"), QStringLiteral("Admin")); },
        [&] { edit("r4", [](Endpoint &e) { e.path = "/v1/cart"; }); },
        [&] { objects.engine.duplicateEndpoint(QStringLiteral("r1")); },
        [&] { edit("r2", [](Endpoint &e) { e.status = 500; }); },
        [&] { objects.engine.renameGroup(QStringLiteral("Admin"), QStringLiteral("Ops")); },
        [&] { objects.engine.setGroup(QStringLiteral("r2"), QString()); },
        [&] { edit("r1", [](Endpoint &e) { e.latency = 3000; }); },
    };
    for (std::size_t i = 0; i < edits.size(); ++i) {
        edits[i]();
        EXPECT_EQ(rows(*model), freshRows(objects, *model)) << "after edit " << i;
    }
}
