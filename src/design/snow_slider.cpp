// The whole-number slider.
#include "design/snow_slider.h"

#include "design/palette.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

SnowSlider::SnowSlider(QWidget *parent) : QWidget(parent)
{
    setFixedHeight(TrackHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void SnowSlider::setValue(double value)
{
    if (value == m_value)
        return;
    m_value = value;
    update();
}

void SnowSlider::setRange(double lower, double upper)
{
    m_lower = lower;
    m_upper = upper;
    update();
}

void SnowSlider::setColor(std::optional<QColor> color)
{
    m_color = color;
    update();
}

double SnowSlider::fraction(double value, double lower, double upper)
{
    const double span = upper - lower;
    if (span == 0)
        return 0;
    const double f = (value - lower) / span;
    if (!(f > 0)) // not-a-number lands here too
        return 0;
    return f > 1 ? 1 : f;
}

double SnowSlider::valueAt(double x, double width, double lower, double upper)
{
    double f = x / width;
    if (std::isnan(f))
        f = 0;
    f = std::clamp(f, 0.0, 1.0);
    return std::round(lower + (upper - lower) * f);
}

void SnowSlider::dragTo(double x)
{
    m_value = valueAt(x, width(), m_lower, m_upper);
    update();
    emit valueEdited(m_value);
}

void SnowSlider::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_dragging = true;
    event->accept();
    dragTo(event->position().x());
}

void SnowSlider::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    event->accept();
    dragTo(event->position().x());
}

void SnowSlider::mouseReleaseEvent(QMouseEvent *event)
{
    m_dragging = false;
    event->accept();
}

void SnowSlider::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    const QColor fillColor = m_color.value_or(palette.brand);
    const qreal w = width();
    const qreal radius = TrackHeight / 2.0;
    const qreal f = fraction(m_value, m_lower, m_upper);
    const qreal fw = w * f;

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath track;
    track.addRoundedRect(QRectF(0, 0, w, TrackHeight), radius, radius);
    p.fillPath(track, palette.muted);
    QPainterPath fill;
    fill.addRoundedRect(QRectF(0, 0, qMax<qreal>(fw, 8), TrackHeight), radius, radius);
    p.fillPath(fill, fillColor);

    const qreal thumbX = qMin(qMax<qreal>(fw - 8, 0), qMax<qreal>(w - TrackHeight, 0));
    const QPointF centre(thumbX + radius, radius);
    const QPointF shadowCentre = centre + QPointF(0, 1);
    QRadialGradient shadow(shadowCentre, radius + 2);
    shadow.setColorAt(0, QColor::fromRgbF(0, 0, 0, 0.18f));
    shadow.setColorAt((radius - 2) / (radius + 2), QColor::fromRgbF(0, 0, 0, 0.18f));
    shadow.setColorAt(1, QColor::fromRgbF(0, 0, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shadow);
    p.drawEllipse(shadowCentre, radius + 2, radius + 2);
    p.setBrush(Qt::white);
    p.drawEllipse(centre, radius, radius);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(withOpacity(fillColor, 0.5), 1));
    p.drawEllipse(centre, radius - 0.5, radius - 0.5);
}
