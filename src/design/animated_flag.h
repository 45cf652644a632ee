// A Boolean state whose look eases between off (0) and on (1), for focus, open and selection changes.
#pragma once

#include <QEasingCurve>
#include <QObject>

class QVariantAnimation;
class QWidget;

class AnimatedFlag final : public QObject
{
    Q_OBJECT
public:
    AnimatedFlag(QWidget *owner, int durationMs, QEasingCurve curve = QEasingCurve::OutCubic);

    bool value() const { return m_value; }
    // Animates towards the new state; does nothing when it is unchanged.
    void set(bool value);
    // Sets the state without animating (first show, tests).
    void jump(bool value);
    qreal progress() const { return m_progress; }
    // Turns on while the editor has the keyboard focus and off when it loses it.
    void followFocus(QWidget *editor);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_owner;
    QVariantAnimation *m_animation;
    bool m_value = false;
    qreal m_progress = 0;
    QObject *m_focusEditor = nullptr;
};
