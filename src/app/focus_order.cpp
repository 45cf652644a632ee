// Tab order by region.
#include "app/focus_order.h"

#include <QWidget>

#include <algorithm>

namespace FocusOrder {

QList<QWidget *> reachable(const QWidget *root)
{
    QList<QWidget *> widgets;
    const QWidget *window = root->window();
    for (QWidget *w = root->nextInFocusChain(); w && w != root; w = w->nextInFocusChain()) {
        // The same test Qt's own Tab makes, limited to what lies under root.
        if ((w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && !w->focusProxy() && w->isEnabled()
            && w->isVisibleTo(window) && w->window() == window && root->isAncestorOf(w))
            widgets.append(w);
    }
    return widgets;
}

QList<QWidget *> byRegion(const QList<QWidget *> &widgets, const QList<const QWidget *> &regions)
{
    const auto regionOf = [&regions](const QWidget *w) {
        for (qsizetype i = 0; i < regions.size(); ++i)
            if (regions[i] && (regions[i] == w || regions[i]->isAncestorOf(w)))
                return i;
        return regions.size();
    };
    QList<QWidget *> ordered = widgets;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [&regionOf](const QWidget *a, const QWidget *b) { return regionOf(a) < regionOf(b); });
    return ordered;
}

QWidget *step(const QList<QWidget *> &order, const QWidget *current, bool forward)
{
    const qsizetype at = order.indexOf(const_cast<QWidget *>(current));
    if (at < 0 || order.isEmpty())
        return nullptr;
    const qsizetype count = order.size();
    return order[(at + (forward ? 1 : count - 1)) % count];
}

} // namespace FocusOrder
