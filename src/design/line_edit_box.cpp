// The one-line input box.
#include "design/line_edit_box.h"

#include "design/animated_flag.h"
#include "design/fonts.h"
#include "design/keyboard_reach.h"
#include "design/palette.h"
#include "design/snow_input.h"

#include <QEvent>
#include <QLineEdit>
#include <QPainter>

LineEditBox::LineEditBox(QWidget *parent)
    : QWidget(parent), m_edit(new QLineEdit(this)), m_focus(new AnimatedFlag(this, 150))
{
    m_edit->setFont(Fonts::inter(13));
    m_focus->followFocus(m_edit);
    KeyboardReach::installOnEditor(m_edit);
    SnowInputLook::styleLineEdit(m_edit, Palette::of(this));
    connect(m_edit, &QLineEdit::textEdited, this, &LineEditBox::textEdited);
    setFocusProxy(m_edit);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void LineEditBox::setPlaceholder(const QString &placeholder)
{
    m_edit->setPlaceholderText(placeholder);
}

QString LineEditBox::placeholder() const
{
    return m_edit->placeholderText();
}

void LineEditBox::setText(const QString &text)
{
    if (m_edit->text() != text)
        m_edit->setText(text);
}

QString LineEditBox::text() const
{
    return m_edit->text();
}

bool LineEditBox::isFocused() const
{
    return m_focus->value();
}

void LineEditBox::resizeEvent(QResizeEvent *)
{
    relayout();
}

void LineEditBox::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    SnowInputLook::styleLineEdit(m_edit, palette);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    SnowInputLook::paint(p, QRectF(rect()), palette, m_focus->progress(), hoverProgress(), 8);
    paintDecorations(p, palette);
    KeyboardReach::paintRing(p, m_edit, QRectF(rect()), 8);
}
