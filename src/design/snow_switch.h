// The two-state toggle: a 34 × 20 capsule with a sliding knob.
#pragma once

#include <QWidget>

class HoverAnimation;
class QPainter;
class QPointF;
class QVariantAnimation;
struct Palette;

class SnowSwitch final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int TrackWidth = 34;
    static constexpr int TrackHeight = 20;
    static constexpr qreal KnobSize = 15;

    explicit SnowSwitch(QWidget *parent = nullptr);

    bool isOn() const { return m_on; }
    // Sets the value shown without emitting toggled.
    void setOn(bool on);
    bool isDisabled() const { return m_disabled; }
    // A disabled switch ignores clicks and hover and is drawn at half opacity.
    void setDisabled(bool disabled);
    bool isHovered() const;

    static QColor trackColor(const Palette &palette, bool on, bool hovered, bool disabled);
    // Draws a switch at rest (knob at `position`, 0 off … 1 on) with its top-left at `origin`, for
    // item delegates that paint rows without child widgets.
    static void paint(QPainter &painter, const QPointF &origin, const Palette &palette, qreal position, qreal hover,
                      bool disabled);

    QSize sizeHint() const override { return {TrackWidth, TrackHeight}; }

signals:
    // Only when the user clicks it.
    void toggled(bool on);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void animateTo(bool on);
    static void paintLayer(QPainter &painter, const Palette &palette, qreal position, qreal hover, bool disabled);

    bool m_on = false;
    bool m_disabled = false;
    bool m_pressed = false;
    qreal m_position = 0; // 0 off, 1 on; may overshoot a little with the spring
    HoverAnimation *m_hover;
    QVariantAnimation *m_slide;
};
