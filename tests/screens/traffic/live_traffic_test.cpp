// Live traffic: the filter, the flush-fed model, following the newest row, pause and clear, the
// replay menu and the screen's states, rendered in both themes.
#include "screens/traffic/live_traffic_model.h"
#include "screens/traffic/live_traffic_screen.h"
#include "screens/traffic/traffic_list_view.h"
#include "screens/traffic/traffic_table.h"
#include "screens/traffic/traffic_logic.h"

#include "design/badges.h"
#include "design/indicators.h"
#include "design/keyboard_reach.h"
#include "design/keyboard_rows.h"
#include "design/ks_button.h"
#include "design/search_field.h"
#include "design/snow_context_menu.h"
#include "design/snow_empty_state.h"
#include "design/snow_menu_popup.h"
#include "design/snow_text.h"
#include "traffic_test_support.h"

#include <QApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

using traffictest::feed;
using traffictest::requestEvent;

namespace {

constexpr int ShortFadeMs = 60; // the tests watch a fade end, not last

TrafficEntry entry(const std::string &path, int status, HTTPMethod method = HTTPMethod::GET,
                   const std::string &host = "api.test")
{
    TrafficEntry e;
    e.id = path;
    e.path = path;
    e.host = host;
    e.status = status;
    e.method = method;
    return e;
}

class LiveScreen : public ::testing::Test
{
protected:
    LiveTrafficScreen *open()
    {
        m_screen = m_host.show(new LiveTrafficScreen(AppContext{nullptr, &m_engine, nullptr, nullptr}));
        return m_screen;
    }
    QStringList menuTitlesAt(int row, bool *disabled)
    {
        TrafficListView *list = m_screen->list();
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        QTest::mousePress(list->viewport(), Qt::RightButton, {}, rect.center());
        SnowContextMenu *menu = list->contextMenu();
        QStringList titles;
        if (!menu->isOpen())
            return titles;
        for (const SnowMenuItem &item : menu->menu()->currentItems()) {
            titles.append(item.title);
            *disabled = item.disabled;
        }
        EXPECT_EQ(menu->menu()->width(), 190);
        menu->menu()->close();
        return titles;
    }
    QString emptyTitle() const { return traffictest::emptyTitle(m_screen->emptyState()); }

    EngineClient m_engine;
    traffictest::Host m_host;
    LiveTrafficScreen *m_screen = nullptr;
};

} // namespace

TEST(LiveTrafficFilter, MatchesPathHostStatusDigitsThenMethod)
{
    using trafficlogic::liveEntryMatches;
    EXPECT_TRUE(liveEntryMatches(entry("/a", 500), QStringLiteral("50")));
    EXPECT_TRUE(liveEntryMatches(entry("/a", 502), QStringLiteral("50")));
    EXPECT_TRUE(liveEntryMatches(entry("/a", 503), QStringLiteral("50")));
    EXPECT_FALSE(liveEntryMatches(entry("/a", 405), QStringLiteral("50")));
    EXPECT_TRUE(liveEntryMatches(entry("/v1/page/50", 200), QStringLiteral("50")));
    EXPECT_TRUE(liveEntryMatches(entry("/a", 200, HTTPMethod::GET, "h50.test"), QStringLiteral("50")));

    EXPECT_TRUE(liveEntryMatches(entry("/a", 200, HTTPMethod::GET), QStringLiteral("get")));
    EXPECT_TRUE(liveEntryMatches(entry("/a", 200, HTTPMethod::GET), QStringLiteral("gEt")));
    EXPECT_FALSE(liveEntryMatches(entry("/a", 200, HTTPMethod::POST), QStringLiteral("get")));
    EXPECT_TRUE(liveEntryMatches(entry("/Target", 200, HTTPMethod::POST), QStringLiteral("get")));

    // A trailing blank is kept: no method name holds it, only a path or host with the blank does.
    EXPECT_FALSE(liveEntryMatches(entry("/a", 200, HTTPMethod::GET), QStringLiteral("GET ")));
    EXPECT_TRUE(liveEntryMatches(entry("/search/GET all", 200, HTTPMethod::POST), QStringLiteral("GET ")));
    EXPECT_TRUE(liveEntryMatches(entry("/x", 200), QString()));
    // The status is compared as plain digits, the time and latency are not searched.
    EXPECT_FALSE(liveEntryMatches(entry("/a", 200), QStringLiteral("42ms")));
}

