// Schema drift: the drift and baseline decisions, and the screen against a fake engine whose replies
// the tests release: reload races, clear and relearn ordering, leaving early, the rows (their models
// under QAbstractItemModelTester), renders.
#include "screens/traffic/schema_screen.h"
#include "screens/traffic/schema_views.h"
#include "screens/traffic/traffic_logic.h"

#include "design/badges.h"
#include "design/ks_button.h"
#include "design/snow_empty_state.h"
#include "design/snow_text.h"
#include "design/tab_bar.h"
#include "engine/link/ops_test_support.h"
#include "support/model_test_support.h"
#include "traffic_test_support.h"

#include <QAbstractItemModelTester>
#include <QListView>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

namespace {

SchemaBaseline baseline(const std::string &key, int samples = 3, bool locked = false)
{
    SchemaBaseline b;
    b.key = key;
    b.method = "get";
    b.host = "api.acme.dev";
    b.path = "/v2/" + key;
    b.samples = samples;
    b.locked = locked;
    return b;
}

SchemaChange change(const std::string &severity, const std::string &kind = "type_changed",
                    std::optional<std::vector<std::string>> before = std::nullopt,
                    std::optional<std::vector<std::string>> after = std::nullopt)
{
    return SchemaChange{"$.id", kind, severity, std::move(before), std::move(after)};
}

QStringList keys(const std::vector<SchemaBaseline> &baselines)
{
    QStringList out;
    for (const SchemaBaseline &b : baselines)
        out.append(QString::fromStdString(b.key));
    return out;
}

const QByteArray Snapshot
    = R"({"baselines":[)"
      R"({"key":"b","method":"GET","host":"api.acme.dev","path":"/v2/users","locked":true,"samples":7,)"
      R"("sketch":{"samples":3,"paths":{"$.id":{"types":["number"],"present":3},"$.name":{"types":["string","null"],"present":2}}}},)"
      R"({"key":"B","method":"post","host":"api.acme.dev","path":"/v2/orders","locked":false,"samples":2},)"
      R"({"key":"a","method":"OPTIONS","host":"cdn.acme.dev","path":"/assets/manifest.json","locked":false,"samples":5,)"
      R"("sketch":{"samples":5,"paths":{"$.files":{"types":["array"],"present":5}}}}],)"
      R"("drifts":[)"
      R"({"key":"GET api.acme.dev/v2/users","trafficId":"t2","time":"10:44:12","changes":[)"
      R"({"path":"$.id","kind":"type_changed","severity":"breaking","baseline":["number"],"actual":["string"]},)"
      R"({"path":"$.email","kind":"field_removed","severity":"breaking","baseline":["string"]},)"
      R"({"path":"$.name","kind":"became_nullable","severity":"warning","baseline":["string"],"actual":["string","null"]},)"
      R"({"path":"$.tags","kind":"array_shrunk","severity":"info"}]},)"
      R"({"key":"GET api.acme.dev/v2/orders","trafficId":"t1","time":"10:41:03","changes":[)"
      R"({"path":"$.total","kind":"numeric_format","severity":"warning","baseline":["integer"],"actual":["number"]}]}]})";

const std::string DriftEvent = R"({"type":"schema_drift","time":"10:45:00","drift":{"key":"GET api.acme.dev/v2/live","trafficId":"t3",)"
                               R"("breaking":1,"changes":[{"path":"$.id","kind":"field_added","severity":"breaking"}]}})";

class SchemaScreenTest : public FakeEngineTest
{
protected:
    void SetUp() override
    {
        FakeEngineTest::SetUp();
        m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
            if (request.path().startsWith("/schema"))
                return CannedReply::held();
            return std::nullopt;
        };
        connectClient();
    }
    SchemaScreen *open()
    {
        m_screen = m_host.show(new SchemaScreen(AppContext{nullptr, &m_client, nullptr, nullptr}));
        return m_screen;
    }
    int fetches() const { return count("GET", "/schema"); }
    bool waitFetches(int n) { return testsupport::waitFor([&] { return fetches() == n; }); }
    bool releaseLast(const QByteArray &method, const QByteArray &path, const QByteArray &body)
    {
        return m_server.release(m_server.lastIndexOf(method, path), CannedReply::ok(body));
    }
    QString placeholderTitle() const { return traffictest::emptyTitle(m_screen->placeholder()); }

