// The mini field and the growing text field: commit moments, parsing, pending text, growth and renders.
#include "design/fonts.h"
#include "design/growing_text_field.h"
#include "design/mini_field.h"
#include "design/palette.h"
#include "design/snow_text.h"
#include "support/test_support.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <gtest/gtest.h>

using testsupport::retype;

TEST(MiniField, CommitsOnReturnAsTypedWithoutClamping)
{
    MiniField field(QStringLiteral("Repeat"), 1, 64);
    QSignalSpy committed(&field, &MiniField::valueCommitted);
    retype(field.lineEdit(), QStringLiteral("-5"));
    // Typing alone writes nothing.
    EXPECT_EQ(field.value(), 1);
    EXPECT_TRUE(field.hasPendingEdit());
    QTest::keyClick(field.lineEdit(), Qt::Key_Return);
    EXPECT_EQ(field.value(), -5);
    ASSERT_EQ(committed.count(), 1);
    EXPECT_EQ(committed.at(0).at(0).toInt(), -5);
    EXPECT_FALSE(field.hasPendingEdit());

    retype(field.lineEdit(), QStringLiteral("12000"));
    QTest::keyClick(field.lineEdit(), Qt::Key_Return);
    EXPECT_EQ(field.lineEdit()->text(), "12000");
    EXPECT_EQ(field.width(), 64);
    EXPECT_EQ(field.label(), "Repeat");
}

TEST(MiniField, TextThatIsNotAnIntegerShowsTheValueAgain)
{
    MiniField field(QStringLiteral("Status"), 200);
    QSignalSpy committed(&field, &MiniField::valueCommitted);
    for (const QString &text : {QStringLiteral("abc"), QStringLiteral("4.5"), QStringLiteral(""),
                                QStringLiteral("99999999999"), QStringLiteral("1,000")}) {
        retype(field.lineEdit(), text);
        QTest::keyClick(field.lineEdit(), Qt::Key_Return);
        EXPECT_EQ(field.value(), 200) << text.toStdString();
        EXPECT_EQ(field.lineEdit()->text(), "200") << text.toStdString();
    }
    EXPECT_EQ(committed.count(), 0);
    EXPECT_EQ(MiniField::parse(QStringLiteral(" 42 ")), 42);
    EXPECT_EQ(MiniField::parse(QStringLiteral("0700")), 700);
}

TEST(MiniField, ValueSetFromOutsideLeavesTypingAloneUntilCommitted)
{
    MiniField field(QStringLiteral("Status"), 200);
    retype(field.lineEdit(), QStringLiteral("40"));
    field.setValue(201);
    EXPECT_EQ(field.lineEdit()->text(), "40");
    field.commitPending();
    EXPECT_EQ(field.value(), 40);
    field.setValue(201);
    EXPECT_EQ(field.lineEdit()->text(), "201");
    // Nothing pending: committing again sends nothing.
    QSignalSpy committed(&field, &MiniField::valueCommitted);
    field.commitPending();
    EXPECT_EQ(committed.count(), 0);
}

TEST(MiniField, CommitsWhenFocusLeaves)
{
    QWidget window;
    auto *column = new QVBoxLayout(&window);
    auto *field = new MiniField(QStringLiteral("Latency ms"), 0);
    auto *other = new QLineEdit;
    column->addWidget(field);
    column->addWidget(other);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    field->lineEdit()->setFocus();
    retype(field->lineEdit(), QStringLiteral("250"));
    other->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(field->value(), 250);
    field->setDisabled(true);
    EXPECT_FALSE(field->lineEdit()->isEnabled());
    EXPECT_NE(field->graphicsEffect(), nullptr);
    field->setDisabled(false);
    EXPECT_EQ(field->graphicsEffect(), nullptr);
}