TEST(LiveTrafficLook, LatencyTintAndBadgeNames)
{
    EXPECT_EQ(trafficlogic::latencyColor(1000, Palette::light()), Palette::light().mutedForeground);
    EXPECT_EQ(trafficlogic::latencyColor(1001, Palette::light()), QColor(154, 107, 31));
    EXPECT_EQ(trafficlogic::latencyColor(1001, Palette::dark()), Palette::yellow());
    EXPECT_EQ(trafficlogic::badgeMethod("patch"), QStringLiteral("PATCH"));
    EXPECT_EQ(trafficlogic::badgeMethod("OPTIONS"), QStringLiteral("GET"));
    EXPECT_EQ(trafficlogic::badgeMethod(""), QStringLiteral("GET"));
    EXPECT_EQ(trafficlogic::noMatchTitle(QStringLiteral(" x ")), QStringLiteral("No entries match \u201C x \u201D"));
}

TEST(LiveTrafficModelTest, FlushesInsertAndRemoveRowsWithoutResets)
{
    testsupport::ModelTestMessages messages;
    EngineClient engine;
    LiveTrafficModel model(&engine);
    EXPECT_EQ(model.fadeDuration(), 700);
    model.setFadeDuration(ShortFadeMs);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removes(&model, &QAbstractItemModel::rowsRemoved);

    feed(engine, 120, "a");
    EXPECT_EQ(model.rowCount(), 120);
    feed(engine, 350, "b"); // a batch larger than the list: only its newest 300 stay
    ASSERT_EQ(model.rowCount(), 300);
    EXPECT_EQ(model.entry(0).id, "b50");
    EXPECT_EQ(model.entry(299).id, "b349");
    feed(engine, 7, "c");
    EXPECT_EQ(model.rowCount(), 300);
    EXPECT_EQ(model.entry(0).id, "b57");
    EXPECT_EQ(model.entry(299).id, "c6");
    EXPECT_EQ(resets.size(), 0);
    EXPECT_EQ(inserts.size(), 3);
    EXPECT_EQ(removes.size(), 2); // one removal per flush that pushed rows out
    EXPECT_EQ(removes.last().at(1).toInt(), 0);
    EXPECT_EQ(removes.last().at(2).toInt(), 6);

    // New rows start highlighted; once the link clears their mark they fade out to nothing.
    EXPECT_EQ(model.highlight(299), 1.0);
    ASSERT_TRUE(testsupport::waitFor([&] { return !engine.traffic().last().fresh; }));
    EXPECT_LT(model.highlight(299), 1.0);
    ASSERT_TRUE(testsupport::waitFor([&] { return model.fadingCount() == 0; }));
    EXPECT_EQ(model.highlight(299), 0.0);

    engine.clearTraffic();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(resets.size(), 1);
    feed(engine, 3, "d");
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(messages.take(), QStringList{});
}

TEST(LiveTrafficModelTest, FadeRepaintsOnlyTheFadingRows)
{
    EngineClient engine;
    LiveTrafficModel model(&engine);
    model.setFadeDuration(ShortFadeMs);
    feed(engine, 5, "old");
    traffictest::markAllSeen(engine);
    ASSERT_TRUE(model.fadingCount() == 0 && !engine.traffic().first().fresh);
    feed(engine, 2, "new");
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    ASSERT_TRUE(testsupport::waitFor([&] { return !engine.traffic().last().fresh && model.fadingCount() == 0; }));
    ASSERT_FALSE(changes.isEmpty());
    for (const QList<QVariant> &change : changes) {
        EXPECT_GE(change.at(0).toModelIndex().row(), 5);
        EXPECT_LE(change.at(1).toModelIndex().row(), 6);
    }
}

