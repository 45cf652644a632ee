#include "platform/preferences.h"
#include "support/temp_preferences.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

// The engine is started with this port, so a hand-edited value that is no port must not reach it.
TEST(Preferences, ProxyPortOutsideThePortRangeReadsAsTheDefault)
{
    testsupport::TemporaryPreferencesDir dir;
    Preferences &prefs = Preferences::instance();
    EXPECT_EQ(Preferences::proxyPort(), 9999);
    for (const auto &[stored, read] : {std::pair{QVariant(8080), 8080}, {QVariant(1), 1}, {QVariant(65535), 65535},
                                       {QVariant(0), 9999}, {QVariant(65536), 9999}, {QVariant(-80), 9999},
                                       {QVariant(QStringLiteral("80a")), 9999}}) {
        prefs.setValue(PrefKey::ProxyPort, stored);
        EXPECT_EQ(Preferences::proxyPort(), read) << stored.toString().toStdString();
    }
}
