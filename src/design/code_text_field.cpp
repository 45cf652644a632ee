// The code field for texts with very long lines.
#include "design/code_text_field.h"

#include "design/animated_flag.h"
#include "design/code_text_view.h"
#include "design/fonts.h"
#include "design/keyboard_reach.h"
#include "design/palette.h"
#include "design/snow_input.h"

#include <QPainter>
#include <QVBoxLayout>

CodeTextField::CodeTextField(int maxLines, QWidget *parent)
    : QWidget(parent),
      m_view(new CodeTextView(Fonts::ksCode(), [](const Palette &p) { return p.foreground; }, false, this)),
      m_focus(new AnimatedFlag(this, 150))
{
    m_view->setEditable(true);
    m_view->setVisibleLines(1, maxLines);
    auto *box = new QVBoxLayout(this);
    box->setContentsMargins(HorizontalInset, VerticalInset, HorizontalInset, VerticalInset);
    box->addWidget(m_view);
    m_focus->followFocus(m_view);
    KeyboardReach::installOnEditor(m_view);
    setFocusProxy(m_view);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    connect(m_view, &CodeTextView::textEdited, this, [this] { emit textEdited(m_view->text()); });
}

QString CodeTextField::text() const
{
    return m_view->text();
}

void CodeTextField::setText(const QString &text)
{
    m_view->setText(text);
}

void CodeTextField::setPlaceholder(const QString &placeholder)
{
    m_view->setPlaceholder(placeholder);
}

bool CodeTextField::isFocused() const
{
    return m_focus->value();
}

void CodeTextField::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    SnowInputLook::paint(p, QRectF(rect()), Palette::of(this), m_focus->progress(), 0, 8);
    KeyboardReach::paintRing(p, m_view, QRectF(rect()), 8);
}