    traffictest::Host m_host;
    SchemaScreen *m_screen = nullptr;
};

} // namespace

TEST(BaselineLogic, OrdersChipsFieldsAndOptional)
{
    EXPECT_EQ(keys(trafficlogic::sortedBaselines({baseline("b"), baseline("B"), baseline("a")})),
              (QStringList{"B", "a", "b"}));
    EXPECT_EQ(trafficlogic::stateChipText(baseline("x", 5)), QStringLiteral("learning 5/3"));
    EXPECT_EQ(trafficlogic::stateChipText(baseline("x", 2)), QStringLiteral("learning 2/3"));
    EXPECT_EQ(trafficlogic::stateChipText(baseline("x", 0, true)), QStringLiteral("watching"));

    SchemaBaseline b = baseline("x", 10);
    EXPECT_EQ(trafficlogic::fieldCount(b), 0);
    EXPECT_TRUE(trafficlogic::fieldLines(b).isEmpty());
    // "optional" is judged against the sketch's own sample count, not the baseline's.
    b.sketch = SchemaSketch{{{"a.b", {{"number"}, 3}}, {"A", {{"string", "null"}, 2}}, {"a", {{"object"}, 4}}}, 3};
    const QList<trafficlogic::FieldLine> lines = trafficlogic::fieldLines(b);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0].path, QStringLiteral("A"));
    EXPECT_EQ(lines[1].path, QStringLiteral("a"));
    EXPECT_EQ(lines[2].path, QStringLiteral("a.b"));
    EXPECT_EQ(lines[0].types, QStringLiteral("string | null"));
    EXPECT_TRUE(lines[0].optional);   // 2 of 3
    EXPECT_FALSE(lines[1].optional);  // 4 of 3
    EXPECT_FALSE(lines[2].optional);  // 3 of 3, although the baseline has 10
    EXPECT_EQ(trafficlogic::fieldCount(b), 3);
    EXPECT_EQ(trafficlogic::badgeMethod("OPTIONS"), QStringLiteral("GET"));
    EXPECT_EQ(trafficlogic::badgeMethod("post"), QStringLiteral("POST"));
}

TEST(DriftLogic, TagsInksAndTransitionChips)
{
    SchemaDriftRecord record;
    record.changes = {change("breaking"), change("breaking"), change("warning"), change("Breaking"), change("info")};
    EXPECT_EQ(record.breaking(), 2);
    EXPECT_EQ(record.warnings(), 1);
    EXPECT_EQ(trafficlogic::warningTag(3), QStringLiteral("3 warning"));
    EXPECT_EQ(trafficlogic::breakingTag(1), QStringLiteral("1 breaking"));

    EXPECT_EQ(trafficlogic::severityDotColor("Breaking"), Palette::purple());
    EXPECT_EQ(trafficlogic::severityInk("Breaking", Palette::dark()), Palette::blue());
    EXPECT_EQ(trafficlogic::severityInk("info", Palette::light()), QColor(0x35, 0x63, 0xE9));
    EXPECT_EQ(trafficlogic::severityInk("warning", Palette::dark()), Palette::yellow());
    EXPECT_EQ(trafficlogic::severityInk("warning", Palette::light()), QColor(154, 107, 31));
    EXPECT_EQ(trafficlogic::severityDotColor("warning"), Palette::yellow());
    EXPECT_EQ(trafficlogic::severityInk("breaking", Palette::light()), QColor(0xE0, 0x31, 0x31));

    auto chips = trafficlogic::transitionChips(change("warning", "k", std::vector<std::string>{"string", "null"},
                                                      std::vector<std::string>{"number"}));
    EXPECT_TRUE(chips.arrow);
    EXPECT_EQ(chips.before, QStringLiteral("string|null"));
    EXPECT_EQ(chips.after, QStringLiteral("number"));
    chips = trafficlogic::transitionChips(change("warning", "k", std::nullopt, std::vector<std::string>{"number"}));
    EXPECT_FALSE(chips.arrow);
    EXPECT_EQ(chips.after, QStringLiteral("number"));
    EXPECT_FALSE(trafficlogic::transitionChips(change("warning")).any());
    EXPECT_FALSE(trafficlogic::transitionChips(change("warning", "k", std::vector<std::string>{},
                                                      std::vector<std::string>{}))
                     .any());
    EXPECT_EQ(change("info", "array_shrunk").kindLabel(), "array_shrunk");
}

