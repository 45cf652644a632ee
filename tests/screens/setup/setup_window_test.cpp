// The setup screens in the main window at its two usual sizes and both themes, and the Tab walk through them and
// through every sheet the window opens.
#include "app/app_state.h"
#include "app/content_view.h"
#include "app/root_view.h"
#include "app/sheet_presenter.h"
#include "app/shell_registry.h"
#include "design/copy_button.h"
#include "design/keyboard_reach.h"
#include "design/ks_button.h"
#include "design/scroll_into_view.h"
#include "design/snow_text.h"
#include "engine/engine_client.h"
#include "platform/preferences.h"
#include "screens/routes/painted_list_view.h"
#include "screens/routes/routes_catalog.h"
#include "screens/setup/certificates_screen.h"
#include "screens/setup/devices_screen.h"
#include "screens/setup/setup_catalog.h"
#include "screens/setup/setup_logic.h"
#include "support/test_support.h"
#include "support/window_on_standin_engine.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTcpServer>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

class SetupWindow : public testsupport::WindowOnStandinEngine
{
protected:
    void prepare(ShellRegistry &registry) override
    {
        installSetupScreens(registry);
        installRoutesScreens(registry);
        keepKeyboardFocusInView();
    }
};

// The screen of this kind on show (the one left before may wait to be deleted).
template<typename Screen>
QWidget *shown(QWidget *window)
{
    for (Screen *screen : window->findChildren<Screen *>())
        if (screen->isVisible())
            return screen;
    return nullptr;
}

} // namespace

