// The main window built offscreen against the real stand-in engine: boot, routes in the sidebar,
// the command palette, both appearances rendered, and no engine left behind.
#include "app/app_sidebar.h"
#include "app/route_tree_model.h"
#include "app/app_state.h"
#include "app/command_palette.h"
#include "app/content_view.h"
#include "app/main_header.h"
#include "app/right_info_panel.h"
#include "app/root_view.h"
#include "app/sheet_presenter.h"
#include "app/shell_registry.h"
#include "design/sidebar_row.h"
#include "design/snow_toast.h"
#include "engine/engine_client.h"
#include "engine/records/mock_data.h"
#include "platform/analytics.h"
#include "platform/preferences.h"
#include "support/test_support.h"
#include "support/window_on_standin_engine.h"

#include "app/qt_printers.h"
#include "support/temp_preferences.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

namespace {

bool processAlive(int pid)
{
    return pid > 0 && ::kill(pid, 0) == 0;
}

using testsupport::freePort;

class ShellWindow : public testsupport::WindowOnStandinEngine
{
protected:
    bool waitHealthy()
    {
        return testsupport::waitFor([this] {
            return m_window->engine()->status().kind() == EngineStatus::Kind::Healthy
                   && m_window->engine()->health().has_value();
        }, 15000);
    }
};

} // namespace

TEST_F(ShellWindow, OpensAsKestrionAndBootsTheEngine)
{
    EXPECT_EQ(m_window->windowTitle(), "Kestrion");
    EXPECT_GE(m_window->minimumWidth(), 1180);
    EXPECT_GE(m_window->minimumHeight(), 740);
    ASSERT_TRUE(waitHealthy()) << m_window->engine()->log().join('\n').toStdString();
    EXPECT_TRUE(m_window->startupRan());
    // ks.autostartPref defaults to true: the proxy runs, and the chip says so with our port.
    ASSERT_TRUE(testsupport::waitFor([this] { return m_window->engine()->proxyRunning(); }, 10000));
    const QString expected = QStringLiteral("Live · :") + QString::number(Preferences::proxyPort());
    EXPECT_TRUE(testsupport::waitFor([&] { return m_window->content()->header()->proxyChipText() == expected; }));
}

TEST_F(ShellWindow, SidebarShowsTheRoutesTheEngineHolds)
{
    ASSERT_TRUE(waitHealthy());
    EngineClient *engine = m_window->engine();
    const auto &demo = MockData::endpoints();
    engine->setEndpoints(QList<Endpoint>(demo.begin(), demo.end()));
    engine->pushRoutes();
    ASSERT_TRUE(testsupport::waitFor([engine] { return !engine->routePushPending(); }, 5000));
    // Forget the local list and read it back from the engine.
    engine->setEndpoints({});
    bool loaded = false;
    engine->loadRoutes([&loaded] { loaded = true; });
    ASSERT_TRUE(testsupport::waitFor([&] { return loaded; }, 5000));
    ASSERT_EQ(engine->endpoints().size(), qsizetype(demo.size()));

    RouteTreeView *tree = m_window->content()->sidebar()->routeTree();
    EXPECT_TRUE(tree->isVisible());
    QStringList shownPaths;
    for (const QString &label : tree->blockLabels()) {
        for (const QString &id : tree->visibleRouteIDs(label))
            shownPaths << tree->treeModel()->routeIndex(id).data().toString();
    }
    QStringList expected;
    for (const Endpoint &route : demo)
        expected << QString::fromStdString(route.path);
    std::sort(shownPaths.begin(), shownPaths.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(shownPaths, expected);

    // Tapping a route row opens it: routes screen, one history entry, the route selected.
    const QString firstID = QString::fromStdString(demo.front().id);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->routeRect(firstID).center());
    EXPECT_EQ(m_window->state()->nav(), NavItem::endpoints);
    EXPECT_EQ(m_window->state()->selectedEndpointID(), std::optional<QString>(firstID));
    EXPECT_EQ(m_window->state()->backStack(), (QList<NavItem>{NavItem::dashboard}));
    EXPECT_TRUE(tree->treeModel()->routeIndex(firstID).data(RouteTreeModel::SelectedRole).toBool());
    EXPECT_FALSE(m_window->content()->sidebar()->navRow(NavItem::endpoints)->isActive());
}

TEST_F(ShellWindow, ASaveTheEngineRefusesIsShownAsAToastWithItsReason)
{
    ASSERT_TRUE(waitHealthy());
    EngineClient *engine = m_window->engine();
    ASSERT_TRUE(testsupport::waitFor([engine] { return engine->routesLoaded(); }, 10000));
    SnowToast *toast = m_window->content()->banner();
    EXPECT_FALSE(toast->isVisible());
    // One route past the 5,000 the engine keeps in a project.
    QList<Endpoint> many;
    Endpoint endpoint = MockData::endpoints().front();
    for (int i = 0; i <= 5000; ++i) {
        endpoint.id = "r-" + std::to_string(i);
        endpoint.path = "/" + std::to_string(i);
        many.append(endpoint);
    }
    engine->replaceEndpoints(many);
    ASSERT_TRUE(testsupport::waitFor([toast] { return toast->isVisible(); }, 20000));
    EXPECT_EQ(toast->text(), QStringLiteral("The engine refused to save the routes: too many routes (at most 5000)"));
    ASSERT_TRUE(settled());
    testsupport::saveRender(m_window.get(), "shell", "refused-save-toast");
}

