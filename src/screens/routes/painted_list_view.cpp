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
    m_pressed = event->button() == Qt::LeftButton ? QPersistentModelIndex(indexAt(event->position().toPoint()))
                                                  : QPersistentModelIndex();
    event->accept();
}

void PaintedListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    mousePressEvent(event);
}

void PaintedListView::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    const QPersistentModelIndex pressed = m_pressed;
    m_pressed = QPersistentModelIndex();
    const QPoint pos = event->position().toPoint();
    if (event->button() != Qt::LeftButton || !pressed.isValid() || QModelIndex(pressed) != indexAt(pos))
        return;
    rowTapped(pressed, pos);
}

void PaintedListView::mouseMoveEvent(QMouseEvent *event)
{
    // The hover fade follows the pointer; there is no drag selection.
    event->accept();
}
