// The growing multi-line text field.
#include "design/growing_text_field.h"

#include "design/animated_flag.h"
#include "design/fonts.h"
#include "design/palette.h"
#include "design/snow_input.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextLayout>

GrowingTextField::GrowingTextField(QWidget *parent)
    : QWidget(parent), m_edit(new QPlainTextEdit(this)), m_focus(new AnimatedFlag(this, 150))
{
    m_edit->setFont(Fonts::ksCode());
    m_edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Longer text scrolls with the wheel and the cursor; a bar would not fit a four-line box.
    m_edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_edit->setTabChangesFocus(true);
    m_edit->document()->setDocumentMargin(0);
    m_focus->followFocus(m_edit);
    SnowInputLook::styleEditor(m_edit, Palette::of(this));
    setFocusProxy(m_edit);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_edit, &QPlainTextEdit::textChanged, this, [this] {
        relayout();
        if (!m_filling)
            emit textEdited(m_edit->toPlainText());
    });
    // Wrapping is laid out after the text changes; the line count is read again once it is.
    connect(m_edit->document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            [this] { relayout(); });
    relayout();
}

QString GrowingTextField::text() const
{
    return m_edit->toPlainText();
}

void GrowingTextField::setText(const QString &text)
{
    if (m_edit->toPlainText() == text)
        return;
    m_filling = true;
    m_edit->setPlainText(text);
    m_filling = false;
}

void GrowingTextField::setPlaceholder(const QString &placeholder)
{
    m_edit->setPlaceholderText(placeholder);
}

QString GrowingTextField::placeholder() const
{
    return m_edit->placeholderText();
}

void GrowingTextField::setMaxLines(int lines)
{
    m_maxLines = qMax(1, lines);
    relayout();
}

void GrowingTextField::setReadOnly(bool readOnly)
{
    m_edit->setReadOnly(readOnly);
}

bool GrowingTextField::isFocused() const
{
    return m_focus->value();
}

int GrowingTextField::lineHeight() const
{
    return QFontMetrics(m_edit->font()).lineSpacing();
}

int GrowingTextField::shownLines() const
{
    // Wrapped lines as laid out at the editor's width; a block not laid out yet counts as one line.
    int lines = 0;
    for (QTextBlock block = m_edit->document()->begin(); block.isValid(); block = block.next()) {
        const QTextLayout *layout = block.layout();
        lines += (layout && layout->lineCount() > 0) ? layout->lineCount() : 1;
        if (lines >= m_maxLines)
            return m_maxLines;
    }
    return qBound(1, lines, m_maxLines);
}

void GrowingTextField::relayout()
{
    const int height = shownLines() * lineHeight() + 2 * VerticalInset;
    if (height != this->height() || minimumHeight() != height)
        setFixedHeight(height);
    m_edit->setGeometry(HorizontalInset, VerticalInset, qMax(0, width() - 2 * HorizontalInset),
                        qMax(0, height - 2 * VerticalInset));
}

QSize GrowingTextField::sizeHint() const
{
    return {200, shownLines() * lineHeight() + 2 * VerticalInset};
}

QSize GrowingTextField::minimumSizeHint() const
{
    return {2 * HorizontalInset + 40, sizeHint().height()};
}

void GrowingTextField::resizeEvent(QResizeEvent *)
{
    // The editor lays the text out at its new width first, so the line count is current.
    m_edit->setGeometry(HorizontalInset, VerticalInset, qMax(0, width() - 2 * HorizontalInset),
                        qMax(0, height() - 2 * VerticalInset));
    relayout();
}

void GrowingTextField::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    SnowInputLook::styleEditor(m_edit, palette);
    QPainter p(this);
    SnowInputLook::paint(p, QRectF(rect()), palette, m_focus->progress(), 0, 8);
}
