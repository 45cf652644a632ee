// Bringing a part of a widget into view in the scroll areas around it.
#pragma once

#include <QRect>

class QWidget;

// Scrolls the nearest scroll area holding `widget` so that `rect` (in the widget's coordinates) shows.
void scrollIntoView(QWidget *widget, const QRect &rect);
