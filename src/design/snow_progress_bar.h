// A thin horizontal progress bar, 6 high, filled to a fraction of its width.
#pragma once

#include <QColor>
#include <QWidget>

#include <optional>

class SnowProgressBar final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int BarHeight = 6;

    explicit SnowProgressBar(QWidget *parent = nullptr);

    double value() const { return m_value; }
    void setValue(double value);
    // The fill colour; brand when absent.
    void setTint(std::optional<QColor> tint);

    // The filled share: clamped to 0…1, not-a-number counting as 0.
    static double clampedFraction(double value);

    QSize sizeHint() const override { return {200, BarHeight}; }
    QSize minimumSizeHint() const override { return {0, BarHeight}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double m_value = 0;
    std::optional<QColor> m_tint;
};