TEST_F(LiveScreen, StatesFollowTheFilterAndTheProxy)
{
    open();
    EXPECT_EQ(m_screen->body(), LiveTrafficScreen::Body::stopped);
    EXPECT_EQ(emptyTitle(), QStringLiteral("Proxy is stopped"));
    EXPECT_FALSE(m_screen->statusDot()->pulse());

    m_engine.setProxyRunning(true);
    EXPECT_EQ(m_screen->body(), LiveTrafficScreen::Body::waiting);
    EXPECT_TRUE(m_screen->statusDot()->pulse());
    const QList<SnowText *> texts = m_screen->emptyState()->findChildren<SnowText *>();
    ASSERT_EQ(texts.size(), 1);
    EXPECT_EQ(texts.first()->text(), trafficlogic::waitingText(9999));

    // With a filter that matches nothing the no-match state wins, quoting the filter as typed.
    m_screen->setFilter(QStringLiteral("zz "));
    EXPECT_EQ(m_screen->body(), LiveTrafficScreen::Body::noMatch);
    EXPECT_EQ(emptyTitle(), QStringLiteral("No entries match \u201Czz \u201D"));

    m_engine.handleEvent(requestEvent("1", "GET", "/v2/users", 500));
    m_engine.handleEvent(requestEvent("2", "POST", "/v2/orders", 502));
    m_engine.handleEvent(requestEvent("3", "GET", "/v2/items", 200));
    m_engine.flushTraffic();
    m_screen->setFilter(QStringLiteral("50"));
    EXPECT_EQ(m_screen->body(), LiveTrafficScreen::Body::list);
    EXPECT_EQ(m_screen->shownCount(), 2);
    EXPECT_EQ(m_screen->countBadge()->count(), 2);
    m_screen->setFilter(QStringLiteral("GET "));
    EXPECT_EQ(m_screen->shownCount(), 0);
    m_screen->setFilter(QStringLiteral("get"));
    EXPECT_EQ(m_screen->shownCount(), 2);
    m_screen->setFilter({});
    EXPECT_EQ(m_screen->searchField()->text(), QString());
    EXPECT_EQ(m_screen->shownCount(), 3);
}

