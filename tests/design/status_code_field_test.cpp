// The status field: live parsing while typing, the clamp on Return, on focus loss and on a pending commit.
#include "design/fonts.h"
#include "design/mini_field.h"
#include "design/palette.h"
#include "design/status_code_field.h"
#include "support/test_support.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QLocale>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <limits>

namespace {

void retype(StatusCodeField &field, const QString &text)
{
    testsupport::retype(field.lineEdit(), text);
}

// Types characters that have no key of their own (digits of another script), one key event each.
void retypeUnicode(StatusCodeField &field, const QString &text)
{
    field.lineEdit()->selectAll();
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, field.lineEdit(), Qt::Key_unknown, QString(c), Qt::NoModifier);
}

} // namespace

TEST(StatusCodeField, ReturnClampsAndWritesBackEveryTime)
{
    StatusCodeField field;
    field.show();
    QSignalSpy commits(&field, &StatusCodeField::committed);

    retype(field, QStringLiteral("42"));
    EXPECT_EQ(field.value(), 42); // parsed while typing, not clamped yet
    QTest::keyClick(field.lineEdit(), Qt::Key_Return);
    EXPECT_EQ(field.value(), 100);
    EXPECT_EQ(field.text(), QStringLiteral("100"));

    retype(field, QStringLiteral("404"));
    QTest::keyClick(field.lineEdit(), Qt::Key_Return);
    EXPECT_EQ(field.value(), 404);
    // Return again with nothing changed still commits.
    QTest::keyClick(field.lineEdit(), Qt::Key_Return);
    ASSERT_EQ(commits.count(), 3);
    EXPECT_EQ(commits.at(2).at(0).toInt(), 404);
}

TEST(StatusCodeField, TypedValuesAndTheirCommits)
{
    StatusCodeField field;
    const struct {
        QString typed;
        int whileTyping;
        int committed;
        QString shownAfter;
    } cases[] = {
        {QStringLiteral("1000"), 1000, 599, QStringLiteral("599")},
        {QStringLiteral("0"), 0, 100, QStringLiteral("100")},
        {QStringLiteral("-7"), -7, 100, QStringLiteral("100")},
        {QStringLiteral("99999999999"), std::numeric_limits<int>::max(), 599, QStringLiteral("599")},
        {QStringLiteral("abc"), 200, 200, QStringLiteral("200")}, // does not parse: the old value returns
        // No digit grouping: "1," stops parsing, so the last value that parsed ("1") stands.
        {QStringLiteral("1,000"), 1, 100, QStringLiteral("100")},
        {QStringLiteral("4O4"), 4, 100, QStringLiteral("100")},
    };
    for (const auto &c : cases) {
        field.setValue(200);
        retype(field, c.typed);
        EXPECT_EQ(field.value(), c.whileTyping) << c.typed.toStdString();
        EXPECT_EQ(field.text(), c.typed) << "text stays as typed until committed";
        EXPECT_EQ(field.commitPending(), c.committed) << c.typed.toStdString();
        EXPECT_EQ(field.text(), c.shownAfter);
    }
}

TEST(StatusCodeField, LosingFocusCommitsGainingItChangesNothing)
{
    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    auto *field = new StatusCodeField;
    auto *other = new QLineEdit;
    layout->addWidget(field);
    layout->addWidget(other);
    field->setValue(700); // shown unclamped: showing never clamps
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(field->text(), QStringLiteral("700"));

    QSignalSpy commits(field, &StatusCodeField::committed);
    field->lineEdit()->setFocus();
    ASSERT_TRUE(testsupport::waitFor([&] { return field->isFocused(); }));
    EXPECT_EQ(commits.count(), 0);
    EXPECT_EQ(field->value(), 700);

    other->setFocus();
    ASSERT_TRUE(testsupport::waitFor([&] { return !field->isFocused(); }));
    EXPECT_EQ(commits.count(), 1);
    EXPECT_EQ(field->value(), 599);
    EXPECT_EQ(field->text(), QStringLiteral("599"));
}

TEST(StatusCodeField, ReadsTheUsersLocaleButShowsAsciiDigitsLikeTheMiniFields)
{
    // A locale with digits of its own, which the interface fonts cannot draw: typed ones are read,
    // shown ones are ASCII.
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::Marathi, QLocale::India));
    const auto restore = qScopeGuard([&] { QLocale::setDefault(before); });
    ASSERT_NE(QLocale().toString(404), QStringLiteral("404"));
    const QString marathi503 = QStringLiteral("\u096B\u0966\u0969");

    StatusCodeField field;
    field.setValue(404);
    EXPECT_EQ(field.text(), QStringLiteral("404"));
    retypeUnicode(field, marathi503);
    EXPECT_EQ(field.value(), 503);
    EXPECT_EQ(field.commitPending(), 503);
    retype(field, QStringLiteral("700"));
    EXPECT_EQ(field.commitPending(), 599);
    EXPECT_EQ(field.text(), QStringLiteral("599"));

    // One rule for both fields.
    MiniField mini(QStringLiteral("Latency"), 1200);
    EXPECT_EQ(mini.lineEdit()->text(), QStringLiteral("1200"));
    for (const QString &text : {marathi503, QStringLiteral("1000"), QStringLiteral("1,000"), QStringLiteral("abc")}) {
        const std::optional<int> mini = MiniField::parse(text);
        const std::optional<long long> status = StatusCodeField::parse(text);
        EXPECT_EQ(mini.has_value(), status.has_value()) << text.toStdString();
        if (mini && status) {
            EXPECT_EQ(*mini, *status) << text.toStdString();
        }
    }
    EXPECT_EQ(MiniField::parse(QStringLiteral("1000")), 1000);
    EXPECT_FALSE(MiniField::parse(QStringLiteral("1,000")));
}

TEST(StatusCodeField, SettingTheValueEmitsNothing)
{
    StatusCodeField field;
    QSignalSpy edits(&field, &StatusCodeField::valueEdited);
    QSignalSpy commits(&field, &StatusCodeField::committed);
    field.setValue(42);
    EXPECT_EQ(field.text(), QStringLiteral("42"));
    EXPECT_EQ(edits.count() + commits.count(), 0);
    EXPECT_EQ(field.size(), QSize(StatusCodeField::Width, StatusCodeField::Height));
    EXPECT_EQ(field.lineEdit()->font(), Fonts::ksCode());
}

TEST(StatusCodeField, Renders)
{
    for (const bool dark : {false, true}) {
        QWidget host;
        PaletteHost::set(&host, dark ? Palette::dark() : Palette::light());
        host.setAutoFillBackground(true);
        QPalette qp = host.palette();
        qp.setColor(QPalette::Window, (dark ? Palette::dark() : Palette::light()).content);
        host.setPalette(qp);
        auto *layout = new QHBoxLayout(&host);
        auto *a = new StatusCodeField;
        auto *b = new StatusCodeField;
        a->setValue(200);
        b->setValue(1000);
        layout->addWidget(a);
        layout->addWidget(b);
        host.resize(200, 60);
        const QString path
            = testsupport::saveRender(&host, QStringLiteral("design"), dark ? "status_code_field_dark" : "status_code_field_light");
        EXPECT_FALSE(path.isEmpty());
    }
}
