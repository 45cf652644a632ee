// The setup screens tell what happens on Linux: no text names macOS, Finder, Homebrew, Application Support, a keychain, AirDrop or a Mac.
#include "design/ks_button.h"
#include "screens/setup/certificates_screen.h"
#include "screens/setup/onboarding_view.h"
#include "screens/setup/settings_screen.h"
#include "setup_test_support.h"
#include "support/temp_preferences.h"

#include "design/snow_text.h"

#include <QLabel>

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
        {&certificates, QStringLiteral("One click \u2014 the system will ask for your password.")},
        {&certificates, QStringLiteral("Show in File Manager")},
        {&onboarding, QStringLiteral("The system will ask for your password.")},
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
