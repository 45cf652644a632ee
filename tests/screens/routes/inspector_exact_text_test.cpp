// The body editor and a step's body box change only what the user typed: undo, copy, cut and paste keep
// every other character and line end of the body the engine serves.
#include "inspector_fixture.h"

#include "design/growing_text_field.h"
#include "design/ks_button.h"
#include "screens/routes/response_section.h"
#include "screens/routes/sequence_section.h"

#include <QClipboard>
#include <QTest>

namespace {

// No-break spaces, a line and a paragraph separator inside a JSON string (raw line feeds there would make
// the JSON invalid), and every kind of line end.
const QString unusualBody = QStringLiteral("{\"a\": \"x\u00a0y\u2028z\u2029w\",\r\n \"b\": \"\u00a0\"\r \"c\": 1\n}");

Endpoint routeWithStep(const std::string &id, const QString &stepBody)
{
    Endpoint route = inspectorRoute(id, 200, unusualBody.toStdString());
    MockStep step;
    step.id = "s-1";
    step.body = stepBody.toStdString();
    route.sequence = {step};
    return route;
}

// The body editor, opened with "Edit" and given the focus.
QPlainTextEdit *openBodyEditor(InspectorView &inspector)
{
    inspector.responseSection()->editButton()->trigger();
    QPlainTextEdit *editor = inspector.responseSection()->editor();
    if (editor)
        editor->setFocus();
    return editor;
}

void press(QWidget *target, QKeySequence::StandardKey key)
{
    const QKeySequence sequence(key);
    QTest::keyClick(target, Qt::Key(sequence[0].key()), sequence[0].keyboardModifiers());
}

} // namespace

// Select all, type, then undo: the body comes back as it was, character for character, in the body editor
// and in a step's box, and typing in the box leaves the rest of its body alone.
TEST_F(InspectorEngineTest, UndoAndTypingKeepEveryCharacterTheUserDidNotTouch)
{
    seed({routeWithStep("r-a", unusualBody)});
    InspectorView &inspector = open("r-a");
    QPlainTextEdit *editor = openBodyEditor(inspector);
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("[]"));
    EXPECT_EQ(inspector.model()->bodyText(), "[]");
    press(editor, QKeySequence::Undo);
    EXPECT_EQ(inspector.model()->bodyText(), unusualBody);
    press(editor, QKeySequence::Redo);
    EXPECT_EQ(inspector.model()->bodyText(), "[]");
    press(editor, QKeySequence::Undo);
    ASSERT_TRUE(settled());
    EXPECT_EQ(QString::fromStdString(routeIn(engineRoutes(), "r-a")["body"].get<std::string>()), unusualBody);

    QPlainTextEdit *box = inspector.sequenceSection()->cards()[0]->bodyField()->editor();
    box->setFocus();
    box->moveCursor(QTextCursor::End);
    QTest::keyClicks(box, QStringLiteral(" "));
    EXPECT_EQ(QString::fromStdString(inspector.model()->sequence()[0].body), unusualBody + " ");
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("{}"));
    press(box, QKeySequence::Undo);
    EXPECT_EQ(QString::fromStdString(inspector.model()->sequence()[0].body), unusualBody + " ");
    ASSERT_TRUE(settled());
    EXPECT_EQ(QString::fromStdString(routeIn(engineRoutes(), "r-a")["sequence"][0]["body"].get<std::string>()),
              unusualBody + " ");
}

// Copy and cut put the body's own characters and line ends on the clipboard; a cut and a paste in place
// leave the body as it was; a paste brings the clipboard's line ends.
TEST_F(InspectorEngineTest, CopyCutAndPasteKeepTheBodysLineEnds)
{
    seed({routeWithStep("r-a", unusualBody)});
    InspectorView &inspector = open("r-a");
    QPlainTextEdit *editor = openBodyEditor(inspector);
    ASSERT_NE(editor, nullptr);
    QTextCursor part = editor->textCursor();
    part.setPosition(int(QStringLiteral("{\"a\": \"x\u00a0y\u2028z\u2029w\",").size()));
    part.setPosition(int(QStringLiteral("{\"a\": \"x\u00a0y\u2028z\u2029w\",\n \"b\": \"\u00a0\"\n").size()),
                     QTextCursor::KeepAnchor);
    editor->setTextCursor(part);
    press(editor, QKeySequence::Copy);
    EXPECT_EQ(QApplication::clipboard()->text(), "\r\n \"b\": \"\u00a0\"\r");
    editor->selectAll();
    press(editor, QKeySequence::Cut);
    EXPECT_EQ(QApplication::clipboard()->text(), unusualBody);
    EXPECT_EQ(inspector.model()->bodyText(), "");
    press(editor, QKeySequence::Paste);
    EXPECT_EQ(inspector.model()->bodyText(), unusualBody);
    ASSERT_TRUE(settled());
    EXPECT_EQ(QString::fromStdString(routeIn(engineRoutes(), "r-a")["body"].get<std::string>()), unusualBody);

    QPlainTextEdit *box = inspector.sequenceSection()->cards()[0]->bodyField()->editor();
    box->setFocus();
    box->selectAll();
    press(box, QKeySequence::Cut);
    EXPECT_EQ(QApplication::clipboard()->text(), unusualBody);
    EXPECT_EQ(inspector.model()->sequence()[0].body, "");
    QApplication::clipboard()->setText(QStringLiteral("a\r\nb"));
    press(box, QKeySequence::Paste);
    box->moveCursor(QTextCursor::Start);
    press(box, QKeySequence::Paste);
    EXPECT_EQ(QString::fromStdString(inspector.model()->sequence()[0].body), "a\r\nba\r\nb");
    ASSERT_TRUE(settled());
    EXPECT_EQ(QString::fromStdString(routeIn(engineRoutes(), "r-a")["sequence"][0]["body"].get<std::string>()),
              "a\r\nba\r\nb");
}
