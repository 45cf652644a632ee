// The toggle switch.
#include "design/snow_switch.h"

#include "design/hover_animation.h"
#include "design/keyboard_reach.h"
#include "design/palette.h"

#include <QEasingCurve>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QVariantAnimation>
#include <QtMath>

#include <cmath>

namespace {

constexpr qreal KnobInset = 2.5;
// The knob's slide: a damped spring (response 0.26 s, damping 0.78) played over 0.4 s, by which it has settled.
constexpr int SpringDurationMs = 400;

qreal spring(qreal progress)
{
    if (progress >= 1)
        return 1;
    const qreal t = progress * SpringDurationMs / 1000.0;
    const qreal omega = 2 * M_PI / 0.26;
    const qreal zeta = 0.78;
    const qreal damped = omega * std::sqrt(1 - zeta * zeta);
    return 1 - std::exp(-zeta * omega * t) * (std::cos(damped * t) + zeta * omega / damped * std::sin(damped * t));
}

void paintShadowedDisc(QPainter &p, const QPointF &centre, qreal radius, const QColor &fill, qreal shadowOpacity)
{
    const QPointF shadowCentre = centre + QPointF(0, 1);
    const qreal blur = 2;
    QRadialGradient gradient(shadowCentre, radius + blur);
    const qreal inner = qMax<qreal>(0, (radius - blur) / (radius + blur));
    gradient.setColorAt(0, QColor::fromRgbF(0, 0, 0, float(shadowOpacity)));
    gradient.setColorAt(inner, QColor::fromRgbF(0, 0, 0, float(shadowOpacity)));
    gradient.setColorAt(1, QColor::fromRgbF(0, 0, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(gradient);
    p.drawEllipse(shadowCentre, radius + blur, radius + blur);
    p.setBrush(fill);
    p.drawEllipse(centre, radius, radius);
}

} // namespace

SnowSwitch::SnowSwitch(QWidget *parent)
    : QWidget(parent), m_hover(new HoverAnimation(this)), m_slide(new QVariantAnimation(this))
{
    setFixedSize(TrackWidth, TrackHeight);
    m_hover->setGate([this] { return !m_disabled; });
    KeyboardReach::install(this, [this] {
        if (m_disabled)
            return;
        animateTo(!m_on);
        emit toggled(m_on);
    });
    QEasingCurve curve;
    curve.setCustomType(spring);
    m_slide->setEasingCurve(curve);
    m_slide->setDuration(SpringDurationMs);
    connect(m_slide, &QVariantAnimation::valueChanged, this, [this](const QVariant &v) {
        m_position = v.toReal();
        update();
    });
}

void SnowSwitch::setOn(bool on)
{
    if (on == m_on)
        return;
    if (isVisible()) {
        animateTo(on);
        return;
    }
    // Nothing to watch yet: a switch built with its value shows it from its first frame.
    m_slide->stop();
    m_on = on;
    m_position = on ? 1.0 : 0.0;
    update();
}

void SnowSwitch::setDisabled(bool disabled)
{
    if (disabled == m_disabled)
        return;
    m_disabled = disabled;
    KeyboardReach::setReachable(this, !disabled);
    update();
}

bool SnowSwitch::isHovered() const
{
    return m_hover->hovered();
}

void SnowSwitch::animateTo(bool on)
{
    m_on = on;
    m_slide->stop();
    m_slide->setStartValue(m_position);
    m_slide->setEndValue(on ? 1.0 : 0.0);
    m_slide->start();
}

QColor SnowSwitch::trackColor(const Palette &palette, bool on, bool hovered, bool disabled)
{
    if (disabled)
        return palette.mutedStrong;
    if (on)
        return palette.brand;
    return hovered ? palette.mutedForeground : palette.switchOff;
}

void SnowSwitch::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void SnowSwitch::mouseReleaseEvent(QMouseEvent *event)
{
    const bool wasPressed = m_pressed;
    m_pressed = false;
    event->accept();
    if (!wasPressed || m_disabled || event->button() != Qt::LeftButton)
        return;
    QPainterPath capsule;
    capsule.addRoundedRect(QRectF(rect()), TrackHeight / 2.0, TrackHeight / 2.0);
    if (!capsule.contains(event->position()))
        return;
    animateTo(!m_on);
    emit toggled(m_on);
}

void SnowSwitch::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    paint(p, QPointF(0, 0), Palette::of(this), m_position, m_hover->progress(), m_disabled);
    KeyboardReach::paintRing(p, this, QRectF(rect()), TrackHeight / 2.0);
}

void SnowSwitch::paint(QPainter &p, const QPointF &origin, const Palette &palette, qreal position, qreal hover,
                       bool disabled)
{
    if (disabled) {
        // Dimmed as one picture: halving each layer on its own lets the track show through the knob and
        // its shadow until on and off look alike.
        const qreal ratio = p.device() ? p.device()->devicePixelRatioF() : 1.0;
        QImage layer(QSize(qCeil((TrackWidth + 2) * ratio), qCeil((TrackHeight + 4) * ratio)),
                     QImage::Format_ARGB32_Premultiplied);
        layer.setDevicePixelRatio(ratio);
        layer.fill(Qt::transparent);
        {
            QPainter layerPainter(&layer);
            paintLayer(layerPainter, palette, position, hover, true);
        }
        p.save();
        p.setOpacity(p.opacity() * 0.5);
        p.drawImage(origin, layer);
        p.restore();
        return;
    }
    p.save();
    p.translate(origin);
    paintLayer(p, palette, position, hover, false);
    p.restore();
}

void SnowSwitch::paintLayer(QPainter &p, const Palette &palette, qreal position, qreal hover, bool disabled)
{
    p.setRenderHint(QPainter::Antialiasing);
    QColor track;
    if (disabled) {
        track = palette.mutedStrong;
    } else {
        const QColor off = blendColors(palette.switchOff, palette.mutedForeground, hover);
        track = blendColors(off, palette.brand, qBound(0.0, position, 1.0));
    }
    QPainterPath capsule;
    const QRectF r(0, 0, TrackWidth, TrackHeight);
    capsule.addRoundedRect(r, TrackHeight / 2.0, TrackHeight / 2.0);
    p.fillPath(capsule, track);

    const qreal radius = KnobSize / 2;
    const qreal left = KnobInset + radius;
    const qreal right = TrackWidth - KnobInset - radius;
    const QPointF centre(left + (right - left) * position, TrackHeight / 2.0);
    paintShadowedDisc(p, centre, radius, Qt::white, 0.22);
}
