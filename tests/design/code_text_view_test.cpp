// The line-painting code view: each line of the text takes ceil(length / columns) shown lines, and a mouse
// drag maps back to the right characters across wrapped and empty lines.
#include "design/code_text_view.h"
#include "design/palette.h"
#include "platform/background_work.h"
#include "support/test_support.h"

#include <QApplication>
#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QFontMetricsF>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QtMath>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

TEST(CodeTextView, WrapsEachLineByItsOwnLengthAndSelectsAcrossShownLines)
{
    const QFont font(QStringLiteral("monospace"), 12);
    const QFontMetricsF metrics(font);
    const qreal charWidth = metrics.horizontalAdvance(QLatin1Char('M'));
    const qreal lineHeight = metrics.lineSpacing();
    CodeTextView view(font, {}, false);
    view.setFixedWidth(qCeil(4 * charWidth) + 1); // four columns
    // Lines of 2, 10, 0, 4 and 5 characters: 1 + 3 + 1 + 1 + 2 shown lines.
    view.setText(QStringLiteral("ab\n0123456789\n\nwxyz\nlast!"));
    EXPECT_EQ(view.lineCount(), 8);
    EXPECT_EQ(view.heightForWidth(view.width()), qCeil(8 * lineHeight));
    // Wider than every line: one shown line per line of the text.
    EXPECT_EQ(view.heightForWidth(qCeil(20 * charWidth) + 1), qCeil(5 * lineHeight));
    view.show();

    // From the start of the fourth shown line ("89") to two characters into the seventh ("la").
    const auto at = [&](int column, int line) {
        return QPoint(qRound(column * charWidth), qRound((line + 0.5) * lineHeight));
    };
    QTest::mousePress(&view, Qt::LeftButton, {}, at(0, 3));
    QTest::mouseMove(&view, at(2, 6));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, at(2, 6));
    EXPECT_EQ(view.selectedText(), QStringLiteral("89\n\nwxyz\nla"));

    // A new text forgets the old lines.
    view.setText(QStringLiteral("x"));
    EXPECT_EQ(view.lineCount(), 1);
    EXPECT_EQ(view.selectedText(), QString());
}

namespace {

// JSON long enough that colouring it takes a while on the pool.
QString longJson()
{
    QString text = QStringLiteral("[\n");
    for (int i = 0; text.size() <= 16 * CodeTextView::SyncColoringLimit; ++i)
        text += QStringLiteral("  {\"id\": %1, \"name\": \"User %1\", \"ok\": true},\n").arg(i);
    return text + QStringLiteral("  null\n]");
}

} // namespace

TEST(CodeTextView, LongColouringOutlivedByItsViewOrByTheApplicationLoop)
{
    const QString text = longJson();
    const QFont font(QStringLiteral("monospace"), 12);

    // The view goes while its colours are being worked out: nothing arrives for it later.
    int arrived = 0;
    auto view = std::make_unique<CodeTextView>(font, CodeTextView::ColorRole{}, true);
    QObject::connect(view.get(), &CodeTextView::coloringFinished, [&arrived] { ++arrived; });
    view->setText(text);
    EXPECT_FALSE(view->colored());
    EXPECT_GT(BackgroundWork::pool().activeThreadCount(), 0);
    view.reset();
    BackgroundWork::drain();
    QCoreApplication::processEvents();
    EXPECT_EQ(arrived, 0);

    // The application quits while a view's colours are being worked out: the job ends and its colours land
    // before the loop returns, while the view still stands.
    CodeTextView kept(font, {}, true);
    QSignalSpy finished(&kept, &CodeTextView::coloringFinished);
    kept.setText(text);
    ASSERT_FALSE(kept.colored());
    QTimer::singleShot(0, &QCoreApplication::quit);
    QCoreApplication::exec();
    EXPECT_EQ(BackgroundWork::pool().activeThreadCount(), 0);
    EXPECT_TRUE(kept.colored());
    EXPECT_EQ(finished.size(), 1);
}

