// The shared input look: its colours by state, and the frame that gives it to any editor.
#include "design/palette.h"
#include "design/snow_input.h"

#include <QCoreApplication>
#include <QFocusEvent>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

TEST(SnowInputLook, FillAndOutlineByState)
{
    for (const Palette *p : {&Palette::light(), &Palette::dark()}) {
        EXPECT_EQ(SnowInputLook::fill(*p, 0, 0).rgba(), p->inputBackground.rgba());
        EXPECT_EQ(SnowInputLook::fill(*p, 0, 1).rgba(), p->mutedStrong.rgba());
        // Focus wins over hover.
        EXPECT_EQ(SnowInputLook::fill(*p, 1, 1).rgba(), p->elevated.rgba());
        EXPECT_EQ(SnowInputLook::stroke(*p, 1).rgba(), p->borderStrong.rgba());
        EXPECT_EQ(SnowInputLook::stroke(*p, 0).alpha(), 0);
    }
}

TEST(SnowInput, FramesAnyEditorAndFollowsItsFocus)
{
    auto *editor = new QPlainTextEdit;
    SnowInput frame(editor, 28, 8);
    EXPECT_EQ(frame.height(), 28);
    EXPECT_EQ(editor->frameShape(), QFrame::NoFrame);
    EXPECT_FALSE(editor->viewport()->autoFillBackground());
    EXPECT_EQ(editor->palette().color(QPalette::Base).alpha(), 0);
    EXPECT_EQ(frame.layout()->contentsMargins(), QMargins(10, 0, 10, 0));
    EXPECT_FALSE(frame.isFocused());
    QFocusEvent in(QEvent::FocusIn, Qt::MouseFocusReason);
    QCoreApplication::sendEvent(editor, &in);
    EXPECT_TRUE(frame.isFocused());
    QFocusEvent out(QEvent::FocusOut, Qt::MouseFocusReason);
    QCoreApplication::sendEvent(editor, &out);
    EXPECT_FALSE(frame.isFocused());

    auto *line = new QLineEdit;
    SnowInput lineFrame(line);
    EXPECT_FALSE(line->hasFrame());
}
