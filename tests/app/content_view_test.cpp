// The main window's content: trailing column, screen switch, sheets, onboarding, import banner,
// the info panel's tabs and the window's first size.
#include "app/app_sidebar.h"
#include "app/app_state.h"
#include "app/command_palette.h"
#include "app/content_view.h"
#include "app/main_header.h"
#include "app/root_view.h"
#include "app/right_info_panel.h"
#include "app/sheet_presenter.h"
#include "app/shell_registry.h"
#include "app/window_geometry.h"
#include "design/copy_button.h"
#include "design/palette.h"
#include "design/keyboard_reach.h"
#include "design/ks_button.h"
#include "design/shell_widgets.h"
#include "design/sidebar_row.h"
#include "design/snow_dropdown.h"
#include "design/snow_toast.h"
#include "design/tab_bar.h"
#include "engine/engine_client.h"
#include "platform/file_panels.h"
#include "platform/preferences.h"
#include "support/test_support.h"

#include "app/qt_printers.h"
#include "app/test_routes.h"
#include "support/temp_preferences.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

using testroutes::route;

// A stand-in inspector that remembers the route it was built for.
class FakeInspector final : public QLabel
{
public:
    FakeInspector(const Endpoint &route, QWidget *parent)
        : QLabel(QString::fromStdString(route.id), parent)
    {
    }
};

class Content : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        Preferences::instance().setValue(PrefKey::OnboardedV1, true);
    }

    // Runs the posted layout and paint work, then waits until every transition in the view (its sheets
    // too) has ended.
    bool settled()
    {
        QCoreApplication::processEvents();
        return testsupport::waitFor([this] { return testsupport::animationsSettled(&view()); });
    }

    ContentView &view()
    {
        if (!m_view)
            m_view = std::make_unique<ContentView>(AppContext{&state, &engine, nullptr, nullptr}, registry);
        return *m_view;
    }

    testsupport::TemporaryPreferencesDir dir;
    AppState state;
    EngineClient engine;
    ShellRegistry registry;
    std::unique_ptr<ContentView> m_view;
};

} // namespace

TEST_F(Content, DashboardNeverShowsTheInfoPanel)
{
    EXPECT_EQ(view().infoPanel(), nullptr);
    state.select(NavItem::history);
    ASSERT_NE(view().infoPanel(), nullptr);
    view().setShowInfo(false);
    EXPECT_EQ(view().infoPanel(), nullptr);
    view().setShowInfo(true);
    EXPECT_NE(view().infoPanel(), nullptr);
    state.select(NavItem::dashboard);
    EXPECT_EQ(view().infoPanel(), nullptr);
    EXPECT_TRUE(view().showInfo());
}

TEST_F(Content, InspectorTakesThePanelsPlaceForAnExistingRoute)
{
    registry.setInspector([](const AppContext &, const Endpoint &r, QWidget *p) { return new FakeInspector(r, p); });
    engine.setEndpoints({route("a"), route("b")});
    view().setShowInfo(false);
    state.select(NavItem::endpoints);
    state.setSelectedEndpointID(QStringLiteral("a"));
    auto *first = qobject_cast<QLabel *>(view().inspector());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->text(), "a");
    // An edit of the same route keeps the inspector; another route gets a fresh one.
    QList<Endpoint> edited = engine.endpoints();
    edited[0].status = 500;
    engine.setEndpoints(edited);
    EXPECT_EQ(view().inspector(), first);
    state.setSelectedEndpointID(QStringLiteral("b"));
    EXPECT_EQ(qobject_cast<QLabel *>(view().inspector())->text(), "b");
    // A selection that names no route shows no inspector.
    state.setSelectedEndpointID(QStringLiteral("gone"));
    EXPECT_EQ(view().inspector(), nullptr);
    // Leaving the screen clears the selection and brings the panel back when wanted.
    view().setShowInfo(true);
    state.setSelectedEndpointID(QStringLiteral("a"));
    EXPECT_EQ(view().infoPanel(), nullptr);
    state.select(NavItem::history);
    EXPECT_EQ(view().inspector(), nullptr);
    EXPECT_NE(view().infoPanel(), nullptr);
}

