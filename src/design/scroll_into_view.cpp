// Scrolling a part of a widget into view.
#include "design/scroll_into_view.h"

#include <QScrollArea>

void scrollIntoView(QWidget *widget, const QRect &rect)
{
    for (QWidget *outer = widget->parentWidget(); outer; outer = outer->parentWidget()) {
        auto *area = qobject_cast<QScrollArea *>(outer);
        if (!area || !area->widget() || !area->widget()->isAncestorOf(widget))
            continue;
        const QPoint centre = widget->mapTo(area->widget(), rect.center());
        area->ensureVisible(centre.x(), centre.y(), qMax(0, rect.width() / 2), rect.height() / 2 + 4);
        return;
    }
}
