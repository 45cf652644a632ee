// The settings sheet: the port field, theme and switches, the engine and local-model sections, late answers.
#include "app/sheet_presenter.h"
#include "support/fake_control_server.h"
#include "platform/preferences.h"
#include "screens/setup/settings_screen.h"
#include "screens/setup/setup_widgets.h"
#include "setup_test_support.h"

#include "design/ks_button.h"
#include "design/snow_progress_bar.h"
#include "design/snow_segmented.h"
#include "design/snow_switch.h"
#include "design/snow_text_field.h"
#include "support/temp_preferences.h"

#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using setuptest::click;

namespace {

class SettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ctxHolder = std::make_unique<setuptest::Context>();
    }

    std::unique_ptr<SettingsScreen> open()
    {
        auto screen = std::make_unique<SettingsScreen>(ctx().context);
        screen->show();
        return screen;
    }

    // What a paste or any whole-text change does: the field holds the text and reports a user edit.
    static void edit(SnowTextField *field, const QString &text)
    {
        field->lineEdit()->setText(text);
        emit field->lineEdit()->textEdited(text);
    }

    static int storedPort() { return Preferences::instance().intValue(PrefKey::ProxyPort, -1); }

    testsupport::TemporaryPreferencesDir dir;
    std::unique_ptr<setuptest::Context> ctxHolder;
    setuptest::Context &ctx() { return *ctxHolder; }
};

} // namespace

TEST_F(SettingsTest, PortFieldStoresOnlyUsablePortsAndShowsWhatIsStored)
{
    auto screen = open();
    SnowTextField *field = screen->portField();
    EXPECT_EQ(field->text(), "9999");

    field->lineEdit()->selectAll();
    QTest::keyClicks(field->lineEdit(), "80a80");
    EXPECT_EQ(storedPort(), 8080);
    EXPECT_EQ(field->text(), "8080");

    edit(field, "12345");
    QTest::keyClick(field->lineEdit(), Qt::Key_End);
    QTest::keyClicks(field->lineEdit(), "6");
    EXPECT_EQ(storedPort(), 12345);
    EXPECT_EQ(field->text(), "12345");

    for (const QString &bad : {QStringLiteral("0"), QStringLiteral("65536"), QStringLiteral(""),
                               QString::fromUtf8("\u0668\u0660\u0668\u0660"), QStringLiteral("port")}) {
        edit(field, bad);
        EXPECT_EQ(storedPort(), 12345) << bad.toStdString();
        EXPECT_EQ(field->text(), "12345") << bad.toStdString();
    }
    edit(field, "65535");
    EXPECT_EQ(storedPort(), 65535);
    // The running engine link keeps the port it started with.
    EXPECT_EQ(ctx().engine().proxyPort(), 9999);
}

TEST_F(SettingsTest, StoredPortOutOfRangeReadsAsTheDefault)
{
    Preferences::instance().setValue(PrefKey::ProxyPort, 70000);
    auto screen = open();
    EXPECT_EQ(screen->portField()->text(), "9999");
    Preferences::instance().setValue(PrefKey::ProxyPort, 0);
    EXPECT_EQ(screen->portField()->text(), "9999");
    // The engine link starts the engine on the port the field shows.
    EXPECT_EQ(EngineClient().proxyPort(), 9999);
    Preferences::instance().setValue(PrefKey::ProxyPort, 443);
    EXPECT_EQ(screen->portField()->text(), "443");
}

