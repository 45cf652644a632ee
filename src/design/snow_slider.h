// A horizontal drag slider that only produces whole numbers.
#pragma once

#include <QColor>
#include <QWidget>

#include <optional>

class SnowSlider final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int TrackHeight = 16;

    explicit SnowSlider(QWidget *parent = nullptr);

    double value() const { return m_value; }
    // Sets the value shown without emitting valueEdited; a value outside the range is kept and drawn clamped.
    void setValue(double value);
    double lower() const { return m_lower; }
    double upper() const { return m_upper; }
    void setRange(double lower, double upper);
    // The fill colour; brand when absent.
    void setColor(std::optional<QColor> color);

    // How much of the track is filled: 0 for an empty range, clamped to 0…1.
    static double fraction(double value, double lower, double upper);
    // The value a drag at x over a track of width writes: the position's share of the width, clamped to
    // the ends, rounded to the nearest whole number with halves away from zero.
    static double valueAt(double x, double width, double lower, double upper);
    // The value a key writes from `value`: the arrows step by a hundredth of the range, Page Up and Page Down
    // by a tenth (each at least 1), Home and End go to the ends; whole numbers within the range. None for other keys.
    static std::optional<double> valueAfterKey(int key, double value, double lower, double upper);

    QSize sizeHint() const override { return {200, TrackHeight}; }
    QSize minimumSizeHint() const override { return {TrackHeight, TrackHeight}; }

signals:
    // Every step of a drag that started on the slider, the first press included, and every key that moved it.
    void valueEdited(double value);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void dragTo(double x);

    double m_value = 0;
    double m_lower = 0;
    double m_upper = 1;
    std::optional<QColor> m_color;
    bool m_dragging = false;
};
