// The dashboard rendered in each of its states, light and dark, under build/renders/traffic/.
#include "dashboard_test_support.h"

#include "design/card.h"
#include "design/snow_progress_bar.h"
#include "design/snow_select.h"
#include "screens/traffic/dashboard_widgets.h"
#include "support/test_support.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QScrollArea>
#include <QUrl>

#include <array>

using namespace dashtest;

namespace {

class DashboardRender : public DashboardTest
{
protected:
    // Saves the state in both schemes and returns the renders, light first; the screen must have a size
    // that shows everything.
    std::array<QImage, 2> renderBoth(const QString &name)
    {
        screen().show();
        QApplication::processEvents();
        std::array<QImage, 2> renders;
        for (const bool dark : {false, true}) {
            PaletteHost::set(&screen(), dark ? Palette::dark() : Palette::light());
            QApplication::processEvents();
            const QString path = testsupport::saveRender(&screen(), QStringLiteral("traffic"),
                                                         QStringLiteral("dashboard-") + name
                                                             + (dark ? QStringLiteral("-dark") : QStringLiteral("-light")));
            renders[dark] = QImage(path).convertToFormat(QImage::Format_RGB32);
            EXPECT_FALSE(renders[dark].isNull()) << path.toStdString();
        }
        return renders;
    }

    // Where the part sits in the render; empty when it is hidden.
    QRect shownRect(const QWidget *part)
    {
        return part->isVisibleTo(&screen()) ? QRect(part->mapTo(&screen(), QPoint(0, 0)), part->size()) : QRect();
    }

    // How far along a progress bar the render's fill runs, as a share of the bar: along its middle row,
    // where the colour of its start gives way to the track's.
    double shownFill(const QImage &render, const QWidget *bar)
    {
        const QRect area = shownRect(bar);
        const int y = area.center().y();
        const int start = area.left() + area.height(); // past the rounded end
        const QRgb fill = render.pixel(start, y);
        int x = start;
        while (x < area.right() && render.pixel(x + 1, y) == fill)
            ++x;
        return double(x + 1 - area.left()) / area.width();
    }
};

} // namespace

TEST_F(DashboardRender, FirstRun)
{
    screen().resize(1000, 640);
    renderBoth(QStringLiteral("first-run"));
    EXPECT_TRUE(screen().firstRunPanel()->isVisible());
    EXPECT_FALSE(screen().statRow()->isVisible());
}

TEST_F(DashboardRender, DropHighlight)
{
    QTemporaryDir files;
    const QString path = files.filePath(QStringLiteral("capture.har"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("{}");
    file.close();
    screen().resize(1000, 640);
    screen().show();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    FirstRunPanel *panel = screen().firstRunPanel();
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(panel, &enter);
    ASSERT_TRUE(enter.isAccepted());
    ASSERT_TRUE(testsupport::waitFor([&] { return panel->highlight() == 1.0; }));
    renderBoth(QStringLiteral("drop-highlight"));
}

TEST_F(DashboardRender, EngineStopped)
{
    engine.setEndpoints({route("users"), route("orders"), route("login", false)});
    engine.setChaosPresets(standardPresets());
    engine.setEnvironments({MockEnvironment{"env-1", "Staging", {}}});
    engine.setActiveEnvID(QStringLiteral("env-1"));
    const std::array<QImage, 2> renders = renderBoth(QStringLiteral("stopped"));
    // Set-up one step in four, the disabled route as the one alert, no chaos tag; all of it inside the render.
    for (const QImage &render : renders) {
        EXPECT_NEAR(shownFill(render, screen().setupProgress()), 0.25, 0.02);
        EXPECT_TRUE(render.rect().contains(shownRect(screen().setupCard())));
        EXPECT_TRUE(render.rect().contains(shownRect(screen().attentionCard())));
    }
    EXPECT_EQ(screen().shownAlerts().size(), 1);
    EXPECT_TRUE(shownRect(screen().chaosTag()).isEmpty());
    EXPECT_TRUE(shownRect(screen().sessionCard()).isEmpty());
}

TEST_F(DashboardRender, WithTraffic)
{
    engine.setEndpoints({route("users"), route("orders"), route("login")});
    engine.setProxyRunning(true);
    engine.setChaosPresets(standardPresets());
    engine.setTraffic(traffic(57, 2));
    const std::array<QImage, 2> renders = renderBoth(QStringLiteral("traffic"));
    // 29 of 57 served from mocks fills just over half the bar; the session card with its five newest rows
    // replaces the set-up card.
    for (const QImage &render : renders) {
        EXPECT_NEAR(shownFill(render, screen().servedBar()), 29.0 / 57.0, 0.02);
        EXPECT_TRUE(render.rect().contains(shownRect(screen().sessionCard())));
    }
    EXPECT_TRUE(shownRect(screen().setupCard()).isEmpty());
    ASSERT_EQ(screen().shownRecentRows().size(), 5);
    for (const RecentRow *row : screen().shownRecentRows())
        EXPECT_TRUE(shownRect(screen().sessionCard()).contains(shownRect(row)));
}

TEST_F(DashboardRender, AlertsAndChaosActive)
{
    engine.setEndpoints({route("users"), route("orders", true, ErrorOverride::serverError), route("login", false)});
    engine.setChaosPresets(standardPresets());
    engine.setActiveChaosId(QStringLiteral("broken-backend"));
    engine.setSchemaDrifts({drift("t1", 2, 1)});
    engine.setUnseenDrift(3);
    engine.setCaInfo(CAInfo{true, "AB:CD", "2030", "Kestrion CA", "", "/tmp/ca.pem"});
    const std::array<QImage, 2> renders = renderBoth(QStringLiteral("alerts-chaos"));
    // Four alerts stacked in their card, the chaos tag beside the environment, and the armed preset's chip
    // filled unlike the others.
    const QList<AlertRow *> alerts = screen().shownAlerts();
    ASSERT_EQ(alerts.size(), 4);
    for (int i = 1; i < alerts.size(); ++i)
        EXPECT_GT(shownRect(alerts[i]).top(), shownRect(alerts[i - 1]).bottom());
    EXPECT_TRUE(shownRect(screen().attentionCard()).contains(shownRect(alerts.last())));
    EXPECT_GT(shownRect(screen().chaosTag()).left(), shownRect(screen().envSelect()).right());
    for (const QImage &render : renders) {
        const QRect armed = shownRect(screen().chipGrid()->chip(1));
        const QRect idle = shownRect(screen().chipGrid()->chip(0));
        ASSERT_FALSE(armed.isEmpty());
        const QPoint inside(armed.width() / 2, 4); // above the text
        EXPECT_NE(render.pixel(armed.topLeft() + inside), render.pixel(idle.topLeft() + inside));
        EXPECT_NE(render.pixel(armed.topLeft() + inside), render.pixel(armed.topLeft() - QPoint(0, 6)));
    }
}

// In a wide window the column stops at 980 and sits in the middle.
TEST_F(DashboardRender, WideWindowCentresTheColumn)
{
    engine.setEndpoints({route("users"), route("orders")});
    engine.setChaosPresets(standardPresets());
    screen().resize(1400, 900);
    renderBoth(QStringLiteral("wide"));
    const QWidget *row = screen().statRow();
    const QRect inScreen(row->mapTo(&screen(), QPoint(0, 0)), row->size());
    EXPECT_EQ(inScreen.width(), 980);
    const int viewport = screen().scrollArea()->viewport()->width();
    EXPECT_NEAR(inScreen.left(), (viewport - 980) / 2, 1);
}
