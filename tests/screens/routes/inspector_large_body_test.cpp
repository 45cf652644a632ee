// A long response body: shown without laying it all out, coloured off the window thread, the editor made and
// filled only for "Edit", and every keystroke in it saved as the whole body.
#include "inspector_fixture.h"

#include "design/exact_plain_text_edit.h"
#include "design/code_text_field.h"
#include "design/code_text_view.h"
#include "design/growing_text_field.h"
#include "design/ks_button.h"
#include "platform/background_work.h"
#include "screens/routes/json_body_view.h"
#include "screens/routes/response_section.h"
#include "screens/routes/sequence_section.h"

#include <QClipboard>
#include <QFontMetricsF>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollArea>
#include <QTest>

#include <algorithm>

namespace {

// Pretty-printed JSON of at least `size` characters, past the synchronous colouring limit.
std::string longJson(qsizetype size)
{
    std::string body = "[\n";
    for (int i = 0; qsizetype(body.size()) < size; ++i)
        body += "  {\"id\": " + std::to_string(i) + ", \"name\": \"User " + std::to_string(i) + "\"},\n";
    return body + "  null\n]";
}

// Minified JSON: one line of at least `size` characters.
std::string oneLineJson(qsizetype size)
{
    std::string body = "[";
    for (int i = 0; qsizetype(body.size()) < size; ++i)
        body += "{\"id\":" + std::to_string(i) + ",\"name\":\"User " + std::to_string(i) + "\"},";
    body.back() = ']';
    return body;
}

// Where a click lands in a line-painted view: `column` characters into its shown line `line`.
QPoint shownAt(const CodeTextView *view, int column, int line)
{
    const QFontMetricsF metrics(view->font());
    return QPoint(int((column + 0.3) * metrics.horizontalAdvance(QLatin1Char('M'))),
                  int((line + 0.5) * metrics.lineSpacing()));
}

int columnsOf(const CodeTextView *view)
{
    return int(view->width() / QFontMetricsF(view->font()).horizontalAdvance(QLatin1Char('M')));
}

} // namespace

