// History against a recording fake engine whose replies the tests release in the order they choose:
// reload races, paging, failures, the debounced filter, selection, clear, and the detail panel.
#include "screens/traffic/history_detail_panel.h"
#include "screens/traffic/history_model.h"
#include "screens/traffic/history_screen.h"
#include "screens/traffic/traffic_list_view.h"
#include "screens/traffic/traffic_logic.h"
#include "screens/traffic/traffic_table.h"

#include "design/badges.h"
#include "design/code_text_view.h"
#include "design/copy_button.h"
#include "design/fonts.h"
#include "design/keyboard_reach.h"
#include "design/keyboard_rows.h"
#include "design/ks_button.h"
#include "design/snow_context_menu.h"
#include "design/snow_empty_state.h"
#include "design/snow_menu_popup.h"
#include "design/search_field.h"
#include "design/snow_text.h"
#include "engine/link/ops_test_support.h"
#include "traffic_test_support.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTest>

namespace {

QByteArray recordJson(const std::string &id, const std::string &extra = {})
{
    return QByteArray::fromStdString(R"({"id":")" + id + R"(","time":"10:42:07","method":"GET","host":"api.acme.dev",)"
                                     R"("path":"/v2/items/)" + id + R"(","status":200,"latencyMs":12,"injected":false)"
                                     + extra + "}");
}

// A page of n records named prefix<start>..prefix<start+n-1>.
QByteArray page(int n, const std::string &prefix = "p", int start = 0)
{
    QByteArray out = "[";
    for (int i = 0; i < n; ++i) {
        if (i)
            out += ',';
        out += recordJson(prefix + std::to_string(start + i));
    }
    return out + "]";
}

QStringList ids(const HistoryModel &model)
{
    QStringList out;
    for (const TrafficRecord &r : model.records())
        out.append(QString::fromStdString(r.id));
    return out;
}

class History : public FakeEngineTest
{
protected:
    void SetUp() override
    {
        FakeEngineTest::SetUp();
        m_answer = [this](const RecordedRequest &request) -> std::optional<CannedReply> {
            if (request.path().startsWith("/traffic") && m_hold)
                return CannedReply::held();
            return std::nullopt;
        };
        connectClient();
        QObject::connect(m_client.network(), &QNetworkAccessManager::finished, &m_host, [this] { ++m_handled; });
    }

    // Releases a held answer and waits until the link has taken it in, so a check that it changed
    // nothing runs after it arrived.
    bool deliver(qsizetype index, const CannedReply &reply)
    {
        const int before = m_handled;
        return m_server.release(index, reply) && testsupport::waitFor([&] { return m_handled > before; });
    }

    HistoryScreen *open()
    {
        m_screen = m_host.show(new HistoryScreen(AppContext{nullptr, &m_client, nullptr, nullptr}));
        return m_screen;
    }
    qsizetype lastGet() const { return m_server.lastIndexOf("GET", "/traffic"); }
    int gets() const { return count("GET", "/traffic"); }
    bool waitGets(int n) { return testsupport::waitFor([&] { return gets() == n; }); }
    QByteArray lastTarget() const { return m_server.requests().at(lastGet()).target; }
    QString emptyTitle() const { return traffictest::emptyTitle(m_screen->emptyState()); }

    bool m_hold = true;
    int m_handled = 0;
    traffictest::Host m_host;
    HistoryScreen *m_screen = nullptr;
};

} // namespace

TEST_F(History, OnlyTheNewestReloadAppliesItsRows)
{
    open();
    ASSERT_TRUE(waitGets(1));
    const qsizetype first = lastGet();
    m_screen->reload();
    ASSERT_TRUE(waitGets(2));
    const qsizetype second = lastGet();

    ASSERT_TRUE(m_server.release(second, CannedReply::ok(page(3, "new"))));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_screen->model()->loading(); }));
    EXPECT_EQ(ids(*m_screen->model()), (QStringList{"new0", "new1", "new2"}));
    // The older reload answers last and loses.
    ASSERT_TRUE(deliver(first, CannedReply::ok(page(5, "old"))));
    EXPECT_EQ(ids(*m_screen->model()), (QStringList{"new0", "new1", "new2"}));
    EXPECT_FALSE(m_screen->model()->loading());

    // An older reload that answers first neither applies nor ends the loading.
    m_screen->reload();
    ASSERT_TRUE(waitGets(3));
    const qsizetype third = lastGet();
    m_screen->reload();
    ASSERT_TRUE(waitGets(4));
    ASSERT_TRUE(deliver(third, CannedReply::ok(page(1, "stale"))));
    EXPECT_TRUE(m_screen->model()->loading());
    EXPECT_EQ(ids(*m_screen->model()), (QStringList{"new0", "new1", "new2"}));
    ASSERT_TRUE(m_server.release(lastGet(), CannedReply::ok(page(2, "newest"))));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_screen->model()->loading(); }));
    EXPECT_EQ(ids(*m_screen->model()), (QStringList{"newest0", "newest1"}));
}