TEST_F(LiveScreen, FollowsTheNewestRowAlsoOnceTheListIsFull)
{
    m_engine.setProxyRunning(true);
    open();
    feed(m_engine, 300, "a");
    ASSERT_EQ(m_screen->shownCount(), 300);
    QScrollBar *bar = m_screen->list()->verticalScrollBar();
    ASSERT_TRUE(testsupport::waitFor([&] { return bar->maximum() > 0 && bar->value() == bar->maximum(); }));

    bar->setValue(0);
    const int before = m_screen->followCount();
    feed(m_engine, 1, "b"); // the 301st entry: the count stays 300, the list still follows
    EXPECT_EQ(m_screen->shownCount(), 300);
    EXPECT_EQ(m_screen->followCount(), before + 1);
    ASSERT_TRUE(testsupport::waitFor([&] { return bar->value() == bar->maximum(); }));

    // While paused nothing follows.
    m_screen->togglePause();
    bar->setValue(0);
    feed(m_engine, 1, "c");
    EXPECT_EQ(m_screen->followCount(), before + 1);
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(LiveScreen, FilterTakesItsFullWidthAndNothingMovesWhenPauseSwaps)
{
    m_engine.setProxyRunning(true);
    open();
    QCoreApplication::processEvents();
    SearchField *field = m_screen->searchField();
    EXPECT_EQ(field->width(), 340) << "the gap takes only what the filter leaves";
    const QLineEdit *edit = field->lineEdit();
    EXPECT_LE(edit->fontMetrics().horizontalAdvance(edit->placeholderText()) + 8, edit->width())
        << "the placeholder shows whole";

    SecondaryButton *clear = nullptr;
    for (SecondaryButton *button : m_screen->findChildren<SecondaryButton *>())
        if (button->title() == QStringLiteral("Clear"))
            clear = button;
    ASSERT_NE(clear, nullptr);
    // Also where the filter is narrower than its widest.
    for (const int width : {1000, 640}) {
        m_host.resize(width, 640);
        QCoreApplication::processEvents();
        const QRect filterAt = field->geometry();
        const QPoint clearAt = clear->mapTo(m_screen, QPoint(0, 0));
        m_screen->togglePause();
        QCoreApplication::processEvents();
        EXPECT_EQ(field->geometry(), filterAt) << width;
        EXPECT_EQ(clear->mapTo(m_screen, QPoint(0, 0)), clearAt) << width;
        EXPECT_EQ(m_screen->pauseButton()->visibleRegion().boundingRect(), m_screen->pauseButton()->rect())
            << "\"Resume\" shows whole";
        traffictest::render(&m_host, QStringLiteral("live-toolbar-paused-") + QString::number(width));
        m_screen->togglePause();
    }
}

TEST_F(LiveScreen, PauseClearResume)
{
    m_engine.setProxyRunning(true);
    open();
    feed(m_engine, 4, "a");
    m_screen->togglePause();
    EXPECT_TRUE(m_screen->paused());
    EXPECT_EQ(m_screen->pauseButton()->title(), QStringLiteral("Resume"));
    EXPECT_EQ(m_screen->pauseButton()->icon(), QStringLiteral("play.fill"));
    EXPECT_FALSE(m_screen->statusDot()->pulse());
    // The frozen rows are a snapshot: none draws the fresh highlight although they are fresh in the link.
    ASSERT_TRUE(m_engine.traffic().last().fresh);
    for (int row = 0; row < m_screen->model()->rowCount(); ++row)
        EXPECT_EQ(m_screen->model()->highlight(row), 0.0);

    feed(m_engine, 2, "b");
    EXPECT_EQ(m_screen->shownCount(), 4);
    m_screen->clear();
    EXPECT_EQ(m_screen->shownCount(), 0);
    EXPECT_TRUE(m_screen->paused());
    feed(m_engine, 3, "c");
    EXPECT_EQ(m_screen->shownCount(), 0); // still paused: the list stays empty

    m_screen->togglePause();
    EXPECT_EQ(m_screen->pauseButton()->title(), QStringLiteral("Pause"));
    ASSERT_EQ(m_screen->shownCount(), 3); // only what arrived after the clear
    EXPECT_EQ(m_screen->model()->entry(0).id, "c0");
}

TEST_F(LiveScreen, ReplayIsOfferedOnlyWhileTheProxyRuns)
{
    open();
    feed(m_engine, 2, "a");
    bool disabled = false;
    EXPECT_EQ(menuTitlesAt(1, &disabled), QStringList{QStringLiteral("Replay request")});
    EXPECT_TRUE(disabled);
    m_engine.setProxyRunning(true);
    m_screen->togglePause(); // enabled also while paused
    EXPECT_EQ(menuTitlesAt(0, &disabled), QStringList{QStringLiteral("Replay request")});
    EXPECT_FALSE(disabled);
}

TEST_F(LiveScreen, TabReachesTheRowsAndReturnOffersTheReplay)
{
    open();
    m_engine.setProxyRunning(true);
    feed(m_engine, 3, "a");
    m_host.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m_host));
    TrafficListView *list = m_screen->list();
    QTest::mouseClick(m_screen->findChild<SearchField *>()->lineEdit(), Qt::LeftButton);
    for (int i = 0; i < 6 && QApplication::focusWidget() != list; ++i)
        ASSERT_TRUE(testsupport::pressKey(Qt::Key_Tab));
    ASSERT_EQ(QApplication::focusWidget(), list);
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Down));
    EXPECT_EQ(list->keyboardRows()->current().row(), 1);
    screenstest::settle(list);
    EXPECT_GT(testsupport::pixelsOfColor(list->viewport()->grab().toImage(),
                                         list->visualRect(list->model()->index(1, 0)),
                                         KeyboardReach::ringColor(Palette::of(list))),
              40);
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Return));
    ASSERT_TRUE(list->contextMenu()->isOpen());
    const QList<SnowMenuItem> items = list->contextMenu()->menu()->currentItems();
    list->contextMenu()->menu()->close();
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items.first().title, QStringLiteral("Replay request"));
    EXPECT_FALSE(items.first().disabled);
}