// Every control Tab reaches in the certificates and devices screens and in every sheet the window opens shows the
// ring (a text field's ring runs round its box), in view and clear of its label, the wrap from the last control to
// the first included, and nothing scrolls sideways; at the window's two usual sizes, light and dark, each screen
// and sheet rendered before its walk.
TEST_F(SetupWindow, EveryControlTabReachesShowsItsRingInViewAndClearOfItsLabel)
{
    EngineClient *engine = m_window->engine();
    ASSERT_TRUE(testsupport::waitFor([&] { return engine->engineReady() && engine->routesLoaded(); }, 15000));
    engine->generateCA();
    ASSERT_TRUE(testsupport::waitFor([&] { return SetupLogic::caGenerated(engine->caInfo()); }, 20000));
    // Lists with rows to walk: two projects, and once the sheet was walked without any, an environment with a
    // variable.
    bool created = false;
    engine->createProject(QStringLiteral("Payments"), [&](const std::optional<QString> &) { created = true; });
    ASSERT_TRUE(testsupport::waitFor([&] { return created && engine->projects().size() == 2; }, 15000));
    ASSERT_TRUE(engine->environments().isEmpty());
    AppState *state = m_window->state();
    m_window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));

    QStringList faults;
    // Tabs round the window once, looking at each control inside `screen`.
    auto walk = [&](const QString &name, QWidget *screen) {
        ASSERT_NE(screen, nullptr) << name.toStdString();
        ASSERT_TRUE(settled());
        // Read to the end first, so that the walk back to the top has somewhere to go.
        for (QScrollArea *area : screen->findChildren<QScrollArea *>())
            area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
        QWidget *first = nullptr;
        int looked = 0;
        QSet<QWidget *> reached;
        for (int press = 0; press < 80; ++press) {
            // The ring is told from what was there before the key moved it (white text looks like the dark ring).
            const QImage before = screen->window()->grab().toImage();
            ASSERT_TRUE(testsupport::pressKey(Qt::Key_Tab));
            ASSERT_TRUE(settled());
            QWidget *focused = QApplication::focusWidget();
            ASSERT_NE(focused, nullptr);
            if (focused == first)
                break;
            first = first ? first : focused;
            if (!screen->isAncestorOf(focused))
                continue;
            ++looked;
            reached << focused;
            const QString what = name + " " + QString::number(m_window->width()) + ": " + focused->metaObject()->className()
                                 + (qobject_cast<KSButton *>(focused) ? " " + qobject_cast<KSButton *>(focused)->title()
                                                                      : QString());
            for (QWidget *up = focused->parentWidget(); up; up = up->parentWidget())
                if (auto *area = qobject_cast<QScrollArea *>(up)) {
                    const QRect shown(focused->mapTo(area->viewport(), QPoint(0, 0)), focused->size());
                    if (!area->viewport()->rect().contains(shown))
                        faults << what + " out of view";
                }
            for (const QScrollArea *area : screen->findChildren<QScrollArea *>())
                if (area->isVisible() && area->horizontalScrollBar()->maximum() > 0)
                    faults << what + " scrolls sideways";
            // Round the control, a row of a list, or the box that frames a text field.
            QWidget *window = focused->window();
            const QRect at = QRect(focused->mapTo(window, QPoint(0, 0)), focused->size()).adjusted(-14, -14, 14, 14);
            const QColor ring = KeyboardReach::ringColor(Palette::of(focused));
            const QImage after = window->grab().toImage();
            const int added = testsupport::pixelsOfColor(after, at, ring) - testsupport::pixelsOfColor(before, at, ring);
            // A ring adds two lines along the control at the least.
            if (added < qMin(focused->width(), 200))
                faults << what + " shows no ring";
            // The ring and the gap inside it take the outer 3.5 of the control.
            for (const SnowText *label : focused->findChildren<SnowText *>())
                if (label->isVisibleTo(focused)
                    && !focused->rect().adjusted(4, 4, -4, -4).contains(
                        QRect(label->mapTo(focused, QPoint(0, 0)), label->size())))
                    faults << what + " rings its label \"" + label->text() + "\"";
            // The copy glyph has no ground of its own: the ring paints over the window's ground, not the glyph.
            if (qobject_cast<CopyButton *>(focused)) {
                const QRect own(focused->mapTo(window, QPoint(0, 0)), focused->size());
                const QRgb ground = before.pixel(own.topLeft());
                int covered = 0;
                for (int y = own.top(); y <= own.bottom(); ++y)
                    for (int x = own.left(); x <= own.right(); ++x)
                        covered += after.pixel(x, y) != before.pixel(x, y) && before.pixel(x, y) != ground ? 1 : 0;
                if (covered > 0)
                    faults << what + " rings its glyph";
            }
        }
        EXPECT_GT(looked, 0) << name.toStdString();
        // A list of rows is one stop, its arrows walk the rows.
        for (PaintedListView *list : screen->findChildren<PaintedListView *>())
            if (list->isVisible() && list->model()->rowCount() > 0 && !reached.contains(list))
                faults << name + " " + QString::number(m_window->width()) + ": " + list->metaObject()->className()
                              + " not reached";
    };
    const QList<std::pair<SheetFlag, QString>> sheets = {
        {SheetFlag::manageEnvironments, "environments-empty"}, {SheetFlag::onboarding, "onboarding"}, {SheetFlag::settings, "settings"},
        {SheetFlag::search, "palette"},        {SheetFlag::newProject, "new-project"},
        {SheetFlag::manageProjects, "projects"}, {SheetFlag::newRoute, "new-route"},
        {SheetFlag::newGroup, "new-group"},    {SheetFlag::manageEnvironments, "environments"},
    };
    // At both window sizes and in both themes: each screen and sheet rendered, then walked.
    for (const QSize size : {QSize(1180, 740), QSize(1280, 820)}) {
        m_window->resize(size);
        for (const AppTheme theme : {AppTheme::light, AppTheme::dark}) {
            state->setTheme(theme);
            const QString suffix = QStringLiteral("-%1-%2").arg(size.width()).arg(theme == AppTheme::dark ? "dark" : "light");
            for (const NavItem item : {NavItem::certificates, NavItem::devices}) {
                state->select(item);
                ASSERT_TRUE(settled());
                const bool certificates = item == NavItem::certificates;
                testsupport::saveRender(m_window.get(), "setup-window", (certificates ? "certificates" : "devices") + suffix);
                walk(certificates ? "certificates" : "devices",
                     certificates ? shown<CertificatesScreen>(m_window.get()) : shown<DevicesScreen>(m_window.get()));
            }
            for (const auto &[flag, name] : sheets) {
                if (name == "environments-empty" && !engine->environments().isEmpty())
                    continue;
                // A sheet opens from a shortcut or a pressed button, never from Tab: a key that does nothing
                // here stands for it, so the focus the sheet hands its first control shows no ring.
                ASSERT_TRUE(testsupport::pressKey(Qt::Key_F24));
                state->setSheetFlag(flag, true);
                ASSERT_TRUE(settled());
                SheetDialog *sheet = m_window->content()->sheets()->dialog(flag);
                ASSERT_NE(sheet, nullptr);
                ASSERT_TRUE(testsupport::waitFor([&] { return QGuiApplication::focusWindow() == sheet->windowHandle(); }));
                testsupport::saveRender(sheet, "setup-window", name + suffix);
                walk(name, sheet);
                // The first stop again, now with its ring: the palette's field, a list's row.
                testsupport::saveRender(sheet, "setup-window", name + "-ring" + suffix);
                state->setSheetFlag(flag, false);
                ASSERT_TRUE(settled());
                if (name == "environments-empty") {
                    engine->addEnvironment(QStringLiteral("Staging"));
                    engine->addVar(QString::fromStdString(engine->environments().first().id));
                }
            }
        }
    }
    EXPECT_TRUE(faults.isEmpty()) << faults.join('\n').toStdString();
}
