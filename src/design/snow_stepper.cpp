// The integer stepper and its step buttons.
#include "design/snow_stepper.h"

#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/hover_animation.h"
#include "design/keyboard_reach.h"
#include "design/palette.h"
#include "design/symbols.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

namespace {

constexpr int Spacing = 8;
constexpr int MinValueWidth = 16;

QFont labelFont()
{
    return Fonts::inter(10, QFont::Medium, 0.3);
}

QFont valueFont()
{
    return Fonts::mono(12, QFont::DemiBold);
}

} // namespace

SnowStepButton::SnowStepButton(const QString &symbol, QWidget *parent)
    : QWidget(parent), m_symbol(symbol), m_press(new SnowPressStyle(this))
{
    setFixedSize(Side, Side);
    KeyboardReach::install(this, [this] { emit clicked(); });
}

void SnowStepButton::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void SnowStepButton::mouseReleaseEvent(QMouseEvent *event)
{
    const bool wasPressed = m_pressed;
    m_pressed = false;
    event->accept();
    if (wasPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

void SnowStepButton::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    m_press->apply(p, QRectF(rect()));
    p.fillPath(roundedRectPath(QRectF(rect()), 6), palette.muted);
    Symbols::draw(p, QRectF(rect()), m_symbol, 9, palette.foreground);
    KeyboardReach::paintRing(p, this, QRectF(rect()), 6);
}

SnowStepper::SnowStepper(QWidget *parent)
    : QWidget(parent), m_minus(new SnowStepButton(QStringLiteral("minus"), this)),
      m_plus(new SnowStepButton(QStringLiteral("plus"), this))
{
    connect(m_minus, &SnowStepButton::clicked, this, &SnowStepper::stepDown);
    connect(m_plus, &SnowStepButton::clicked, this, &SnowStepper::stepUp);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    relayout();
}

qint64 SnowStepper::decremented(qint64 value, qint64 lower)
{
    return value > lower ? value - 1 : lower;
}

qint64 SnowStepper::incremented(qint64 value, qint64 upper)
{
    return value < upper ? value + 1 : upper;
}

void SnowStepper::setValue(qint64 value)
{
    if (value == m_value)
        return;
    m_value = value;
    relayout();
}

void SnowStepper::setRange(qint64 lower, qint64 upper)
{
    m_lower = qMin(lower, upper);
    m_upper = qMax(lower, upper);
}

void SnowStepper::setLabel(const QString &label)
{
    m_label = label;
    relayout();
}

QWidget *SnowStepper::minusButton() const
{
    return m_minus;
}

QWidget *SnowStepper::plusButton() const
{
    return m_plus;
}

void SnowStepper::stepDown()
{
    m_value = decremented(m_value, m_lower);
    relayout();
    emit valueEdited(m_value);
}

void SnowStepper::stepUp()
{
    m_value = incremented(m_value, m_upper);
    relayout();
    emit valueEdited(m_value);
}

int SnowStepper::labelWidth() const
{
    return m_label.isEmpty() ? 0 : QFontMetrics(labelFont()).horizontalAdvance(m_label) + 1;
}

int SnowStepper::valueWidth() const
{
    return qMax(MinValueWidth, QFontMetrics(valueFont()).horizontalAdvance(QString::number(m_value)) + 1);
}

QSize SnowStepper::sizeHint() const
{
    const int label = labelWidth();
    return {(label ? label + Spacing : 0) + 2 * SnowStepButton::Side + 2 * Spacing + valueWidth(),
            SnowStepButton::Side};
}

void SnowStepper::relayout()
{
    setFixedSize(sizeHint());
    const int label = labelWidth();
    int x = label ? label + Spacing : 0;
    m_minus->move(x, 0);
    x += SnowStepButton::Side + Spacing + valueWidth() + Spacing;
    m_plus->move(x, 0);
    update();
}

void SnowStepper::resizeEvent(QResizeEvent *)
{
    relayout();
}

void SnowStepper::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter p(this);
    p.setRenderHint(QPainter::TextAntialiasing);
    const int label = labelWidth();
    if (label) {
        p.setFont(labelFont());
        p.setPen(palette.mutedForeground);
        p.drawText(QRect(0, 0, label, height()), Qt::AlignLeft | Qt::AlignVCenter, m_label);
    }
    p.setFont(valueFont());
    p.setPen(palette.foreground);
    const int valueX = m_minus->geometry().right() + 1 + Spacing;
    p.drawText(QRect(valueX, 0, valueWidth(), height()), Qt::AlignCenter, QString::number(m_value));
}