TEST_F(History, ModelPassesTheModelTesterThroughReloadAndPaging)
{
    testsupport::ModelTestMessages messages;
    HistoryModel model(&m_client);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);
    model.reload();
    ASSERT_TRUE(waitGets(1));
    ASSERT_TRUE(m_server.release(lastGet(), CannedReply::ok(page(100))));
    ASSERT_TRUE(testsupport::waitFor([&] { return model.canFetchMore({}); }));
    model.fetchMore({});
    ASSERT_TRUE(waitGets(2));
    ASSERT_TRUE(m_server.release(lastGet(), CannedReply::ok(page(100, "p", 100))));
    ASSERT_TRUE(testsupport::waitFor([&] { return model.canFetchMore({}); }));
    EXPECT_EQ(model.records().size(), 200u);
    model.fetchMore({});
    ASSERT_TRUE(waitGets(3));
    ASSERT_TRUE(m_server.release(lastGet(), CannedReply::ok(page(5, "p", 200))));
    ASSERT_TRUE(testsupport::waitFor([&] { return !model.hasMore(); }));
    EXPECT_EQ(model.rowCount(), 205);
    model.reload();
    ASSERT_TRUE(waitGets(4));
    ASSERT_TRUE(m_server.release(lastGet(), CannedReply::ok("[]")));
    ASSERT_TRUE(testsupport::waitFor([&] { return !model.loading(); }));
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(messages.take(), QStringList{});
}

TEST_F(History, FullPagesOfferMoreAndShortPagesEndPaging)
{
    open();
    ASSERT_TRUE(waitGets(1));
    ASSERT_TRUE(m_server.release(lastGet(), CannedReply::ok(page(99))));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_screen->model()->loading(); }));
    EXPECT_FALSE(m_screen->model()->hasMore());
    EXPECT_EQ(m_screen->model()->rowCount(), 99); // no more row
    EXPECT_FALSE(m_screen->model()->canFetchMore({}));

    m_screen->reload();
    ASSERT_TRUE(waitGets(2));
    ASSERT_TRUE(m_server.release(lastGet(), CannedReply::ok(page(100))));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_screen->model()->loading(); }));
    EXPECT_TRUE(m_screen->model()->hasMore());
    EXPECT_EQ(m_screen->model()->rowCount(), 101); // the more row
    EXPECT_EQ(m_screen->countBadge()->count(), 100);

    // The view asks for the next page as the more row comes into view; it asks before the last id.
    m_screen->list()->scrollToBottom();
    ASSERT_TRUE(waitGets(3));
    EXPECT_EQ(lastTarget(), QByteArray("/traffic?limit=100&before=p99"));
    // While it is in flight, the more row asks for nothing more.
    EXPECT_FALSE(m_screen->model()->canFetchMore({}));
    ASSERT_TRUE(m_server.release(lastGet(), CannedReply::ok(page(20, "p", 100))));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_screen->model()->records().size() == 120; }));
    EXPECT_FALSE(m_screen->model()->hasMore());
    EXPECT_EQ(m_screen->model()->rowCount(), 120);
}

TEST_F(History, AReloadDuringLoadMoreLeavesNoDuplicates)
{
    open();
    ASSERT_TRUE(waitGets(1));
    ASSERT_TRUE(m_server.release(lastGet(), CannedReply::ok(page(100))));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_screen->model()->records().size() == 100; }));
    m_screen->model()->loadMore();
    ASSERT_TRUE(waitGets(2));
    const qsizetype more = lastGet();
    m_screen->reload();
    ASSERT_TRUE(waitGets(3));
    ASSERT_TRUE(m_server.release(lastGet(), CannedReply::ok(page(100))));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_screen->model()->loading(); }));
    // The page asked for before the reload arrives late and is dropped.
    ASSERT_TRUE(deliver(more, CannedReply::ok(page(100, "p", 50))));
    const QStringList shown = ids(*m_screen->model());
    EXPECT_EQ(shown.size(), 100);
    EXPECT_EQ(QSet<QString>(shown.begin(), shown.end()).size(), shown.size());
}

