// A wrapping editor inside a scroll area with no sideways bar keeps every line's start in view.
#include "design/exact_plain_text_edit.h"

#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

TEST(ExactPlainTextEdit, BlanksTypedPastALineEndNeverScrollSideways)
{
    QScrollArea area;
    area.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area.setWidgetResizable(true);
    area.resize(300, 200);
    // Content a little wider than the area, as a wider font makes the inspector's at the smallest window.
    auto *content = new QWidget;
    content->setMinimumWidth(340);
    auto *editor = new ExactPlainTextEdit(content);
    editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    (new QVBoxLayout(content))->addWidget(editor);
    area.setWidget(content);
    area.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&area));
    editor->setExactText(QStringLiteral("{\"ok\":true,\n\"items\":[1,2,3]}"));
    editor->setFocus(Qt::MouseFocusReason);
    editor->moveCursor(QTextCursor::Start);
    editor->moveCursor(QTextCursor::EndOfLine);
    for (int i = 0; i < 80; ++i)
        QTest::keyClick(editor, Qt::Key_Space);
    EXPECT_EQ(area.horizontalScrollBar()->value(), 0);
    EXPECT_TRUE(editor->exactText().startsWith(QStringLiteral("{\"ok\":true,") + QString(80, QLatin1Char(' '))));

    // Nor does the editor itself, whatever width its layout gives a line of blanks.
    editor->horizontalScrollBar()->setRange(0, 60);
    editor->horizontalScrollBar()->setValue(30);
    EXPECT_EQ(editor->horizontalScrollBar()->value(), 0);
}
