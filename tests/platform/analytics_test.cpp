// Usage events: strictly opt-in, only with an endpoint, "once" events at most once per run.
#include "platform/analytics.h"
#include "platform/preferences.h"
#include "support/fake_control_server.h"
#include "support/test_support.h"
#include "support/temp_preferences.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class AnalyticsEvents : public ::testing::Test
{
protected:
    QString endpoint() const { return QStringLiteral("http://127.0.0.1:%1/events").arg(m_server.port()); }
    int posts() const { return int(m_server.matching("POST", "/events").size()); }
    static void settle(int ms) { testsupport::waitFor([] { return false; }, ms); }

    testsupport::TemporaryPreferencesDir m_dir;
    FakeControlServer m_server;
};

} // namespace

TEST_F(AnalyticsEvents, NothingIsSentWhileOptedOut)
{
    Analytics analytics(endpoint());
    analytics.track(QStringLiteral("proxy_started"), true);
    analytics.track(QStringLiteral("app_launch"));
    settle(200);
    EXPECT_EQ(posts(), 0);
    EXPECT_TRUE(analytics.sentOnce().isEmpty());
}

TEST_F(AnalyticsEvents, TheSharedSenderHasNoEndpointAndSendsNothing)
{
    Preferences::instance().setValue(PrefKey::AnalyticsOptIn, true);
    EXPECT_TRUE(Analytics::shared().endpoint().isEmpty());
    Analytics::shared().track(QStringLiteral("ca_trusted"), true);
    EXPECT_FALSE(Analytics::shared().sentOnce().contains(QStringLiteral("ca_trusted")));
}

TEST_F(AnalyticsEvents, OnceEventsGoOutOnceAndOthersEveryTime)
{
    Analytics analytics(endpoint());
    analytics.track(QStringLiteral("first_mock_hit"), true); // opted out: not remembered
    Preferences::instance().setValue(PrefKey::AnalyticsOptIn, true);
    analytics.track(QStringLiteral("first_mock_hit"), true);
    analytics.track(QStringLiteral("first_mock_hit"), true);
    analytics.track(QStringLiteral("import_completed"));
    analytics.track(QStringLiteral("import_completed"));
    ASSERT_TRUE(testsupport::waitFor([&] { return posts() == 3; }));
    settle(200);
    EXPECT_EQ(posts(), 3);

    QList<QByteArray> bodies;
    for (const RecordedRequest &request : m_server.matching("POST", "/events")) {
        bodies.append(request.body);
        EXPECT_EQ(request.headers.value("content-type"), QByteArray("application/json"));
    }
    std::sort(bodies.begin(), bodies.end());
    EXPECT_EQ(bodies, (QList<QByteArray>{R"({"event":"first_mock_hit"})", R"({"event":"import_completed"})",
                                         R"({"event":"import_completed"})"}));
    EXPECT_EQ(analytics.sentOnce(), QSet<QString>{QStringLiteral("first_mock_hit")});
}

TEST_F(AnalyticsEvents, InvalidEndpointSendsNothing)
{
    Preferences::instance().setValue(PrefKey::AnalyticsOptIn, true);
    Analytics analytics(QStringLiteral("not a url"));
    analytics.track(QStringLiteral("proxy_started"), true);
    EXPECT_TRUE(analytics.sentOnce().isEmpty());
}
