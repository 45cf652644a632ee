// The new-route sheet: suggestion, normalising, conflicts, the pending status and what "Create route" stores.
#include "design/ks_button.h"
#include "design/snow_field.h"
#include "design/snow_select.h"
#include "design/snow_text.h"
#include "design/snow_text_field.h"
#include "design/status_code_field.h"
#include "engine/records/mock_data.h"
#include "routes_test_support.h"
#include "screens/routes/new_route_logic.h"
#include "screens/routes/new_route_sheet.h"

#include <QApplication>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

using routestest::route;

using testsupport::retype;

TEST(NewRouteLogic, SuggestedHostIsTheMostUsedOrTheDemoHost)
{
    EXPECT_EQ(NewRouteLogic::suggestedHost({}), QString::fromLatin1(MockData::apiHost.data()));
    const QList<Endpoint> routes = {route("1", HTTPMethod::GET, "b.dev", "/x"), route("2", HTTPMethod::GET, "a.dev", "/x"),
                                    route("3", HTTPMethod::GET, "b.dev", "/y"), route("4", HTTPMethod::GET, "b.dev", "/z")};
    EXPECT_EQ(NewRouteLogic::suggestedHost(routes), QStringLiteral("b.dev"));
    QList<Endpoint> reversed(routes.rbegin(), routes.rend());
    EXPECT_EQ(NewRouteLogic::suggestedHost(reversed), QStringLiteral("b.dev"));
    // Hosts are counted exactly as stored.
    EXPECT_EQ(NewRouteLogic::suggestedHost({route("1", HTTPMethod::GET, "A.dev", "/"), route("2", HTTPMethod::GET, "a.dev", "/"),
                                            route("3", HTTPMethod::GET, "a.dev", "/")}),
              QStringLiteral("a.dev"));
}

TEST(NewRouteLogic, OneNormalisedValueForTheCheckTheConflictAndTheStore)
{
    // What passes the check is what is stored: these used to pass and then store an empty host.
    EXPECT_FALSE(NewRouteLogic::canCreate(QStringLiteral("https:// /v1"), QStringLiteral("/a")));
    EXPECT_FALSE(NewRouteLogic::canCreate(QStringLiteral("http://\t/"), QStringLiteral("/a")));
    EXPECT_FALSE(NewRouteLogic::canCreate(QStringLiteral("https://"), QStringLiteral("/a")));
    EXPECT_FALSE(NewRouteLogic::canCreate(QStringLiteral("api.dev"), QStringLiteral(" \t ")));
    EXPECT_TRUE(NewRouteLogic::canCreate(QStringLiteral("api.dev"), QStringLiteral("/")));

    const Endpoint made = NewRouteLogic::makeRoute(HTTPMethod::POST, QStringLiteral("  HTTPS://Api.Shop.DEV /v1/x"),
                                                   QStringLiteral(" v2/Users/ / "), 42);
    EXPECT_EQ(made.host, "api.shop.dev");
    EXPECT_EQ(made.path, "/v2/Users");
    EXPECT_EQ(made.status, 100);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^r-[0-9A-F]{8}$")).match(QString::fromStdString(made.id)).hasMatch());
    EXPECT_EQ(made.body, "{\n  \"ok\": true\n}");
    EXPECT_EQ(std::string(NewRouteLogic::defaultBody).size(), 16u);
    EXPECT_TRUE(made.active);
    EXPECT_EQ(made.latency, 0);
    EXPECT_EQ(made.seqMode, "sticky");
    EXPECT_TRUE(made.group.empty());
    EXPECT_EQ(NewRouteLogic::makeRoute(HTTPMethod::GET, "h", "/", 1000).status, 599);

    // A conflict typed with a scheme, capitals and blanks is still found ...
    const QList<Endpoint> routes = {route("r1", HTTPMethod::GET, "api.shop.dev", "/v1/users")};
    EXPECT_TRUE(NewRouteLogic::conflictingRoute(routes, HTTPMethod::GET, QStringLiteral(" https://API.shop.dev/ "),
                                                QStringLiteral("  v1/users/ /")));
    // ... but not for another method, an inactive route, or a stored host with capitals.
    EXPECT_FALSE(NewRouteLogic::conflictingRoute(routes, HTTPMethod::POST, "api.shop.dev", "/v1/users"));
    QList<Endpoint> inactive = routes;
    inactive[0].active = false;
    EXPECT_FALSE(NewRouteLogic::conflictingRoute(inactive, HTTPMethod::GET, "api.shop.dev", "/v1/users"));
    QList<Endpoint> upper = routes;
    upper[0].host = "API.shop.dev";
    EXPECT_FALSE(NewRouteLogic::conflictingRoute(upper, HTTPMethod::GET, "API.shop.dev", "/v1/users"));
    EXPECT_EQ(NewRouteLogic::conflictWarning(HTTPMethod::PATCH),
              QStringLiteral("An active PATCH route already matches this request."));
}

