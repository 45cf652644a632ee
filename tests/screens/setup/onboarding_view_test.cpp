// Onboarding against the real engine: the user's routes survive the demo seeding, every exit finishes.
#include "app/sheet_presenter.h"
#include "app/shell_registry.h"
#include "engine/link/engine_fixture.h"
#include "engine/records/mock_data.h"
#include "platform/fake_tool.h"
#include "screens/setup/onboarding_view.h"
#include "screens/setup/setup_logic.h"
#include "screens/setup/setup_catalog.h"
#include "setup_test_support.h"

#include "design/ks_button.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using setuptest::click;

namespace {

Endpoint userRoute(const std::string &id, const std::string &path)
{
    Endpoint route;
    route.id = id;
    route.host = "api.mine.test";
    route.path = path;
    route.body = R"({"mine":true})";
    return route;
}

QStringList demoIds()
{
    QStringList list;
    for (const Endpoint &route : MockData::endpoints())
        list.append(QString::fromStdString(route.id));
    return list;
}

QStringList ids(const QList<Endpoint> &routes)
{
    QStringList list;
    for (const Endpoint &route : routes)
        list.append(QString::fromStdString(route.id));
    return list;
}

class OnboardingTest : public EngineFixture
{
protected:
    // Boots, waits for the start-up loads, and stores the user's own routes in the engine.
    void bootWithUserRoutes()
    {
        ASSERT_TRUE(bootHealthy());
        ASSERT_TRUE(testsupport::waitFor([this] { return client().aiStatus() != AIStatus::initial(); }));
        client().setEndpoints({userRoute("r-mine1", "/orders"), userRoute("r-mine2", "/orders/:id")});
        client().pushRoutes();
        client().flushPendingPushes(); // not after the debounce: the seed is not under test
        bool settled = false;
        client().afterRoutePushSettles([&settled] { settled = true; });
        ASSERT_TRUE(testsupport::waitFor([&] { return settled; }));
    }

    // What the engine holds now, read back afresh.
    QStringList engineRouteIds()
    {
        bool loaded = false;
        client().loadRoutes([&loaded] { loaded = true; });
        EXPECT_TRUE(testsupport::waitFor([&] { return loaded; }));
        return ids(client().endpoints());
    }

    bool pushesSettled()
    {
        bool settled = false;
        client().afterRoutePushSettles([&settled] { settled = true; });
        return testsupport::waitFor([&] { return settled; });
    }
};

} // namespace

// The demo routes join the user's, and step 3's command, run as the user would paste it, gets the demo's answer.
TEST_F(OnboardingTest, StartAddsTheDemoRoutesBesideTheUsersAndStepThreeAnswers)
{
    bootWithUserRoutes();
    client().generateCA();
    ASSERT_TRUE(testsupport::waitFor([this] { return SetupLogic::caGenerated(client().caInfo()); }, 20000));
    setuptest::Context ctx(&client());
    OnboardingView view(ctx.context, {});
    view.show();
    ASSERT_TRUE(client().routesLoaded());
    EXPECT_FALSE(view.stepDone(2));
    click(view.startButton());
    ASSERT_TRUE(testsupport::waitFor([&] { return client().proxyRunning(); }));
    ASSERT_TRUE(pushesSettled());
    const QStringList expected = QStringList{"r-mine1", "r-mine2"} + demoIds();
    EXPECT_EQ(ids(client().endpoints()), expected);
    EXPECT_EQ(engineRouteIds(), expected);
    EXPECT_EQ(client().endpoints()[0], userRoute("r-mine1", "/orders"));
    EXPECT_TRUE(view.stepDone(2));

    // This engine's proxy took any free port; the link learns which from its next health answer, and the
    // sheet shows it.
    ASSERT_TRUE(testsupport::waitFor([&] { return client().proxyPort() > 0; }, 20000));
    const QStringList shown = view.shownTexts().filter(QRegularExpression("^curl "));
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(view.shownTexts().contains(
        "Proxy running on :" + QString::number(client().proxyPort()) + " with demo routes beside your own"));
    setuptest::renderBoth(&view, "onboarding-demo-beside-own");
    QProcess curl;
    curl.start("/bin/sh", {"-c", shown.first() + " -sS -o /dev/null -w '%{http_code}' --max-time 60"});
    ASSERT_TRUE(curl.waitForFinished(90000));
    EXPECT_EQ(curl.readAllStandardOutput(), "200")
        << shown.first().toStdString() << curl.readAllStandardError().toStdString();
}

// Pressed while the route load is still out, the button waits for it, then adds the demo routes beside the user's.
TEST_F(OnboardingTest, StartPressedBeforeTheRouteLoadAnsweredAddsTheDemoRoutesOnceItHas)
{
    bootWithUserRoutes();
    stopEngine();
    m_client = makeClient();

    setuptest::Context ctx(&client());
    OnboardingView view(ctx.context, {});
    view.show();
    EXPECT_TRUE(view.startButton()->disabled());
    bool pressed = false;
    // The first moment the button works: the control port is known, the routes not yet.
    QObject::connect(&client(), &EngineClient::engineReadyChanged, &view, [&] {
        if (client().engineReady() && !pressed) {
            EXPECT_FALSE(client().routesLoaded());
            EXPECT_TRUE(client().endpoints().isEmpty());
            pressed = view.startButton()->trigger();
            EXPECT_TRUE(client().endpoints().isEmpty());
        }
    });
    ASSERT_TRUE(bootHealthy());
    ASSERT_TRUE(pressed);
    ASSERT_TRUE(testsupport::waitFor([&] { return client().routesLoaded(); }));
    ASSERT_TRUE(testsupport::waitFor([&] { return client().proxyRunning(); }));
    ASSERT_TRUE(pushesSettled());
    const QStringList expected = QStringList{"r-mine1", "r-mine2"} + demoIds();
    EXPECT_EQ(ids(client().endpoints()), expected);
    EXPECT_EQ(engineRouteIds(), expected);
}

