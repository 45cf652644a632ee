// The window's Tab order by region: sidebar, header, screen, trailing panel, whenever each was built.
#pragma once

#include <QList>

class QWidget;

namespace FocusOrder {

// The widgets under root that Tab may land on, in the order of the window's focus chain.
QList<QWidget *> reachable(const QWidget *root);
// The same widgets region by region, in the order the regions are given (widgets in none of them
// last); within a region they keep the chain's order.
QList<QWidget *> byRegion(const QList<QWidget *> &widgets, const QList<const QWidget *> &regions);
// Where Tab (forward) or Shift+Tab goes from current, round the ends; null when current is not in
// the order or the order is empty.
QWidget *step(const QList<QWidget *> &order, const QWidget *current, bool forward);

} // namespace FocusOrder
