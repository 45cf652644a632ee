// The devices screen with a fake xcrun: the CA hint, trust marks tied to the CA, the shared busy flag, the snippet.
#include "platform/desktop.h"
#include "platform/fake_tool.h"
#include "platform/preferences.h"
#include "screens/setup/devices_screen.h"
#include "screens/setup/setup_logic.h"
#include "screens/setup/setup_widgets.h"
#include "setup_test_support.h"

#include "design/badges.h"
#include "design/copy_button.h"
#include "design/shell_widgets.h"
#include "design/ks_button.h"
#include "design/snow_empty_state.h"
#include "design/snow_text.h"
#include "design/snow_toast.h"
#include "support/temp_preferences.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

using setuptest::click;
using setuptest::generatedCa;

namespace {

const QByteArray OneBooted = R"({"devices": {
  "com.apple.CoreSimulator.SimRuntime.iOS-17-2": [
    {"udid": "5A1B2C3D-0000-4000-8000-00000000CAFE", "name": "iPhone 15", "state": "Booted"},
    {"udid": "B2", "name": "iPad", "state": "Shutdown"}
  ]}})";

class DevicesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ctxHolder = std::make_unique<setuptest::Context>();
        // "list" prints the listing; "keychain" waits while a hold file exists, then answers from files.
        const QString xcrun = faketool::write(
            dir, "xcrun",
            "d=$(dirname \"$0\")\n"
            "if [ \"$2\" = list ]; then while [ -e \"$d/hold-list\" ]; do sleep 0.02; done; cat \"$d/listing\"; exit 0; fi\n"
            "printf '%s\\n' \"$5\" > \"$d/trusted-path\"\n"
            "while [ -e \"$d/hold\" ]; do sleep 0.02; done\n"
            "cat \"$d/trust-stderr\" >&2 2>/dev/null\n"
            "exit \"$(cat \"$d/trust-status\" 2>/dev/null || echo 0)\"");
        env.emplace(ToolPaths::XcrunEnv, xcrun.toUtf8());
        put("listing", OneBooted);
    }

    void TearDown() override
    {
        screen.reset();
    }

    void put(const QString &name, const QByteArray &content)
    {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

    void open()
    {
        screen = std::make_unique<DevicesScreen>(ctx().context);
        screen->resize(760, 760);
        screen->show();
    }

    bool idle() { return testsupport::waitFor([this] { return !ctx().simulators.busy(); }, 20000); }

    testsupport::TemporaryPreferencesDir dir;
    std::optional<faketool::ScopedEnv> env;
    std::unique_ptr<setuptest::Context> ctxHolder;
    setuptest::Context &ctx() { return *ctxHolder; }
    std::unique_ptr<DevicesScreen> screen;
};

} // namespace

TEST_F(DevicesTest, WithoutACaTheHintShowsAndTrustIsDisabled)
{
    open();
    ASSERT_TRUE(idle());
    ASSERT_EQ(screen->rows().size(), 1);
    SimulatorRow *row = screen->rows().first();
    EXPECT_TRUE(screen->caHint()->isVisible());
    EXPECT_TRUE(row->trustButton()->disabled());
    EXPECT_FALSE(row->trustedTag()->isVisible());
    EXPECT_FALSE(screen->emptyState()->isVisible());
    EXPECT_FALSE(screen->statusToast()->isVisible());
    EXPECT_TRUE(screen->shownTexts().contains("iOS 17.2 \u00b7 5A1B2C3D-0000-4000-8000-00000000CAFE"));

    click(row->trustButton());
    EXPECT_FALSE(ctx().simulators.busy());
    EXPECT_FALSE(ctx().simulators.status().has_value());
    setuptest::renderBoth(screen.get(), "devices-no-ca");

    // A CA record that is not generated counts as none.
    CAInfo pending;
    pending.path = "/x/ca.pem";
    ctx().engine().setCaInfo(pending);
    EXPECT_TRUE(screen->caHint()->isVisible());
    EXPECT_TRUE(row->trustButton()->disabled());

    click(screen->openCertificatesButton());
    EXPECT_EQ(ctx().state.nav(), NavItem::certificates);
}