TEST_F(History, PagingKeepsTheFilterTheListWasLoadedWith)
{
    open();
    ASSERT_TRUE(waitGets(1));
    m_screen->setFilter(QStringLiteral("a b"));
    ASSERT_TRUE(waitGets(2)); // after the debounce
    EXPECT_EQ(lastTarget(), QByteArray("/traffic?limit=100&filter=a%20b"));
    ASSERT_TRUE(m_server.release(lastGet(), CannedReply::ok(page(100))));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_screen->model()->hasMoreRow() && !m_screen->model()->loading(); }));
    // A new filter typed but not yet sent does not change the list's next page.
    m_screen->setFilter(QStringLiteral("zzz"));
    m_screen->model()->loadMore();
    ASSERT_TRUE(waitGets(3));
    EXPECT_EQ(lastTarget(), QByteArray("/traffic?limit=100&before=p99&filter=a%20b"));
}

TEST_F(History, TypingIsDebouncedIntoOneReload)
{
    open();
    EXPECT_EQ(m_screen->filterDebounce(), 250);
    m_screen->setFilterDebounce(20);
    ASSERT_TRUE(waitGets(1));
    m_screen->setFilter(QStringLiteral("u"));
    m_screen->setFilter(QStringLiteral("us"));
    m_screen->setFilter(QStringLiteral("use"));
    EXPECT_EQ(gets(), 1);
    ASSERT_TRUE(waitGets(2));
    EXPECT_EQ(lastTarget(), QByteArray("/traffic?limit=100&filter=use"));
    m_screen->setFilter({});
    ASSERT_TRUE(waitGets(3));
    EXPECT_EQ(lastTarget(), QByteArray("/traffic?limit=100"));
    opstest::settle(2 * m_screen->filterDebounce());
    EXPECT_EQ(gets(), 3);
}

TEST_F(History, FailuresShowTheErrorAndAFailedPageCanBeRetried)
{
    m_hold = false;
    bool fail = true;
    m_answer = [&](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (!request.path().startsWith("/traffic"))
            return std::nullopt;
        CannedReply reply = CannedReply::ok(request.target.contains("before") ? page(10, "q") : page(100));
        reply.cutMidBody = fail;
        return reply;
    };
    m_client.setHealth(EngineHealth{}); // the engine answered health before: the failure still shows
    open();
    ASSERT_TRUE(testsupport::waitFor([&] { return m_screen->body() == HistoryScreen::Body::error; }));
    EXPECT_EQ(emptyTitle(), QStringLiteral("Couldn't load history"));

    fail = false;
    m_screen->reload();
    ASSERT_TRUE(testsupport::waitFor([&] { return m_screen->body() == HistoryScreen::Body::list; }));
    fail = true;
    m_screen->model()->loadMore();
    ASSERT_TRUE(testsupport::waitFor([&] { return m_screen->model()->moreFailed(); }));
    // Paging has not silently ended: the rows stay and the more row waits for a retry.
    EXPECT_TRUE(m_screen->model()->hasMoreRow());
    EXPECT_EQ(m_screen->model()->records().size(), 100u);
    EXPECT_FALSE(m_screen->model()->canFetchMore({}));
    fail = false;
    const QModelIndex more = m_screen->model()->index(100);
    m_screen->list()->scrollTo(more);
    QTest::mouseClick(m_screen->list()->viewport(), Qt::LeftButton, {}, m_screen->list()->visualRect(more).center());
    ASSERT_TRUE(testsupport::waitFor([&] { return m_screen->model()->records().size() == 110; }));
    EXPECT_FALSE(m_screen->model()->hasMoreRow());
}

TEST(HistoryOffline, ADeadEngineShowsTheFailureState)
{
    EngineClient engine; // never booted: no control port
    traffictest::Host host;
    auto *screen = host.show(new HistoryScreen(AppContext{nullptr, &engine, nullptr, nullptr}));
    EXPECT_EQ(screen->body(), HistoryScreen::Body::error);
    auto *state = qobject_cast<SnowEmptyState *>(screen->emptyState());
    ASSERT_TRUE(state);
    EXPECT_EQ(state->messageText()->text(), QStringLiteral("The engine didn't respond. Check that it's running and try again."));
    traffictest::render(&host, "history-error-light");
    host.setTheme(Palette::dark());
    traffictest::render(&host, "history-error-dark");
}