TEST_F(Content, ScreensComeFromTheRegistryAndAreBuiltAnewOnEachVisit)
{
    int built = 0;
    registry.setScreen(NavItem::history, [&built](const AppContext &, QWidget *p) {
        ++built;
        return new QLabel(QStringLiteral("history screen"), p);
    });
    EXPECT_EQ(qobject_cast<PlaceholderScreen *>(view().screen())->title(), "Dashboard");
    state.select(NavItem::history);
    EXPECT_EQ(built, 1);
    state.select(NavItem::history); // same screen: kept
    EXPECT_EQ(built, 1);
    state.goBack();
    state.goForward();
    EXPECT_EQ(built, 2);
    EXPECT_EQ(qobject_cast<QLabel *>(view().screen())->text(), "history screen");
}

TEST_F(Content, SheetFlagWithoutASheetOpensNothingAndFallsBack)
{
    view().show();
    state.setShowManageProjects(true);
    EXPECT_EQ(view().sheets()->dialog(SheetFlag::manageProjects), nullptr);
    EXPECT_TRUE(QTest::qWaitFor([this] { return !state.showManageProjects(); }, 1000));
}

TEST_F(Content, RegisteredSheetOpensAndEveryWayOfClosingClearsItsFlag)
{
    registry.setSheet(SheetFlag::newGroup, [](const AppContext &, QWidget *p) { return new QLabel("group", p); });
    view().show();
    state.openRenameGroup(QStringLiteral("beta"));
    SheetDialog *sheet = view().sheets()->dialog(SheetFlag::newGroup);
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(Palette::of(sheet->content()), Palette::of(&view()));
    // Escape: the dialog goes, the flag and both targets are cleared.
    QTest::keyClick(sheet, Qt::Key_Escape);
    EXPECT_FALSE(state.showNewGroup());
    EXPECT_FALSE(state.groupRenameFrom().has_value());
    EXPECT_FALSE(state.groupAssignTarget().has_value());

    // The sheet's own dismiss action.
    state.openNewGroup(QStringLiteral("r-1"));
    sheet = view().sheets()->dialog(SheetFlag::newGroup);
    ASSERT_NE(sheet, nullptr);
    Sheets::dismiss(sheet->content());
    EXPECT_FALSE(state.showNewGroup());
    EXPECT_FALSE(state.groupAssignTarget().has_value());

    // Clearing the flag closes the dialog.
    state.openNewGroup(QStringLiteral("r-2"));
    QPointer<SheetDialog> open = view().sheets()->dialog(SheetFlag::newGroup);
    state.setShowNewGroup(false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return open.isNull(); }, 1000));
}

TEST_F(Content, SheetsOpenCentredOverTheirWindowWhereverItIs)
{
    registry.setSheet(SheetFlag::newGroup, [](const AppContext &, QWidget *p) {
        auto *content = new QLabel("group", p);
        content->setFixedSize(300, 200);
        return content;
    });
    // The content sits inside a window, away from its top-left corner.
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(40, 30, 0, 0);
    layout->addWidget(&view());
    window.resize(1100, 760);
    for (const QPoint position : {QPoint(120, 80), QPoint(700, 420)}) {
        SCOPED_TRACE(position.x());
        window.move(position);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        state.openNewGroup(QStringLiteral("r-1"));
        SheetDialog *sheet = view().sheets()->dialog(SheetFlag::newGroup);
        ASSERT_NE(sheet, nullptr);
        const QPoint contentCentre = view().mapToGlobal(view().rect().center());
        EXPECT_LE((sheet->geometry().center() - contentCentre).manhattanLength(), 2)
            << "sheet at " << sheet->geometry().center().x() << "," << sheet->geometry().center().y();
        state.setShowNewGroup(false);
        QPointer<SheetDialog> closing = sheet;
        ASSERT_TRUE(QTest::qWaitFor([&] { return closing.isNull(); }, 1000));
    }
    layout->removeWidget(&view());
    view().setParent(nullptr);
}