TEST_F(DevicesTest, TrustMarksTheCurrentCaOnlyAndBusyCoversOverlappingRuns)
{
    const QString caPath = dir.filePath(QStringLiteral("Kestrion CA/ca.pem"));
    ctx().engine().setCaInfo(generatedCa(caPath.toStdString(), "AA:AA"));
    open();
    ASSERT_TRUE(idle());
    ASSERT_EQ(screen->rows().size(), 1);
    EXPECT_FALSE(screen->caHint()->isVisible());
    KSButton *trust = screen->rows().first()->trustButton();
    EXPECT_FALSE(trust->disabled());
    EXPECT_FALSE(trust->loading());

    // A trust held open, then a refresh that ends first: busy stays until the trust ends too.
    put("hold", "");
    click(trust);
    ASSERT_TRUE(ctx().simulators.busy());
    EXPECT_TRUE(screen->rows().first()->trustButton()->loading());
    QSignalSpy listed(&ctx().simulators, &SimulatorManager::simulatorsChanged);
    click(screen->refreshButton());
    ASSERT_TRUE(testsupport::waitFor([&] { return listed.count() == 1; }, 20000));
    EXPECT_TRUE(ctx().simulators.busy());
    ASSERT_EQ(screen->rows().size(), 1);
    EXPECT_TRUE(screen->rows().first()->trustButton()->loading());
    QFile::remove(dir.filePath("hold"));
    ASSERT_TRUE(idle());

    SimulatorRow *row = screen->rows().first();
    EXPECT_TRUE(row->trustedTag()->isVisible());
    EXPECT_FALSE(row->trustButton()->isVisible());
    ASSERT_TRUE(screen->statusToast()->isVisible());
    EXPECT_EQ(screen->statusToast()->text(), "Kestrion CA trusted in iPhone 15.");
    EXPECT_EQ(screen->statusToast()->tone(), SnowToast::Tone::success);
    QFile pathFile(dir.filePath("trusted-path"));
    ASSERT_TRUE(pathFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(pathFile.readAll()).trimmed(), caPath);
    setuptest::renderBoth(screen.get(), "devices-trusted");

    // The mark survives a refresh, but not a new CA.
    click(screen->refreshButton());
    ASSERT_TRUE(idle());
    EXPECT_TRUE(screen->rows().first()->trustedTag()->isVisible());
    ctx().engine().setCaInfo(generatedCa(caPath.toStdString(), "BB:BB"));
    EXPECT_FALSE(screen->rows().first()->trustedTag()->isVisible());
    EXPECT_TRUE(screen->rows().first()->trustButton()->isVisible());
    EXPECT_FALSE(screen->rows().first()->trustButton()->disabled());
}