TEST_F(ShellWindow, CtrlKOpensThePaletteAndChoosingAScreenNavigates)
{
    m_window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    QTest::keyClick(m_window.get(), Qt::Key_K, Qt::ControlModifier);
    ASSERT_TRUE(m_window->state()->showSearch());
    SheetDialog *sheet = m_window->content()->sheets()->dialog(SheetFlag::search);
    ASSERT_NE(sheet, nullptr);
    auto *palette = qobject_cast<CommandPalette *>(sheet->content());
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(palette->query(), "");
    EXPECT_EQ(palette->navResults().size(), 7);

    QTest::keyClicks(palette->field(), QStringLiteral("his"));
    QTest::keyClick(palette->field(), Qt::Key_Return);
    EXPECT_EQ(m_window->state()->nav(), NavItem::history);
    EXPECT_EQ(m_window->state()->backStack(), (QList<NavItem>{NavItem::dashboard}));
    EXPECT_FALSE(m_window->state()->showSearch());
    EXPECT_TRUE(testsupport::waitFor([&] { return m_window->content()->sheets()->dialog(SheetFlag::search) == nullptr; }));
    // The history screen has no page yet: an empty page titled with its name.
    auto *page = qobject_cast<PlaceholderScreen *>(m_window->content()->screen());
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->title(), "History");

    // The window has the keys again, with no click: Ctrl+K opens the palette, Escape closes it, and again.
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(testsupport::waitFor([&] { return QGuiApplication::focusWindow() == m_window->windowHandle(); }));
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        ASSERT_TRUE(testsupport::pressKey(Qt::Key_K, Qt::ControlModifier));
        ASSERT_TRUE(m_window->state()->showSearch()) << round;
        SheetDialog *again = m_window->content()->sheets()->dialog(SheetFlag::search);
        ASSERT_NE(again, nullptr);
        ASSERT_TRUE(testsupport::waitFor([&] { return QGuiApplication::focusWindow() == again->windowHandle(); }));
        ASSERT_TRUE(testsupport::pressKey(Qt::Key_Escape));
        EXPECT_FALSE(m_window->state()->showSearch()) << round;
    }
    ASSERT_TRUE(testsupport::waitFor([&] { return QGuiApplication::focusWindow() == m_window->windowHandle(); }));
}

TEST_F(ShellWindow, CtrlQClosesEveryWindowEvenFromASheet)
{
    m_window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    m_window->state()->setShowSearch(true);
    SheetDialog *sheet = m_window->content()->sheets()->dialog(SheetFlag::search);
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(testsupport::waitFor([&] { return QGuiApplication::focusWindow() == sheet->windowHandle(); }));
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Q, Qt::ControlModifier));
    EXPECT_TRUE(testsupport::waitFor([&] { return !m_window->isVisible(); }));
    EXPECT_TRUE(testsupport::waitFor([&] {
        const QWidgetList shown = QApplication::topLevelWidgets();
        return std::none_of(shown.begin(), shown.end(), [](const QWidget *w) { return w->isVisible(); });
    }));
}

TEST_F(ShellWindow, EscapeClosesThePaletteAndClearsTheFlag)
{
    m_window->state()->setShowSearch(true);
    SheetDialog *sheet = m_window->content()->sheets()->dialog(SheetFlag::search);
    ASSERT_NE(sheet, nullptr);
    QTest::keyClick(qobject_cast<CommandPalette *>(sheet->content())->field(), Qt::Key_Escape);
    EXPECT_FALSE(m_window->state()->showSearch());
    EXPECT_EQ(m_window->state()->nav(), NavItem::dashboard);
}

TEST_F(ShellWindow, ClosingTheWindowLeavesNoEngineProcess)
{
    ASSERT_TRUE(waitHealthy());
    const int pid = m_window->engine()->health()->pid;
    ASSERT_TRUE(processAlive(pid));
    m_window.reset();
    EXPECT_TRUE(testsupport::waitFor([pid] { return !processAlive(pid); }, 5000));
}