TEST(GrowingTextField, GrowsFromOneLineToFourThenScrolls)
{
    QWidget host;
    PaletteHost::set(&host, Palette::dark());
    host.setAutoFillBackground(true);
    QPalette ground = host.palette();
    ground.setColor(QPalette::Window, Palette::dark().background);
    host.setPalette(ground);
    auto *column = new QVBoxLayout(&host);
    auto *field = new GrowingTextField;
    field->setPlaceholder(QStringLiteral("response body"));
    column->addWidget(field);
    column->addStretch(1);
    host.resize(260, 200);
    host.show();
    QApplication::processEvents();
    const int oneLine = field->height();
    EXPECT_EQ(field->shownLines(), 1);
    testsupport::saveRender(&host, QStringLiteral("design"), QStringLiteral("growing-field-empty-dark"));

    QSignalSpy edited(field, &GrowingTextField::textEdited);
    QTest::keyClicks(field->editor(), QStringLiteral("{"));
    QTest::keyClick(field->editor(), Qt::Key_Return);
    QTest::keyClicks(field->editor(), QStringLiteral("\"ok\": true"));
    QApplication::processEvents();
    EXPECT_EQ(field->shownLines(), 2);
    EXPECT_GT(field->height(), oneLine);
    EXPECT_EQ(edited.count(), 12);

    field->setText(QStringLiteral("1\n2\n3\n4\n5\n6"));
    QApplication::processEvents();
    EXPECT_EQ(field->shownLines(), 4);
    EXPECT_EQ(field->height(), 4 * (oneLine - 2 * GrowingTextField::VerticalInset) + 2 * GrowingTextField::VerticalInset);
    // Filling the field is not an edit.
    EXPECT_EQ(edited.count(), 12);
    testsupport::saveRender(&host, QStringLiteral("design"), QStringLiteral("growing-field-full-dark"));

    field->setText(QString());
    QApplication::processEvents();
    EXPECT_EQ(field->height(), oneLine);
}

// A text that wraps onto three of the four lines is in view whole: the wheel over it neither scrolls it (its
// first line would hide behind a blank one) nor is taken, so the page around scrolls. Past four lines it scrolls.
TEST(GrowingTextField, AFieldThatFitsItsTextLeavesTheWheelToThePage)
{
    QWidget host;
    auto *field = new GrowingTextField(&host);
    // A size whose line height is not a whole number of pixels, as on many screens.
    QFont font = Fonts::ksCode();
    font.setPointSizeF(10);
    field->editor()->setFont(font);
    field->setGeometry(0, 0, 220, 40);
    field->setText(QStringLiteral("{\"message\":\"the first step answers with a body long enough to wrap\"}"));
    host.resize(300, 200);
    host.show();
    ASSERT_TRUE(testsupport::waitFor([&] { return field->shownLines() == 3; })) << field->shownLines();
    // The editor's own relayout at its new size comes a turn later.
    QApplication::processEvents();
    QApplication::processEvents();
    const auto wheelDownTaken = [&] {
        const QPointF at(20, 10);
        QWheelEvent wheel(at, field->editor()->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(field->editor()->viewport(), &wheel);
        return wheel.isAccepted();
    };
    EXPECT_FALSE(wheelDownTaken());
    EXPECT_EQ(field->editor()->verticalScrollBar()->value(), 0);

    field->setText(QStringLiteral("1\n2\n3\n4\n5\n6"));
    ASSERT_TRUE(testsupport::waitFor([&] { return field->shownLines() == 4; }));
    EXPECT_TRUE(wheelDownTaken());
    EXPECT_GT(field->editor()->verticalScrollBar()->value(), 0);
}

TEST(GrowingTextField, SettingTheSameTextKeepsTheCursor)
{
    GrowingTextField field;
    field.setText(QStringLiteral("abcdef"));
    QTextCursor cursor = field.editor()->textCursor();
    cursor.setPosition(3);
    field.editor()->setTextCursor(cursor);
    field.setText(QStringLiteral("abcdef"));
    EXPECT_EQ(field.editor()->textCursor().position(), 3);
    field.setReadOnly(true);
    QTest::keyClicks(field.editor(), QStringLiteral("x"));
    EXPECT_EQ(field.text(), "abcdef");
}