TEST_F(DevicesTest, FailuresUseTheErrorTone)
{
    ctx().engine().setCaInfo(generatedCa("/x/ca.pem"));
    open();
    ASSERT_TRUE(idle());
    put("trust-status", "1");
    put("trust-stderr", "  Simulator is not booted\n");
    click(screen->rows().first()->trustButton());
    ASSERT_TRUE(idle());
    EXPECT_EQ(screen->statusToast()->text(), "Trust failed: Simulator is not booted");
    EXPECT_EQ(screen->statusToast()->tone(), SnowToast::Tone::error);
    EXPECT_FALSE(screen->rows().first()->trustedTag()->isVisible());
    setuptest::renderBoth(screen.get(), "devices-trust-failed");

    // A reason longer than the card is wide wraps and is shown whole; the snippet keeps its nine lines.
    const QString reason = QStringLiteral("An error was encountered processing the command "
                                          "(domain=com.apple.CoreSimulator.SimError, code=405): Unable to add the "
                                          "certificate to the device's trust store");
    put("trust-stderr", reason.toUtf8() + "\n");
    click(screen->rows().first()->trustButton());
    ASSERT_TRUE(idle());
    ASSERT_TRUE(screenstest::settle(screen.get()));
    SnowToast *toast = screen->statusToast();
    ASSERT_EQ(toast->text(), "Trust failed: " + reason);
    EXPECT_FALSE(toast->isCut());
    EXPECT_GE(toast->linesAt(toast->width()).size(), 2);
    EXPECT_EQ(toast->linesAt(toast->width()).join(QLatin1Char(' ')), toast->text()) << "every word is drawn";
    EXPECT_GE(toast->height(), toast->heightForWidth(toast->width()));
    const QWidget *card = screen->snippetBox()->parentWidget();
    EXPECT_LE(toast->mapTo(card, QPoint(toast->width(), 0)).x(), card->width());
    const QLabel *snippet = screen->snippetBox()->codeText();
    EXPECT_GE(snippet->height(), 9 * snippet->fontMetrics().lineSpacing()) << "all nine lines of the snippet show";
    EXPECT_LE(screen->snippetBox()->mapTo(card, QPoint(screen->snippetBox()->width(), 0)).x(), card->width());
    setuptest::renderBoth(screen.get(), "devices-trust-failed-long");

    // Asking without a CA file is a failure too, not a success.
    ctx().simulators.trust(screen->rows().first()->simulator(), QString());
    EXPECT_EQ(screen->statusToast()->text(), "Generate a Root CA first (Certificates tab).");
    EXPECT_EQ(screen->statusToast()->tone(), SnowToast::Tone::error);
}

TEST_F(DevicesTest, EmptyListShowsTheEmptyStateWithTheNotificationBelow)
{
    put("listing", R"({"devices": {}})");
    open();
    ASSERT_TRUE(idle());
    EXPECT_TRUE(screen->emptyState()->isVisible());
    EXPECT_TRUE(screen->rows().isEmpty());
    ctx().simulators.trust(Simulator{"U", "Phone", "iOS 17", "Booted"}, QString());
    EXPECT_TRUE(screen->statusToast()->isVisible());
    const QStringList texts = screen->shownTexts();
    EXPECT_LT(texts.indexOf("No booted simulator"), texts.indexOf("Generate a Root CA first (Certificates tab)."));
    setuptest::renderBoth(screen.get(), "devices-empty");
}

TEST_F(DevicesTest, SnippetNamesThePortAndCopiesWhole)
{
    open();
    ASSERT_EQ(ctx().engine().proxyPort(), 9999);
    const QString snippet = screen->snippetBox()->text();
    EXPECT_EQ(snippet, SetupLogic::proxySnippet(9999));
    const QStringList lines = snippet.split('\n');
    ASSERT_EQ(lines.size(), 9);
    EXPECT_TRUE(lines[5].endsWith("9999,"));
    EXPECT_TRUE(lines[6].endsWith("9999,"));
    click(screen->snippetBox()->copyButton());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), snippet);

    // A health answer naming another port, as the header shows it.
    EngineHealth health;
    health.proxyPort = 9100;
    ctx().engine().setProxyPort(9100);
    ctx().engine().setHealth(health);
    EXPECT_EQ(screen->snippetBox()->text().toStdString(), SetupLogic::proxySnippet(9100).toStdString());
    click(screen->snippetBox()->copyButton());
    EXPECT_TRUE(QGuiApplication::clipboard()->text().contains("9100,"));
}

