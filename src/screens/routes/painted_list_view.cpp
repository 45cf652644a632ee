// Shared set-up and taps of the painted lists.
#include "screens/routes/painted_list_view.h"

#include "screens/routes/row_hover_fade.h"

#include <QMouseEvent>

PaintedListView::PaintedListView(QWidget *parent)
    : QListView(parent)
{
    setFrameShape(QFrame::NoFrame);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFocusPolicy(Qt::NoFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setMouseTracking(true);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    new RowHoverFade(this);
}

void PaintedListView::mousePressEvent(QMouseEvent *event)
{
    m_tap.press(event, indexAt(event->position().toPoint()));
    event->accept();
}

void PaintedListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    mousePressEvent(event);
}

void PaintedListView::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    const QPoint pos = event->position().toPoint();
    const QModelIndex tapped = m_tap.release(event, indexAt(pos));
    if (tapped.isValid())
        rowTapped(tapped, pos);
}

void PaintedListView::mouseMoveEvent(QMouseEvent *event)
{
    // The hover fade follows the pointer; there is no drag selection.
    event->accept();
}
