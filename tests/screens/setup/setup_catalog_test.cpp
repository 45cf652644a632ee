// The setup screens inside the main window: the catalog's screens, the settings sheet and the onboarding.
#include "app/content_view.h"
#include "app/sheet_presenter.h"
#include "app/shell_registry.h"
#include "platform/preferences.h"
#include "screens/setup/certificates_screen.h"
#include "screens/setup/devices_screen.h"
#include "screens/setup/onboarding_view.h"
#include "screens/setup/settings_screen.h"
#include "screens/setup/setup_catalog.h"
#include "setup_test_support.h"

#include "design/ks_button.h"
#include "support/temp_preferences.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using setuptest::click;

TEST(SetupCatalog, ScreensAndSheetsOpenInTheMainWindow)
{
    testsupport::TemporaryPreferencesDir dir;
    ASSERT_TRUE(dir.isValid());
    ShellRegistry registry;
    installSetupScreens(registry);
    setuptest::Context ctx;
    ContentView view(ctx.context, registry);
    view.resize(1280, 820);
    view.show();

    // First launch: the onboarding opens; Escape closes it unfinished, so it comes back at the next launch,
    // until "Skip for now" finishes it.
    view.checkOnboarding();
    SheetDialog *onboarding = view.sheets()->dialog(SheetFlag::onboarding);
    ASSERT_NE(onboarding, nullptr);
    ASSERT_NE(qobject_cast<OnboardingView *>(onboarding->content()), nullptr);
    QTest::keyClick(onboarding, Qt::Key_Escape);
    ASSERT_TRUE(testsupport::waitFor([&] { return !ctx.state.showOnboarding(); }));
    EXPECT_FALSE(Preferences::instance().boolValue(PrefKey::OnboardedV1, false));
    view.checkOnboarding();
    ASSERT_TRUE(ctx.state.showOnboarding());
    onboarding = view.sheets()->dialog(SheetFlag::onboarding);
    ASSERT_NE(onboarding, nullptr);
    auto *onboardingView = qobject_cast<OnboardingView *>(onboarding->content());
    ASSERT_NE(onboardingView, nullptr);
    click(onboardingView->skipButton());
    ASSERT_TRUE(testsupport::waitFor([&] { return !ctx.state.showOnboarding(); }));
    EXPECT_TRUE(Preferences::instance().boolValue(PrefKey::OnboardedV1, false));
    view.checkOnboarding();
    EXPECT_FALSE(ctx.state.showOnboarding());

    ctx.state.select(NavItem::certificates);
    EXPECT_NE(qobject_cast<CertificatesScreen *>(view.screen()), nullptr);
    setuptest::renderBoth(&view, "window-certificates");
    ctx.state.select(NavItem::devices);
    EXPECT_NE(qobject_cast<DevicesScreen *>(view.screen()), nullptr);

    ctx.state.setShowSettings(true);
    SheetDialog *settings = view.sheets()->dialog(SheetFlag::settings);
    ASSERT_NE(settings, nullptr);
    auto *sheet = qobject_cast<SettingsScreen *>(settings->content());
    ASSERT_NE(sheet, nullptr);
    click(sheet->closeButton());
    EXPECT_TRUE(testsupport::waitFor([&] { return !ctx.state.showSettings(); }));
}