TEST_F(SchemaScreenTest, ShowsFindingsAndBaselinesAndTheirCounts)
{
    m_client.setUnseenDrift(4);
    testsupport::ModelTestMessages messages;
    open();
    QAbstractItemModelTester driftTester(m_screen->driftModel(), QAbstractItemModelTester::FailureReportingMode::Warning);
    QAbstractItemModelTester baselineTester(m_screen->baselineModel(),
                                            QAbstractItemModelTester::FailureReportingMode::Warning);
    EXPECT_EQ(m_client.unseenDrift(), 0);
    ASSERT_TRUE(waitFetches(1));
    EXPECT_EQ(m_screen->content(), SchemaScreen::Content::loading);
    EXPECT_FALSE(m_screen->relearnAllButton()->isVisible());
    ASSERT_TRUE(releaseLast("GET", "/schema", Snapshot));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_screen->loading(); }));
    EXPECT_EQ(m_screen->content(), SchemaScreen::Content::driftList);
    EXPECT_EQ(m_screen->countBadge()->count(), 2);
    EXPECT_EQ(m_screen->countLabel()->text(), QStringLiteral("findings"));

    // A finding that arrives by event shows at the top without a reload.
    m_client.handleEvent(DriftEvent);
    EXPECT_EQ(m_screen->countBadge()->count(), 3);
    EXPECT_EQ(m_screen->driftModel()->index(0).data(Qt::UserRole).toString(), QStringLiteral("t3"));

    m_screen->setTab(SchemaScreen::Tab::baselines);
    EXPECT_TRUE(m_screen->relearnAllButton()->isVisible());
    EXPECT_EQ(m_screen->content(), SchemaScreen::Content::baselineList);
    EXPECT_EQ(m_screen->countLabel()->text(), QStringLiteral("routes"));
    EXPECT_EQ(m_screen->countBadge()->count(), 3);
    QStringList shown;
    for (int row = 0; row < m_screen->baselineModel()->rowCount(); ++row)
        shown.append(m_screen->baselineModel()->index(row).data().toString());
    EXPECT_EQ(shown, (QStringList{"B", "a", "b"}));
    EXPECT_EQ(fetches(), 1); // switching tabs reloads nothing
    EXPECT_EQ(testsupport::ModelTestMessages::take(), QStringList{});
}

TEST_F(SchemaScreenTest, BothListsUseTheThinScrollBarsWithoutArrows)
{
    open();
    for (int i = 0; i < 12; ++i) {
        std::string event = DriftEvent;
        event.replace(event.find("\"t3\""), 4, "\"t" + std::to_string(10 + i) + "\"");
        m_client.handleEvent(event);
    }
    QCoreApplication::processEvents();
    ASSERT_EQ(m_screen->content(), SchemaScreen::Content::driftList);
    EXPECT_TRUE(m_screen->driftList()->verticalScrollBar()->isVisible());
    traffictest::render(&m_host, QStringLiteral("schema-drift-scrolling"));
    for (QListView *list : {m_screen->driftList(), m_screen->baselineList()}) {
        QScrollBar *bar = list->verticalScrollBar();
        QStyleOptionSlider option;
        option.initFrom(bar);
        option.orientation = Qt::Vertical;
        option.subControls = QStyle::SC_All;
        option.maximum = 100;
        option.pageStep = 10;
        EXPECT_TRUE(bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarAddLine, bar).isEmpty());
        EXPECT_TRUE(bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSubLine, bar).isEmpty());
        EXPECT_LE(bar->sizeHint().width(), 10);
    }
}

