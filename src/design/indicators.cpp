// Status dot, loader and divider.
#include "design/indicators.h"

#include "design/anchored_overlay.h"
#include "design/palette.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QPainter>
#include <QVariantAnimation>
#include <QtMath>

namespace {

QElapsedTimer &loaderClock()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock;
}

} // namespace

StatusDot::StatusDot(const QColor &color, qreal size, bool pulse, QWidget *parent)
    : QWidget(parent), m_color(color), m_size(size), m_pulse(pulse), m_animation(new QVariantAnimation(this))
{
    setFixedSize(qCeil(size), qCeil(size));
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    m_animation->setDuration(PulseMs);
    m_animation->setEasingCurve(QEasingCurve::OutCubic);
    m_animation->setLoopCount(-1);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_phase = value.toReal();
        if (m_halo)
            m_halo->update();
        else
            update();
    });
}

StatusDot::~StatusDot()
{
    delete m_halo;
}

void StatusDot::setColor(const QColor &color)
{
    m_color = color;
    update();
    if (m_halo)
        m_halo->update();
}

void StatusDot::setPulse(bool pulse)
{
    if (pulse == m_pulse)
        return;
    m_pulse = pulse;
    syncAnimation();
    update();
}

bool StatusDot::animating() const
{
    return m_animation->state() == QAbstractAnimation::Running;
}

QSize StatusDot::sizeHint() const
{
    return QSize(qCeil(m_size), qCeil(m_size));
}

void StatusDot::paintHalo(QPainter &p, const QPointF &centre) const
{
    const qreal scale = 1 + (HaloScale - 1) * m_phase;
    const qreal radius = m_size * scale / 2;
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(withOpacity(m_color, HaloOpacity * (1 - m_phase)));
    p.drawEllipse(centre, radius, radius);
}

void StatusDot::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QPointF centre(m_size / 2, m_size / 2);
    if (m_pulse && !m_halo)
        paintHalo(p, centre);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(m_color);
    p.drawEllipse(centre, m_size / 2, m_size / 2);
}

void StatusDot::syncAnimation()
{
    if (m_pulse && isVisible()) {
        if (!m_halo && parentWidget()) {
            const int spill = qCeil(m_size * (HaloScale - 1) / 2) + 1;
            m_halo = new AnchoredOverlay(this, QMargins(spill, spill, spill, spill),
                                         AnchoredOverlay::Stacking::under,
                                         [this](QPainter &p, const QRectF &dot) { paintHalo(p, dot.center()); });
        }
        if (m_animation->state() != QAbstractAnimation::Running) {
            m_phase = 0;
            m_animation->start();
        }
    } else {
        m_animation->stop();
        m_phase = 0;
        dropHalo();
    }
}

void StatusDot::dropHalo()
{
    delete m_halo;
}

void StatusDot::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    syncAnimation();
}

void StatusDot::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    syncAnimation();
}

bool StatusDot::event(QEvent *event)
{
    if (event->type() == QEvent::ParentChange) {
        dropHalo();
        syncAnimation();
    }
    return QWidget::event(event);
}

// SnowLoader

qreal snowLoaderLineWidth(qreal size)
{
    return qMax(size / 9, 1.6);
}

SnowLoader::SnowLoader(qreal size, std::optional<QColor> color, QWidget *parent)
    : QWidget(parent), m_size(size), m_color(color), m_animation(new QVariantAnimation(this))
{
    setFixedSize(qCeil(size), qCeil(size));
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(360.0);
    m_animation->setDuration(800);
    m_animation->setEasingCurve(QEasingCurve::Linear);
    m_animation->setLoopCount(-1);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_angle = value.toReal();
        update();
    });
}

void SnowLoader::setLoaderSize(qreal size)
{
    m_size = size;
    setFixedSize(qCeil(size), qCeil(size));
    update();
}

void SnowLoader::setColor(std::optional<QColor> color)
{
    m_color = color;
    update();
}

bool SnowLoader::spinning() const
{
    return m_animation->state() == QAbstractAnimation::Running;
}

QSize SnowLoader::sizeHint() const
{
    return QSize(qCeil(m_size), qCeil(m_size));
}

void SnowLoader::paintArc(QPainter &painter, const QRectF &rect, qreal size, const QColor &color, qreal degrees)
{
    const qreal line = snowLoaderLineWidth(size);
    const QPointF centre = rect.center();
    const qreal radius = (size - line) / 2;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(centre);
    painter.rotate(degrees);
    QPen pen(color, line);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    // Starts at three o'clock and runs clockwise over 72% of the circle; Qt counts sixteenths, anticlockwise.
    painter.drawArc(QRectF(-radius, -radius, 2 * radius, 2 * radius), 0, -int(0.72 * 360 * 16));
    painter.restore();
}

qreal SnowLoader::currentAngle()
{
    return double(loaderClock().elapsed() % 800) / 800.0 * 360.0;
}

void SnowLoader::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    paintArc(p, QRectF(0, 0, m_size, m_size), m_size, m_color.value_or(Palette::of(this).brand), m_angle);
}

void SnowLoader::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_angle = 0;
    m_animation->start();
}

void SnowLoader::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_animation->stop();
}

// SnowDivider

SnowDivider::SnowDivider(bool vertical, qreal inset, QWidget *parent)
    : QWidget(parent), m_vertical(vertical), m_inset(inset)
{
    if (vertical) {
        setFixedWidth(1);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    } else {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
}

QSize SnowDivider::sizeHint() const
{
    const int length = qCeil(2 * m_inset) + 1;
    return m_vertical ? QSize(1, length) : QSize(length, 1);
}

void SnowDivider::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QColor color = Palette::of(this).border;
    if (m_vertical)
        p.fillRect(QRectF(0, m_inset, 1, qMax(0.0, height() - 2 * m_inset)), color);
    else
        p.fillRect(QRectF(m_inset, 0, qMax(0.0, width() - 2 * m_inset), 1), color);
}
