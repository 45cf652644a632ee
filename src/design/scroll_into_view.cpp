// Scrolling a part of a widget into view, and keeping the keyboard focus in view.
#include "design/scroll_into_view.h"

#include <QApplication>
#include <QFocusEvent>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>

#include <functional>

namespace {

// Room kept round a focused control, so that its ring and a little of what surrounds it show.
constexpr int FocusMargin = 24;

// An area without a sideways bar keeps its place across: there would be no way back.
void ensureVisibleIn(QScrollArea *area, const std::function<void()> &scroll)
{
    const int across = area->horizontalScrollBar()->value();
    scroll();
    if (area->horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOff)
        area->horizontalScrollBar()->setValue(across);
}

class FocusFollower final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::FocusIn || !watched->isWidgetType())
            return false;
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason && reason != Qt::ShortcutFocusReason)
            return false;
        auto *target = static_cast<QWidget *>(watched);
        // Innermost first, so that each outer area scrolls to where the inner one put the control.
        for (QWidget *up = target->parentWidget(); up; up = up->parentWidget()) {
            auto *area = qobject_cast<QScrollArea *>(up);
            if (area && area->widget() && area->widget()->isAncestorOf(target))
                ensureVisibleIn(area, [&] { area->ensureWidgetVisible(target, FocusMargin, FocusMargin); });
        }
        return false;
    }
};

} // namespace

void scrollIntoView(QWidget *widget, const QRect &rect)
{
    for (QWidget *outer = widget->parentWidget(); outer; outer = outer->parentWidget()) {
        auto *area = qobject_cast<QScrollArea *>(outer);
        if (!area || !area->widget() || !area->widget()->isAncestorOf(widget))
            continue;
        const QPoint centre = widget->mapTo(area->widget(), rect.center());
        // With no sideways bar, a cursor past a line's end (trailing blanks) would leave the start of every
        // line cut off.
        ensureVisibleIn(area, [&] {
            area->ensureVisible(centre.x(), centre.y(), qMax(0, rect.width() / 2), rect.height() / 2 + 4);
        });
        return;
    }
}

void keepKeyboardFocusInView()
{
    static QPointer<QObject> installed;
    if (installed || !qApp)
        return;
    installed = new FocusFollower(qApp);
    qApp->installEventFilter(installed);
}