TEST_F(History, EmptyHistoryOffersStartOnlyWhileTheProxyIsStopped)
{
    open();
    ASSERT_TRUE(waitGets(1));
    EXPECT_EQ(m_screen->body(), HistoryScreen::Body::loading);
    ASSERT_TRUE(m_server.release(lastGet(), CannedReply::ok("[]")));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_screen->body() == HistoryScreen::Body::empty; }));
    auto *state = qobject_cast<SnowEmptyState *>(m_screen->emptyState());
    ASSERT_TRUE(state);
    EXPECT_EQ(state->titleText()->text(), QStringLiteral("No recorded traffic"));
    EXPECT_EQ(state->messageText()->text(), QStringLiteral("Requests through localhost:9999 are recorded here."));
    ASSERT_TRUE(state->actions());
    m_client.setProxyRunning(true);
    state = qobject_cast<SnowEmptyState *>(m_screen->emptyState());
    ASSERT_TRUE(state);
    EXPECT_EQ(state->actions(), nullptr);
}

TEST_F(History, TheLastSelectionWinsAndClosingStaysClosed)
{
    open();
    ASSERT_TRUE(waitGets(1));
    ASSERT_TRUE(m_server.release(lastGet(), CannedReply::ok(page(3))));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_screen->model()->records().size() == 3; }));

    const auto fetched = [&](const char *id, int n) {
        return testsupport::waitFor([&] { return count("GET", QByteArray("/traffic/") + id) == n; });
    };
    const auto lastFetch = [&](const char *id) { return m_server.lastIndexOf("GET", QByteArray("/traffic/") + id); };
    m_screen->select(QStringLiteral("p0"));
    EXPECT_EQ(m_screen->detail()->id, "p0");
    EXPECT_TRUE(m_screen->loadingDetail());
    EXPECT_TRUE(m_screen->detailPanel()->loaderShown());
    ASSERT_TRUE(fetched("p0", 1));
    const qsizetype a = lastFetch("p0");
    m_screen->select(QStringLiteral("p1"));
    ASSERT_TRUE(fetched("p1", 1));
    const qsizetype b = lastFetch("p1");
    ASSERT_TRUE(m_server.release(b, CannedReply::ok(recordJson("p1", R"(,"respBody":"{\"b\":1}")"))));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_screen->loadingDetail(); }));
    ASSERT_TRUE(deliver(a, CannedReply::ok(recordJson("p0", R"(,"respBody":"{\"a\":1}")"))));
    EXPECT_EQ(m_screen->detail()->id, "p1");
    EXPECT_EQ(m_screen->detailPanel()->responseBody()->text(), QStringLiteral("{\"b\":1}"));

    // Selecting it again fetches again but does not re-set the identical body.
    const int changes = m_screen->detailPanel()->responseBody()->textChanges();
    m_screen->select(QStringLiteral("p1"));
    ASSERT_TRUE(fetched("p1", 2));
    ASSERT_TRUE(m_server.release(lastFetch("p1"), CannedReply::ok(recordJson("p1", R"(,"respBody":"{\"b\":1}")"))));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_screen->loadingDetail(); }));
    EXPECT_EQ(m_screen->detailPanel()->responseBody()->textChanges(), changes);

    // A fetch that fails leaves the list's copy in place.
    m_screen->select(QStringLiteral("p2"));
    ASSERT_TRUE(fetched("p2", 1));
    ASSERT_TRUE(m_server.release(lastFetch("p2"), CannedReply::ok("{}")));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_screen->loadingDetail(); }));
    EXPECT_EQ(m_screen->detail()->id, "p2");

    m_screen->select(QStringLiteral("p0"));
    ASSERT_TRUE(fetched("p0", 2));
    m_screen->close();
    ASSERT_TRUE(deliver(lastFetch("p0"), CannedReply::ok(recordJson("p0"))));
    EXPECT_FALSE(m_screen->detail().has_value());
    EXPECT_TRUE(testsupport::waitFor([&] { return !m_screen->detailPanel()->isVisible(); }));
}

TEST_F(History, ClearClosesThePanelAndReloadsOnceTheDeleteIsAnswered)
{
    open();
    ASSERT_TRUE(waitGets(1));
    ASSERT_TRUE(m_server.release(lastGet(), CannedReply::ok(page(2))));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_screen->model()->records().size() == 2; }));
    m_screen->select(QStringLiteral("p0"));
    ASSERT_TRUE(testsupport::waitFor([&] { return count("GET", "/traffic/p0") == 1; }));
    m_screen->clear();
    EXPECT_FALSE(m_screen->detail().has_value());
    ASSERT_TRUE(testsupport::waitFor([&] { return count("DELETE", "/traffic") == 1; }));
    opstest::settle(100);
    EXPECT_EQ(gets(), 1); // no first page while the delete is unanswered
    ASSERT_TRUE(m_server.release(m_server.lastIndexOf("DELETE", "/traffic"), CannedReply::ok("{}")));
    ASSERT_TRUE(waitGets(2));
    EXPECT_EQ(lastTarget(), QByteArray("/traffic?limit=100"));
}

TEST_F(History, RowMenuReplaysOnlyWhileTheProxyRuns)
{
    m_hold = false;
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/traffic")
            return CannedReply::ok(page(2));
        return std::nullopt;
    };
    open();
    ASSERT_TRUE(testsupport::waitFor([&] { return m_screen->body() == HistoryScreen::Body::list; }));
    TrafficListView *list = m_screen->list();
    const auto press = [&] {
        QTest::mousePress(list->viewport(), Qt::RightButton, {}, list->visualRect(list->model()->index(1, 0)).center());
        SnowContextMenu *menu = list->contextMenu();
        EXPECT_TRUE(menu->isOpen());
        const QList<SnowMenuItem> items = menu->menu()->currentItems();
        menu->menu()->close();
        return items;
    };
    QList<SnowMenuItem> items = press();
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items.first().title, QStringLiteral("Replay request"));
    EXPECT_TRUE(items.first().disabled);
    m_client.setProxyRunning(true);
    items = press();
    ASSERT_EQ(items.size(), 1);
    EXPECT_FALSE(items.first().disabled);
    items.first().action();
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/replay/p1") == 1; }));
}

TEST_F(History, TabReachesTheRowsWhoseKeysOpenARecordAndItsMenu)
{
    m_hold = false;
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/traffic")
            return CannedReply::ok(page(3));
        if (request.path().startsWith("/traffic/"))
            return CannedReply::ok(recordJson(request.path().mid(9).toStdString()));
        return std::nullopt;
    };
    m_client.setProxyRunning(true);
    open();
    ASSERT_TRUE(testsupport::waitFor([&] { return m_screen->body() == HistoryScreen::Body::list; }));
    m_host.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m_host));
    TrafficListView *list = m_screen->list();
    const auto focused = [] { return QApplication::focusWidget(); };

    // After the toolbar, Tab comes to the rows.
    QTest::mouseClick(m_screen->searchField()->lineEdit(), Qt::LeftButton);
    QList<QWidget *> stops;
    for (int i = 0; i < 6 && focused() != list; ++i) {
        ASSERT_TRUE(testsupport::pressKey(Qt::Key_Tab));
        stops.append(focused());
    }
    ASSERT_EQ(focused(), list);
    EXPECT_EQ(stops.size(), 3) << "Refresh, Clear, then the rows";
    KeyboardRows *keys = list->keyboardRows();
    const auto row = [&] { return keys->current().row(); };
    const QColor ring = KeyboardReach::ringColor(Palette::of(list));
    const auto ringAt = [&](int at) {
        screenstest::settle(list);
        return testsupport::pixelsOfColor(list->viewport()->grab().toImage(), list->visualRect(list->model()->index(at, 0)),
                                          ring);
    };
    EXPECT_EQ(row(), 0);
    EXPECT_GT(ringAt(0), 40);
    EXPECT_EQ(ringAt(1), 0);

    ASSERT_TRUE(testsupport::pressKey(Qt::Key_End));
    EXPECT_EQ(row(), 2);
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Up));
    EXPECT_EQ(row(), 1);
    EXPECT_GT(ringAt(1), 40);
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Return));
    ASSERT_TRUE(m_screen->detail().has_value());
    EXPECT_EQ(m_screen->detail()->id, "p1");
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_screen->loadingDetail(); }));
    EXPECT_EQ(focused(), list) << "the keys stay on the rows beside the open record";
    traffictest::render(&m_host, QStringLiteral("history-keyboard-row"));

    // The Menu key opens the row's replay menu.
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Menu));
    ASSERT_TRUE(list->contextMenu()->isOpen());
    const QList<SnowMenuItem> items = list->contextMenu()->menu()->currentItems();
    list->contextMenu()->menu()->close();
    ASSERT_EQ(items.size(), 1);
    items.first().action();
    EXPECT_TRUE(testsupport::waitFor([&] { return count("POST", "/replay/p1") == 1; }));

    // A click puts the keys on the row clicked.
    ASSERT_TRUE(testsupport::waitFor([&] { return focused() == list; }));
    const QRect first = list->visualRect(list->model()->index(0, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, first.center());
    EXPECT_EQ(m_screen->detail()->id, "p0");
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Down));
    EXPECT_EQ(row(), 1);
}

