// The hover fade (0.15 s ease-out) and the press scale (0.95, 0.1 s ease-out) every control shares.
#pragma once

#include <QObject>
#include <QRectF>

#include <functional>

class QPainter;
class QVariantAnimation;
class QWidget;

// Follows the pointer over its owner (Enter/Leave through an event filter) and animates a progress from
// 0 (not hovered) to 1 (hovered) with an ease-out over 0.15 s, repainting the owner on every step.
// Paint code mixes its colours by progress(): blendColors(normal, hover, hover.progress()).
class HoverAnimation final : public QObject
{
    Q_OBJECT
public:
    explicit HoverAnimation(QWidget *owner, int durationMs = 150);

    // Asked on pointer entry: false keeps the hover off (a disabled or loading button). On leave the
    // hover always turns off. A state change while the pointer rests changes nothing until the next
    // entry or exit.
    void setGate(std::function<bool()> gate);

    bool hovered() const { return m_hovered; }
    // Sets the hover flag and animates towards it; does nothing when the flag is unchanged.
    void setHovered(bool hovered);
    // Jumps to the flag's end state without animating (first show, tests).
    void finish();
    qreal progress() const { return m_progress; }

signals:
    void hoveredChanged(bool hovered);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_owner;
    QVariantAnimation *m_animation;
    std::function<bool()> m_gate;
    bool m_hovered = false;
    qreal m_progress = 0;
};

// The pressed look of every button: its content drawn scaled by 0.95 about the centre while the left
// button is held on the owner, the change animated by an ease-out over 0.1 s.
class SnowPressStyle final : public QObject
{
    Q_OBJECT
public:
    static constexpr qreal PressedScale = 0.95;

    explicit SnowPressStyle(QWidget *owner, int durationMs = 100);

    // Asked on a press: false shows no pressed look (a button that ignores presses).
    void setGate(std::function<bool()> gate);

    bool pressed() const { return m_pressed; }
    void setPressed(bool pressed);
    void finish();
    // 1 when released, 0.95 when fully pressed.
    qreal scale() const { return m_scale; }
    // Scales the painter about the centre of rect by scale().
    void apply(QPainter &painter, const QRectF &rect) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_owner;
    QVariantAnimation *m_animation;
    std::function<bool()> m_gate;
    bool m_pressed = false;
    qreal m_scale = 1;
};
