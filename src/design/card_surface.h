// Rounded-rectangle shapes and the two surfaces behind content: the card fill and the outlined panel.
#pragma once

#include <QColor>
#include <QPainterPath>
#include <QRectF>
#include <QWidget>

#include "design/palette.h"

class QPainter;

// The rounded rectangle every control draws, its radius capped at half the shorter side.
QPainterPath roundedRectPath(const QRectF &rect, qreal radius);

// palette.card in a rounded rectangle; no border, shadow or padding.
void paintCardSurface(QPainter &painter, const QRectF &rect, const Palette &palette, qreal radius);

// The panel fill: white at 0.8 on a light palette, black at 0.2 on a dark one.
QColor panelFill(const Palette &palette);

// The panel fill in a rounded rectangle outlined with palette.border at 1 px.
void paintPanelStyle(QPainter &painter, const QRectF &rect, const Palette &palette, qreal radius);

// A container with a rounded surface painted behind its children; what it paints is the subclass's.
class RoundedContainer : public QWidget
{
    Q_OBJECT
public:
    qreal radius() const { return m_radius; }
    void setRadius(qreal radius);

protected:
    RoundedContainer(qreal radius, QWidget *parent);

private:
    qreal m_radius;
};

// A container that paints the card surface behind its children (give it a layout).
class CardSurface final : public RoundedContainer
{
    Q_OBJECT
public:
    explicit CardSurface(qreal radius = 12, QWidget *parent = nullptr) : RoundedContainer(radius, parent) {}

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A container that paints the panel style behind its children; callers pad the content.
class PanelStyle final : public RoundedContainer
{
    Q_OBJECT
public:
    explicit PanelStyle(qreal radius = 10, QWidget *parent = nullptr) : RoundedContainer(radius, parent) {}

protected:
    void paintEvent(QPaintEvent *event) override;
};
