// The list view under this library's painted lists: transparent, no selection of its own, hover
// fades for the delegate, and a tap (left press and release on one row) handed to the subclass.
#pragma once

#include "design/keyboard_rows.h"

#include <QListView>

class PaintedListView : public QListView
{
    Q_OBJECT
protected:
    explicit PaintedListView(QWidget *parent);

    virtual void rowTapped(const QModelIndex &index, const QPoint &viewportPos) = 0;

    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    RowTap m_tap;
};
