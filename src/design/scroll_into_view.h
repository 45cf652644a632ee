// Bringing a part of a widget into view in the scroll areas around it.
#pragma once

#include <QRect>

class QWidget;

// Scrolls the nearest scroll area holding `widget` so that `rect` (in the widget's coordinates) shows.
void scrollIntoView(QWidget *widget, const QRect &rect);

// From now on, a control the keyboard focus moves to (Tab, Shift+Tab, a shortcut) is scrolled into view in every
// scroll area around it. Qt's scroll area does that only for a Tab move that starts inside it, so a move from
// elsewhere (a sheet's footer, another region of the window, the wrap from the last control to the first) could
// land on a control out of sight. Once per application; later calls do nothing.
void keepKeyboardFocusInView();