TEST_F(ShellWindow, RendersInBothAppearances)
{
    ASSERT_TRUE(waitHealthy());
    EngineClient *engine = m_window->engine();
    const auto &demo = MockData::endpoints();
    engine->setEndpoints(QList<Endpoint>(demo.begin(), demo.end()));
    m_window->resize(1280, 820);
    m_window->state()->select(NavItem::liveTraffic);
    QCoreApplication::processEvents();

    m_window->state()->setTheme(AppTheme::light);
    ASSERT_TRUE(settled());
    EXPECT_FALSE(Palette::of(m_window->content()).isDark);
    const QString light = testsupport::saveRender(m_window.get(), "shell", "window-light");
    {
        // The header's bottom rule and the info panel's tab rule run on in one line: below each bar's
        // plain background the first row that differs is its rule.
        const QImage shot = QImage(light).convertToFormat(QImage::Format_RGB32);
        auto ruleRow = [&](QWidget *part) {
            const int x = part->mapTo(m_window.get(), QPoint(part->width() - 4, 0)).x(); // in the padding
            for (int y = 31; y < 70; ++y)
                if (shot.pixel(x, y) != shot.pixel(x, 30))
                    return y;
            return -1;
        };
        const int headerRule = ruleRow(m_window->content()->header());
        EXPECT_EQ(headerRule, MainHeader::Height - 1);
        EXPECT_EQ(ruleRow(m_window->content()->infoPanel()), headerRule);
    }
    m_window->state()->setTheme(AppTheme::dark);
    ASSERT_TRUE(settled());
    EXPECT_TRUE(Palette::of(m_window->content()).isDark);
    const QString dark = testsupport::saveRender(m_window.get(), "shell", "window-dark");
    EXPECT_NE(QImage(light), QImage(dark));

    m_window->content()->infoPanel()->setTab(QStringLiteral("Links"));
    ASSERT_TRUE(settled());
    testsupport::saveRender(m_window.get(), "shell", "window-dark-links");
    m_window->content()->infoPanel()->setTab(QStringLiteral("Files"));
    ASSERT_TRUE(settled());
    testsupport::saveRender(m_window.get(), "shell", "window-dark-files");
    m_window->state()->setTheme(AppTheme::light);
    m_window->content()->infoPanel()->setTab(QStringLiteral("Pins"));
    ASSERT_TRUE(settled());
    testsupport::saveRender(m_window.get(), "shell", "window-light-pins");
    m_window->state()->select(NavItem::dashboard);
    ASSERT_TRUE(settled());
    testsupport::saveRender(m_window.get(), "shell", "window-light-dashboard");
    m_window->state()->select(NavItem::certificates);
    m_window->resize(m_window->minimumSize());
    ASSERT_TRUE(settled());
    EXPECT_FALSE(m_window->content()->header()->showsFullSearch());
    testsupport::saveRender(m_window.get(), "shell", "window-light-minimum");
    m_window->resize(1280, 820);

    m_window->state()->setShowSearch(true);
    ASSERT_TRUE(settled());
    SheetDialog *sheet = m_window->content()->sheets()->dialog(SheetFlag::search);
    ASSERT_NE(sheet, nullptr);
    testsupport::saveRender(sheet, "shell", "palette-light");
    m_window->state()->setTheme(AppTheme::dark);
    ASSERT_TRUE(settled());
    testsupport::saveRender(sheet, "shell", "palette-dark");
}

TEST(ShellStartup, SendsAppLaunchBeforeBootingWithTheAutostartPreference)
{
    testsupport::TemporaryPreferencesDir dir;
    Preferences::instance().setValue(PrefKey::OnboardedV1, true);
    Preferences::instance().setValue(PrefKey::AnalyticsOptIn, true);
    Preferences::instance().setValue(PrefKey::AutostartPref, false);
    Preferences::instance().setValue(PrefKey::ProxyPort, freePort());

    QTcpServer collector;
    ASSERT_TRUE(collector.listen(QHostAddress::LocalHost, 0));
    QByteArray received;
    QObject::connect(&collector, &QTcpServer::newConnection, [&] {
        QTcpSocket *socket = collector.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, [&received, socket] { received += socket->readAll(); });
    });
    Analytics analytics(QStringLiteral("http://127.0.0.1:%1/events").arg(collector.serverPort()));

    ShellRegistry registry;
    RootView::Options options;
    options.arguments = {QStringLiteral("kestrion")};
    options.registry = &registry;
    options.analytics = &analytics;
    const QString data = dir.filePath(QStringLiteral("data"));
    options.prepareEngine = [data](EngineClient &engine) {
        engine.setEngineExecutable(testsupport::standinEnginePath());
        engine.setDataDirectory(data);
    };
    auto window = std::make_unique<RootView>(options);
    window->show();
    EXPECT_TRUE(testsupport::waitFor([&] { return received.contains("{\"event\":\"app_launch\"}"); }, 5000))
        << received.toStdString();
    ASSERT_TRUE(testsupport::waitFor([&] {
        return window->engine()->status().kind() == EngineStatus::Kind::Healthy && window->engine()->health();
    }, 15000));
    // ks.autostartPref false: the engine runs, the proxy does not.
    EXPECT_FALSE(window->engine()->health()->proxyRunning);
    EXPECT_FALSE(window->engine()->proxyRunning());
    Preferences::instance().setValue(PrefKey::AnalyticsOptIn, false);
}
