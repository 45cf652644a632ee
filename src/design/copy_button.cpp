// The copy-to-clipboard button.
#include "design/copy_button.h"

#include "design/keyboard_reach.h"
#include "design/palette.h"
#include "design/symbols.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

CopyButton::CopyButton(const QString &text, qreal size, QWidget *parent) : QWidget(parent), m_text(text), m_size(size)
{
    setFixedSize(sizeHint());
    KeyboardReach::install(this, [this] { copy(); });
    // The glyph fills the button: the ring goes round it, outside.
    KeyboardReach::ringOutside(this, 3, 4);
}

void CopyButton::setGlyphSize(qreal size)
{
    m_size = size;
    setFixedSize(sizeHint());
    update();
}

QSize CopyButton::sizeHint() const
{
    const int side = qRound(Symbols::glyphPixelSize(m_size)) + 4;
    return {side, side};
}

QString CopyButton::symbol() const
{
    return m_copied ? QStringLiteral("checkmark") : QStringLiteral("doc.on.doc");
}

QColor CopyButton::symbolColor(const Palette &palette, bool copied)
{
    if (!copied)
        return palette.mutedForeground;
    return palette.isDark ? Palette::green() : QColor(31, 138, 80);
}

void CopyButton::copy()
{
    QGuiApplication::clipboard()->setText(m_text, QClipboard::Clipboard);
    setCopied(true);
    // Each press ends its own confirmation; a later press does not extend an earlier one.
    QTimer::singleShot(m_confirmationMs, this, [this] { setCopied(false); });
}

void CopyButton::setCopied(bool copied)
{
    if (copied == m_copied)
        return;
    m_copied = copied;
    update();
    emit copiedChanged(copied);
}

void CopyButton::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void CopyButton::mouseReleaseEvent(QMouseEvent *event)
{
    const bool wasPressed = m_pressed;
    m_pressed = false;
    event->accept();
    if (wasPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        copy();
}

void CopyButton::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    Symbols::draw(p, QRectF(rect()), symbol(), m_size, symbolColor(palette, m_copied));
}
