// The setup screens tell what happens on Linux: no text names macOS, Finder, Homebrew, Application Support, a keychain, AirDrop or a Mac.
#include "design/ks_button.h"
#include "platform/fake_tool.h"
#include "screens/setup/certificates_screen.h"
#include "screens/setup/onboarding_view.h"
#include "screens/setup/settings_screen.h"
#include "setup_test_support.h"
#include "support/temp_preferences.h"

#include "design/snow_text.h"

#include <QLabel>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Every text a shown label or button of the widget's tree reads.
QStringList shownTexts(const QWidget *root)
{
    QStringList texts;
    for (const QLabel *label : root->findChildren<QLabel *>())
        if (label->isVisibleTo(root))
            texts << label->text();
    for (const SnowText *text : root->findChildren<SnowText *>())
        if (text->isVisibleTo(root))
            texts << text->text();
    for (const KSButton *button : root->findChildren<KSButton *>())
        if (button->isVisibleTo(root))
            texts << button->title();
    return texts;
}

} // namespace

// The one-click trust promises a password only where pkexec is there to ask for it.
TEST(LinuxTexts, TheTrustNotesPromiseAPasswordOnlyWithPkexec)
{
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    setuptest::Context ctx;
    ctx.engine().setEngineReady(true);
    ctx.engine().setCaInfo(setuptest::generatedCa("/data/ca/kestrion-ca.pem"));
    // Nothing else on the search path, so this computer's own pkexec can't answer.
    faketool::ScopedEnv path("PATH", bin.path().toUtf8());
    for (const bool pkexec : {false, true}) {
        if (pkexec)
            faketool::write(bin, "pkexec", "exit 0");
        CertificatesScreen certificates(ctx.context);
        OnboardingView onboarding(ctx.context, {});
        const QStringList texts = shownTexts(&certificates) + shownTexts(&onboarding);
        const QStringList expected =
            pkexec ? QStringList{"One click \u2014 the system will ask for your password.",
                                 "The system will ask for your password."}
                   : QStringList{"One click \u2014 your browsers will trust it; the system store needs the command below.",
                                 "Your browsers will trust it; you'll be shown a command for the system store."};
        for (const QString &text : expected)
            EXPECT_TRUE(texts.contains(text)) << text.toStdString();
    }
}

TEST(LinuxTexts, SetupScreensSayWhatHappensHere)
{
    testsupport::TemporaryPreferencesDir dir;
    ASSERT_TRUE(dir.isValid());
    setuptest::Context ctx;
    // The states that offer the trust and the model setup.
    ctx.engine().setEngineReady(true);
    ctx.engine().setCaInfo(setuptest::generatedCa("/data/ca/kestrion-ca.pem"));
    ctx.engine().setCaTrustedOnMac(false);

    CertificatesScreen certificates(ctx.context);
    OnboardingView onboarding(ctx.context, {});
    SettingsScreen settings(ctx.context);
    const struct
    {
        QWidget *screen;
        QString expected;
    } screens[] = {
        {&certificates, QStringLiteral("Show in File Manager")},
        {&onboarding, QStringLiteral("Trust on this computer")},
        {&settings, QStringLiteral("This engine has no local model to install: setup ends at once and downloads "
                                   "nothing. Generation uses the built-in Tier-1 engine.")},
    };
    certificates.resize(1031, 772);
    settings.resize(720, 640);
    for (const auto &entry : screens) {
        entry.screen->show();
        const QStringList texts = shownTexts(entry.screen);
        EXPECT_TRUE(texts.contains(entry.expected)) << entry.expected.toStdString();
        for (const QString &text : texts)
            for (const char *absent :
                 {"macOS", "Finder", "Homebrew", "Application Support", "keychain", "AirDrop", "on this Mac"})
                EXPECT_FALSE(text.contains(QLatin1String(absent), Qt::CaseInsensitive)) << text.toStdString();
    }

    // How the trust tool's message and the manual command look where pkexec is missing.
    ctx.engine().setCaTrustMessage(QStringLiteral(
        "pkexec was not found, so the system store is unchanged. Chromium and Firefox trust the CA; for curl, "
        "OpenSSL, Python and Go, run: sudo install -D -m 644 /data/ca/kestrion-ca.pem "
        "/usr/local/share/ca-certificates/kestrion-root-ca-0123456789abcdef.crt && sudo update-ca-certificates"));
    certificates.toggleManualTrust();
    setuptest::renderBoth(&certificates, QStringLiteral("certificates-linux-trust"));
    setuptest::scrollToEnd(&certificates);
    setuptest::renderBoth(&certificates, QStringLiteral("certificates-linux-end"));
    setuptest::renderBoth(&onboarding, QStringLiteral("onboarding-linux-trust"));
    setuptest::scrollToEnd(&settings);
    setuptest::renderBoth(&settings, QStringLiteral("settings-linux-model"));
}
