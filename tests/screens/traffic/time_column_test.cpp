// The time texts the stand-in engine sends fit the 96-point time columns whole.
#include "screens/traffic/traffic_table.h"

#include "design/fonts.h"

#include <QFontMetricsF>

#include <gtest/gtest.h>

TEST(TimeColumn, TheEnginesTimeTextsAreShownWhole)
{
    // Live rows and stored rows of today, another day of this year, another year.
    const QStringList texts{QStringLiteral("23:59:59.999"), QStringLiteral("Dec 28 23:59"), QStringLiteral("2025-12-31")};
    const QFontMetricsF table(Fonts::ksCodeSm()); // live traffic and history rows
    const QFontMetricsF dashboard(Fonts::ksCode()); // the dashboard's recent rows
    for (const QString &text : texts) {
        EXPECT_EQ(table.elidedText(text, Qt::ElideLeft, traffictable::TimeWidth - 4), text);
        EXPECT_EQ(dashboard.elidedText(text, Qt::ElideRight, traffictable::TimeWidth), text);
    }
    // The full ISO form the engine used to send does not fit.
    const QString iso = QStringLiteral("2026-12-07T09:43:39.686Z");
    EXPECT_NE(table.elidedText(iso, Qt::ElideLeft, traffictable::TimeWidth - 4), iso);
}
