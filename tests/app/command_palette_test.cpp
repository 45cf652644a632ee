// The command palette's result model under QAbstractItemModelTester, its rows per query and row clicks.
#include "app/app_state.h"
#include "app/command_palette.h"
#include "design/palette.h"
#include "engine/engine_client.h"

#include "app/qt_printers.h"
#include "app/test_routes.h"

#include <QAbstractItemModelTester>
#include <QLineEdit>
#include <QLoggingCategory>

#include <QListView>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

using testroutes::route;

const QList<Endpoint> &routes = testroutes::paletteRoutes;

// Collects what QAbstractItemModelTester reports, so a broken model fails the test instead of only logging.
class ModelTesterFindings
{
public:
    ModelTesterFindings()
    {
        s_findings.clear();
        m_previous = qInstallMessageHandler(&ModelTesterFindings::handle);
    }
    ~ModelTesterFindings() { qInstallMessageHandler(m_previous); }
    const QStringList &findings() const { return s_findings; }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type != QtDebugMsg && context.category && QByteArray(context.category) == "qt.modeltest")
            s_findings.append(message);
    }
    static inline QStringList s_findings;
    QtMessageHandler m_previous = nullptr;
};

// One row as the palette lists it: "label:Go to", "screen:History", "route:GET /img/logo cdn.acme.dev".
QStringList describe(const PaletteResultsModel &model)
{
    QStringList rows;
    for (int i = 0; i < model.rowCount(); ++i) {
        const PaletteResultsModel::Row &row = model.row(i);
        switch (row.kind) {
        case PaletteResultsModel::Kind::label: rows.append("label:" + row.title); break;
        case PaletteResultsModel::Kind::screen: rows.append("screen:" + row.title); break;
        case PaletteResultsModel::Kind::route:
            rows.append("route:" + model.data(model.index(i), PaletteResultsModel::MethodRole).toString() + ' '
                        + row.title + ' ' + row.subtitle);
            break;
        }
    }
    return rows;
}

class PaletteSheet : public ::testing::Test
{
protected:
    void SetUp() override
    {
        engine.setEndpoints(routes);
        palette = std::make_unique<CommandPalette>(AppContext{&state, &engine, nullptr, nullptr});
        palette->setDismiss([this] { ++dismissed; });
    }

    AppState state;
    EngineClient engine;
    std::unique_ptr<CommandPalette> palette;
    int dismissed = 0;
};

struct QueryRows
{
    const char *query;
    QStringList rows;
};

class PaletteRows : public PaletteSheet, public ::testing::WithParamInterface<QueryRows>
{
};

} // namespace

TEST_F(PaletteSheet, ResultModelPassesTheModelTesterThroughQueriesAndRouteChanges)
{
    ModelTesterFindings findings;
    QAbstractItemModelTester tester(palette->results(), QAbstractItemModelTester::FailureReportingMode::Warning);
    for (const char *query : {"", "his", "get", " ", "zzz", "ACME", ""})
        palette->setQuery(QString::fromUtf8(query));
    engine.setEndpoints({});
    engine.setEndpoints(routes);
    palette->setQuery(QStringLiteral("zzz"));
    engine.setEndpoints({routes.first()});
    EXPECT_TRUE(findings.findings().isEmpty()) << findings.findings().join('\n').toStdString();
    // Captions are shown but can't be chosen; result rows can.
    const auto *model = palette->results();
    palette->setQuery({});
    EXPECT_EQ(model->flags(model->index(0)), Qt::ItemIsEnabled);
    EXPECT_TRUE(model->flags(model->index(1)) & Qt::ItemIsSelectable);
    EXPECT_EQ(model->rowCount(model->index(0)), 0);
}

