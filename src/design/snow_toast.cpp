// The toast pill.
#include "design/snow_toast.h"

#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/palette.h"
#include "design/symbols.h"

#include <QFontMetrics>
#include <QGraphicsDropShadowEffect>
#include <QPainter>

namespace {

constexpr int PadX = 16;
constexpr int PadY = 10;
constexpr int Spacing = 10;
constexpr qreal SymbolSize = 13;

} // namespace

SnowToast::SnowToast(const QString &text, Tone tone, QWidget *parent) : QWidget(parent), m_text(text), m_tone(tone)
{
    auto *shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(QColor::fromRgbF(0, 0, 0, 0.18f));
    shadow->setBlurRadius(24);
    shadow->setOffset(0, 4);
    setGraphicsEffect(shadow);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SnowToast::setText(const QString &text)
{
    m_text = text;
    updateGeometry();
    update();
}

void SnowToast::setTone(Tone tone)
{
    m_tone = tone;
    update();
}

QString SnowToast::symbol(Tone tone)
{
    switch (tone) {
    case Tone::success:
        return QStringLiteral("checkmark.circle.fill");
    case Tone::error:
        return QStringLiteral("exclamationmark.triangle.fill");
    case Tone::info:
        break;
    }
    return QStringLiteral("info.circle.fill");
}

QColor SnowToast::symbolColor(Tone tone)
{
    switch (tone) {
    case Tone::success:
        return Palette::green();
    case Tone::error:
        return Palette::red();
    case Tone::info:
        break;
    }
    return Palette::indigo();
}

QColor SnowToast::textColor(const Palette &palette)
{
    return palette.isDark ? QColor(Qt::black) : QColor(Qt::white);
}

QColor SnowToast::surfaceColor(const Palette &palette)
{
    return palette.isDark ? QColor::fromRgbF(1, 1, 1, 0.85f) : QColor::fromRgbF(0, 0, 0, 0.8f);
}

QSize SnowToast::sizeHint() const
{
    const QFontMetrics fm(Fonts::inter(12, QFont::Medium));
    const int symbolWidth = qRound(Symbols::glyphPixelSize(SymbolSize));
    const int contentHeight = qMax(fm.height(), symbolWidth);
    return {2 * PadX + symbolWidth + Spacing + fm.horizontalAdvance(m_text) + 1, 2 * PadY + contentHeight};
}

void SnowToast::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.fillPath(roundedRectPath(QRectF(rect()), 8), surfaceColor(palette));
    const int symbolWidth = qRound(Symbols::glyphPixelSize(SymbolSize));
    const QRectF content = QRectF(rect()).adjusted(PadX, PadY, -PadX, -PadY);
    Symbols::draw(p, QRectF(content.left(), content.top(), symbolWidth, content.height()), symbol(m_tone), SymbolSize,
                  symbolColor(m_tone));
    const QFont font = Fonts::inter(12, QFont::Medium);
    p.setFont(font);
    p.setPen(textColor(palette));
    const QRectF textRect = content.adjusted(symbolWidth + Spacing, 0, 0, 0);
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetrics(font).elidedText(m_text, Qt::ElideRight, int(textRect.width()) + 1));
}