class NewRoute : public ::testing::Test
{
protected:
    void SetUp() override
    {
        objects.engine.setEndpoints({route("r1", HTTPMethod::GET, "api.shop.dev", "/v1/users"),
                                     route("r2", HTTPMethod::GET, "api.shop.dev", "/v1/cart"),
                                     route("r3", HTTPMethod::GET, "cdn.shop.dev", "/img")});
        objects.state.select(NavItem::history);
        sheet = std::make_unique<NewRouteSheet>(objects.context());
        sheet->show();
    }

    routestest::Objects objects;
    std::unique_ptr<NewRouteSheet> sheet;
};

TEST_F(NewRoute, OpensWithTheSuggestedHostAndWalksToACreatedRoute)
{
    EXPECT_EQ(sheet->hostField()->text(), QStringLiteral("api.shop.dev"));
    EXPECT_EQ(sheet->hostField()->placeholder(), QStringLiteral("api.shop.dev"));
    EXPECT_EQ(sheet->methodSelect()->value(), QStringLiteral("GET"));
    EXPECT_EQ(sheet->width(), 420);
    EXPECT_GE(sheet->height(), 360);
    // No path yet: "Create route" is off and Return makes nothing.
    EXPECT_TRUE(sheet->createButton()->disabled());
    QTest::keyClick(sheet->pathField()->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(objects.engine.endpoints().size(), 3);

    // A scheme shows the hint; the conflict replaces the path hint with the warning.
    retype(sheet->hostField()->lineEdit(), QStringLiteral("HTTPS://Api.Shop.dev/v1"));
    EXPECT_EQ(sheet->hostRow()->footerText(), std::optional<QString>("Scheme is dropped — routes match by host."));
    QTest::keyClicks(sheet->pathField()->lineEdit(), QStringLiteral("v1/users/"));
    EXPECT_TRUE(sheet->pathRow()->showsError());
    EXPECT_EQ(sheet->pathRow()->footerText(), std::optional<QString>("An active GET route already matches this request."));
    EXPECT_FALSE(sheet->createButton()->disabled()) << "the warning is advisory";
    sheet->setMethod(HTTPMethod::POST);
    EXPECT_FALSE(sheet->pathRow()->showsError());
    EXPECT_EQ(sheet->pathRow()->footerText(), std::optional<QString>("Use :param for wildcard segments — /v2/users/:id"));

    // A status typed but not committed (the button takes no focus) is committed, clamped, before creating.
    retype(sheet->statusField()->lineEdit(), QStringLiteral("1000"));
    EXPECT_EQ(sheet->statusField()->value(), 1000);
    const auto backBefore = objects.state.backStack();
    sheet->createButton()->trigger();

    ASSERT_EQ(objects.engine.endpoints().size(), 4);
    const Endpoint &made = objects.engine.endpoints().last();
    EXPECT_EQ(made.method, HTTPMethod::POST);
    EXPECT_EQ(made.host, "api.shop.dev");
    EXPECT_EQ(made.path, "/v1/users");
    EXPECT_EQ(made.status, 599);
    EXPECT_EQ(objects.state.nav(), NavItem::endpoints);
    EXPECT_EQ(objects.state.selectedEndpointID(), std::optional<QString>(QString::fromStdString(made.id)));
    EXPECT_EQ(objects.state.backStack(), backBefore) << "no history entry";
}

TEST_F(NewRoute, ReturnInTheStatusFieldOnlyCommitsIt)
{
    QTest::keyClicks(sheet->pathField()->lineEdit(), QStringLiteral("/new"));
    retype(sheet->statusField()->lineEdit(), QStringLiteral("42"));
    QTest::keyClick(sheet->statusField()->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(sheet->statusField()->value(), 100);
    EXPECT_EQ(sheet->statusField()->text(), QStringLiteral("100"));
    EXPECT_EQ(objects.engine.endpoints().size(), 3) << "Return in the status field must not create";
    // Return in the path field is the default action.
    QTest::keyClick(sheet->pathField()->lineEdit(), Qt::Key_Return);
    ASSERT_EQ(objects.engine.endpoints().size(), 4);
    EXPECT_EQ(objects.engine.endpoints().last().status, 100);
}

TEST_F(NewRoute, TabReachesCancelCreateAndTheCloseButtonInThatOrder)
{
    sheet->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet.get()));
    QTest::keyClicks(sheet->pathField()->lineEdit(), QStringLiteral("/tabbed"));
    sheet->pathField()->lineEdit()->setFocus(Qt::TabFocusReason);
    const auto tab = [](Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        EXPECT_TRUE(testsupport::pressKey(Qt::Key_Tab, modifiers));
        return QApplication::focusWidget();
    };
    auto *cancel = qobject_cast<KSButton *>(tab());
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(cancel->title(), QStringLiteral("Cancel"));
    EXPECT_EQ(tab(), sheet->createButton());
    auto *close = qobject_cast<CircleIconButton *>(tab());
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->icon(), QStringLiteral("xmark"));
    EXPECT_EQ(tab(Qt::ShiftModifier), sheet->createButton());
    for (const bool dark : {false, true}) {
        PaletteHost::set(sheet.get(), dark ? Palette::dark() : Palette::light());
        EXPECT_TRUE(routestest::drewSomething(testsupport::saveRender(
            sheet.get(), QStringLiteral("routes"), dark ? "sheet_new_route_create_focused_dark" : "sheet_new_route_create_focused_light")));
    }
    // Space on the focused "Create route" creates, as a click would.
    EXPECT_TRUE(testsupport::pressKey(Qt::Key_Space));
    ASSERT_EQ(objects.engine.endpoints().size(), 4);
    EXPECT_EQ(objects.engine.endpoints().last().path, "/tabbed");
}