TEST_F(Content, OnboardingOpensOnlyBeforeItWasFinished)
{
    bool built = false;
    registry.setOnboarding([&built](const AppContext &, std::function<void()> finish, QWidget *p) {
        built = true;
        auto *w = new QLabel("welcome", p);
        QObject::connect(w, &QObject::destroyed, [] {});
        w->setProperty("finish", QVariant::fromValue(reinterpret_cast<quintptr>(new std::function<void()>(finish))));
        return w;
    });
    view().checkOnboarding();
    EXPECT_FALSE(state.showOnboarding());

    Preferences::instance().setValue(PrefKey::OnboardedV1, false);
    view().checkOnboarding();
    EXPECT_TRUE(state.showOnboarding());
    ASSERT_TRUE(built);
    SheetDialog *sheet = view().sheets()->dialog(SheetFlag::onboarding);
    ASSERT_NE(sheet, nullptr);
    auto *finish = reinterpret_cast<std::function<void()> *>(sheet->content()->property("finish").value<quintptr>());
    (*finish)();
    delete finish;
    EXPECT_TRUE(Preferences::instance().boolValue(PrefKey::OnboardedV1, false));
}

TEST_F(Content, ImportBannerToneAndItsFourSecondLife)
{
    view().resize(1280, 820);
    view().show();
    EXPECT_FALSE(view().banner()->isVisible());
    engine.setImportSummary(QStringLiteral("Imported 3 routes into Shop"));
    EXPECT_TRUE(view().banner()->isVisible());
    EXPECT_EQ(view().banner()->tone(), SnowToast::Tone::success);
    QTimer *timer = view().bannerTimer();
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), ContentView::BannerWaitMs);
    engine.setImportSummary(QStringLiteral("imported nothing: bad file"));
    EXPECT_EQ(view().banner()->tone(), SnowToast::Tone::error);
    EXPECT_EQ(view().banner()->text(), "imported nothing: bad file");
    EXPECT_GT(timer->remainingTime(), ContentView::BannerWaitMs - 500);
    // A long reason wraps inside the window instead of running past its edges, and is shown whole.
    const QString reason = QStringLiteral("imported nothing: the file is neither a HAR archive, a Charles export, a "
                                          "Postman collection nor a JSON capture (unexpected token at line 1, col 1); "
                                          "check that the whole file was saved and that it is not compressed");
    engine.setImportSummary(reason);
    SnowToast *banner = view().banner();
    EXPECT_GE(banner->x(), 0);
    EXPECT_LE(banner->geometry().right(), view().width());
    EXPECT_GE(banner->linesAt(banner->width()).size(), 2);
    EXPECT_FALSE(banner->isCut());
    EXPECT_EQ(banner->height(), banner->heightForWidth(banner->width()));
    // A partial import is told in full, in the tone of what did come in.
    engine.setImportSummary(
        QStringLiteral("Imported 5,000 of 7,200 requests: the rest are past the 5,000-route limit of a project"));
    EXPECT_EQ(banner->tone(), SnowToast::Tone::success);
    EXPECT_FALSE(banner->isCut());
    testsupport::saveRender(&view(), "shell", "import-partial");
    // Nothing came in: no success, though the words begin alike.
    engine.setImportSummary(
        QStringLiteral("Imported 0 of 15,000 requests: the rest are past the 5,000-route limit of a project"));
    EXPECT_EQ(banner->tone(), SnowToast::Tone::error);
    testsupport::saveRender(&view(), "shell", "import-nothing");
    // When the wait runs out the summary is cleared and the banner goes.
    timer->start(1);
    EXPECT_TRUE(QTest::qWaitFor([this] { return !engine.importSummary().has_value(); }, 1000));
    EXPECT_FALSE(view().banner()->isVisible());
}

