// The whole-number slider.
#include "design/snow_slider.h"

#include "design/keyboard_reach.h"
#include "design/palette.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>

SnowSlider::SnowSlider(QWidget *parent) : QWidget(parent)
{
    setFixedHeight(TrackHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Tab gives it the ring every control shows; a click takes the focus too (no ring), for the arrows.
    KeyboardReach::install(this, {});
    setFocusPolicy(Qt::StrongFocus);
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

std::optional<double> SnowSlider::valueAfterKey(int key, double value, double lower, double upper)
{
    const double span = upper - lower;
    const double step = std::max(1.0, std::round(span / 100));
    const double page = std::max(1.0, std::round(span / 10));
    // A value outside the range moves from the end it lies beyond.
    const double from = std::isnan(value) ? lower : std::clamp(value, lower, std::max(lower, upper));
    double to = from;
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Down: to = from - step; break;
    case Qt::Key_Right:
    case Qt::Key_Up: to = from + step; break;
    case Qt::Key_PageDown: to = from - page; break;
    case Qt::Key_PageUp: to = from + page; break;
    case Qt::Key_Home: to = lower; break;
    case Qt::Key_End: to = upper; break;
    default: return std::nullopt;
    }
    return std::round(std::clamp(to, lower, std::max(lower, upper)));
}

void SnowSlider::keyPressEvent(QKeyEvent *event)
{
    const std::optional<double> next =
        event->modifiers() & ~Qt::KeypadModifier ? std::nullopt : valueAfterKey(event->key(), m_value, m_lower, m_upper);
    if (!next) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    // Moved by its keys, the slider shows where the keyboard is even when a click gave it the focus.
    KeyboardReach::confirmFocus(this);
    if (*next == m_value)
        return;
    m_value = *next;
    update();
    emit valueEdited(m_value);
}

void SnowSlider::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    update();
}

void SnowSlider::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    update();
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
    KeyboardReach::paintRing(p, this, QRectF(rect()), radius);
}
