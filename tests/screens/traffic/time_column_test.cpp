// The time texts the stand-in engine sends fit the 96-point time columns whole; how the columns share
// a row too narrow for their fixed widths, and how the Host / Path cell shortens its texts.
#include "screens/traffic/traffic_table.h"

#include "design/badges.h"
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

TEST(TrafficColumns, WithRoomToSpareTheFixedWidthsHold)
{
    const traffictable::ColumnWidths w = traffictable::columnWidths(655);
    EXPECT_EQ(w.time, traffictable::TimeWidth);
    EXPECT_EQ(w.method, traffictable::MethodWidth);
    EXPECT_EQ(w.status, traffictable::StatusWidth);
    EXPECT_EQ(w.latency, traffictable::LatencyWidth);
    EXPECT_EQ(w.address, 655 - 328);
    // Right at the floor nothing has given way yet.
    EXPECT_EQ(traffictable::columnWidths(328 + traffictable::AddressFloor).time, traffictable::TimeWidth);
}

TEST(TrafficColumns, ShortOfRoomTimeGivesWayFirstAndHostPathKeepsItsFloor)
{
    using traffictable::AddressFloor;
    const qreal full = 328 + AddressFloor;
    // The first points come from Time alone.
    const traffictable::ColumnWidths tenShort = traffictable::columnWidths(full - 10);
    EXPECT_EQ(tenShort.time, traffictable::TimeWidth - 10);
    EXPECT_EQ(tenShort.address, AddressFloor);
    EXPECT_EQ(tenShort.method + tenShort.status + tenShort.latency, 72 + 80 + 80);

    // Whatever the width, the columns fill the row exactly and Host / Path keeps its floor while
    // any other column still has room to give.
    const QFontMetricsF table(Fonts::ksCodeSm());
    const QString clock = QStringLiteral("23:59:59.999");
    const qreal badge = MethodBadge::sizeFor(QStringLiteral("DELETE")).width();
    const qreal chip = StatusChip::sizeFor(503, true).width();
    const traffictable::ColumnWidths least = traffictable::columnWidths(0);
    const qreal leastSum = least.time + least.method + least.address + least.status + least.latency;
    EXPECT_EQ(least.time + least.address, 0);
    for (int inner = int(full); inner >= 0; --inner) {
        const traffictable::ColumnWidths w = traffictable::columnWidths(inner);
        const std::string at = "inner " + std::to_string(inner);
        EXPECT_NEAR(w.time + w.method + w.address + w.status + w.latency, qMax<qreal>(inner, leastSum), 0.01) << at;
        EXPECT_GE(w.method, badge) << at;
        EXPECT_GE(w.status, chip) << at;
        if (w.address < AddressFloor) {
            EXPECT_EQ(w.time, 0) << at;
        }
        if (w.time > 0 && w.time < traffictable::TimeWidth) {
            EXPECT_EQ(w.address, AddressFloor) << at;
        }
        // A time is drawn whole or not at all.
        if (w.time >= traffictable::timeLeast()) {
            EXPECT_EQ(table.elidedText(clock, Qt::ElideLeft, w.time - 4), clock) << at;
        }
    }

    // The row beside an open record at the default window width (295 between the row's insets):
    // no Time column, and room for a host and the start of its path.
    const traffictable::ColumnWidths beside = traffictable::columnWidths(295);
    EXPECT_EQ(beside.time, 0);
    EXPECT_GE(beside.address, 150);
}

namespace {

qreal addressWidth(const traffictable::AddressText &shown)
{
    return QFontMetricsF(Fonts::inter(12)).horizontalAdvance(shown.host)
           + QFontMetricsF(Fonts::inter(13)).horizontalAdvance(shown.path);
}

} // namespace

TEST(AddressCell, TheHostGivesWayBeforeThePathAndThePathKeepsItsEnd)
{
    const QString host = QStringLiteral("api.acme-demo.dev");
    const QString path = QStringLiteral("/v2/users/1042/orders");
    // Room to spare: both whole.
    const traffictable::AddressText wide = traffictable::fitAddress(host, path, 400);
    EXPECT_EQ(wide.host, host);
    EXPECT_EQ(wide.path, path);

    // The cell of a 1280-wide window with the info panel and a record open: a path that fits stays
    // whole and the host takes what is left.
    const QString shortPath = QStringLiteral("/v2/users/1042");
    const traffictable::AddressText narrow = traffictable::fitAddress(host, shortPath, 146 - 8);
    EXPECT_EQ(narrow.path, shortPath);
    EXPECT_TRUE(narrow.host.endsWith(QChar(0x2026)) || narrow.host.contains(QChar(0x2026))) << narrow.host.toStdString();
    EXPECT_GT(narrow.host.size(), 1) << "some of the host still shows";
    EXPECT_LE(addressWidth(narrow), 138);

    // A longer path: the host is down to an ellipsis and the path loses its middle, not its end.
    const traffictable::AddressText tight = traffictable::fitAddress(host, path, 146 - 8);
    EXPECT_EQ(tight.host, QString(QChar(0x2026)));
    EXPECT_TRUE(tight.path.startsWith(QStringLiteral("/v2/"))) << tight.path.toStdString();
    EXPECT_TRUE(tight.path.endsWith(QStringLiteral("orders"))) << tight.path.toStdString();
    EXPECT_LE(addressWidth(tight), 138);

    EXPECT_EQ(traffictable::fitAddress(host, path, 0).path, QString());
}
