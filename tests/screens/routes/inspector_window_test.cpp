// The inspector in the main window: registered by the routes library, rebuilt per project and route,
// and a number still being typed saved into its own route when the selection moves on.
#include "inspector_fixture.h"

#include "app/content_view.h"
#include "app/shell_registry.h"
#include "app/environment_picker.h"
#include "app/main_header.h"
#include "design/exact_plain_text_edit.h"
#include "design/keyboard_reach.h"
#include "design/ks_button.h"
#include "design/mini_field.h"
#include "screens/routes/response_section.h"
#include "screens/routes/sequence_section.h"

#include "screens/routes/routes_catalog.h"

class InspectorInWindow : public InspectorEngineTest
{
protected:
    ContentView &window()
    {
        if (!m_window) {
            installRoutesScreens(registry);
            Preferences::instance().setValue(PrefKey::OnboardedV1, true);
            m_window = std::make_unique<ContentView>(AppContext{&state, &client(), nullptr, nullptr}, registry);
            m_window->resize(1280, 820);
            m_window->show();
            QApplication::processEvents();
        }
        return *m_window;
    }

    InspectorView *inspector() { return qobject_cast<InspectorView *>(window().inspector()); }

    void TearDown() override
    {
        m_window.reset();
        InspectorEngineTest::TearDown();
    }

    ShellRegistry registry;
    std::unique_ptr<ContentView> m_window;
};

TEST_F(InspectorInWindow, TypedStatusLandsOnItsOwnRouteWhenAnotherIsSelected)
{
    seed({inspectorRoute("r-a"), inspectorRoute("r-b")});
    window();
    state.setSelectedEndpointID(QStringLiteral("r-a"));
    InspectorView *first = inspector();
    ASSERT_NE(first, nullptr);
    // Shown before the user types into it.
    QApplication::processEvents();
    ASSERT_TRUE(first->isVisible());
    EXPECT_EQ(first->model()->routeID(), "r-a");
    first->statusField()->lineEdit()->selectAll();
    QTest::keyClicks(first->statusField()->lineEdit(), QStringLiteral("302"));

    state.setSelectedEndpointID(QStringLiteral("r-b"));
    InspectorView *second = inspector();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(second->model()->routeID(), "r-b");
    ASSERT_TRUE(testsupport::waitFor([this] { return find("r-a")->status == 302; }));
    EXPECT_EQ(find("r-b")->status, 200);
    // The save of the old route did not disturb the new inspector: it is the only one shown.
    EXPECT_EQ(inspector(), second);
    QApplication::processEvents();
    int shown = 0;
    for (InspectorView *view : window().findChildren<InspectorView *>())
        shown += view->isVisible() ? 1 : 0;
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(second->statusField()->value(), 200);
    ASSERT_TRUE(settled());
    EXPECT_EQ(routeIn(engineRoutes(), "r-a")["status"], 302);
}

TEST_F(InspectorInWindow, AnotherProjectWithTheSameRouteIdGetsAFreshInspector)
{
    seed({inspectorRoute("r-a")});
    window();
    state.setSelectedEndpointID(QStringLiteral("r-a"));
    InspectorView *before = inspector();
    ASSERT_NE(before, nullptr);
    const QString project = client().activeProjectID();
    client().setActiveProjectID(project + QStringLiteral("-copy"));
    InspectorView *after = inspector();
    ASSERT_NE(after, nullptr);
    EXPECT_NE(after, before);
    EXPECT_EQ(after->model()->projectID(), project + QStringLiteral("-copy"));
    EXPECT_TRUE(after->model()->isCurrent());
}


