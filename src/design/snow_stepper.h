// The integer stepper: an optional caption, minus, the value, plus.
#pragma once

#include <QWidget>

#include <cstdint>

class SnowPressStyle;
class SnowStepButton;

class SnowStepper final : public QWidget
{
    Q_OBJECT
public:
    explicit SnowStepper(QWidget *parent = nullptr);

    qint64 value() const { return m_value; }
    // Shows the value without emitting valueEdited; a value outside the range is shown as it is.
    void setValue(qint64 value);
    qint64 lower() const { return m_lower; }
    qint64 upper() const { return m_upper; }
    // A reversed range is taken with its bounds swapped.
    void setRange(qint64 lower, qint64 upper);
    void setLabel(const QString &label);
    QString label() const { return m_label; }

    // What the buttons write. Never overflow at the 64-bit limits: at or past a bound they give the bound.
    static qint64 decremented(qint64 value, qint64 lower);
    static qint64 incremented(qint64 value, qint64 upper);

    // The buttons, for tests and renders.
    QWidget *minusButton() const;
    QWidget *plusButton() const;

    void stepDown();
    void stepUp();

    QSize sizeHint() const override;

signals:
    // Every press of a button, even when the value stays the same at a bound.
    void valueEdited(qint64 value);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void relayout();
    int labelWidth() const;
    int valueWidth() const;

    qint64 m_value = 0;
    qint64 m_lower = 0;
    qint64 m_upper = 0;
    QString m_label;
    SnowStepButton *m_minus;
    SnowStepButton *m_plus;
};

// One square step button of the stepper ("minus" or "plus").
class SnowStepButton final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int Side = 22;

    SnowStepButton(const QString &symbol, QWidget *parent = nullptr);
    QString symbol() const { return m_symbol; }
    SnowPressStyle *pressStyle() const { return m_press; }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QString m_symbol;
    SnowPressStyle *m_press;
    bool m_pressed = false;
};