TEST(HistoryDetail, ShowsTheRecordAsTheEngineSentIt)
{
    EngineClient engine;
    traffictest::Host host(Palette::light(), {360, 700});
    bool closed = false;
    auto *panel = host.show(new HistoryDetailPanel(&engine, [&] { closed = true; }, [] {}));
    TrafficRecord record;
    record.id = "h1";
    record.time = "2026-12-07 10:42:07";
    record.method = "patch";
    record.host = "api.acme.dev";
    record.path = "/v2/users/42";
    record.query = "expand=profile";
    record.status = 503;
    record.latencyMs = 1001;
    record.injected = true;
    record.reqHeaders = std::map<std::string, std::string>{{"accept", "application/json"}, {"Zeta", "z"},
                                                           {"Authorization", "Bearer abc"}};
    record.reqBody = "";
    record.respBody = R"({"id":42,"name":"Ada","tags":["a","b"],"active":true,"manager":null})";
    panel->setRecord(record, true);

    EXPECT_EQ(panel->urlView()->text(), QStringLiteral("http://api.acme.dev/v2/users/42?expand=profile"));
    EXPECT_EQ(panel->methodBadge()->method(), QStringLiteral("PATCH"));
    EXPECT_TRUE(panel->statusChip()->injected());
    EXPECT_EQ(panel->metaLabels(), (QStringList{"Time", "Latency", "Source"}));
    EXPECT_EQ(panel->headerNames(), (QStringList{"Authorization", "Zeta", "accept"}));
    EXPECT_TRUE(panel->requestBodyEmpty());
    EXPECT_FALSE(panel->requestCopy()->isVisibleTo(panel));
    EXPECT_FALSE(panel->responseBodyEmpty());
    EXPECT_EQ(panel->responseCopy()->text(), QString::fromStdString(*record.respBody));
    EXPECT_TRUE(panel->loaderShown());
    EXPECT_TRUE(panel->proxyOffShown());
    EXPECT_TRUE(panel->replayButton()->disabled());
    traffictest::render(&host, "history-detail-light");
    host.setTheme(Palette::dark());
    traffictest::render(&host, "history-detail-dark");

    engine.setProxyRunning(true);
    EXPECT_FALSE(panel->proxyOffShown());
    EXPECT_FALSE(panel->replayButton()->disabled());

    record.injected = false;
    record.scheme = "https";
    record.query.reset();
    record.reqHeaders = std::map<std::string, std::string>{};
    panel->setRecord(record, false);
    EXPECT_EQ(panel->urlView()->text(), QStringLiteral("https://api.acme.dev/v2/users/42"));
    EXPECT_EQ(panel->metaLabels(), (QStringList{"Time", "Latency"}));
    EXPECT_FALSE(panel->headersShown());
    EXPECT_FALSE(panel->loaderShown());
    EXPECT_FALSE(closed);
}

