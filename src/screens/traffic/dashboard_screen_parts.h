// Small pieces the dashboard's page and its cards share: the text colours and the stretching column.
#pragma once

#include "design/palette.h"
#include "design/shell_widgets.h"

#include <QVBoxLayout>
#include <QWidget>

namespace DashboardParts {

inline ColorRole foreground()
{
    return [](const Palette &p) { return p.foreground; };
}

inline ColorRole mutedForeground()
{
    return [](const Palette &p) { return p.mutedForeground; };
}

// A column widget without margins whose content stretches to the width it is given.
inline QWidget *column(int spacing, QVBoxLayout **layout, QWidget *parent = nullptr)
{
    auto *box = new QWidget(parent);
    auto *body = new QVBoxLayout(box);
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(spacing);
    box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    *layout = body;
    return box;
}

// Shows or hides only on a change, so a refresh that changes nothing lays nothing out again.
template <class W, class V> void setVisibleIfChanged(W *widget, V visible)
{
    if (widget->isVisibleTo(widget->parentWidget()) != bool(visible))
        widget->setVisible(bool(visible));
}

} // namespace DashboardParts