TEST_F(InspectorEngineTest, LongBodyIsPaintedFromAViewAndEditedInAnEditorMadeForEdit)
{
    const std::string longBody = longJson(CodeTextView::SyncColoringLimit + 1000);
    seed({inspectorRoute("r-long", 200, longBody), inspectorRoute("r-short", 200, "{\"a\": 1}")});
    InspectorView &inspector = open("r-long");
    ResponseSection *body = inspector.responseSection();
    // No editor until "Edit": filling one with a long body is what blocked the window.
    EXPECT_EQ(body->editor(), nullptr);
    // Taken in and coloured on workers, then shown.
    ASSERT_TRUE(testsupport::waitFor([&] { return body->bodyShown(); }));
    ASSERT_TRUE(body->showsLongBody());
    ASSERT_NE(body->longBodyView(), nullptr);
    EXPECT_TRUE(body->longBodyView()->isVisible());
    EXPECT_FALSE(body->bodyView()->isVisible());
    EXPECT_EQ(body->longBodyView()->text().toStdString(), longBody);
    // Coloured on a worker, shown plain until its colours arrive.
    ASSERT_TRUE(testsupport::waitFor([&] { return body->bodyShown(); }));
    EXPECT_TRUE(body->longBodyView()->colored());
    inspector.scrollArea()->verticalScrollBar()->setValue(body->y());
    testsupport::saveRender(m_host.get(), QStringLiteral("routes"), QStringLiteral("inspector-long-body"));

    body->editButton()->trigger();
    EXPECT_EQ(body->modeText()->text(), "editing");
    ASSERT_NE(body->editor(), nullptr);
    ASSERT_TRUE(testsupport::waitFor([&] { return body->editor()->isVisible(); }));
    EXPECT_FALSE(body->longBodyView()->isVisible());
    QPlainTextEdit *editor = body->editor();
    EXPECT_EQ(editor->toPlainText().toStdString(), longBody);
    // The lines share blocks: the editor walks every block on the window's thread as it takes the document.
    const auto lines = std::count(longBody.begin(), longBody.end(), '\n') + 1;
    EXPECT_LE(editor->document()->blockCount(), lines / 16);
    // A line end inside a block is edited as a line feed: joined with Delete, split again with Return.
    const QString before = inspector.model()->bodyText();
    const qsizetype secondEnd = before.indexOf(QLatin1Char('\n'), before.indexOf(QLatin1Char('\n')) + 1);
    QTextCursor atEnd = editor->textCursor();
    atEnd.setPosition(int(secondEnd));
    editor->setTextCursor(atEnd);
    QTest::keyClick(editor, Qt::Key_Delete);
    EXPECT_EQ(inspector.model()->bodyText(), QString(before).remove(secondEnd, 1));
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(inspector.model()->bodyText(), before);
    QTest::keyClick(editor, Qt::Key_Down);
    EXPECT_EQ(editor->textCursor().position(), before.indexOf(QLatin1Char('\n'), secondEnd + 1) + 1);
    QApplication::processEvents();
    inspector.scrollArea()->verticalScrollBar()->setValue(body->y());
    testsupport::saveRender(m_host.get(), QStringLiteral("routes"), QStringLiteral("inspector-long-body-editing"));

    // Keystrokes, an insertion over a selection across lines and an undo: the saved body follows each one
    // whole, the no-break space inserted kept as one.
    QString expected = inspector.model()->bodyText();
    QTextCursor cursor = editor->textCursor();
    cursor.setPosition(3);
    editor->setTextCursor(cursor);
    QTest::keyClicks(editor, QStringLiteral("ab"));
    QTest::keyClick(editor, Qt::Key_Backspace);
    expected.insert(3, QLatin1Char('a'));
    EXPECT_EQ(inspector.model()->bodyText(), expected);
    cursor = editor->textCursor();
    cursor.setPosition(1);
    cursor.setPosition(40, QTextCursor::KeepAnchor);
    editor->setTextCursor(cursor);
    const QString inserted = QStringLiteral("\n  \"x\": [1,\n 2]\u00a0,\n");
    editor->insertPlainText(inserted);
    EXPECT_EQ(inspector.model()->bodyText(), QString(expected).replace(1, 39, inserted));
    body->editor()->undoEdit();
    EXPECT_EQ(inspector.model()->bodyText(), expected);
    QTest::keyClick(editor, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(editor, QStringLiteral("!"));
    expected += QLatin1Char('!');
    EXPECT_EQ(inspector.model()->bodyText(), expected);
    EXPECT_EQ(QString::fromStdString(find("r-long")->body), expected);
    ASSERT_TRUE(settled());
    EXPECT_EQ(QString::fromStdString(routeIn(engineRoutes(), "r-long")["body"].get<std::string>()), expected);

    // Done shows the edited body in the view again.
    body->editButton()->trigger();
    EXPECT_TRUE(body->longBodyView()->isVisible());
    EXPECT_EQ(body->longBodyView()->text(), inspector.model()->bodyText());

    // Coloured for the dark palette too.
    InspectorView &dark = open("r-long", Palette::dark());
    ASSERT_TRUE(testsupport::waitFor([&] { return dark.responseSection()->bodyShown(); }));
    dark.scrollArea()->verticalScrollBar()->setValue(dark.responseSection()->y());
    testsupport::saveRender(m_host.get(), QStringLiteral("routes"), QStringLiteral("inspector-long-body-dark"));

    // A short body keeps the rich-text view, and its editor is filled at once.
    InspectorView &shortOne = open("r-short");
    ResponseSection *shortBody = shortOne.responseSection();
    EXPECT_FALSE(shortBody->showsLongBody());
    EXPECT_TRUE(shortBody->bodyView()->isVisible());
    EXPECT_EQ(shortBody->longBodyView(), nullptr);
    EXPECT_EQ(shortBody->editor(), nullptr);
    shortBody->editButton()->trigger();
    ASSERT_NE(shortBody->editor(), nullptr);
    EXPECT_TRUE(shortBody->editor()->isVisible());
    EXPECT_EQ(shortBody->editor()->toPlainText(), "{\"a\": 1}");
}

// Selecting a route with a long body builds the inspector first and takes the body into its view a turn
// of the event loop later: the window waits twice briefly rather than once long.
TEST_F(InspectorEngineTest, LongBodyIsTakenInATurnAfterTheInspectorIsBuilt)
{
    const std::string longBody = longJson(ResponseSection::LongBodyLimit * 4);
    seed({inspectorRoute("r-long", 200, longBody)});
    InspectorView inspector(AppContext{&state, &client(), nullptr, nullptr}, *find("r-long"));
    ResponseSection *body = inspector.responseSection();
    EXPECT_EQ(body->longBodyView(), nullptr);
    EXPECT_FALSE(body->bodyView()->isVisibleTo(body));
    EXPECT_FALSE(body->emptyText()->isVisibleTo(body));
    EXPECT_TRUE(body->generateButton()->isEnabled());
    inspector.resize(InspectorView::PanelWidth, 820);
    inspector.show();
    ASSERT_TRUE(testsupport::waitFor([&] { return body->bodyShown(); }));
    ASSERT_NE(body->longBodyView(), nullptr);
    EXPECT_EQ(body->longBodyView()->text().toStdString(), longBody);
}

TEST_F(InspectorEngineTest, BodyChangedWhileTheLongEditorIsBeingFilledIsTheOneEdited)
{
    seed({inspectorRoute("r-long", 200, longJson(ResponseSection::LongBodyLimit * 4))});
    MockEnvironment env{"env-1", "Dev", {EnvVar{"v1", "token", "abc"}}};
    client().setEnvironments({env});
    client().setActiveEnvID(QStringLiteral("env-1"));
    InspectorView &inspector = open("r-long");
    ResponseSection *body = inspector.responseSection();
    body->editButton()->trigger();
    // The document for the first text is still being built when a variable is appended.
    inspector.model()->insertVariable(QStringLiteral("token"));
    ASSERT_TRUE(testsupport::waitFor([&] { return body->editor()->isVisible(); }));
    EXPECT_TRUE(body->editor()->toPlainText().endsWith(QStringLiteral("{{token}}")));
    EXPECT_EQ(body->editor()->toPlainText(), inspector.model()->bodyText());

    // Closed, changed elsewhere, opened again: the editor shows the new body.
    body->editButton()->trigger();
    Endpoint changed = *find("r-long");
    changed.body = "{\"short\": true}";
    client().updateEndpoint(changed);
    EXPECT_EQ(inspector.model()->bodyText(), "{\"short\": true}");
    body->editButton()->trigger();
    ASSERT_TRUE(testsupport::waitFor([&] { return body->editor()->isVisible(); }));
    EXPECT_EQ(body->editor()->toPlainText(), "{\"short\": true}");
}

TEST_F(InspectorEngineTest, InspectorClosedWhileTheLongEditorIsBeingBuiltTakesNothingLate)
{
    seed({inspectorRoute("r-long", 200, longJson(ResponseSection::LongBodyLimit * 64))});
    InspectorView &inspector = open("r-long");
    ResponseSection *body = inspector.responseSection();
    body->editButton()->trigger();
    QPointer<QPlainTextEdit> editor = body->editor();
    ASSERT_FALSE(editor.isNull());
    EXPECT_FALSE(editor->isVisible());
    // The document is still being built when the inspector goes; its hand-over finds no one and is dropped.
    EXPECT_GT(BackgroundWork::pool().activeThreadCount(), 0);
    m_view.reset();
    EXPECT_TRUE(editor.isNull());
    BackgroundWork::drain();
    QApplication::processEvents();

    // The next inspector builds its editor as before.
    ResponseSection *next = open("r-long").responseSection();
    next->editButton()->trigger();
    ASSERT_TRUE(testsupport::waitFor([&] { return next->editor()->isVisible(); }));
    EXPECT_EQ(next->editor()->toPlainText(), m_view->model()->bodyText());
}

// Minified JSON is one long line: a text editor lays it out whole, for seconds, and again at each key. It is
// shown and edited line by line instead, in the inspector and in a step's body box, and kept byte for byte.
TEST_F(InspectorEngineTest, OneLineBodyIsEditedWhereTypedWithoutLayingOutTheWholeLine)
{
    const std::string oneLine = oneLineJson(200 * 1024);
    seed({inspectorRoute("r-line", 200, oneLine), inspectorRoute("r-mid", 200, oneLineJson(16 * 1024))});
    InspectorView &inspector = open("r-line");
    ResponseSection *body = inspector.responseSection();
    ASSERT_TRUE(testsupport::waitFor([&] { return body->bodyShown(); }));
    ASSERT_TRUE(body->showsLongBody());
    inspector.scrollArea()->verticalScrollBar()->setValue(body->y());
    testsupport::saveRender(m_host.get(), QStringLiteral("routes"), QStringLiteral("inspector-one-line-body"));

    body->editButton()->trigger();
    ASSERT_TRUE(body->bodyShown());
    EXPECT_TRUE(body->editsByLine());
    EXPECT_EQ(body->editor(), nullptr);
    CodeTextView *editor = body->lineEditor();
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(editor->isVisible());
    EXPECT_FALSE(body->longBodyView()->isVisible());
    EXPECT_EQ(editor->text().toStdString(), oneLine);

    // A click three shown lines down and a key: the character goes in exactly there.
    const int columns = columnsOf(editor);
    ASSERT_GT(columns, 10);
    // Laid out at its full height first, so the click lands inside it.
    QApplication::processEvents();
    QTest::mouseClick(editor, Qt::LeftButton, {}, shownAt(editor, 5, 3));
    EXPECT_TRUE(editor->hasFocus());
    EXPECT_EQ(editor->cursorPosition(), 3 * columns + 5);
    QTest::keyClicks(editor, QStringLiteral("x"));
    std::string expected = oneLine;
    expected.insert(std::size_t(3 * columns + 5), "x");
    EXPECT_EQ(inspector.model()->bodyText().toStdString(), expected);
    QTest::keyClick(editor, Qt::Key_Down);
    QTest::keyClicks(editor, QStringLiteral("y"));
    expected.insert(std::size_t(4 * columns + 6), "y");
    QTest::keyClick(editor, Qt::Key_End);
    QTest::keyClick(editor, Qt::Key_Return);
    expected += "\n";
    EXPECT_EQ(inspector.model()->bodyText().toStdString(), expected);
    QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
    expected.pop_back();
    EXPECT_EQ(inspector.model()->bodyText().toStdString(), expected);
    ASSERT_TRUE(settled());
    EXPECT_EQ(routeIn(engineRoutes(), "r-line")["body"].get<std::string>(), expected);
    QTest::mouseClick(editor, Qt::LeftButton, {}, shownAt(editor, 5, 3));
    QApplication::processEvents();
    inspector.scrollArea()->verticalScrollBar()->setValue(body->y());
    testsupport::saveRender(m_host.get(), QStringLiteral("routes"), QStringLiteral("inspector-one-line-body-editing"));

    // The first step copies the body into a box that lays out only what it shows, and edits it where typed.
    SequenceSection *sequence = inspector.sequenceSection();
    sequence->addButton()->trigger();
    ASSERT_EQ(sequence->cards().size(), 1);
    SequenceStepCard *card = sequence->cards()[0];
    // The new card takes the long body a turn later, so adding the step and laying out its body are two waits.
    EXPECT_EQ(card->lineBodyField(), nullptr);
    EXPECT_FALSE(card->bodyField()->isVisible());
    ASSERT_TRUE(testsupport::waitFor([&] { return card->lineBodyField() && card->lineBodyField()->isVisible(); }));
    EXPECT_FALSE(card->bodyField()->isVisible());
    EXPECT_TRUE(card->bodyField()->text().isEmpty());
    CodeTextField *stepBody = card->lineBodyField();
    EXPECT_EQ(stepBody->text().toStdString(), expected);
    EXPECT_EQ(stepBody->view()->height(), stepBody->view()->heightForWidth(stepBody->view()->width()));
    const int stepColumns = columnsOf(stepBody->view());
    QTest::mouseClick(stepBody->view(), Qt::LeftButton, {}, shownAt(stepBody->view(), 2, 1));
    QTest::keyClicks(stepBody->view(), QStringLiteral("z"));
    std::string stepExpected = expected;
    stepExpected.insert(std::size_t(stepColumns + 2), "z");
    EXPECT_EQ(inspector.model()->sequence()[0].body, stepExpected);
    QApplication::processEvents();
    inspector.scrollArea()->ensureWidgetVisible(card);
    testsupport::saveRender(m_host.get(), QStringLiteral("routes"), QStringLiteral("inspector-one-line-step"));
    ASSERT_TRUE(settled());
    EXPECT_EQ(routeIn(engineRoutes(), "r-line")["sequence"][0]["body"].get<std::string>(), stepExpected);

    // The editor in the dark palette.
    InspectorView &dark = open("r-line", Palette::dark());
    ASSERT_TRUE(testsupport::waitFor([&] { return dark.responseSection()->bodyShown(); }));
    dark.responseSection()->editButton()->trigger();
    QApplication::processEvents();
    dark.scrollArea()->verticalScrollBar()->setValue(dark.responseSection()->y());
    testsupport::saveRender(m_host.get(), QStringLiteral("routes"), QStringLiteral("inspector-one-line-body-editing-dark"));

    // A short body with a long line is shown line by line too.
    InspectorView &mid = open("r-mid");
    ASSERT_TRUE(testsupport::waitFor([&] { return mid.responseSection()->bodyShown(); }));
    EXPECT_TRUE(mid.responseSection()->showsLongBody());
    mid.responseSection()->editButton()->trigger();
    EXPECT_TRUE(mid.responseSection()->editsByLine());
    EXPECT_EQ(mid.responseSection()->editor(), nullptr);
}

// A long line pasted into the text editor of a short body, or into a step's box, is taken by the editor that
// lays out only the lines in view, where it lands in place of the selection and can be undone.
TEST_F(InspectorEngineTest, LongPasteGoesToTheLineEditorWhereItCanBeUndone)
{
    Endpoint route = inspectorRoute("r-a", 200, "{\r\n  \"ok\": true\r\n}");
    MockStep step;
    step.id = "s-1";
    step.body = "[]";
    route.sequence = {step};
    seed({route});
    const QString pasted = QString::fromStdString(oneLineJson(20 * 1024));
    QApplication::clipboard()->setText(pasted);
    InspectorView &inspector = open("r-a");
    ResponseSection *body = inspector.responseSection();
    body->editButton()->trigger();
    QPlainTextEdit *editor = body->editor();
    ASSERT_NE(editor, nullptr);
    EXPECT_FALSE(body->editsByLine());
    editor->setFocus();
    // Over "true", past a CRLF line end.
    QTextCursor word = editor->textCursor();
    word.setPosition(10);
    word.setPosition(14, QTextCursor::KeepAnchor);
    editor->setTextCursor(word);
    QTest::keyClick(editor, Qt::Key_V, Qt::ControlModifier);
    const QString expected = "{\r\n  \"ok\": " + pasted + "\r\n}";
    EXPECT_EQ(inspector.model()->bodyText(), expected);
    EXPECT_TRUE(body->editsByLine());
    ASSERT_NE(body->lineEditor(), nullptr);
    EXPECT_TRUE(body->lineEditor()->isVisible());
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(body->lineEditor()->cursorPosition(), 11 + pasted.size());
    EXPECT_TRUE(testsupport::waitFor([&] { return caretInView(body->lineEditor(), inspector.scrollArea()); }));
    ASSERT_TRUE(settled());
    EXPECT_EQ(QString::fromStdString(routeIn(engineRoutes(), "r-a")["body"].get<std::string>()), expected);
    QApplication::processEvents();
    testsupport::saveRender(m_host.get(), QStringLiteral("routes"), QStringLiteral("inspector-long-paste"));
    body->lineEditor()->undo();
    EXPECT_EQ(inspector.model()->bodyText(), "{\r\n  \"ok\": true\r\n}");

    SequenceStepCard *card = inspector.sequenceSection()->cards()[0];
    QPlainTextEdit *box = card->bodyField()->editor();
    box->setFocus();
    box->moveCursor(QTextCursor::End);
    QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(QString::fromStdString(inspector.model()->sequence()[0].body), "[]" + pasted);
    ASSERT_NE(card->lineBodyField(), nullptr);
    EXPECT_TRUE(card->lineBodyField()->isVisible());
    EXPECT_FALSE(card->bodyField()->isVisible());
    ASSERT_TRUE(settled());
    EXPECT_EQ(QString::fromStdString(routeIn(engineRoutes(), "r-a")["sequence"][0]["body"].get<std::string>()),
              "[]" + pasted);
}