TEST(CodeText, WrapsLongLinesAndColoursLongBodiesOffTheWindow)
{
    traffictest::Host host(Palette::light(), {300, 200});
    auto *view = host.show(new CodeTextView(QFont(QStringLiteral("monospace")), {}, true));
    view->setFixedWidth(300);
    const QString url = QStringLiteral("http://api.acme.dev/") + QString(400, QLatin1Char('x'));
    view->setText(url);
    EXPECT_GT(view->lineCount(), 5);
    EXPECT_EQ(view->heightForWidth(300) > view->heightForWidth(3000), true);
    view->selectAll();
    EXPECT_EQ(view->selectedText(), url);

    // Past the synchronous limit the colours arrive later, from a worker.
    QString big = QStringLiteral("[");
    while (big.size() < CodeTextView::SyncColoringLimit + 10)
        big += QStringLiteral("{\"id\":12345,\"name\":\"x\"},");
    big += QStringLiteral("1]");
    view->setText(big);
    ASSERT_TRUE(testsupport::waitFor([&] { return view->colored(); }));
    const int changes = view->textChanges();
    view->setText(big);
    EXPECT_EQ(view->textChanges(), changes);
}

TEST_F(History, AnOpenRecordBesideTheInfoPanelLeavesTheColumnsLegible)
{
    // The screen's share of a 1280 x 820 window with the sidebar and the info panel open.
    m_host.resize(751, 772);
    open();
    ASSERT_TRUE(waitGets(1));
    ASSERT_TRUE(m_server.release(lastGet(), CannedReply::ok(page(3))));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_screen->body() == HistoryScreen::Body::list; }));
    const auto words = [&] {
        for (SnowText *text : m_screen->findChildren<SnowText *>())
            if (text->text() == QStringLiteral("records"))
                return text;
        return static_cast<SnowText *>(nullptr);
    }();
    ASSERT_NE(words, nullptr);
    QCoreApplication::processEvents();
    const int wideSearch = m_screen->searchField()->width();
    EXPECT_EQ(wideSearch, 340) << "the gap takes only what the filter leaves";
    EXPECT_FALSE(m_screen->toolbar()->actionsBelow());
    EXPECT_EQ(m_screen->list()->width(), 751 - 2 * 24 - 2 * 12) << "the table spans the screen";

    m_screen->select(QStringLiteral("p0"));
    ASSERT_TRUE(testsupport::waitFor([&] { return count("GET", "/traffic/p0") == 1; }));
    ASSERT_TRUE(m_server.release(m_server.lastIndexOf("GET", "/traffic/p0"), CannedReply::ok(recordJson("p0"))));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_screen->loadingDetail(); }));
    QCoreApplication::processEvents();
    ASSERT_TRUE(m_screen->detailPanel()->isVisible());
    // The panel slides in to its full width.
    EXPECT_TRUE(testsupport::waitFor([&] { return m_screen->detailPanel()->width() == 360; }));
    QCoreApplication::processEvents();

    // The table spans the column beside the panel; Host / Path gave its room, nothing scrolls sideways.
    EXPECT_EQ(m_screen->list()->width(), m_screen->detailPanel()->x() - 2 * 24 - 2 * 12);
    for (QScrollArea *area : m_screen->findChildren<QScrollArea *>())
        EXPECT_EQ(area->horizontalScrollBar()->maximum(), 0);
    const QRect row = m_screen->list()->visualRect(m_screen->list()->model()->index(0, 0));
    EXPECT_EQ(row.width(), m_screen->list()->viewport()->width());
    const traffictable::Cells cells = traffictable::cells(row);
    EXPECT_LE(cells.latency.right(), row.right() + 1);
    // Host / Path keeps room for a host and a path: Time, shown in the panel beside, gave way first and
    // the other columns closed up on their pills and texts.
    EXPECT_GE(cells.address.width(), 150);
    EXPECT_EQ(cells.time.width(), 0);
    EXPECT_GE(cells.method.width(), MethodBadge::sizeFor(QStringLiteral("DELETE")).width());
    EXPECT_GE(cells.status.width(), StatusChip::sizeFor(200, false).width());
    EXPECT_GE(m_screen->searchField()->width(), 160);
    EXPECT_GE(words->width(), words->sizeHint().width()) << "the word \"records\" stays whole";
    // Refresh and Clear stay whole and in sight beside the record, on a row of their own.
    EXPECT_TRUE(m_screen->toolbar()->actionsBelow());
    for (const QString &title : {QStringLiteral("Refresh"), QStringLiteral("Clear")}) {
        SecondaryButton *button = nullptr;
        for (SecondaryButton *candidate : m_screen->toolbar()->findChildren<SecondaryButton *>())
            if (candidate->title() == title)
                button = candidate;
        ASSERT_NE(button, nullptr) << title.toStdString();
        EXPECT_TRUE(button->isVisible());
        EXPECT_EQ(button->width(), button->sizeHint().width()) << title.toStdString();
        const QRect shown(button->mapTo(m_screen, QPoint(0, 0)), button->rect().size());
        EXPECT_GE(shown.left(), 0) << title.toStdString();
        EXPECT_LE(shown.right(), m_screen->detailPanel()->x()) << title.toStdString();
        EXPECT_FALSE(shown.intersects(QRect(m_screen->searchField()->mapTo(m_screen, QPoint(0, 0)),
                                            m_screen->searchField()->size())));
    }
    // Status and latency are drawn in the row, left of the panel: the chip's fill and the latency's ink.
    for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
        m_host.setTheme(*palette);
        const QImage image(traffictest::render(&m_host, palette->isDark ? QStringLiteral("history-detail-beside-info-panel-dark")
                                                                         : QStringLiteral("history-detail-beside-info-panel")));
        const QPoint origin = m_screen->list()->viewport()->mapTo(&m_host, QPoint(0, 0));
        const QRect latency = cells.latency.toRect().translated(origin);
        const int ink = traffictest::inkRight(image, latency);
        EXPECT_GT(ink, latency.left()) << "the latency is drawn";
        EXPECT_LT(ink, m_screen->detailPanel()->mapTo(&m_host, QPoint(0, 0)).x());
        const QRect status = cells.status.toRect().translated(origin);
        const int rowLightness = image.pixelColor(status.topLeft()).lightness();
        int chipPixels = 0;
        for (int y = status.top(); y <= status.bottom(); ++y)
            for (int x = status.left(); x <= status.right(); ++x)
                chipPixels += qAbs(image.pixelColor(x, y).lightness() - rowLightness) > 25 ? 1 : 0;
        EXPECT_GT(chipPixels, 100) << "the status chip is drawn";
    }
    m_host.setTheme(Palette::light());

    // With the record closed the table is as wide as before.
    m_screen->close();
    EXPECT_TRUE(testsupport::waitFor([&] { return !m_screen->detailPanel()->isVisible(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(m_screen->list()->width(), 751 - 2 * 24 - 2 * 12);
    EXPECT_EQ(m_screen->searchField()->width(), wideSearch);
    EXPECT_FALSE(m_screen->toolbar()->actionsBelow());
}

// In the smallest window, with the info panel shown and a record open, the rows still show at least 120 px
// of the path: Time and Latency, both in the record's panel, give way, then the panel narrows.
TEST_F(History, AnOpenRecordInTheSmallestWindowLeavesThePathLegible)
{
    // The screen's share of a 1180 x 740 window with the sidebar and the info panel open.
    m_host.resize(651, 692);
    open();
    ASSERT_TRUE(waitGets(1));
    ASSERT_TRUE(m_server.release(lastGet(), CannedReply::ok(page(3))));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_screen->body() == HistoryScreen::Body::list; }));
    m_screen->select(QStringLiteral("p0"));
    ASSERT_TRUE(testsupport::waitFor([&] { return count("GET", "/traffic/p0") == 1; }));
    ASSERT_TRUE(m_server.release(m_server.lastIndexOf("GET", "/traffic/p0"), CannedReply::ok(recordJson("p0"))));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_screen->loadingDetail(); }));
    ASSERT_TRUE(testsupport::waitFor([&] {
        return m_screen->detailPanel()->isVisible()
               && m_screen->detailPanel()->x() + m_screen->detailPanel()->width() == m_screen->width();
    }));
    ASSERT_TRUE(testsupport::waitFor([&] { return testsupport::animationsSettled(m_screen); }));
    QCoreApplication::processEvents();
    EXPECT_GE(m_screen->detailPanel()->width(), 280);
    EXPECT_LT(m_screen->detailPanel()->width(), 360);

    const QRect row = m_screen->list()->visualRect(m_screen->list()->model()->index(0, 0));
    const traffictable::Cells cells = traffictable::cells(row);
    EXPECT_EQ(cells.time.width(), 0);
    EXPECT_GE(cells.method.width(), MethodBadge::sizeFor(QStringLiteral("DELETE")).width());
    EXPECT_GE(cells.status.width(), StatusChip::sizeFor(503, true).width());
    const QString longPath = QStringLiteral("/v2/orders/8f3a2c/items/77/fulfilment/shipments");
    const traffictable::AddressText shown =
        traffictable::fitAddress(QStringLiteral("api.acme.dev"), longPath, cells.address.width() - 8);
    EXPECT_GE(QFontMetricsF(Fonts::inter(13)).horizontalAdvance(shown.path), 120) << shown.path.toStdString();
    EXPECT_LE(row.right(), m_screen->detailPanel()->mapTo(m_screen, QPoint(0, 0)).x());
    for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
        m_host.setTheme(*palette);
        traffictest::render(&m_host, palette->isDark ? QStringLiteral("history-detail-smallest-window-dark")
                                                     : QStringLiteral("history-detail-smallest-window"));
    }
    m_host.setTheme(Palette::light());
}