TEST_F(NewRoute, BlankOrSchemeOnlyInputCannotBeCreated)
{
    QTest::keyClicks(sheet->pathField()->lineEdit(), QStringLiteral("/ok"));
    for (const QString &host : {QStringLiteral("http://\t/"), QStringLiteral("https:// /v1"), QStringLiteral("   ")}) {
        retype(sheet->hostField()->lineEdit(), host);
        EXPECT_TRUE(sheet->createButton()->disabled()) << host.toStdString();
        sheet->create();
        EXPECT_EQ(objects.engine.endpoints().size(), 3) << host.toStdString();
    }
    // Cleared host: the suggestion shows as placeholder.
    retype(sheet->hostField()->lineEdit(), QString());
    EXPECT_EQ(sheet->hostField()->text(), QString());
    EXPECT_EQ(sheet->hostField()->placeholder(), QStringLiteral("api.shop.dev"));
}

TEST(NewRouteRender, HintLinesNeverOverlapTheBoxes)
{
    routestest::Objects objects;
    objects.engine.setEndpoints({route("r1", HTTPMethod::GET, "api.shop.dev", "/v1/users")});
    NewRouteSheet sheet(objects.context());
    sheet.show();
    const int height = sheet.height();
    retype(sheet.hostField()->lineEdit(), QStringLiteral("HTTP://Shop.Example.test/abc"));
    QTest::keyClicks(sheet.pathField()->lineEdit(), QStringLiteral("v2/orders/"));
    QCoreApplication::processEvents();
    ASSERT_TRUE(sheet.hostRow()->footer()->isVisible());
    ASSERT_TRUE(sheet.pathRow()->footer()->isVisible());
    const auto box = [&](QWidget *w) { return QRect(w->mapTo(&sheet, QPoint(0, 0)), w->size()); };
    const QRect hostBox = box(sheet.hostField());
    const QRect hostHint = box(sheet.hostRow()->footer());
    const QRect pathRow = box(sheet.pathRow());
    const QRect pathHint = box(sheet.pathRow()->footer());
    const QRect create = box(sheet.createButton());
    EXPECT_EQ(hostBox.height(), 36);
    EXPECT_GE(hostHint.top(), hostBox.bottom() + 1 + 6) << "the hint sits below the box, a field gap apart";
    EXPECT_GE(hostHint.height(), sheet.hostRow()->footer()->fontMetrics().height());
    EXPECT_GE(pathRow.top(), hostHint.bottom() + 1 + 16);
    EXPECT_GE(create.top(), pathHint.bottom() + 1 + 8);
    EXPECT_EQ(create.bottom() + 1, sheet.height() - 20);
    EXPECT_EQ(sheet.width(), 420);
    EXPECT_GE(sheet.height(), 360);
    EXPECT_EQ(sheet.height(), height) << "the hint line does not resize the sheet";
}

TEST(NewRouteRender, States)
{
    routestest::Objects objects;
    objects.engine.setEndpoints({route("r1", HTTPMethod::GET, "api.shop.dev", "/v1/users")});
    EXPECT_TRUE(routestest::renderBothThemes("sheet_new_route", QSize(420, 360),
                                             [&] { return new NewRouteSheet(objects.context()); }));
    EXPECT_TRUE(routestest::renderBothThemes("sheet_new_route_conflict", QSize(420, 360), [&] {
        auto *sheet = new NewRouteSheet(objects.context());
        sheet->hostField()->lineEdit()->setText(QStringLiteral("https://api.shop.dev"));
        QTest::keyClicks(sheet->pathField()->lineEdit(), QStringLiteral("/v1/users"));
        return sheet;
    }));
}
