// The response body's read-only view for short bodies.
#include "screens/routes/json_body_view.h"

#include "design/fonts.h"
#include "design/json_highlighter.h"
#include "design/palette.h"
#include "design/snow_input.h"

#include <QEvent>

#include <cmath>

JsonBodyView::JsonBodyView(QWidget *parent) : QTextEdit(parent)
{
    setReadOnly(true);
    // Read-only: a keyboard caret would make typing look as if it went somewhere.
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Nothing in it answers a key, so Tab passes it by, as it does the read-only code view.
    setFocusPolicy(Qt::ClickFocus);
    setFont(Fonts::ksCode());
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QTextEdit::WidgetWidth);
    document()->setDocumentMargin(0);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_highlighter = new JSONSyntaxHighlighter(document(), Palette::of(this).isDark);
    SnowInputLook::styleEditor(this, Palette::of(this));
}

void JsonBodyView::setBody(const QString &body)
{
    if (toPlainText() == body)
        return;
    setPlainText(body);
    fitHeight();
}

QString JsonBodyView::selectedText() const
{
    return textCursor().selectedText();
}

bool JsonBodyView::event(QEvent *event)
{
    if (event->type() == PaletteHost::changedEventType() || event->type() == QEvent::ParentChange
        || event->type() == QEvent::Show) {
        const Palette palette = Palette::of(this);
        SnowInputLook::styleEditor(this, palette);
        if (m_highlighter->dark() != palette.isDark)
            m_highlighter->setDark(palette.isDark);
    }
    return QTextEdit::event(event);
}

void JsonBodyView::resizeEvent(QResizeEvent *event)
{
    QTextEdit::resizeEvent(event);
    fitHeight();
}

void JsonBodyView::fitHeight()
{
    document()->setTextWidth(viewport()->width());
    const int height = int(std::ceil(document()->size().height())) + 2;
    if (height != this->height())
        setFixedHeight(height);
}
