// Taps and keyboard reach for the rows of a painted list: Tab lands on the list, arrows walk its rows,
// Return opens one, and a ring marks the row the keyboard is on.
#pragma once

#include <QObject>
#include <QPersistentModelIndex>

#include <functional>

class QAbstractItemView;
class QMouseEvent;

// A tap on a row: a left press and its release over the same row.
class RowTap
{
public:
    // Arms on a left press over a row; any other press disarms.
    void press(const QMouseEvent *event, const QModelIndex &row);
    // The row this release taps, or none: the left button released over the row it was pressed on.
    QModelIndex release(const QMouseEvent *event, const QModelIndex &row);

private:
    QPersistentModelIndex m_pressed;
};

class KeyboardRows final : public QObject
{
    Q_OBJECT
public:
    struct Actions
    {
        std::function<void(const QModelIndex &)> open;   // Return (and Space when there is no toggle)
        std::function<void(const QModelIndex &)> toggle; // Space, when the row has a switch of its own
        std::function<void(const QModelIndex &)> menu;   // the Menu key or Shift+F10
    };
    enum class Click { keepsFocus, takesFocus };

    // Makes the view a Tab stop whose keys walk its rows. With Click::takesFocus a click on a row
    // also gives the list the focus and puts the keyboard on that row, so the arrows go on from there.
    static KeyboardRows *install(QAbstractItemView *view, Actions actions, Click click = Click::takesFocus);
    static KeyboardRows *of(const QWidget *view);
    // Whether the ring is on this row now: the list has a focus the keyboard moved there, and the
    // keyboard is on the row.
    static bool ringsRow(const QWidget *view, const QModelIndex &index);

    // The rows the keys walk, top to bottom; the view's model's top rows unless given.
    void setRows(std::function<QList<QModelIndex>()> rows) { m_rows = std::move(rows); }
    // The row the keyboard starts on when the list takes the focus with none (the first row unless given).
    void setStartRow(std::function<QModelIndex()> start) { m_start = std::move(start); }

    QModelIndex current() const { return m_current; }
    void setCurrent(const QModelIndex &index);
    // The rows as the keys walk them.
    QList<QModelIndex> rows() const;

signals:
    // The keyboard moved to another row (the caller may bring it into a view of its own).
    void currentChanged(const QModelIndex &index);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    KeyboardRows(QAbstractItemView *view, Actions actions, Click click);
    bool handleKey(class QKeyEvent *event);
    void moveTo(const QModelIndex &index, bool bringIntoView);

    QAbstractItemView *m_view;
    Actions m_actions;
    Click m_click;
    std::function<QList<QModelIndex>()> m_rows;
    std::function<QModelIndex()> m_start;
    QPersistentModelIndex m_current;
    // The focus came from a click on the list: its keys are the user's though no ring shows yet.
    bool m_clicked = false;
};