// In the body editor Tab types a tab; Ctrl+Tab, Ctrl+Shift+Tab and Shift+Tab leave it for the controls next
// to it in the window's order, and none of them changes the body.
TEST_F(InspectorInWindow, CtrlTabAndShiftTabLeaveTheBodyEditorWithoutTypingIntoIt)
{
    seed({inspectorRoute("r-a", 200, "{\"ok\":true}")});
    window().resize(1180, 740);
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    state.setSelectedEndpointID(QStringLiteral("r-a"));
    InspectorView *view = inspector();
    ASSERT_NE(view, nullptr);
    view->responseSection()->editButton()->trigger();
    ExactPlainTextEdit *editor = view->responseSection()->editor();
    ASSERT_NE(editor, nullptr);
    ASSERT_TRUE(testsupport::waitFor([&] { return editor->isVisible(); }));
    const auto focusEditor = [&] {
        editor->setFocus(Qt::MouseFocusReason);
        return QApplication::focusWidget() == editor;
    };

    ASSERT_TRUE(focusEditor());
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Tab, Qt::ShiftModifier));
    QWidget *before = QApplication::focusWidget();
    ASSERT_NE(before, editor);
    // The control before the editor: Tab from it comes straight back.
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Tab));
    EXPECT_EQ(QApplication::focusWidget(), editor);

    ASSERT_TRUE(focusEditor());
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier));
    EXPECT_EQ(QApplication::focusWidget(), before);

    ASSERT_TRUE(focusEditor());
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Tab, Qt::ControlModifier));
    QWidget *after = QApplication::focusWidget();
    ASSERT_NE(after, editor);
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Tab, Qt::ShiftModifier));
    EXPECT_EQ(QApplication::focusWidget(), editor);

    EXPECT_EQ(editor->exactText(), QStringLiteral("{\"ok\":true}"));
    EXPECT_EQ(view->model()->bodyText(), QStringLiteral("{\"ok\":true}"));
    // A plain Tab is text here.
    ASSERT_TRUE(focusEditor());
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Tab));
    EXPECT_EQ(QApplication::focusWidget(), editor);
    EXPECT_TRUE(editor->exactText().contains(QLatin1Char('\t')));
}

// With a route open in the smallest window, the header keeps the project, the title and the path, with
// both slashes.
TEST_F(InspectorInWindow, TheHeaderKeepsEveryCrumbInTheSmallestWindow)
{
    Endpoint route = inspectorRoute("r-a");
    route.path = "/v2/orders/:orderId/items";
    seed({route});
    window().resize(1180, 740);
    state.setSelectedEndpointID(QStringLiteral("r-a"));
    ASSERT_NE(inspector(), nullptr);
    QApplication::processEvents();
    MainHeader *header = window().header();
    ASSERT_EQ(header->width(), 1180 - 248 - 1 - 1 - InspectorView::PanelWidth);
    EXPECT_TRUE(header->projectCrumb()->isVisible());
    EXPECT_TRUE(header->pathCrumb()->isVisible());
    EXPECT_EQ(header->breadcrumb().size(), 3);
    int slashes = 0;
    for (const ShellText *text : header->findChildren<ShellText *>())
        slashes += text->isVisible() && text->text() == QStringLiteral("/") ? 1 : 0;
    EXPECT_EQ(slashes, 2);
    // The path keeps its start and its end around the ellipsis.
    EXPECT_TRUE(header->pathCrumb()->shownText().startsWith(QLatin1Char('/')))
        << header->pathCrumb()->shownText().toStdString();
    EXPECT_TRUE(header->pathCrumb()->shownText().endsWith(QLatin1Char('s')))
        << header->pathCrumb()->shownText().toStdString();
    // The path keeps its first and last four characters; the picker gave way first, to its icon.
    EXPECT_TRUE(header->pathCrumb()->shownText().startsWith(QStringLiteral("/v2/")));
    EXPECT_TRUE(header->pathCrumb()->shownText().endsWith(QStringLiteral("tems")));
    EXPECT_TRUE(header->environmentPicker()->isIconOnly());
    for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
        PaletteHost::set(&window(), *palette);
        testsupport::saveRender(&window(), "routes",
                                QStringLiteral("window-route-open-1180-%1").arg(palette->isDark ? "dark" : "light"));
    }
}