TEST_F(SettingsTest, ThemeAutostartAndTheCloseButton)
{
    SheetDialog dialog(SheetFlag::settings, nullptr);
    dialog.setAttribute(Qt::WA_DeleteOnClose, false);
    auto *screen = new SettingsScreen(ctx().context, &dialog);
    dialog.setContent(screen);
    dialog.show();

    ASSERT_EQ(screen->themePicker()->chipCount(), 3);
    EXPECT_EQ(screen->themePicker()->items()[0].label, "System");
    EXPECT_EQ(screen->themePicker()->items()[2].icon, "moon");
    click(screen->themePicker()->chip(2));
    EXPECT_EQ(ctx().state.theme(), AppTheme::dark);
    ctx().state.setTheme(AppTheme::system);
    EXPECT_EQ(screen->themePicker()->selection().toInt(), int(AppTheme::system));

    EXPECT_TRUE(screen->autostartSwitch()->isOn());
    click(screen->autostartSwitch());
    EXPECT_FALSE(Preferences::instance().boolValue(PrefKey::AutostartPref, true));

    click(screen->closeButton());
    EXPECT_FALSE(dialog.isVisible());
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(SettingsTest, EngineSectionFollowsTheHealthRecord)
{
    auto screen = open();
    QStringList texts = screen->shownTexts();
    EXPECT_TRUE(texts.contains("kestrion-engine \u00b7 not running"));
    EXPECT_TRUE(texts.contains("Memory: \u2014"));
    EXPECT_TRUE(texts.contains("Uptime: \u2014"));
    EXPECT_TRUE(texts.contains("Goroutines: 0"));
    EXPECT_EQ(screen->engineStatusLabel()->label(), "Stopped");
    EXPECT_TRUE(texts.contains("No telemetry"));
    setuptest::renderBoth(screen.get(), "settings-top");
    setuptest::scrollToEnd(screen.get());
    setuptest::renderBoth(screen.get(), "settings-stopped-end");

    EngineHealth health;
    health.version = "0.9.2";
    health.pid = 4242;
    health.uptimeSeconds = 90061;
    health.memoryBytes = 50LL << 20;
    health.goroutines = 17;
    ctx().engine().setHealth(health);
    ctx().engine().setStatus(EngineStatus::healthy());
    texts = screen->shownTexts();
    EXPECT_TRUE(texts.contains("kestrion-engine v0.9.2 \u00b7 pid 4242"));
    EXPECT_TRUE(texts.contains("Memory: 50.0 MB"));
    EXPECT_TRUE(texts.contains("Uptime: 25h 1m"));
    EXPECT_TRUE(texts.contains("Goroutines: 17"));
    EXPECT_EQ(screen->engineStatusLabel()->label(), "Healthy");

    health.uptimeSeconds = 1e300;
    ctx().engine().setHealth(health);
    EXPECT_TRUE(screen->shownTexts().contains("Uptime: \u2014"));
    ctx().engine().setStatus(EngineStatus::error("three missed checks"));
    EXPECT_EQ(screen->engineStatusLabel()->label(), "Error");
    EXPECT_TRUE(screen->shownTexts().contains("kestrion-engine v0.9.2 \u00b7 pid 4242"));
    health.uptimeSeconds = 3599;
    ctx().engine().setHealth(health);
    ctx().engine().setStatus(EngineStatus::healthy());
    setuptest::scrollToEnd(screen.get());
    setuptest::renderBoth(screen.get(), "settings-healthy-end");
}

TEST_F(SettingsTest, LocalModelFormsFollowAvailabilityAndSetup)
{
    auto screen = open();
    EXPECT_EQ(screen->aiStatusLabel()->label(), "Off");
    EXPECT_TRUE(screen->setupButton()->isVisible());
    EXPECT_TRUE(screen->shownTexts().contains("checking"));
    EXPECT_TRUE(screen->shownTexts().contains("Model: \u2014"));

    AIStatus status;
    status.running = true; // running but not available: the offer stays
    status.detail = "llama-server on :8089";
    ctx().engine().setAiStatus(status);
    EXPECT_EQ(screen->aiStatusLabel()->label(), "Running");
    EXPECT_TRUE(screen->setupButton()->isVisible());
    EXPECT_FALSE(screen->stopModelButton()->isVisible());

    status.available = true;
    status.model = "/home/u/.local/share/Kestrion/models/qwen2.5-3b.gguf";
    ctx().engine().setAiStatus(status);
    EXPECT_FALSE(screen->setupButton()->isVisible());
    EXPECT_TRUE(screen->stopModelButton()->isVisible());
    EXPECT_FALSE(screen->startModelButton()->isVisible());
    EXPECT_TRUE(screen->refreshModelButton()->isVisible());
    EXPECT_TRUE(screen->shownTexts().contains("Model: qwen2.5-3b.gguf"));
    setuptest::scrollTo(screen->aiStatusLabel());
    setuptest::renderBoth(screen.get(), "settings-model-running");

    status.running = false;
    ctx().engine().setAiStatus(status);
    EXPECT_EQ(screen->aiStatusLabel()->label(), "Ready");
    EXPECT_TRUE(screen->startModelButton()->isVisible());

    AISetupProgress progress;
    progress.stage = "downloading_model";
    progress.message = "Downloading model\u2026";
    progress.percent = 150;
    progress.downloaded = 3LL << 29;
    progress.total = 2LL << 30;
    ctx().engine().setAiSetup(progress);
    ctx().engine().setAiSetupActive(true);
    EXPECT_FALSE(screen->startModelButton()->isVisible());
    EXPECT_FALSE(screen->setupButton()->isVisible());
    EXPECT_TRUE(screen->setupBar()->isVisible());
    EXPECT_TRUE(screen->shownTexts().contains("150%"));
    EXPECT_TRUE(screen->shownTexts().contains("1.5 GB / 2.0 GB"));
    progress.percent = 42;
    ctx().engine().setAiSetup(progress);
    setuptest::scrollTo(screen->setupBar());
    setuptest::renderBoth(screen.get(), "settings-model-download");

    progress.stage = "installing_server";
    ctx().engine().setAiSetup(progress);
    EXPECT_FALSE(screen->setupBar()->isVisible());
    EXPECT_FALSE(screen->shownTexts().contains("42%"));
    EXPECT_TRUE(screen->shownTexts().contains("Downloading model\u2026"));
}

TEST_F(SettingsTest, OptInSwitchOnlyWithAnEndpoint)
{
    Analytics analytics(QStringLiteral("http://127.0.0.1:9/usage"));
    ctx().context.analytics = &analytics;
    auto screen = open();
    ASSERT_NE(screen->optInSwitch(), nullptr);
    EXPECT_FALSE(screen->shownTexts().contains("No telemetry"));
    EXPECT_FALSE(screen->optInSwitch()->isOn());
    click(screen->optInSwitch());
    EXPECT_TRUE(Preferences::instance().boolValue(PrefKey::AnalyticsOptIn, false));
    auto again = open();
    EXPECT_TRUE(again->optInSwitch()->isOn());
}

// Closing the sheet while its status load is out drops that answer; an open sheet takes it.
TEST(SettingsLateAnswer, ClosedSheetIgnoresTheStatusThatArrivesAfterwards)
{
    FakeControlServer server;
    int statusLoads = 0;
    CannedReply late;
    late.body = R"({"available":true,"running":true,"serverBin":"","model":"/m/late.gguf","endpoint":"","detail":"late"})";
    server.setResponder([&statusLoads, &late](const RecordedRequest &request) {
        CannedReply reply;
        if (request.path() == "/events" || request.path() == "/health") {
            reply.hold = true;
        } else if (request.path() == "/ai/status" && ++statusLoads > 1) {
            reply = late;
            // The closed sheet's load is answered only once the sheet has gone.
            reply.hold = statusLoads == 2;
        } else if (request.path() == "/ai/status") {
            reply.body = R"({"available":false,"running":false,"serverBin":"","model":"","endpoint":"","detail":"off"})";
        } else if (request.path() == "/routes") {
            reply.body = "[]";
        }
        return reply;
    });
    setuptest::Context ctx;
    ctx.engine().ingestOutput("KESTRION_CONTROL_PORT=" + QByteArray::number(server.port()) + "\n");
    ASSERT_TRUE(testsupport::waitFor([&] { return ctx.engine().aiStatus().detail == "off"; }));

    int statusRepliesDone = 0;
    QObject::connect(ctx.engine().network(), &QNetworkAccessManager::finished, &server, [&](QNetworkReply *reply) {
        statusRepliesDone += reply->url().path() == QStringLiteral("/ai/status");
    });
    {
        SettingsScreen closed(ctx.context);
        ASSERT_TRUE(testsupport::waitFor([&] { return server.matching("GET", "/ai/status").size() == 2; }));
        EXPECT_TRUE(closed.aiStatusLoading());
    }
    server.release(server.lastIndexOf("GET", "/ai/status"), late);
    // Once the client is done with that load (dropped, or answered late), nothing arrives for a sheet that has gone.
    ASSERT_TRUE(testsupport::waitFor([&] { return statusRepliesDone == 1; }));
    EXPECT_EQ(ctx.engine().aiStatus().detail, "off");

    SettingsScreen open(ctx.context);
    ASSERT_TRUE(testsupport::waitFor([&] { return ctx.engine().aiStatus().detail == "late"; }));
    EXPECT_EQ(open.aiStatusLabel()->label(), "Running");
    EXPECT_FALSE(open.aiStatusLoading());
}