TEST_F(Content, TabGoesSidebarHeaderScreenThenPanelWhicheverWasBuiltFirst)
{
    // A screen of two buttons, built on each visit: after the info panel when the panel came first.
    QList<QPointer<KSButton>> built;
    registry.setScreen(NavItem::history, [&built](const AppContext &, QWidget *parent) -> QWidget * {
        auto *screen = new QWidget(parent);
        auto *row = new QHBoxLayout(screen);
        for (const char *title : {"Refresh", "Clear"}) {
            auto *button = new KSButton(QString::fromLatin1(title));
            row->addWidget(button);
            built.append(button);
        }
        return screen;
    });
    view().resize(1280, 820);
    view().show();
    view().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view()));
    state.select(NavItem::liveTraffic);
    ASSERT_TRUE(settled());
    ASSERT_NE(view().infoPanel(), nullptr);
    state.select(NavItem::history);
    ASSERT_TRUE(settled());
    ASSERT_EQ(built.size(), 2);

    // The last of the header's controls, then the screen's, then the panel's first.
    QWidget *lastOfHeader = nullptr;
    QWidget *firstOfPanel = nullptr;
    for (QWidget *w = view().nextInFocusChain(); w != &view(); w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) != Qt::TabFocus || !w->isVisibleTo(&view()) || w->focusProxy())
            continue;
        if (view().header()->isAncestorOf(w))
            lastOfHeader = w;
        if (!firstOfPanel && view().infoPanel()->isAncestorOf(w))
            firstOfPanel = w;
    }
    ASSERT_NE(lastOfHeader, nullptr);
    ASSERT_NE(firstOfPanel, nullptr);
    lastOfHeader->setFocus(Qt::TabFocusReason);
    const auto tab = [](Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        EXPECT_TRUE(testsupport::pressKey(Qt::Key_Tab, modifiers));
        return QApplication::focusWidget();
    };
    EXPECT_EQ(tab(), built[0].data());
    EXPECT_EQ(tab(), built[1].data());
    EXPECT_EQ(tab(), firstOfPanel);
    EXPECT_EQ(tab(Qt::ShiftModifier), built[1].data());
    EXPECT_EQ(tab(Qt::ShiftModifier), built[0].data());
    EXPECT_EQ(tab(Qt::ShiftModifier), lastOfHeader);
}

TEST_F(Content, MouseOnlyUseLeavesNoRingWhereverTheFocusFalls)
{
    // A screen with a field, built on each visit, and a sheet that Escape closes.
    registry.setScreen(NavItem::history, [](const AppContext &, QWidget *parent) -> QWidget * {
        auto *screen = new QWidget(parent);
        auto *row = new QHBoxLayout(screen);
        row->addWidget(new QLineEdit(screen));
        return screen;
    });
    registry.setSheet(SheetFlag::newGroup, [](const AppContext &, QWidget *p) { return new QLineEdit(p); });
    view().resize(1280, 820);
    view().show();
    view().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view()));
    const auto ringed = [&] {
        QStringList shown;
        for (QWidget *w : view().findChildren<QWidget *>())
            if (w->hasFocus() && KeyboardReach::showsRing(w))
                shown << QString::fromLatin1(w->metaObject()->className());
        return shown;
    };
    const auto clickField = [&] {
        auto *field = view().screen()->findChild<QLineEdit *>();
        EXPECT_NE(field, nullptr);
        if (field)
            QTest::mouseClick(field, Qt::LeftButton);
        return field && field->hasFocus();
    };

    // Moving between screens by a click: the focused field goes with its screen.
    state.select(NavItem::history);
    ASSERT_TRUE(settled());
    ASSERT_TRUE(clickField());
    QTest::mouseClick(view().sidebar()->navRow(NavItem::liveTraffic), Qt::LeftButton);
    ASSERT_TRUE(settled());
    ASSERT_EQ(state.nav(), NavItem::liveTraffic);
    EXPECT_TRUE(ringed().isEmpty()) << ringed().join(' ').toStdString();
    EXPECT_FALSE(KeyboardReach::showsRing(view().sidebar()->projectSwitcher()));

    // Escape out of a sheet opened by a click.
    state.select(NavItem::history);
    ASSERT_TRUE(settled());
    ASSERT_TRUE(clickField());
    state.openNewGroup(QStringLiteral("r-1"));
    SheetDialog *sheet = view().sheets()->dialog(SheetFlag::newGroup);
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(testsupport::waitFor([&] { return QGuiApplication::focusWindow() == sheet->windowHandle(); }));
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Escape));
    ASSERT_TRUE(testsupport::waitFor([&] { return QGuiApplication::focusWindow() == view().windowHandle(); }));
    state.select(NavItem::liveTraffic);
    ASSERT_TRUE(settled());
    EXPECT_TRUE(ringed().isEmpty()) << ringed().join(' ').toStdString();

    // Tab then shows the ring where it lands.
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Tab));
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    const bool field = qobject_cast<QLineEdit *>(QApplication::focusWidget()) != nullptr;
    EXPECT_TRUE(field || !ringed().isEmpty()) << QApplication::focusWidget()->metaObject()->className();
}