TEST_F(History, RendersListLoadingAndEmptyInBothThemes)
{
    m_client.setProxyRunning(true);
    open();
    const auto both = [&](const QString &name) {
        m_host.setTheme(Palette::light());
        const QImage light(traffictest::render(&m_host, name + "-light"));
        m_host.setTheme(Palette::dark());
        const QImage dark(traffictest::render(&m_host, name + "-dark"));
        EXPECT_GT(light.pixelColor(4, 4).lightness(), 200);
        EXPECT_LT(dark.pixelColor(4, 4).lightness(), 80);
    };
    ASSERT_TRUE(waitGets(1));
    both(QStringLiteral("history-loading"));
    QByteArray rows = "[" + recordJson("a1") + "," + recordJson("a2", R"(,"status":503,"latencyMs":1001,"injected":true,"method":"delete")")
                      + "," + page(98).mid(1);
    ASSERT_TRUE(m_server.release(lastGet(), CannedReply::ok(rows)));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_screen->body() == HistoryScreen::Body::list; }));
    both(QStringLiteral("history-list"));
    m_screen->list()->scrollToBottom();
    both(QStringLiteral("history-list-more"));
    const int before = gets();
    m_screen->reload();
    ASSERT_TRUE(waitGets(before + 1));
    ASSERT_TRUE(m_server.release(lastGet(), CannedReply::ok("[]")));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_screen->body() == HistoryScreen::Body::empty; }));
    both(QStringLiteral("history-empty"));
}
