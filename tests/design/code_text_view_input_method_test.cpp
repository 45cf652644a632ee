// The line-painting code view and an input method, beside Qt's own plain text editor holding the same lines:
// where a selection it sends lands, what it is told, when a composition ends and when it hears of a move.
#include "design/code_text_view.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QInputMethod>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QVBoxLayout>
#include <QtMath>

#include <gtest/gtest.h>

namespace {

class CodeTextViewInputMethod : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto *column = new QVBoxLayout(&host);
        view = new CodeTextView(QFont(QStringLiteral("monospace"), 12), {}, false, &host);
        view->setEditable(true);
        baseline = new QPlainTextEdit(&host);
        elsewhere = new QLineEdit(&host);
        column->addWidget(view);
        column->addWidget(baseline);
        column->addWidget(elsewhere);
        host.resize(400, 300);
        host.show();
        view->setText(text);
        baseline->setPlainText(text);
    }

    void select(int anchor, int cursor)
    {
        view->setSelection(anchor, cursor);
        QTextCursor selection = baseline->textCursor();
        selection.setPosition(anchor);
        selection.setPosition(cursor, QTextCursor::KeepAnchor);
        baseline->setTextCursor(selection);
    }

    void send(const QString &preedit, const QList<QInputMethodEvent::Attribute> &attributes)
    {
        for (QWidget *editor : {static_cast<QWidget *>(view), static_cast<QWidget *>(baseline)}) {
            QInputMethodEvent event(preedit, attributes);
            QApplication::sendEvent(editor, &event);
        }
    }

    void expectSameTextAndSelection() const
    {
        EXPECT_EQ(view->text().toStdString(), baseline->toPlainText().toStdString());
        EXPECT_EQ(view->cursorPosition(), baseline->textCursor().position());
        EXPECT_EQ(view->selectedText().toStdString(),
                  baseline->textCursor().selectedText().replace(QChar::ParagraphSeparator, u'\n').toStdString());
    }

    void expectSameAnswers() const
    {
        const QWidget *asWidget = view; // as an input method asks, through the widget
        for (const Qt::InputMethodQuery query : {Qt::ImSurroundingText, Qt::ImCursorPosition, Qt::ImAnchorPosition})
            EXPECT_EQ(asWidget->inputMethodQuery(query), baseline->inputMethodQuery(query))
                << int(query) << ": " << asWidget->inputMethodQuery(query).toString().toStdString() << " for "
                << baseline->inputMethodQuery(query).toString().toStdString();
    }

    // What the baseline shows composed, on any line.
    QString baselinePreedit() const
    {
        QString shown;
        for (QTextBlock block = baseline->document()->begin(); block.isValid(); block = block.next())
            shown += block.layout()->preeditAreaText();
        return shown;
    }

    // The view's point at a line and column.
    QPoint viewPoint(int line, int column) const
    {
        const QFontMetricsF metrics(view->font());
        return {qRound(column * metrics.horizontalAdvance(QLatin1Char('M'))),
                qRound((line + 0.5) * metrics.lineSpacing())};
    }

    QPoint baselinePoint(int position) const
    {
        QTextCursor at(baseline->document());
        at.setPosition(position);
        return baseline->cursorRect(at).center();
    }

    const QString text = QStringLiteral("first line\nsecond line\nthird");
    static constexpr int SecondLine = 11;
    static constexpr int ThirdLine = 23;
    QWidget host;
    CodeTextView *view = nullptr;
    QPlainTextEdit *baseline = nullptr;
    QLineEdit *elsewhere = nullptr;
};

} // namespace

TEST_F(CodeTextViewInputMethod, SelectionsAndPositionsCountFromTheStartOfTheCursorsLine)
{
    select(SecondLine + 6, SecondLine + 6);
    expectSameAnswers();
    // An input method selects "second" to convert it again: from the start of the cursor's line.
    send({}, {QInputMethodEvent::Attribute(QInputMethodEvent::Selection, 0, 6)});
    EXPECT_EQ(view->selectedText().toStdString(), "second");
    expectSameTextAndSelection();
    expectSameAnswers();

    // A selection from the first line: its anchor is told before the start of the cursor's line, and the
    // same selection sent back lands where it was.
    select(6, SecondLine + 6);
    expectSameAnswers();
    const QWidget *asWidget = view;
    const int anchor = asWidget->inputMethodQuery(Qt::ImAnchorPosition).toInt();
    const int cursor = asWidget->inputMethodQuery(Qt::ImCursorPosition).toInt();
    select(SecondLine + 6, SecondLine + 6);
    send({}, {QInputMethodEvent::Attribute(QInputMethodEvent::Selection, anchor, cursor - anchor)});
    EXPECT_EQ(view->selectedText().toStdString(), "line\nsecond");
    expectSameTextAndSelection();
}

