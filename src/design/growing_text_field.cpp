// The growing multi-line text field.
#include "design/growing_text_field.h"

#include "design/animated_flag.h"
#include "design/exact_plain_text_edit.h"
#include "design/fonts.h"
#include "design/keyboard_reach.h"
#include "design/palette.h"
#include "design/snow_input.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>

GrowingTextField::GrowingTextField(QWidget *parent)
    : QWidget(parent), m_edit(new ExactPlainTextEdit(this)), m_focus(new AnimatedFlag(this, 150))
{
    m_edit->setFont(Fonts::ksCode());
    m_edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Longer text scrolls with the wheel and the cursor; a bar would not fit a four-line box.
    m_edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_edit->setTabChangesFocus(true);
    m_edit->document()->setDocumentMargin(0);
    m_focus->followFocus(m_edit);
    KeyboardReach::installOnEditor(m_edit);
    SnowInputLook::styleEditor(m_edit, Palette::of(this));
    setFocusProxy(m_edit);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_edit, &QPlainTextEdit::textChanged, this, &GrowingTextField::relayout);
    connect(m_edit, &ExactPlainTextEdit::exactTextEdited, this, [this] { emit textEdited(m_edit->exactText()); });
    // Wrapping is laid out after the text changes; the line count is read again once it is.
    connect(m_edit->document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            [this] { relayout(); });
    // The editor lays its text out again for a new width after the field's own resize has counted the lines
    // (a field shown for the first time gets both at once): they are counted again once it has.
    m_edit->installEventFilter(this);
    m_edit->viewport()->installEventFilter(this);
    // The editor would still scroll a text that fits by a line, hiding its first line behind a blank one.
    connect(m_edit->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (value != 0 && textFits())
            m_edit->verticalScrollBar()->setValue(0);
    });
    relayout();
}

bool GrowingTextField::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_edit && event->type() == QEvent::Resize)
        QMetaObject::invokeMethod(this, &GrowingTextField::relayout, Qt::QueuedConnection);
    // A text in view whole leaves the wheel to the page, so the inspector scrolls over the field.
    if (watched == m_edit->viewport() && event->type() == QEvent::Wheel && textFits()) {
        event->ignore();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QString GrowingTextField::text() const
{
    return m_edit->exactText();
}

void GrowingTextField::setText(const QString &text)
{
    m_edit->setExactText(text);
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

int GrowingTextField::laidOutLines(int limit) const
{
    // Lines as drawn at the editor's width. The editor lays a block out only when it paints it, and tells no
    // one when a line wraps: each block is laid out here, if it is not yet, up to the limit.
    QAbstractTextDocumentLayout *layout = m_edit->document()->documentLayout();
    int lines = 0;
    for (QTextBlock block = m_edit->document()->begin(); block.isValid() && lines < limit; block = block.next()) {
        layout->blockBoundingRect(block);
        lines += qMax(1, block.layout() ? block.layout()->lineCount() : 1);
    }
    return lines;
}

int GrowingTextField::shownLines() const
{
    return qBound(1, laidOutLines(m_maxLines), m_maxLines);
}

bool GrowingTextField::textFits() const
{
    return laidOutLines(m_maxLines + 1) <= m_maxLines;
}

void GrowingTextField::relayout()
{
    const int height = shownLines() * lineHeight() + 2 * VerticalInset;
    if (height != this->height() || minimumHeight() != height)
        setFixedHeight(height);
    m_edit->setGeometry(HorizontalInset, VerticalInset, qMax(0, width() - 2 * HorizontalInset),
                        qMax(0, height - 2 * VerticalInset));
    if (m_edit->verticalScrollBar()->value() != 0 && textFits())
        m_edit->verticalScrollBar()->setValue(0);
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
    KeyboardReach::paintRing(p, m_edit, QRectF(rect()), 8);
}