TEST_F(OnboardingTest, AnEmptyProjectGetsTheDemoRoutesAndTheStepsWalkThrough)
{
    setuptest::Context ctx(&client());
    OnboardingView view(ctx.context, {});
    view.show();
    EXPECT_TRUE(view.shownTexts().contains("Connecting to engine\u2026"));
    EXPECT_TRUE(view.curlCommand().startsWith("curl --cacert '<ca.pem>' \\\n  -x http://127.0.0.1:"));
    // Generating before the engine is ready explains itself under step 1.
    click(view.generateButton());
    EXPECT_TRUE(view.shownTexts().contains("Engine is still starting \u2014 try again in a moment."));
    setuptest::renderBoth(&view, "onboarding-connecting");

    ASSERT_TRUE(bootHealthy());
    ASSERT_TRUE(testsupport::waitFor([&] { return client().routesLoaded() && client().caInfo().has_value(); }));
    ASSERT_TRUE(client().endpoints().isEmpty());
    if (!SetupLogic::caGenerated(client().caInfo())) {
        EXPECT_TRUE(view.generateButton()->isVisible());
        setuptest::renderBoth(&view, "onboarding-generate");
        click(view.generateButton());
    }
    ASSERT_TRUE(testsupport::waitFor([&] { return view.trustButton()->isVisible(); }, 20000));
    EXPECT_TRUE(view.curlCommand().contains(QString::fromStdString(client().caInfo()->path)));

    QTemporaryDir tools;
    const QString trust = faketool::write(tools, "trust", "exit 0");
    faketool::ScopedEnv env(ToolPaths::SecurityEnv, trust.toUtf8());
    click(view.trustButton());
    ASSERT_TRUE(testsupport::waitFor([&] { return view.stepDone(1); }, 20000));
    EXPECT_TRUE(view.shownTexts().contains("Root CA trusted"));
    EXPECT_FALSE(view.shownTexts().contains("Engine is still starting \u2014 try again in a moment."));

    click(view.startButton());
    ASSERT_EQ(client().endpoints().size(), qsizetype(MockData::endpoints().size()));
    ASSERT_TRUE(testsupport::waitFor([&] { return view.stepDone(2); }));
    ASSERT_TRUE(pushesSettled());
    EXPECT_EQ(engineRouteIds().size(), qsizetype(MockData::endpoints().size()));
    EXPECT_FALSE(view.stepDone(3));
    setuptest::renderBoth(&view, "onboarding-done");
    setuptest::scrollToEnd(&view);
    setuptest::renderBoth(&view, "onboarding-done-end");
}

// The finish actions run the finish action once and close the sheet; Escape closes it without, so
// "ks.onboardedV1" stays unset and the sheet comes back at the next launch. The sheet comes from the catalog.
TEST(OnboardingExits, OnlyTheFinishActionsMarkOnboardingDone)
{
    ShellRegistry registry;
    installSetupScreens(registry);
    ASSERT_NE(registry.onboarding(), nullptr);

    enum class Exit { skip, done, liveTraffic, escape };
    for (Exit exit : {Exit::skip, Exit::done, Exit::liveTraffic, Exit::escape}) {
        Preferences::instance().setValue(PrefKey::OnboardedV1, false);
        setuptest::Context ctx;
        int finished = 0;
        SheetDialog dialog(SheetFlag::onboarding, nullptr);
        dialog.setAttribute(Qt::WA_DeleteOnClose, false);
        QWidget *content = (*registry.onboarding())(
            ctx.context,
            [&finished] {
                ++finished;
                Preferences::instance().setValue(PrefKey::OnboardedV1, true);
            },
            &dialog);
        dialog.setContent(content);
        auto *view = qobject_cast<OnboardingView *>(content);
        ASSERT_NE(view, nullptr);
        dialog.show();
        ASSERT_TRUE(dialog.isVisible());
        switch (exit) {
        case Exit::skip: click(view->skipButton()); break;
        case Exit::done: click(view->doneButton()); break;
        case Exit::liveTraffic: click(view->liveTrafficButton()); break;
        case Exit::escape: QTest::keyClick(&dialog, Qt::Key_Escape); break;
        }
        const bool finishes = exit != Exit::escape;
        EXPECT_FALSE(dialog.isVisible()) << int(exit);
        EXPECT_EQ(finished, finishes ? 1 : 0) << int(exit);
        EXPECT_EQ(Preferences::instance().boolValue(PrefKey::OnboardedV1, false), finishes) << int(exit);
        if (exit == Exit::liveTraffic) {
            EXPECT_EQ(ctx.state.nav(), NavItem::liveTraffic);
        }
        // A later Escape changes nothing.
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_EQ(finished, finishes ? 1 : 0);
    }
}