TEST_F(CodeTextViewInputMethod, ACommitWithASelectionLandsWhereItSaysFarIntoALongLine)
{
    const QString line(5000, QLatin1Char('x'));
    view->setText(line);
    baseline->setPlainText(line);
    select(2000, 2000);
    // The input method places the cursor after what it commits, counted in the positions it was told.
    for (QWidget *editor : {static_cast<QWidget *>(view), static_cast<QWidget *>(baseline)}) {
        const int told = editor->inputMethodQuery(Qt::ImCursorPosition).toInt();
        QInputMethodEvent event({}, {QInputMethodEvent::Attribute(QInputMethodEvent::Selection, told + 2, 0)});
        event.setCommitString(QStringLiteral("ab"));
        QApplication::sendEvent(editor, &event);
    }
    EXPECT_EQ(view->cursorPosition(), 2002);
    expectSameTextAndSelection();
}

TEST_F(CodeTextViewInputMethod, ACompositionEndsAtAClickANewTextOrTheFocusLeaving)
{
    host.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
    const QString composing = QStringLiteral("\u306b\u307b");
    const QList<QInputMethodEvent::Attribute> composingCursor{
        QInputMethodEvent::Attribute(QInputMethodEvent::Cursor, 2, 1)};
    select(SecondLine + 6, SecondLine + 6);
    view->setFocus();

    // A click on the third line: nothing composed is left drawn at the cursor's new place.
    send(composing, composingCursor);
    ASSERT_EQ(view->preedit(), composing);
    ASSERT_EQ(baselinePreedit(), composing);
    QTest::mouseClick(view, Qt::LeftButton, {}, viewPoint(2, 0));
    EXPECT_EQ(view->preedit().toStdString(), "");
    QTest::mouseClick(baseline->viewport(), Qt::LeftButton, {}, baselinePoint(ThirdLine));
    EXPECT_EQ(baselinePreedit().toStdString(), "");
    expectSameTextAndSelection();
    EXPECT_EQ(view->cursorPosition(), ThirdLine);

    // A new text.
    view->setFocus();
    send(composing, composingCursor);
    ASSERT_EQ(view->preedit(), composing);
    const QString next = QStringLiteral("other\ntext");
    view->setText(next);
    baseline->setPlainText(next);
    EXPECT_EQ(view->preedit().toStdString(), "");
    EXPECT_EQ(baselinePreedit().toStdString(), "");

    // The focus going elsewhere in the window.
    send(composing, composingCursor);
    ASSERT_EQ(view->preedit(), composing);
    elsewhere->setFocus();
    EXPECT_EQ(view->preedit().toStdString(), "");
    EXPECT_EQ(view->text().toStdString(), next.toStdString());
}

TEST_F(CodeTextViewInputMethod, TheInputMethodHearsOfEachCursorMove)
{
    host.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
    QInputMethod *inputMethod = QGuiApplication::inputMethod();
    select(3, 3);
    for (QWidget *editor : {static_cast<QWidget *>(view), static_cast<QWidget *>(baseline)}) {
        editor->setFocus();
        ASSERT_EQ(QGuiApplication::focusObject(), editor);
        QSignalSpy moved(inputMethod, &QInputMethod::cursorRectangleChanged);
        const QRectF before = inputMethod->cursorRectangle();
        QTest::keyClick(editor, Qt::Key_Down);
        EXPECT_GE(moved.count(), 1) << editor->metaObject()->className();
        EXPECT_GT(inputMethod->cursorRectangle().top(), before.top()) << editor->metaObject()->className();
    }
    // A click, in the view.
    view->setFocus();
    QSignalSpy moved(inputMethod, &QInputMethod::cursorRectangleChanged);
    QTest::mouseClick(view, Qt::LeftButton, {}, viewPoint(0, 2));
    EXPECT_GE(moved.count(), 1);
    EXPECT_EQ(view->cursorPosition(), 2);
}