TEST_F(LiveScreen, RendersItsStatesInBothThemes)
{
    m_engine.setProxyRunning(true);
    open();
    const auto both = [&](const QString &name) {
        m_host.setTheme(Palette::light());
        const QImage light = QImage(traffictest::render(&m_host, name + "-light"));
        m_host.setTheme(Palette::dark());
        const QImage dark = QImage(traffictest::render(&m_host, name + "-dark"));
        EXPECT_FALSE(light.isNull());
        EXPECT_GT(light.pixelColor(4, 4).lightness(), 200);
        EXPECT_LT(dark.pixelColor(4, 4).lightness(), 80);
    };
    both(QStringLiteral("live-waiting"));

    m_engine.handleEvent(requestEvent("1", "GET", "/v2/users", 200, 38));
    m_engine.handleEvent(requestEvent("2", "POST", "/v2/orders", 201, 120, "api.acme.dev", true));
    m_engine.handleEvent(requestEvent("3", "DELETE", "/v2/users/42", 503, 1001));
    m_engine.handleEvent(requestEvent("4", "PATCH", "/v2/users/42/profile/with/a/rather/long/path/that/needs/room", 404, 1000));
    m_engine.handleEvent(requestEvent("5", "PUT", "/v2/settings", 302, 7, "cdn.acme.dev"));
    m_engine.flushTraffic();
    both(QStringLiteral("live-traffic")); // all fresh
    traffictest::markAllSeen(m_engine); // the fade itself is the model tests' part
    ASSERT_TRUE(m_screen->model()->fadingCount() == 0 && !m_engine.traffic().first().fresh);
    m_engine.handleEvent(requestEvent("6", "GET", "/v2/auth/session", 200, 12));
    m_engine.flushTraffic();
    both(QStringLiteral("live-traffic-one-fresh"));

    m_screen->setFilter(QStringLiteral("users"));
    both(QStringLiteral("live-filtered"));
    m_screen->setFilter(QStringLiteral("nothing here"));
    both(QStringLiteral("live-no-match"));
    m_screen->setFilter({});
    m_screen->togglePause();
    both(QStringLiteral("live-paused"));
    m_screen->togglePause();
    m_engine.setProxyRunning(false);
    m_screen->clear();
    both(QStringLiteral("live-stopped"));
}

TEST_F(LiveScreen, RowsKeepTheHeaderColumnsOnceTheScrollBarShows)
{
    m_engine.setProxyRunning(true);
    open();
    TrafficListView *list = m_screen->list();
    TrafficTableHeader *header = m_screen->findChild<TrafficTablePanel *>()->header();
    traffictest::feed(m_engine, 4);
    traffictest::markAllSeen(m_engine);
    traffictest::render(&m_host, QStringLiteral("live-few"));
    ASSERT_FALSE(list->verticalScrollBar()->isVisible());
    EXPECT_EQ(header->trailingInset(), 0);

    traffictest::feed(m_engine, 60, "more");
    traffictest::markAllSeen(m_engine);
    for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
        m_host.setTheme(*palette);
        const QImage image(traffictest::render(&m_host, palette->isDark ? QStringLiteral("live-scrolling-dark")
                                                                         : QStringLiteral("live-scrolling-light")));
        ASSERT_TRUE(list->verticalScrollBar()->isVisible());
        // "Latency" and the rows' latencies end on the same column, and the header's columns are the rows'.
        const QRect top(header->mapTo(&m_host, QPoint(0, 0)), header->size());
        const QRect firstRow = list->visualRect(list->model()->index(list->indexAt(QPoint(4, 8)).row(), 0));
        const QRect row(list->viewport()->mapTo(&m_host, firstRow.topLeft()), firstRow.size());
        const int headerEnd = traffictest::inkRight(image, top);
        const int rowEnd = traffictest::inkRight(image, row.adjusted(0, 2, 0, -2));
        ASSERT_GT(headerEnd, 0);
        EXPECT_NEAR(headerEnd, rowEnd, 2);
        EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0) << "the rows never scroll sideways";
        EXPECT_EQ(firstRow.width(), list->viewport()->width());
        const traffictable::Cells headerCells = traffictable::cells(QRect(top.left(), 0, top.width() - header->trailingInset(), 1));
        const traffictable::Cells rowCells = traffictable::cells(QRect(row.left(), 0, row.width(), 1));
        EXPECT_EQ(headerCells.status.left(), rowCells.status.left());
        EXPECT_EQ(headerCells.latency.right(), rowCells.latency.right());
    }
}

TEST_F(LiveScreen, HoverEasesInUnderThePointerAndOutBehindIt)
{
    open();
    feed(m_engine, 3, "a");
    TrafficListView *list = m_screen->list();
    const QModelIndex first = list->model()->index(0, 0);
    const QModelIndex second = list->model()->index(1, 0);
    QTest::mouseMove(list->viewport(), list->visualRect(first).center());
    ASSERT_TRUE(testsupport::waitFor([&] { return list->hoverLevel(first) == 1.0; }));
    EXPECT_EQ(list->hoverLevel(second), 0.0);
    QTest::mouseMove(list->viewport(), list->visualRect(second).center());
    EXPECT_GT(list->hoverLevel(first), 0.0); // still easing out
    ASSERT_TRUE(testsupport::waitFor([&] { return list->hoverLevel(second) == 1.0 && list->hoverLevel(first) == 0.0; }));
}