TEST(CodeTextView, HugeTextIsColouredThePartInViewFirstAndANewTextEndsTheOlderPass)
{
    // Past 2 M characters, pretty-printed.
    QString huge = QStringLiteral("[\n");
    for (int i = 0; huge.size() <= 2 * 1024 * 1024 + 4096; ++i)
        huge += QStringLiteral("  {\"id\": %1, \"name\": \"User %1\", \"ok\": true},\n").arg(i);
    huge += QStringLiteral("  {\"tail\": null}\n]");
    const QFont font(QStringLiteral("monospace"), 12);
    const qreal lineHeight = QFontMetricsF(font).lineSpacing();

    // Shown in a scroll area, scrolled to the middle: the part in view is worked out first.
    QScrollArea area;
    area.resize(400, 300);
    auto *view = new CodeTextView(font, {}, true);
    area.setWidget(view);
    area.setWidgetResizable(true);
    view->setText(QStringLiteral("{}"));
    area.show();
    QSignalSpy finished(view, &CodeTextView::coloringFinished);
    view->setText(huge.left(huge.size() / 2)); // outdated at once
    view->setText(huge);
    QApplication::processEvents();
    area.verticalScrollBar()->setValue(area.verticalScrollBar()->maximum() / 2);
    QApplication::processEvents();
    const auto [from, to] = view->visibleSpan();
    EXPECT_GT(from, huge.size() / 4);
    EXPECT_LT(from, huge.size() * 3 / 4);
    EXPECT_EQ(huge[from - 1], QLatin1Char('\n')) << "starts at a line start";
    // About a screenful of lines, a few dozen characters each.
    EXPECT_GE(to - from, qsizetype(area.viewport()->height() / lineHeight) * 20);
    EXPECT_LE(to - from, CodeTextView::VisiblePartLimit);

    // The whole text's colours land once, for the newest text, to its very end.
    ASSERT_TRUE(testsupport::waitFor([&] { return view->colored(); }));
    QApplication::processEvents();
    EXPECT_EQ(finished.size(), 1);
    const QList<ColoredRun> &runs = view->coloredRuns();
    ASSERT_FALSE(runs.isEmpty());
    EXPECT_EQ(runs.last().start + runs.last().length, huge.size());
    const qsizetype tail = huge.lastIndexOf(QStringLiteral("\"tail\""));
    const auto atTail = std::find_if(runs.cbegin(), runs.cend(), [tail](const ColoredRun &r) { return r.start == tail; });
    ASSERT_NE(atTail, runs.cend());
    EXPECT_EQ(atTail->color, JSONHighlighter::color(JSONHighlighter::TokenClass::key, false));
}

namespace {

// Where two texts first differ, -1 where they are equal: a readable failure for texts of 100,000 characters.
qsizetype differsAt(const QString &a, const QString &b)
{
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i)
        if (a[i] != b[i])
            return i;
    return a.size() == b.size() ? -1 : common;
}

} // namespace