TEST_F(Content, InfoPanelStartsOnInfoEachTimeItIsShownAgain)
{
    state.select(NavItem::history);
    view().infoPanel()->setTab(QStringLiteral("Files"));
    state.select(NavItem::dashboard);
    state.select(NavItem::schema);
    EXPECT_EQ(view().infoPanel()->tab(), "Info");
}

TEST_F(Content, FirstSizingHappensOncePerProcess)
{
    WindowGeometry::resetFirstSizingForTests();
    QWidget window;
    window.resize(300, 300);
    view().configure(&window);
    const QRect expected = WindowGeometry::firstFrame(window.screen()->availableGeometry()).toRect();
    EXPECT_EQ(window.geometry().size(), expected.size());
    EXPECT_TRUE(window.isVisible());
    window.resize(1200, 760);
    view().configure(&window);
    EXPECT_EQ(window.size(), QSize(1200, 760));
    EXPECT_EQ(window.palette().color(QPalette::Window), QColor(Qt::white));
}

TEST_F(Content, FullScreenLeavesTheFirstSizingForALaterCall)
{
    WindowGeometry::resetFirstSizingForTests();
    QWidget window;
    window.resize(300, 300);
    window.setWindowState(Qt::WindowFullScreen);
    PaletteHost::set(&view(), Palette::dark());
    view().configure(&window);
    EXPECT_FALSE(WindowGeometry::firstSizingDone());
    EXPECT_EQ(window.palette().color(QPalette::Window), QColor(42, 42, 42));
    window.setWindowState(Qt::WindowNoState);
    window.resize(300, 300);
    view().configure(&window);
    EXPECT_TRUE(WindowGeometry::firstSizingDone());
    const QRect expected = WindowGeometry::firstFrame(window.screen()->availableGeometry()).toRect();
    EXPECT_EQ(window.size(), expected.size());
}

TEST(InfoPanelTabs, PinsClickOpensTheRouteWithoutHistory)
{
    AppState state;
    EngineClient engine;
    Endpoint bad = route("bad");
    bad.status = 400;
    Endpoint fine = route("fine");
    fine.status = 399;
    engine.setEndpoints({fine, bad});
    RightInfoPanel panel(AppContext{&state, &engine, nullptr, nullptr});
    panel.setTab(QStringLiteral("Pins"));
    EXPECT_EQ(panel.shownTexts(), (QStringList{"Flagged routes", "/bad", "api.test"}));
    state.select(NavItem::history);
    auto *button = panel.tabContent()->findChild<PlainButton *>();
    ASSERT_NE(button, nullptr);
    button->click();
    EXPECT_EQ(state.nav(), NavItem::endpoints);
    EXPECT_EQ(state.selectedEndpointID(), std::optional<QString>("bad"));
    EXPECT_EQ(state.backStack(), (QList<NavItem>{NavItem::dashboard}));

    engine.setEndpoints({});
    EXPECT_EQ(panel.shownTexts(),
              (QStringList{"Flagged routes", "No flagged routes",
                           "Routes with errors, overrides, sequences, or disabled appear here."}));
}

