// The dashboard rendered in each of its states, light and dark, under build/renders/traffic/.
#include "dashboard_test_support.h"

#include "design/card.h"
#include "screens/traffic/dashboard_widgets.h"
#include "support/test_support.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QScrollArea>
#include <QUrl>

using namespace dashtest;

namespace {

class DashboardRender : public DashboardTest
{
protected:
    // Saves the state in both schemes; the screen must have a size that shows everything.
    void renderBoth(const QString &name)
    {
        screen().show();
        QApplication::processEvents();
        for (const bool dark : {false, true}) {
            PaletteHost::set(&screen(), dark ? Palette::dark() : Palette::light());
            QApplication::processEvents();
            const QString path = testsupport::saveRender(&screen(), QStringLiteral("traffic"),
                                                         QStringLiteral("dashboard-") + name
                                                             + (dark ? QStringLiteral("-dark") : QStringLiteral("-light")));
            EXPECT_FALSE(QImage(path).isNull()) << path.toStdString();
        }
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
    renderBoth(QStringLiteral("stopped"));
}

TEST_F(DashboardRender, WithTraffic)
{
    engine.setEndpoints({route("users"), route("orders"), route("login")});
    engine.setProxyRunning(true);
    engine.setChaosPresets(standardPresets());
    engine.setTraffic(traffic(57, 2));
    renderBoth(QStringLiteral("traffic"));
}

TEST_F(DashboardRender, AlertsAndChaosActive)
{
    engine.setEndpoints({route("users"), route("orders", true, ErrorOverride::serverError), route("login", false)});
    engine.setChaosPresets(standardPresets());
    engine.setActiveChaosId(QStringLiteral("broken-backend"));
    engine.setSchemaDrifts({drift("t1", 2, 1)});
    engine.setUnseenDrift(3);
    engine.setCaInfo(CAInfo{true, "AB:CD", "2030", "Kestrion CA", "", "/tmp/ca.pem"});
    renderBoth(QStringLiteral("alerts-chaos"));
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