// Editing keeps the text exactly: keys land where the cursor is on wrapped lines, a CRLF is one step, Return
// gives the new line the end of the line it splits, and undo takes an edit back whole.
TEST(CodeTextView, EditsLongLinesExactlyWhereTypedAndKeepsLineEnds)
{
    const QFont font(QStringLiteral("monospace"), 12);
    const QFontMetricsF metrics(font);
    const qreal charWidth = metrics.horizontalAdvance(QLatin1Char('M'));
    const qreal lineHeight = metrics.lineSpacing();
    CodeTextView view(font, {}, false);
    view.setEditable(true);
    view.setFixedWidth(qCeil(10 * charWidth) + 1); // ten columns
    QString text = QString(100000, QLatin1Char('a')) + QStringLiteral("\r\nnext\nlast");
    view.setText(text);
    view.show();
    view.setFocus();
    QSignalSpy edited(&view, &CodeTextView::textEdited);

    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(qRound(4.3 * charWidth), qRound(3.5 * lineHeight)));
    EXPECT_EQ(view.cursorPosition(), 34);
    QTest::keyClicks(&view, QStringLiteral("xy"));
    text.insert(34, QStringLiteral("xy"));
    EXPECT_EQ(differsAt(view.text(), text), -1);
    EXPECT_EQ(edited.count(), 2);
    // Down keeps the column; Backspace and Delete take one character each.
    QTest::keyClick(&view, Qt::Key_Down);
    EXPECT_EQ(view.cursorPosition(), 46);
    QTest::keyClick(&view, Qt::Key_Backspace);
    QTest::keyClick(&view, Qt::Key_Delete);
    text.remove(45, 2);
    EXPECT_EQ(differsAt(view.text(), text), -1);

    // The line's end is before its CR; Right steps over CRLF at once, Left back again.
    QTest::keyClick(&view, Qt::Key_End);
    const qsizetype crlf = text.indexOf(QLatin1Char('\r'));
    EXPECT_EQ(view.cursorPosition(), crlf);
    QTest::keyClick(&view, Qt::Key_Right);
    EXPECT_EQ(view.cursorPosition(), crlf + 2);
    QTest::keyClick(&view, Qt::Key_Left);
    EXPECT_EQ(view.cursorPosition(), crlf);
    QTest::keyClick(&view, Qt::Key_Return);
    text.insert(crlf, QStringLiteral("\r\n"));
    EXPECT_EQ(differsAt(view.text(), text), -1);
    // "next" ends in LF; "last" has no end and takes that of the line before it.
    QTest::keyClick(&view, Qt::Key_Down);
    QTest::keyClick(&view, Qt::Key_Home);
    QTest::keyClick(&view, Qt::Key_Right);
    QTest::keyClick(&view, Qt::Key_Return);
    text.insert(text.indexOf(QStringLiteral("next")) + 1, QLatin1Char('\n'));
    EXPECT_EQ(differsAt(view.text(), text), -1);
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(differsAt(view.text(), text + QLatin1Char('\n')), -1);
    QTest::keyClick(&view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(differsAt(view.text(), text), -1);
    // Typing runs are undone together, and redone.
    QTest::keyClicks(&view, QStringLiteral("end"));
    QTest::keyClick(&view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(differsAt(view.text(), text), -1);
    QTest::keyClick(&view, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(differsAt(view.text(), text + QStringLiteral("end")), -1);

    // Shift selects; typing replaces the selection.
    QTest::keyClick(&view, Qt::Key_Home, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(view.selectedText(), QStringLiteral("aa"));
    QTest::keyClicks(&view, QStringLiteral("["));
    EXPECT_EQ(differsAt(view.text(), QStringLiteral("[") + (text + QStringLiteral("end")).mid(2)), -1);
}

// A view that shows at most four lines scrolls inside to keep the cursor in view.
TEST(CodeTextView, BoundedEditorScrollsToTheCursor)
{
    const QFont font(QStringLiteral("monospace"), 12);
    const QFontMetricsF metrics(font);
    CodeTextView view(font, {}, false);
    view.setEditable(true);
    view.setVisibleLines(1, 4);
    view.setPlaceholder(QStringLiteral("response body"));
    const int width = qCeil(10 * metrics.horizontalAdvance(QLatin1Char('M'))) + 1;
    EXPECT_EQ(view.heightForWidth(width), qCeil(metrics.lineSpacing()));
    view.setText(QString(1000, QLatin1Char('b')));
    EXPECT_EQ(view.heightForWidth(width), qCeil(4 * metrics.lineSpacing()));
    view.resize(width, view.heightForWidth(width));
    view.show();
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(view.topLine(), 96);
    // Three lines up, at the column it had: the end of a full line is drawn at the start of the next, so
    // the cursor stays before the last character of the line aimed at.
    QTest::keyClick(&view, Qt::Key_PageUp);
    EXPECT_EQ(view.cursorPosition(), 969);
    EXPECT_EQ(view.topLine(), 96);
    QTest::keyClick(&view, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(view.topLine(), 0);
}

namespace {

// Sends an input method event, made by `fill`, to both editors.
void sendInputMethod(QWidget *a, QWidget *b, const QString &preedit,
                     const QList<QInputMethodEvent::Attribute> &attributes,
                     const std::function<void(QInputMethodEvent &)> &fill = {})
{
    for (QWidget *target : {a, b}) {
        QInputMethodEvent event(preedit, attributes);
        if (fill)
            fill(event);
        QApplication::sendEvent(target, &event);
    }
}

} // namespace

// The view takes text from the keyboard and an input method as Qt's own plain text editor beside it does.
TEST(CodeTextView, TakesTextFromKeysAndInputMethodsAsAPlainTextEditDoes)
{
    QWidget host;
    auto *column = new QVBoxLayout(&host);
    auto *view = new CodeTextView(QFont(QStringLiteral("monospace"), 12), {}, false, &host);
    view->setEditable(true);
    auto *baseline = new QPlainTextEdit(&host);
    column->addWidget(view);
    column->addWidget(baseline);
    host.resize(400, 300);
    host.show();
    const QString start = QStringLiteral("first line\nhello world");
    view->setText(start);
    baseline->setPlainText(start);
    view->setCursorPosition(start.size());
    baseline->moveCursor(QTextCursor::End);
    QWidget *asWidget = view; // the queries an input method makes, through the widget
    const auto bothHold = [&](const QString &text) {
        EXPECT_EQ(baseline->toPlainText(), text);
        EXPECT_EQ(view->text(), text);
    };

    // An emoji typed as one key: a surrogate pair, neither half printable alone.
    const QString emoji = QString::fromUcs4(U"\U0001F600");
    for (QWidget *editor : {static_cast<QWidget *>(view), static_cast<QWidget *>(baseline)}) {
        QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, emoji);
        QApplication::sendEvent(editor, &key);
    }
    bothHold(start + emoji);

    // What an input method is told of the text around the cursor.
    for (const Qt::InputMethodQuery query : {Qt::ImCursorPosition, Qt::ImSurroundingText, Qt::ImAnchorPosition,
                                             Qt::ImTextBeforeCursor, Qt::ImTextAfterCursor, Qt::ImCurrentSelection})
        EXPECT_EQ(asWidget->inputMethodQuery(query).toString(), baseline->inputMethodQuery(query).toString()) << int(query);

    // A commit that replaces the word before the cursor (as a spelling correction does).
    const int replaced = int(QStringLiteral("world").size() + emoji.size());
    sendInputMethod(view, baseline, {}, {},
                    [&](QInputMethodEvent &e) { e.setCommitString(QStringLiteral("there"), -replaced, replaced); });
    bothHold(QStringLiteral("first line\nhello there"));
    EXPECT_EQ(asWidget->inputMethodQuery(Qt::ImCursorPosition), baseline->inputMethodQuery(Qt::ImCursorPosition));
    EXPECT_EQ(asWidget->inputMethodQuery(Qt::ImSurroundingText), baseline->inputMethodQuery(Qt::ImSurroundingText));

    // A composition in progress is drawn at the cursor and is not yet text; its commit is.
    QApplication::processEvents();
    const QImage before = view->grab().toImage();
    const QString composing = QStringLiteral("\u306b\u307b");
    sendInputMethod(view, baseline, composing, {QInputMethodEvent::Attribute(QInputMethodEvent::Cursor, 2, 1)});
    bothHold(QStringLiteral("first line\nhello there"));
    EXPECT_EQ(view->preedit(), composing);
    const QImage composingImage = view->grab().toImage();
    testsupport::saveRender(view, QStringLiteral("design"), QStringLiteral("code-text-view-preedit"));
    const qreal charWidth = QFontMetricsF(view->font()).horizontalAdvance(QLatin1Char('M'));
    const qreal lineHeight = QFontMetricsF(view->font()).lineSpacing();
    // Drawn after "hello there" on the second line.
    const QRect composed(qRound(11 * charWidth), qRound(lineHeight), qRound(2 * charWidth), qRound(lineHeight));
    EXPECT_NE(before.copy(composed), composingImage.copy(composed));
    sendInputMethod(view, baseline, {}, {},
                    [](QInputMethodEvent &e) { e.setCommitString(QStringLiteral("\u65e5\u672c")); });
    bothHold(QStringLiteral("first line\nhello there\u65e5\u672c"));
    EXPECT_TRUE(view->preedit().isEmpty());
}

// An editable view lets the keyboard out with Ctrl+Tab and Ctrl+Shift+Tab as with Tab, typing nothing.
TEST(CodeTextView, CtrlTabMovesOnWithoutTyping)
{
    QWidget window;
    auto *column = new QVBoxLayout(&window);
    auto *before = new QPlainTextEdit;
    before->setTabChangesFocus(true);
    auto *view = new CodeTextView(QFont(QStringLiteral("monospace")), {}, false);
    view->setEditable(true);
    view->setFocusPolicy(Qt::StrongFocus);
    view->setText(QStringLiteral("{}"));
    auto *after = new QPlainTextEdit;
    after->setTabChangesFocus(true);
    column->addWidget(before);
    column->addWidget(view);
    column->addWidget(after);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    view->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Tab, Qt::ControlModifier));
    EXPECT_EQ(QApplication::focusWidget(), after);
    view->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier));
    EXPECT_EQ(QApplication::focusWidget(), before);
    EXPECT_EQ(view->text(), QStringLiteral("{}"));
}