TEST_P(PaletteRows, ListsTheGroupsAndRowsOfTheQuery)
{
    palette->setQuery(QString::fromUtf8(GetParam().query));
    EXPECT_EQ(describe(*palette->results()), GetParam().rows);
    EXPECT_EQ(palette->showsNoMatches(), GetParam().rows.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Queries, PaletteRows,
    ::testing::Values(
        QueryRows{"",
                  {"label:Go to", "screen:Dashboard", "screen:Endpoints", "screen:Live Traffic", "screen:History",
                   "screen:Schema Drift", "screen:Certificates", "screen:Devices", "label:Routes",
                   "route:POST /v1/login api.acme.dev", "route:GET /img/logo cdn.acme.dev",
                   "route:DELETE /Items/:id Shelf.ca"}},
        QueryRows{"his", {"label:Go to", "screen:History"}},
        QueryRows{"GET", {"label:Routes", "route:GET /img/logo cdn.acme.dev"}},
        QueryRows{"shelf", {"label:Routes", "route:DELETE /Items/:id Shelf.ca"}},
        QueryRows{" ", {"label:Go to", "screen:Live Traffic", "screen:Schema Drift"}},
        QueryRows{"zzz", {}}));

TEST_F(PaletteSheet, ClickingRowsOpensScreensWithHistoryAndRoutesWithout)
{
    state.select(NavItem::history);
    palette->setQuery({});
    // Row 0 is the "Go to" caption: a click on it does nothing.
    palette->activateRow(0);
    EXPECT_EQ(dismissed, 0);
    EXPECT_EQ(state.nav(), NavItem::history);

    // The last row is the third route: straight to the routes screen, no history entry.
    palette->activateRow(palette->results()->rowCount() - 1);
    EXPECT_EQ(dismissed, 1);
    EXPECT_EQ(state.nav(), NavItem::endpoints);
    EXPECT_EQ(state.selectedEndpointID(), std::optional<QString>(QStringLiteral("r3")));
    EXPECT_EQ(state.backStack(), (QList<NavItem>{NavItem::dashboard}));

    // A screen row goes through select: the routes screen is recorded and the selection cleared.
    palette->activateRow(4); // "History"
    EXPECT_EQ(dismissed, 2);
    EXPECT_EQ(state.nav(), NavItem::history);
    EXPECT_EQ(state.backStack(), (QList<NavItem>{NavItem::dashboard, NavItem::endpoints}));
    EXPECT_EQ(state.selectedEndpointID(), std::nullopt);
}

TEST_F(PaletteSheet, ReturnWithNothingMatchingKeepsThePaletteOpen)
{
    palette->setQuery(QStringLiteral("zzz"));
    emit palette->field()->returnPressed();
    EXPECT_EQ(dismissed, 0);
    EXPECT_EQ(state.nav(), NavItem::dashboard);
    palette->setQuery(QStringLiteral("get"));
    emit palette->field()->returnPressed();
    EXPECT_EQ(dismissed, 1);
    EXPECT_EQ(state.nav(), NavItem::endpoints);
    EXPECT_EQ(state.selectedEndpointID(), std::optional<QString>(QStringLiteral("r2")));
    EXPECT_TRUE(state.backStack().isEmpty());
}

TEST_F(PaletteSheet, QueryFieldTakesTheColoursOfThePaletteInForce)
{
    auto *field = palette->field();
    EXPECT_EQ(field->palette().color(QPalette::Text), ::Palette::light().foreground);
    // The window turns dark while the sheet is open.
    PaletteHost::set(palette.get(), ::Palette::dark());
    EXPECT_EQ(field->palette().color(QPalette::Text), ::Palette::dark().foreground);
    EXPECT_EQ(field->palette().color(QPalette::PlaceholderText), ::Palette::dark().faint);
}

TEST_F(PaletteSheet, ResultsStandTwoPixelsApartAndRowsAre36High)
{
    palette->resize(CommandPalette::Width, CommandPalette::Height);
    palette->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(palette.get()));
    QListView *view = palette->resultsView();
    const auto *model = palette->results();
    ASSERT_GE(model->rowCount(), 4);
    for (int row = 0; row + 1 < 4; ++row) {
        const QModelIndex index = model->index(row);
        const QModelIndex next = model->index(row + 1);
        const QRect drawn = PaletteRowDelegate::contentRect(view->visualRect(index), index);
        const QRect nextDrawn = PaletteRowDelegate::contentRect(view->visualRect(next), next);
        EXPECT_EQ(nextDrawn.top() - drawn.bottom() - 1, 2) << "between results " << row << " and " << row + 1;
        if (row > 0) {
            EXPECT_EQ(drawn.height(), 36) << "a result row is 36 high without its gap";
        }
    }
    EXPECT_EQ(PaletteRowDelegate::contentRect(view->visualRect(model->index(0)), model->index(0)).top(),
              view->visualRect(model->index(0)).top()) << "no gap above the first result";
}
