// The progress bar.
#include "design/snow_progress_bar.h"

#include "design/card_surface.h"
#include "design/palette.h"

#include <QPainter>

#include <cmath>

SnowProgressBar::SnowProgressBar(QWidget *parent) : QWidget(parent)
{
    setFixedHeight(BarHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void SnowProgressBar::setValue(double value)
{
    m_value = value;
    update();
}

void SnowProgressBar::setTint(std::optional<QColor> tint)
{
    m_tint = tint;
    update();
}

double SnowProgressBar::clampedFraction(double value)
{
    if (std::isnan(value))
        return 0;
    return std::clamp(value, 0.0, 1.0);
}

void SnowProgressBar::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = width();
    p.fillPath(roundedRectPath(QRectF(0, 0, w, BarHeight), BarHeight / 2.0), palette.muted);
    const qreal fw = w * clampedFraction(m_value);
    if (fw > 0)
        p.fillPath(roundedRectPath(QRectF(0, 0, fw, BarHeight), BarHeight / 2.0), m_tint.value_or(palette.brand));
}
