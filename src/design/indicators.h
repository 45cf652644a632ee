// Status dot with its pulsing halo, the spinning loader and the one-pixel divider rule.
#pragma once

#include <QColor>
#include <QPointer>
#include <QWidget>

#include <optional>

class AnchoredOverlay;
class QVariantAnimation;
struct Palette;

// A filled circle of size x size. With pulse on, a halo grows from 1x to 2.2x and fades from 0.45 to 0
// every 1.8 s. The halo is a sibling widget stacked under the dot, so it spreads past the dot's frame
// without changing the layout; a dot without a parent draws it inside its own frame.
class StatusDot final : public QWidget
{
    Q_OBJECT
public:
    explicit StatusDot(const QColor &color = Qt::green, qreal size = 8, bool pulse = false, QWidget *parent = nullptr);
    ~StatusDot() override;

    QColor color() const { return m_color; }
    void setColor(const QColor &color);
    qreal dotSize() const { return m_size; }
    bool pulse() const { return m_pulse; }
    void setPulse(bool pulse);
    // Whether the halo animation runs (follows pulse once the dot is shown).
    bool animating() const;
    // 0 at the start of a pulse cycle, 1 at its end.
    qreal haloPhase() const { return m_phase; }

    QSize sizeHint() const override;

    static constexpr qreal HaloScale = 2.2;
    static constexpr qreal HaloOpacity = 0.45;
    static constexpr int PulseMs = 1800;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool event(QEvent *event) override;

private:
    void syncAnimation();
    void dropHalo();
    void paintHalo(QPainter &painter, const QPointF &centre) const;

    QColor m_color;
    qreal m_size;
    bool m_pulse;
    qreal m_phase = 0;
    QVariantAnimation *m_animation;
    QPointer<AnchoredOverlay> m_halo;
};

// Line width of a loader's arc: a ninth of its size, never under 1.6.
qreal snowLoaderLineWidth(qreal size);

// An arc of 0.72 of a circle turning once every 0.8 s while shown.
class SnowLoader final : public QWidget
{
    Q_OBJECT
public:
    explicit SnowLoader(qreal size = 16, std::optional<QColor> color = std::nullopt, QWidget *parent = nullptr);

    qreal loaderSize() const { return m_size; }
    void setLoaderSize(qreal size);
    std::optional<QColor> color() const { return m_color; }
    void setColor(std::optional<QColor> color);
    bool spinning() const;
    QSize sizeHint() const override;

    // Paints the arc at a rotation (degrees) into rect; buttons draw their loading mark with it.
    static void paintArc(QPainter &painter, const QRectF &rect, qreal size, const QColor &color, qreal degrees);
    // The rotation shared by every loader, so marks drawn by other controls turn in step.
    static qreal currentAngle();

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    qreal m_size;
    std::optional<QColor> m_color;
    QVariantAnimation *m_animation;
    qreal m_angle = 0;
};

// A 1-pixel rule in palette.border, inset at both ends.
class SnowDivider final : public QWidget
{
    Q_OBJECT
public:
    explicit SnowDivider(bool vertical = false, qreal inset = 0, QWidget *parent = nullptr);
    bool vertical() const { return m_vertical; }
    qreal inset() const { return m_inset; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_vertical;
    qreal m_inset;
};