TEST_F(SchemaScreenTest, RowsToggleOnTheSummaryAndRelearnFromTheDetail)
{
    testsupport::ModelTestMessages messages;
    open();
    QAbstractItemModelTester driftTester(m_screen->driftModel(), QAbstractItemModelTester::FailureReportingMode::Warning);
    QAbstractItemModelTester baselineTester(m_screen->baselineModel(),
                                            QAbstractItemModelTester::FailureReportingMode::Warning);
    ASSERT_TRUE(waitFetches(1));
    ASSERT_TRUE(releaseLast("GET", "/schema", Snapshot));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_screen->loading(); }));
    m_screen->setTab(SchemaScreen::Tab::baselines);
    QCoreApplication::processEvents();
    QListView *list = m_screen->baselineList();
    const auto rowRect = [&](int row) { return list->visualRect(m_screen->baselineModel()->index(row)); };
    const int collapsed = rowRect(2).height();

    // Empty space between the address and the chip toggles the row too.
    const QRect b = rowRect(2);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(b.center().x(), b.top() + 10));
    QCoreApplication::processEvents();
    EXPECT_TRUE(m_screen->baselineModel()->expanded(2));
    EXPECT_GT(rowRect(2).height(), collapsed);

    const QRect button = m_screen->baselineDelegate()->relearnRect(rowRect(2), m_screen->baselineModel()->baseline(2));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, button.center());
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/schema/relearn") == 1; }));
    EXPECT_EQ(m_server.requests().at(m_server.lastIndexOf("POST", "/schema/relearn")).target,
              QByteArray("/schema/relearn?key=b"));
    EXPECT_TRUE(m_screen->baselineModel()->expanded(2)); // the button does not fold the row

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowRect(2).topLeft() + QPoint(20, 10));
    QCoreApplication::processEvents();
    EXPECT_FALSE(m_screen->baselineModel()->expanded(2));
    EXPECT_EQ(testsupport::ModelTestMessages::take(), QStringList{});
}

TEST_F(SchemaScreenTest, ClearStaysClearedAndReloadsOnlyAfterTheAnswer)
{
    testsupport::ModelTestMessages messages;
    open();
    QAbstractItemModelTester driftTester(m_screen->driftModel(), QAbstractItemModelTester::FailureReportingMode::Warning);
    QAbstractItemModelTester baselineTester(m_screen->baselineModel(),
                                            QAbstractItemModelTester::FailureReportingMode::Warning);
    EXPECT_EQ(m_screen->reloadDelay(), 250);
    m_screen->setReloadDelay(20);
    ASSERT_TRUE(waitFetches(1));
    const qsizetype stale = m_server.lastIndexOf("GET", "/schema");
    m_client.handleEvent(DriftEvent);
    ASSERT_EQ(m_screen->content(), SchemaScreen::Content::driftList);

    m_screen->clear();
    EXPECT_TRUE(m_client.schemaDrifts().isEmpty()); // at once
    EXPECT_EQ(m_screen->content(), SchemaScreen::Content::loading);
    // The reply of the reload started before the clear brings nothing back.
    ASSERT_TRUE(m_server.release(stale, CannedReply::ok(Snapshot)));
    opstest::settle(2 * m_screen->reloadDelay()); // past the delay: still no reload while the delete is unanswered
    EXPECT_TRUE(m_client.schemaDrifts().isEmpty());
    EXPECT_EQ(fetches(), 1);
    ASSERT_TRUE(releaseLast("DELETE", "/schema", "{}"));
    ASSERT_TRUE(waitFetches(2));
    ASSERT_TRUE(releaseLast("GET", "/schema", R"({"baselines":[],"drifts":[]})"));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_screen->loading(); }));
    EXPECT_EQ(m_screen->content(), SchemaScreen::Content::driftEmpty);
    EXPECT_EQ(placeholderTitle(), QStringLiteral("No drift detected"));
    EXPECT_EQ(testsupport::ModelTestMessages::take(), QStringList{});
}

TEST_F(SchemaScreenTest, OnlyTheNewestReloadApplies)
{
    open();
    ASSERT_TRUE(waitFetches(1));
    const qsizetype first = m_server.lastIndexOf("GET", "/schema");
    m_screen->reload();
    ASSERT_TRUE(waitFetches(2));
    ASSERT_TRUE(releaseLast("GET", "/schema", R"({"baselines":[],"drifts":[]})"));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_screen->loading(); }));
    ASSERT_TRUE(m_server.release(first, CannedReply::ok(Snapshot)));
    opstest::settle(100);
    EXPECT_TRUE(m_screen->baselines().empty());
    m_screen->setTab(SchemaScreen::Tab::baselines);
    EXPECT_EQ(m_screen->content(), SchemaScreen::Content::baselinesEmpty);
    EXPECT_EQ(placeholderTitle(), QStringLiteral("No baselines yet"));
}