// Tab from the first control round the whole window, with the body shown and then in its editor: every
// control it reaches shows the ring in both themes, the text fields and the latency slider among them.
TEST_F(InspectorInWindow, EveryControlTheTabWalkReachesShowsTheRingInBothThemes)
{
    seed({inspectorRoute("r-a")});
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    state.setSelectedEndpointID(QStringLiteral("r-a"));
    ASSERT_NE(inspector(), nullptr);
    for (const bool editing : {false, true}) {
        if (editing)
            inspector()->responseSection()->editButton()->trigger();
        for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
            PaletteHost::set(&window(), *palette);
            const std::string pass = std::string(palette->isDark ? "dark" : "light") + (editing ? " editing " : " ");
            const QColor ring = KeyboardReach::ringColor(*palette);
            if (QWidget *focused = QApplication::focusWidget())
                focused->clearFocus();
            QApplication::processEvents();
            const QImage ground = window().grab().toImage();
            QWidget *first = nullptr;
            QStringList reached;
            for (int step = 0; step < 120; ++step) {
                // Ctrl+Tab leaves the body editor, where Tab is text.
                const bool inEditor = qobject_cast<ExactPlainTextEdit *>(QApplication::focusWidget()) != nullptr;
                ASSERT_TRUE(testsupport::pressKey(Qt::Key_Tab, inEditor ? Qt::ControlModifier : Qt::NoModifier));
                QApplication::processEvents();
                QWidget *focused = QApplication::focusWidget();
                ASSERT_NE(focused, nullptr);
                if (focused == first)
                    break;
                if (!first)
                    first = focused;
                const QString what = QString::fromLatin1(focused->metaObject()->className());
                reached << what;
                // The ring runs round the control, or round the box or panel that frames an editor.
                const QRect area =
                    QRect(focused->mapTo(&window(), QPoint(0, 0)), focused->size()).adjusted(-14, -14, 14, 14);
                const int added = testsupport::pixelsOfColor(window().grab().toImage(), area, ring, 30)
                                  - testsupport::pixelsOfColor(ground, area, ring, 30);
                EXPECT_GT(added, focused->width() + focused->height()) << pass << what.toStdString() << " at " << step;
            }
            EXPECT_TRUE(reached.contains(QStringLiteral("SnowSlider"))) << pass;
            EXPECT_GT(reached.count(QStringLiteral("QLineEdit")), 3) << pass;
            EXPECT_EQ(reached.contains(QStringLiteral("ExactPlainTextEdit")), editing) << pass;
        }
    }
}

// The header beside an open route in the default window and the smallest one, in both themes: at 1280 the
// picker gives way and every crumb is whole; at 1180 the picker shows its icon and the crumbs keep their
// least.
TEST_F(InspectorInWindow, TheHeaderAtTheDefaultAndTheSmallestWindowInBothThemes)
{
    Endpoint route = inspectorRoute("r-a");
    route.path = "/api/greeting";
    seed({route});
    state.setSelectedEndpointID(QStringLiteral("r-a"));
    ASSERT_NE(inspector(), nullptr);
    MainHeader *header = window().header();
    for (const QSize size : {QSize(1280, 820), QSize(1180, 740)}) {
        window().resize(size);
        for (int pass = 0; pass < 3; ++pass)
            QApplication::processEvents();
        const QString project = header->projectCrumb()->shownText();
        const QString path = header->pathCrumb()->shownText();
        if (size.width() == 1280) {
            EXPECT_EQ(header->breadcrumb(), QStringList({project, "Endpoints", "/api/greeting"}));
            EXPECT_EQ(path, QStringLiteral("/api/greeting"));
            EXPECT_FALSE(project.contains(QChar(0x2026))) << project.toStdString();
            EXPECT_FALSE(header->environmentPicker()->isIconOnly());
        } else {
            EXPECT_TRUE(project.startsWith(header->breadcrumb().first().left(3))) << project.toStdString();
            EXPECT_TRUE(path.startsWith(QStringLiteral("/api")) && path.endsWith(QStringLiteral("ting")))
                << path.toStdString();
        }
        for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
            PaletteHost::set(&window(), *palette);
            const QString name = QStringLiteral("%1-%2").arg(size.width()).arg(palette->isDark ? "dark" : "light");
            testsupport::saveRender(header, "routes", QStringLiteral("header-route-greeting-") + name);
            testsupport::saveRender(&window(), "routes", QStringLiteral("window-route-greeting-") + name);
        }
    }
}