// At the width the screen has in the smallest window with the info panel shown, the snippet's long lines
// wrap, and each piece after a break starts under its line's own indent and further in, never at the edge.
TEST_F(DevicesTest, WrappedSnippetLinesKeepTheirIndent)
{
    open();
    screen->resize(650, 772);
    ASSERT_TRUE(idle());
    ASSERT_TRUE(screenstest::settle(screen.get()));
    QLabel *code = screen->snippetBox()->codeText();
    const int spacing = code->fontMetrics().lineSpacing();
    const int charWidth = code->fontMetrics().horizontalAdvance(QLatin1Char(' '));
    const QImage image = code->grab().toImage();
    const QColor panel = image.pixelColor(image.width() - 1, 1);
    // Where ink starts on each drawn line, top to bottom.
    QList<int> starts;
    for (int top = 0; top + spacing <= image.height(); top += spacing) {
        int first = -1;
        for (int x = 0; x < image.width() && first < 0; ++x)
            for (int y = top; y < top + spacing && first < 0; ++y)
                if (qAbs(image.pixelColor(x, y).lightness() - panel.lightness()) > 40)
                    first = x;
        if (first >= 0)
            starts << first;
    }
    ASSERT_GT(starts.size(), 9) << "some lines wrap at this width";
    // Five of the nine lines start at the edge ("//", "let cfg", "cfg.", "]" and "let session"); nothing else does.
    EXPECT_EQ(std::count_if(starts.begin(), starts.end(), [&](int x) { return x < charWidth; }), 5);
    EXPECT_EQ(screen->snippetBox()->text(), SetupLogic::proxySnippet(9999));
    setuptest::renderBoth(screen.get(), "devices-snippet-wrapped");
}

// Without xcrun the empty state says there is no simulator tool here; without the Simulator application nothing
// offers to open it.
TEST_F(DevicesTest, AMissingXcrunListsNothingAndSaysSo)
{
    ASSERT_FALSE(SimulatorManager::appFound());
    open();
    ASSERT_TRUE(idle());
    put("listing", R"({"devices": {}})");
    click(screen->refreshButton());
    ASSERT_TRUE(testsupport::waitFor([&] { return screen->emptyState()->isVisible(); }));
    ASSERT_TRUE(idle());
    EXPECT_EQ(screen->emptyState()->messageText()->text(), "Boot a device with xcrun simctl boot, then Refresh.");

    env.emplace(ToolPaths::XcrunEnv, dir.filePath(QStringLiteral("absent")).toUtf8());
    click(screen->refreshButton());
    ASSERT_TRUE(idle());
    EXPECT_TRUE(screen->emptyState()->isVisible());
    EXPECT_EQ(screen->emptyState()->messageText()->text(),
              "This computer has no simulator tool (xcrun), so there is no simulator to list.");
    const QStringList texts = screen->shownTexts();
    EXPECT_FALSE(texts.contains("Open Simulator")) << texts.join('|').toStdString();
    EXPECT_FALSE(texts.join(' ').contains("Simulator.app"));
    setuptest::renderBoth(screen.get(), "devices-no-simulator-tool");
}

TEST(SimulatorRowLayout, ALongNameEndsInAnEllipsisBeforeTheTags)
{
    const QString name = QStringLiteral("iPhone 15 Pro Max (second test device for the checkout team, EU region)");
    SimulatorRow row(Simulator{QStringLiteral("5A1B2C3D-0000-4000-8000-00000000CAFE"), name,
                               QStringLiteral("iOS 17.2"), QStringLiteral("Booted")});
    row.resize(520, row.sizeHint().height());
    setuptest::renderBoth(&row, "devices-long-name");
    ShellText *shown = nullptr;
    for (ShellText *text : row.findChildren<ShellText *>())
        if (text->text() == name)
            shown = text;
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->shownText().endsWith(QChar(0x2026))) << shown->shownText().toStdString();
    EXPECT_LE(shown->fontMetrics().horizontalAdvance(shown->shownText()), shown->width());
    // The name stops before the "Booted" tag and the button.
    const SnowTag *booted = nullptr;
    for (SnowTag *tag : row.findChildren<SnowTag *>())
        if (tag->isVisibleTo(&row) && tag != row.trustedTag())
            booted = tag;
    ASSERT_NE(booted, nullptr);
    EXPECT_LE(shown->mapTo(&row, QPoint(shown->width(), 0)).x(), booted->x());
}