TEST(InfoPanelTabs, InfoLinksAndFilesContent)
{
    AppState state;
    EngineClient engine;
    Endpoint disabled = route("off", "API.test");
    disabled.active = false;
    engine.setEndpoints({route("a"), disabled});
    RightInfoPanel panel(AppContext{&state, &engine, nullptr, nullptr});
    const QStringList info = panel.shownTexts();
    EXPECT_TRUE(info.contains("Off"));
    EXPECT_TRUE(info.contains("Stopped"));
    EXPECT_TRUE(info.contains(QStringLiteral(":") + QString::number(engine.proxyPort())));
    EXPECT_EQ(info.mid(info.indexOf("Hosts"), 6),
              (QStringList{"Hosts", "2", "api.test", "1 routes", "API.test", "1 routes"}));

    panel.setTab(QStringLiteral("Links"));
    EXPECT_EQ(panel.shownTexts(),
              (QStringList{"Links", "api.test", "http://api.test", "API.test", "http://API.test", "Proxy command",
                           QStringLiteral("curl -x localhost:%1 http://<host>/<path>").arg(engine.proxyPort())}));
    panel.setTab(QStringLiteral("Files"));
    EXPECT_EQ(panel.shownTexts().mid(0, 3), (QStringList{"Files & profiles", "Import file…", "HAR · Charles · Postman · JSON"}));
    panel.setTab(QStringLiteral("Elsewhere"));
    EXPECT_EQ(panel.shownTexts().first(), "Main info");
}

// Too long for the panel, the proxy command keeps "curl -x localhost:<port>" whole and shortens the URL
// after it; the copy button still copies it all.
TEST(InfoPanelTabs, ProxyCommandKeepsItsPortWhenShortened)
{
    AppState state;
    EngineClient engine;
    engine.setEndpoints({route("a", "a-rather-long-host-name.shop.example.test")});
    RightInfoPanel panel(AppContext{&state, &engine, nullptr, nullptr});
    panel.setTab(QStringLiteral("Links"));
    panel.resize(RightInfoPanel::Width, 700);
    panel.show();
    QCoreApplication::processEvents();
    const QString command = QStringLiteral("curl -x localhost:%1 http://<host>/<path>").arg(engine.proxyPort());
    const ShellText *shown = nullptr;
    for (const ShellText *text : panel.tabContent()->findChildren<ShellText *>())
        if (text->text() == command)
            shown = text;
    ASSERT_NE(shown, nullptr);
    const QString visible = shown->shownText();
    EXPECT_TRUE(visible.contains(QChar(0x2026))) << visible.toStdString();
    EXPECT_TRUE(visible.startsWith(QStringLiteral("curl -x localhost:%1 ").arg(engine.proxyPort())))
        << visible.toStdString();
    EXPECT_LE(QFontMetrics(shown->font()).horizontalAdvance(visible), shown->width());
    const auto copies = panel.tabContent()->findChildren<CopyButton *>();
    ASSERT_FALSE(copies.isEmpty());
    EXPECT_EQ(copies.last()->text(), command);
    for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
        PaletteHost::set(&panel, *palette);
        testsupport::saveRender(&panel, QStringLiteral("app"),
                                QStringLiteral("info-links-%1").arg(palette->isDark ? "dark" : "light"));
    }
}

TEST(InfoPanelTabs, RouteChangeWhileAFilePanelIsOpenDestroysNothingUnderIt)
{
    AppState state;
    EngineClient engine;
    RightInfoPanel panel(AppContext{&state, &engine, nullptr, nullptr});
    panel.setTab(QStringLiteral("Files"));
    panel.show();
    QPointer<PlainButton> importButton = panel.tabContent()->findChild<PlainButton *>();
    ASSERT_NE(importButton, nullptr);

    // The open panel is modal: while it is up, an engine event replaces the route list and the tab is
    // rebuilt. The button clicked must not be running its click when that happens.
    bool clicking = false;
    bool openedInsideTheClick = false;
    int opened = 0;
    FilePanels::setOpenHook([&](const FilePanelRequest &) {
        ++opened;
        openedInsideTheClick = clicking;
        engine.setEndpoints({route("a")});
        EXPECT_TRUE(importButton.isNull()); // the rebuild replaced it
        return QString();
    });
    clicking = true;
    QTest::mouseClick(importButton, Qt::LeftButton);
    clicking = false;
    EXPECT_TRUE(testsupport::waitFor([&] { return opened == 1; }));
    FilePanels::setOpenHook({});
    EXPECT_FALSE(openedInsideTheClick);
    EXPECT_EQ(panel.tab(), QStringLiteral("Files"));
    EXPECT_TRUE(panel.shownTexts().contains(QStringLiteral("Import file…")));
}

