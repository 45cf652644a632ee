// Palette-coloured text.
#include "design/snow_text.h"

#include "design/palette.h"

#include <QFontMetrics>
#include <QPainter>

SnowText::SnowText(const QString &text, const QFont &font, ColorRole color, QWidget *parent)
    : QWidget(parent), m_text(text), m_color(std::move(color))
{
    setFont(font);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void SnowText::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    updateGeometry();
    update();
}

void SnowText::setColorRole(ColorRole color)
{
    m_color = std::move(color);
    update();
}

QColor SnowText::color() const
{
    return m_color ? m_color(Palette::of(this)) : Palette::of(this).foreground;
}

void SnowText::setWrap(bool wrap)
{
    m_wrap = wrap;
    QSizePolicy policy = sizePolicy();
    policy.setHeightForWidth(wrap);
    setSizePolicy(policy);
    updateGeometry();
}

void SnowText::setAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment;
    update();
}

void SnowText::setElideMode(Qt::TextElideMode mode)
{
    m_elide = mode;
    update();
}

QString SnowText::shownText() const
{
    if (m_wrap || m_elide == Qt::ElideNone)
        return m_text;
    const QFontMetrics metrics = fontMetrics();
    if (m_keptPrefix > 0 && metrics.horizontalAdvance(m_text) > width()) {
        const QString prefix = m_text.left(m_keptPrefix);
        const int rest = width() - metrics.horizontalAdvance(prefix);
        const QString ellipsis(QChar(0x2026));
        if (rest >= metrics.horizontalAdvance(ellipsis))
            return prefix + metrics.elidedText(m_text.mid(m_keptPrefix), m_elide, rest);
    }
    return metrics.elidedText(m_text, m_elide, width());
}

void SnowText::setKeptPrefix(int length)
{
    m_keptPrefix = qMax(0, length);
    update();
}

QSize SnowText::sizeHint() const
{
    const QFontMetrics fm(font());
    const int w = fm.horizontalAdvance(m_text) + 1;
    if (!m_wrap)
        return {w, fm.height()};
    const int width = qMin(w, maximumWidth());
    return {width, heightForWidth(width)};
}

QSize SnowText::minimumSizeHint() const
{
    const QFontMetrics fm(font());
    return {m_wrap ? qMin(fm.horizontalAdvance(m_text) + 1, 40) : 0, fm.height()};
}

int SnowText::heightForWidth(int width) const
{
    const QFontMetrics fm(font());
    if (!m_wrap)
        return fm.height();
    // Layouts ask with the whole column's width even when the text is capped narrower.
    width = qMin(width, maximumWidth());
    return fm.boundingRect(QRect(0, 0, qMax(1, width), 100000), int(m_alignment) | Qt::TextWordWrap, m_text).height();
}

void SnowText::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setFont(font());
    p.setPen(color());
    if (m_wrap)
        p.drawText(rect(), int(m_alignment) | Qt::TextWordWrap, m_text);
    else
        p.drawText(rect(), int(m_alignment), shownText());
}
