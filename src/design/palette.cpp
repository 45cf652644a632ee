// The two palettes, the accent colours and the palette lookup up the widget tree.
#include "design/palette.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QVariant>
#include <QWidget>

namespace {

QColor hexColor(QRgb rgb)
{
    return QColor(rgb); // opaque whatever the top byte holds
}

QColor black(qreal opacity)
{
    return QColor::fromRgbF(0, 0, 0, float(opacity));
}

QColor white(qreal opacity)
{
    return QColor::fromRgbF(1, 1, 1, float(opacity));
}

Palette makeLight()
{
    Palette p;
    p.background = hexColor(0xFFFFFF);
    p.content = hexColor(0xFFFFFF);
    p.card = hexColor(0xF9F9FA);
    p.elevated = hexColor(0xFFFFFF);
    p.muted = black(0.05);
    p.mutedStrong = black(0.1);
    p.subtle = black(0.04);
    p.mutedForeground = black(0.4);
    p.faint = black(0.2);
    p.foreground = hexColor(0x000000);
    p.border = black(0.1);
    p.borderStrong = black(0.2);
    p.inputBackground = black(0.04);
    p.switchOff = black(0.2);
    p.shadow = black(0.1);
    p.pillActiveBg = black(0.1);
    p.pillActiveText = hexColor(0x000000);
    p.sidebarBg = hexColor(0xFFFFFF);
    p.railBg = hexColor(0xFFFFFF);
    p.tableHeader = QColor(Qt::transparent);
    p.brand = hexColor(0x000000);
    p.brandHover = hexColor(0x666666);
    p.onBrand = hexColor(0xFFFFFF);
    p.isDark = false;
    return p;
}

Palette makeDark()
{
    Palette p;
    p.background = hexColor(0x2A2A2A);
    p.content = hexColor(0x2A2A2A);
    p.card = white(0.05);
    p.elevated = hexColor(0x383838);
    p.muted = white(0.05);
    p.mutedStrong = white(0.1);
    p.subtle = white(0.04);
    p.mutedForeground = white(0.4);
    p.faint = white(0.2);
    p.foreground = hexColor(0xFFFFFF);
    p.border = white(0.1);
    p.borderStrong = white(0.2);
    p.inputBackground = white(0.04);
    p.switchOff = white(0.2);
    p.shadow = black(0.4);
    p.pillActiveBg = white(0.1);
    p.pillActiveText = hexColor(0xFFFFFF);
    p.sidebarBg = hexColor(0x242424);
    p.railBg = hexColor(0x2A2A2A);
    p.tableHeader = QColor(Qt::transparent);
    p.brand = hexColor(0x9F9FF8);
    p.brandHover = hexColor(0x5F5F95);
    p.onBrand = hexColor(0x000000);
    p.isDark = true;
    return p;
}

void notifyTree(QWidget *host)
{
    const auto type = QEvent::Type(PaletteHost::changedEventType());
    QEvent event(type);
    QCoreApplication::sendEvent(host, &event);
    host->update();
    // A widget may rebuild its children while it restyles, so each one is looked at only while it lives.
    QList<QPointer<QWidget>> children;
    for (QWidget *child : host->findChildren<QWidget *>())
        children.append(child);
    for (const QPointer<QWidget> &child : children) {
        if (!child)
            continue;
        QEvent childEvent(type);
        QCoreApplication::sendEvent(child, &childEvent);
        child->update();
    }
}

} // namespace

const Palette &Palette::light()
{
    static const Palette instance = makeLight();
    return instance;
}

const Palette &Palette::dark()
{
    static const Palette instance = makeDark();
    return instance;
}

QColor Palette::purple() { return hexColor(0xC9B3ED); }
QColor Palette::indigo() { return hexColor(0x9F9FF8); }
QColor Palette::blue() { return hexColor(0x92BFFF); }
QColor Palette::cyan() { return hexColor(0xAEC7ED); }
QColor Palette::mint() { return hexColor(0x96E2D6); }
QColor Palette::green() { return hexColor(0x94E9B8); }
QColor Palette::yellow() { return hexColor(0xFFDB56); }
QColor Palette::orange() { return hexColor(0xFFB55B); }
QColor Palette::red() { return hexColor(0xFF4747); }
QColor Palette::bg3() { return hexColor(0xE6F1FD); }
QColor Palette::bg4() { return hexColor(0xEDEEFC); }

QColor Palette::accentText() const
{
    return isDark ? indigo() : hexColor(0x000000);
}

QColor Palette::errorRed() const
{
    return isDark ? hexColor(0xFF6B6B) : hexColor(0xE03131);
}

QColor Palette::pastelInk()
{
    return black(0.75);
}

Palette Palette::of(const QWidget *widget)
{
    for (const QWidget *w = widget; w; w = w->parentWidget()) {
        const QVariant value = w->property(PaletteHost::propertyName);
        if (value.canConvert<Palette>() && value.metaType() == QMetaType::fromType<Palette>())
            return value.value<Palette>();
    }
    return light();
}

namespace PaletteHost {

void set(QWidget *host, const Palette &palette)
{
    if (!host)
        return;
    host->setProperty(propertyName, QVariant::fromValue(palette));
    notifyTree(host);
}

void clear(QWidget *host)
{
    if (!host)
        return;
    host->setProperty(propertyName, QVariant());
    notifyTree(host);
}

int changedEventType()
{
    static const int type = QEvent::registerEventType();
    return type;
}

} // namespace PaletteHost

QColor blendColors(const QColor &a, const QColor &b, qreal t)
{
    // Mixed premultiplied, so fading from clear does not pass through a dark fringe.
    t = qBound(0.0, t, 1.0);
    const float u = float(t);
    const float alpha = a.alphaF() + (b.alphaF() - a.alphaF()) * u;
    if (alpha <= 0.f)
        return QColor(Qt::transparent);
    const auto mix = [&](float x, float y) {
        return qBound(0.f, (x * a.alphaF() + (y * b.alphaF() - x * a.alphaF()) * u) / alpha, 1.f);
    };
    return QColor::fromRgbF(mix(a.redF(), b.redF()), mix(a.greenF(), b.greenF()), mix(a.blueF(), b.blueF()), alpha);
}

QColor withOpacity(const QColor &color, qreal opacity)
{
    QColor c = color;
    c.setAlphaF(float(qBound(0.0, color.alphaF() * opacity, 1.0)));
    return c;
}
