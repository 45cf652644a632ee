// Scrolling a part of a widget into view.
#include "design/scroll_into_view.h"

#include <QScrollArea>
#include <QScrollBar>

void scrollIntoView(QWidget *widget, const QRect &rect)
{
    for (QWidget *outer = widget->parentWidget(); outer; outer = outer->parentWidget()) {
        auto *area = qobject_cast<QScrollArea *>(outer);
        if (!area || !area->widget() || !area->widget()->isAncestorOf(widget))
            continue;
        const QPoint centre = widget->mapTo(area->widget(), rect.center());
        const int across = area->horizontalScrollBar()->value();
        area->ensureVisible(centre.x(), centre.y(), qMax(0, rect.width() / 2), rect.height() / 2 + 4);
        // With no sideways bar there is no way back: a cursor past a line's end (trailing blanks) would leave
        // the start of every line cut off.
        if (area->horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOff)
            area->horizontalScrollBar()->setValue(across);
        return;
    }
}
