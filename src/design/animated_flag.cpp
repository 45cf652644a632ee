// Eased on/off progress that repaints its owner.
#include "design/animated_flag.h"

#include <QEvent>
#include <QVariantAnimation>
#include <QWidget>

AnimatedFlag::AnimatedFlag(QWidget *owner, int durationMs, QEasingCurve curve)
    : QObject(owner), m_owner(owner), m_animation(new QVariantAnimation(this))
{
    m_animation->setDuration(durationMs);
    m_animation->setEasingCurve(curve);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &v) {
        m_progress = v.toReal();
        m_owner->update();
    });
}

void AnimatedFlag::set(bool value)
{
    if (value == m_value)
        return;
    m_value = value;
    m_animation->stop();
    m_animation->setStartValue(m_progress);
    m_animation->setEndValue(value ? 1.0 : 0.0);
    m_animation->start();
}

void AnimatedFlag::jump(bool value)
{
    m_value = value;
    m_animation->stop();
    m_progress = value ? 1.0 : 0.0;
    m_owner->update();
}

void AnimatedFlag::followFocus(QWidget *editor)
{
    m_focusEditor = editor;
    editor->installEventFilter(this);
}

bool AnimatedFlag::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_focusEditor) {
        if (event->type() == QEvent::FocusIn)
            set(true);
        else if (event->type() == QEvent::FocusOut)
            set(false);
    }
    return QObject::eventFilter(watched, event);
}
