// Hover and press animations shared by the controls.
#include "design/hover_animation.h"

#include <QEasingCurve>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QVariantAnimation>
#include <QWidget>

HoverAnimation::HoverAnimation(QWidget *owner, int durationMs)
    : QObject(owner), m_owner(owner), m_animation(new QVariantAnimation(this))
{
    m_animation->setDuration(durationMs);
    m_animation->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_progress = value.toReal();
        m_owner->update();
    });
    owner->installEventFilter(this);
}

void HoverAnimation::setGate(std::function<bool()> gate)
{
    m_gate = std::move(gate);
}

void HoverAnimation::setHovered(bool hovered)
{
    if (hovered == m_hovered)
        return;
    m_hovered = hovered;
    m_animation->stop();
    m_animation->setStartValue(m_progress);
    m_animation->setEndValue(hovered ? 1.0 : 0.0);
    m_animation->start();
    emit hoveredChanged(hovered);
}

void HoverAnimation::finish()
{
    m_animation->stop();
    m_progress = m_hovered ? 1.0 : 0.0;
    m_owner->update();
}

bool HoverAnimation::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_owner) {
        if (event->type() == QEvent::Enter)
            setHovered(!m_gate || m_gate());
        else if (event->type() == QEvent::Leave)
            setHovered(false);
    }
    return QObject::eventFilter(watched, event);
}

SnowPressStyle::SnowPressStyle(QWidget *owner, int durationMs)
    : QObject(owner), m_owner(owner), m_animation(new QVariantAnimation(this))
{
    m_animation->setDuration(durationMs);
    m_animation->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_scale = value.toReal();
        m_owner->update();
    });
    owner->installEventFilter(this);
}

void SnowPressStyle::setGate(std::function<bool()> gate)
{
    m_gate = std::move(gate);
}

void SnowPressStyle::setPressed(bool pressed)
{
    if (pressed == m_pressed)
        return;
    m_pressed = pressed;
    m_animation->stop();
    m_animation->setStartValue(m_scale);
    m_animation->setEndValue(pressed ? PressedScale : 1.0);
    m_animation->start();
}

void SnowPressStyle::finish()
{
    m_animation->stop();
    m_scale = m_pressed ? PressedScale : 1.0;
    m_owner->update();
}

void SnowPressStyle::apply(QPainter &painter, const QRectF &rect) const
{
    if (qFuzzyCompare(m_scale, 1.0))
        return;
    const QPointF centre = rect.center();
    painter.translate(centre);
    painter.scale(m_scale, m_scale);
    painter.translate(-centre);
}

bool SnowPressStyle::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_owner) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
                setPressed(!m_gate || m_gate());
            break;
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
                setPressed(false);
            break;
        case QEvent::Hide:
            setPressed(false);
            finish();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}
