// Rounded shapes, the card surface and the panel style.
#include "design/card_surface.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

QPainterPath roundedRectPath(const QRectF &rect, qreal radius)
{
    QPainterPath path;
    const qreal r = qBound(0.0, radius, qMin(rect.width(), rect.height()) / 2);
    path.addRoundedRect(rect, r, r);
    return path;
}

void paintCardSurface(QPainter &painter, const QRectF &rect, const Palette &palette, qreal radius)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(roundedRectPath(rect, radius), palette.card);
    painter.restore();
}

QColor panelFill(const Palette &palette)
{
    return palette.isDark ? QColor::fromRgbF(0, 0, 0, 0.2f) : QColor::fromRgbF(1, 1, 1, 0.8f);
}

void paintPanelStyle(QPainter &painter, const QRectF &rect, const Palette &palette, qreal radius)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(roundedRectPath(rect, radius), panelFill(palette));
    // Inset by half the line so the whole outline stays inside the widget.
    QPen pen(palette.border, 1);
    pen.setJoinStyle(Qt::MiterJoin);
    pen.setMiterLimit(10);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(roundedRectPath(rect.adjusted(0.5, 0.5, -0.5, -0.5), radius));
    painter.restore();
}

RoundedContainer::RoundedContainer(qreal radius, QWidget *parent) : QWidget(parent), m_radius(radius) {}

void RoundedContainer::setRadius(qreal radius)
{
    m_radius = radius;
    update();
}

void CardSurface::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintCardSurface(painter, rect(), Palette::of(this), radius());
}

void PanelStyle::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    // A panel far taller than the part exposed (one around a long body) is drawn only around that part:
    // rasterising its whole outline takes milliseconds. Corners left out would be clipped anyway.
    const QRectF exposed(event->rect());
    QRectF drawn(rect());
    drawn.setTop(std::max(drawn.top(), exposed.top() - radius() - 2));
    drawn.setBottom(std::min(drawn.bottom(), exposed.bottom() + radius() + 2));
    paintPanelStyle(painter, drawn, Palette::of(this), radius());
}
