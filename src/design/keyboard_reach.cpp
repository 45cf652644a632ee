// Tab focus, focus ring and key presses for the painted controls.
#include "design/keyboard_reach.h"

#include "design/card_surface.h"
#include "design/palette.h"

#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QWidget>

namespace {

constexpr qreal RingWidth = 2;
constexpr qreal GapWidth = 1.5;

} // namespace

KeyboardReach::KeyboardReach(QWidget *control, std::function<void()> press)
    : QObject(control), m_press(std::move(press))
{
}

KeyboardReach *KeyboardReach::install(QWidget *control, std::function<void()> press)
{
    auto *reach = new KeyboardReach(control, std::move(press));
    control->setFocusPolicy(Qt::TabFocus);
    control->setAttribute(Qt::WA_MacShowFocusRect, false);
    control->installEventFilter(reach);
    return reach;
}

void KeyboardReach::setReachable(QWidget *control, bool reachable)
{
    control->setFocusPolicy(reachable ? Qt::TabFocus : Qt::NoFocus);
}

bool KeyboardReach::isActivationKey(const QKeyEvent *event)
{
    if (event->isAutoRepeat() || (event->modifiers() & ~Qt::KeypadModifier))
        return false;
    const int key = event->key();
    return key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Select;
}

QColor KeyboardReach::ringColor(const Palette &palette)
{
    // Darker than the pastel indigo on white, so the ring reads at a glance in both themes.
    return palette.isDark ? Palette::indigo() : QColor(0x4F, 0x4F, 0xD0);
}

bool KeyboardReach::showsRing(const QWidget *control)
{
    if (!control->hasFocus())
        return false;
    const auto *reach = control->findChild<KeyboardReach *>(QString(), Qt::FindDirectChildrenOnly);
    return !reach || reach->m_userFocus;
}

void KeyboardReach::paintRing(QPainter &painter, const QWidget *control, const QRectF &outline, qreal radius)
{
    if (!showsRing(control))
        return;
    const Palette palette = Palette::of(control);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(1);
    painter.setBrush(Qt::NoBrush);
    const qreal ringInset = RingWidth / 2;
    painter.setPen(QPen(palette.background, GapWidth));
    const qreal gapInset = RingWidth + GapWidth / 2;
    painter.drawPath(roundedRectPath(outline.adjusted(gapInset, gapInset, -gapInset, -gapInset),
                                     qMax<qreal>(0, radius - gapInset)));
    painter.setPen(QPen(ringColor(palette), RingWidth));
    painter.drawPath(roundedRectPath(outline.adjusted(ringInset, ringInset, -ringInset, -ringInset),
                                     qMax<qreal>(0, radius - ringInset)));
    painter.restore();
}

bool KeyboardReach::eventFilter(QObject *watched, QEvent *event)
{
    auto *control = static_cast<QWidget *>(watched);
    switch (event->type()) {
    case QEvent::FocusIn:
    case QEvent::FocusOut: {
        // Leaving for another window or a popup keeps the ring for the return; any other move ends it.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            m_userFocus = event->type() == QEvent::FocusIn;
        control->update();
        break;
    }
    case QEvent::KeyPress:
        if (m_userFocus && m_press && isActivationKey(static_cast<QKeyEvent *>(event))) {
            // The press may close the control's sheet; nothing of this object is touched after it.
            const auto press = m_press;
            press();
            return true;
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