TEST(RootViewStartup, SnapshotArgumentMustMatchExactly)
{
    EXPECT_TRUE(RootView::hasSnapshotArgument({"kestrion", "--snapshot", "/tmp/out"}));
    EXPECT_TRUE(RootView::hasSnapshotArgument({"kestrion", "--snapshot"}));
    EXPECT_FALSE(RootView::hasSnapshotArgument({"kestrion", "--snapshot=/tmp/out"}));
    EXPECT_FALSE(RootView::hasSnapshotArgument({"kestrion", "--snapshots"}));
}

TEST(RootViewStartup, SnapshotLaunchBootsNothing)
{
    testsupport::TemporaryPreferencesDir dir;
    Preferences::instance().setValue(PrefKey::OnboardedV1, true);
    RootView::Options options;
    options.arguments = {"kestrion", "--snapshot"};
    RootView window(options);
    window.show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.startupRan(); }, 1000));
    QCoreApplication::processEvents(); // whatever the start-up posted has run
    EXPECT_EQ(window.engine()->status(), EngineStatus::stopped());
    EXPECT_FALSE(window.engine()->proxyRunning());
}

TEST(RootViewStartup, SystemThemeFollowsTheApplicationPalette)
{
    RootView::Options options;
    options.arguments = {"kestrion", "--snapshot"};
    RootView window(options);
    const QPalette original = QApplication::palette();
    window.state()->setTheme(AppTheme::system);
    QPalette dark = original;
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    QApplication::setPalette(dark);
    EXPECT_EQ(window.systemAppearance()->colorScheme(), ColorScheme::dark);
    EXPECT_TRUE(Palette::of(window.content()).isDark);
    // An explicit theme ignores the system.
    window.state()->setTheme(AppTheme::light);
    EXPECT_FALSE(Palette::of(window.content()).isDark);
    QApplication::setPalette(original);
    EXPECT_EQ(window.systemAppearance()->colorScheme(), SystemAppearance::fromPalette(original));
}

TEST_F(Content, RendersGroupsInspectorSlotAndNoMatches)
{
    Endpoint a = route("a", "api.test");
    a.group = "Billing";
    Endpoint b = route("b", "api.test");
    b.active = false;
    Endpoint c = route("c", "cdn.test");
    c.group = "auth";
    engine.setEndpoints({a, b, c});
    engine.setProjects({Project{"p", "Acme Store", 3, ""}});
    engine.setActiveProjectID("p");
    state.select(NavItem::schema);
    PaletteHost::set(&view(), Palette::dark());
    view().resize(1280, 820);
    view().show();
    ASSERT_TRUE(settled());
    testsupport::saveRender(&view(), "shell", "groups-dark");

    state.setShowSearch(true);
    SheetDialog *sheet = view().sheets()->dialog(SheetFlag::search);
    ASSERT_NE(sheet, nullptr);
    auto *palette = qobject_cast<CommandPalette *>(sheet->content());
    palette->setQuery(QStringLiteral("zzz"));
    EXPECT_TRUE(palette->showsNoMatches());
    QTest::keyClick(palette->field(), Qt::Key_Return);
    EXPECT_TRUE(state.showSearch()); // nothing matched: the palette stays open
    ASSERT_TRUE(settled());
    testsupport::saveRender(sheet, "shell", "palette-no-matches-dark");
}