TEST_F(SchemaScreenTest, LeavingWithinTheDelayDoesNothingLater)
{
    open();
    m_screen->setReloadDelay(20);
    ASSERT_TRUE(waitFetches(1));
    m_screen->setTab(SchemaScreen::Tab::baselines);
    m_screen->relearnAll();
    m_screen->clear();
    ASSERT_TRUE(testsupport::waitFor([&] { return count("DELETE", "/schema") == 1 && count("POST", "/schema/relearn") == 1; }));
    const int delay = m_screen->reloadDelay();
    delete m_screen; // the user went to another screen
    m_screen = nullptr;
    ASSERT_TRUE(releaseLast("DELETE", "/schema", "{}"));
    ASSERT_TRUE(releaseLast("POST", "/schema/relearn", "{}"));
    opstest::settle(2 * delay);
    EXPECT_EQ(fetches(), 1);
}

TEST_F(SchemaScreenTest, RendersFindingsBaselinesAndEmptyStates)
{
    m_client.setProxyRunning(true);
    open();
    ASSERT_TRUE(waitFetches(1));
    const auto both = [&](const QString &name) {
        m_host.setTheme(Palette::light());
        const QImage light(traffictest::render(&m_host, name + "-light"));
        m_host.setTheme(Palette::dark());
        const QImage dark(traffictest::render(&m_host, name + "-dark"));
        EXPECT_GT(light.pixelColor(4, 4).lightness(), 200);
        EXPECT_LT(dark.pixelColor(4, 4).lightness(), 80);
    };
    both(QStringLiteral("schema-loading"));
    ASSERT_TRUE(releaseLast("GET", "/schema", Snapshot));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_screen->loading(); }));
    both(QStringLiteral("schema-drift"));
    m_screen->setTab(SchemaScreen::Tab::baselines);
    m_screen->toggle(QStringLiteral("b"));
    m_screen->toggle(QStringLiteral("B"));
    both(QStringLiteral("schema-baselines"));
    // The first tab's label lines up with the cards' edge, its focus-ring room given back.
    const TabBar *tabs = m_screen->findChild<TabBar *>();
    const QStackedWidget *cards = m_screen->findChild<QStackedWidget *>();
    ASSERT_TRUE(tabs && cards);
    EXPECT_EQ(tabs->tab(0)->mapTo(m_screen, QPoint(TabBarTab::RingRoomX, 0)).x(), cards->mapTo(m_screen, QPoint()).x());
    // Each "Relearn" is the secondary button itself on the row: rounded, no box of its own behind it.
    QListView *list = m_screen->baselineList();
    for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
        m_host.setTheme(*palette);
        const QImage image(traffictest::render(&m_host, palette->isDark ? QStringLiteral("schema-baselines-relearn-dark")
                                                                         : QStringLiteral("schema-baselines-relearn-light")));
        const KSButton::Look look = KSButton::look(KSButton::Variant::secondary, KSButton::Size::sm, *palette);
        for (int row : {0, 2}) {
            const QRect rowRect = list->visualRect(m_screen->baselineModel()->index(row));
            const QRect local = m_screen->baselineDelegate()->relearnRect(rowRect, m_screen->baselineModel()->baseline(row));
            const QRect button(list->viewport()->mapTo(&m_host, local.topLeft()), local.size());
            const QColor behind = image.pixelColor(button.left() - 4, button.center().y());
            const QColor fill = traffictest::over(look.fill, behind);
            const std::string where = (palette->isDark ? "dark row " : "light row ") + std::to_string(row);
            EXPECT_TRUE(traffictest::near(image.pixelColor(button.topLeft()), behind)) << where;
            EXPECT_TRUE(traffictest::near(image.pixelColor(button.bottomRight()), behind)) << where;
            EXPECT_TRUE(traffictest::near(image.pixelColor(button.left() + 3, button.center().y()), fill)) << where;
            int label = 0;
            for (int y = button.top(); y <= button.bottom(); ++y)
                for (int x = button.left(); x <= button.right(); ++x)
                    label += traffictest::near(image.pixelColor(x, y), look.label, 24) ? 1 : 0;
            EXPECT_GT(label, 30) << where;
        }
    }

    m_screen->reload();
    ASSERT_TRUE(waitFetches(2));
    ASSERT_TRUE(releaseLast("GET", "/schema", R"({"baselines":[],"drifts":[]})"));
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_screen->loading(); }));
    both(QStringLiteral("schema-baselines-empty"));
    m_screen->setTab(SchemaScreen::Tab::drift);
    both(QStringLiteral("schema-drift-empty"));
}
