// The one-line text input.
#include "design/snow_text_field.h"

#include "design/fonts.h"
#include "design/palette.h"
#include "design/symbols.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QPainter>

namespace {

constexpr int Pad = 10;
constexpr int Spacing = 8;
constexpr qreal IconSize = 13;

} // namespace

SnowTextField::SnowTextField(QWidget *parent) : LineEditBox(parent)
{
    connect(lineEdit(), &QLineEdit::returnPressed, this, &SnowTextField::submitted);
    relayout();
}

void SnowTextField::setIcon(const QString &symbol)
{
    m_icon = symbol;
    relayout();
}

void SnowTextField::setMono(bool mono)
{
    m_mono = mono;
    lineEdit()->setFont(mono ? Fonts::ksCode() : Fonts::inter(13));
    relayout();
}

void SnowTextField::setBoxHeight(std::optional<int> height)
{
    m_height = height;
    relayout();
}

void SnowTextField::relayout()
{
    const int iconWidth = m_icon.isEmpty() ? 0 : int(Symbols::glyphPixelSize(IconSize)) + Spacing;
    const int h = sizeHint().height();
    setFixedHeight(h);
    const int editHeight = qMin(h, lineEdit()->sizeHint().height());
    lineEdit()->setGeometry(Pad + iconWidth, (h - editHeight) / 2, qMax(0, width() - 2 * Pad - iconWidth),
                            editHeight);
    updateGeometry();
    update();
}

QSize SnowTextField::sizeHint() const
{
    const int natural = qMax(lineEdit()->sizeHint().height(), QFontMetrics(lineEdit()->font()).height() + 12);
    return {200, m_height.value_or(natural)};
}

QSize SnowTextField::minimumSizeHint() const
{
    return {2 * Pad + 40, sizeHint().height()};
}

void SnowTextField::paintDecorations(QPainter &p, const Palette &palette) const
{
    if (!m_icon.isEmpty())
        Symbols::draw(p, QRectF(Pad, 0, Symbols::glyphPixelSize(IconSize), height()), m_icon, IconSize, palette.faint);
}
