// Row taps, and the keys and ring of a painted list's rows.
#include "design/keyboard_rows.h"

#include "design/keyboard_reach.h"

#include <QAbstractItemView>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>

void RowTap::press(const QMouseEvent *event, const QModelIndex &row)
{
    m_pressed = event->button() == Qt::LeftButton ? QPersistentModelIndex(row) : QPersistentModelIndex();
}

QModelIndex RowTap::release(const QMouseEvent *event, const QModelIndex &row)
{
    const QPersistentModelIndex pressed = m_pressed;
    m_pressed = QPersistentModelIndex();
    if (event->button() != Qt::LeftButton || !pressed.isValid() || QModelIndex(pressed) != row)
        return {};
    return pressed;
}

KeyboardRows::KeyboardRows(QAbstractItemView *view, Actions actions, Click click)
    : QObject(view), m_view(view), m_actions(std::move(actions)), m_click(click)
{
}

KeyboardRows *KeyboardRows::install(QAbstractItemView *view, Actions actions, Click click)
{
    KeyboardReach::install(view, {});
    if (click == Click::takesFocus)
        view->setFocusPolicy(Qt::StrongFocus);
    auto *rows = new KeyboardRows(view, std::move(actions), click);
    view->installEventFilter(rows);
    view->viewport()->installEventFilter(rows);
    return rows;
}

KeyboardRows *KeyboardRows::of(const QWidget *view)
{
    return view ? view->findChild<KeyboardRows *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

bool KeyboardRows::ringsRow(const QWidget *view, const QModelIndex &index)
{
    const KeyboardRows *rows = of(view);
    return rows && index.isValid() && KeyboardReach::showsRing(view) && QModelIndex(rows->m_current) == index;
}

QList<QModelIndex> KeyboardRows::rows() const
{
    if (m_rows)
        return m_rows();
    QList<QModelIndex> rows;
    const QAbstractItemModel *model = m_view->model();
    if (!model)
        return rows;
    for (int row = 0; row < model->rowCount(m_view->rootIndex()); ++row)
        rows.append(model->index(row, 0, m_view->rootIndex()));
    return rows;
}

void KeyboardRows::setCurrent(const QModelIndex &index)
{
    moveTo(index, true);
}

void KeyboardRows::moveTo(const QModelIndex &index, bool bringIntoView)
{
    if (QModelIndex(m_current) == index)
        return;
    m_current = index;
    m_view->viewport()->update();
    if (index.isValid() && bringIntoView)
        m_view->scrollTo(index);
    emit currentChanged(index);
}

bool KeyboardRows::handleKey(QKeyEvent *event)
{
    // Keys are the list's once the user put the focus there, by Tab or by a click; the focus the
    // window hands over when it opens leaves them to the window.
    if (!KeyboardReach::showsRing(m_view) && !m_clicked)
        return false;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    const bool menuKey = (key == Qt::Key_Menu && !modifiers) || (key == Qt::Key_F10 && modifiers == Qt::ShiftModifier);
    if (menuKey) {
        if (m_actions.menu && m_current.isValid())
            m_actions.menu(m_current);
        return true;
    }
    if (modifiers)
        return false;
    const QList<QModelIndex> shown = rows();
    const qsizetype at = shown.indexOf(QModelIndex(m_current));
    switch (key) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End: {
        if (shown.isEmpty())
            return true;
        qsizetype next = 0;
        if (key == Qt::Key_End)
            next = shown.size() - 1;
        else if (key != Qt::Key_Home && at >= 0)
            next = std::clamp<qsizetype>(at + (key == Qt::Key_Up ? -1 : 1), 0, shown.size() - 1);
        setCurrent(shown[next]);
        // The keyboard moved the focus between rows: from here on the ring shows where it is.
        KeyboardReach::confirmFocus(m_view);
        return true;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space: {
        if (at < 0 || event->isAutoRepeat())
            return true;
        const QPersistentModelIndex row = shown[at];
        const auto &action = key == Qt::Key_Space && m_actions.toggle ? m_actions.toggle : m_actions.open;
        if (action) {
            // The action may rebuild the list; nothing of this object is read after it.
            const auto run = action;
            run(row);
        }
        return true;
    }
    default:
        return false;
    }
}

bool KeyboardRows::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view->viewport()) {
        if (event->type() == QEvent::MouseButtonPress) {
            const auto *mouse = static_cast<QMouseEvent *>(event);
            const QModelIndex row = m_view->indexAt(mouse->position().toPoint());
            if (mouse->button() == Qt::LeftButton && row.isValid() && m_click == Click::takesFocus) {
                m_clicked = true;
                // The row stays where it was clicked, so the release lands on it too.
                moveTo(row, false);
                if (!m_view->hasFocus())
                    m_view->setFocus(Qt::MouseFocusReason);
            } else if (mouse->button() == Qt::LeftButton && row.isValid() && m_view->hasFocus()) {
                // A list that keeps the keys where they were still goes on from the row clicked.
                moveTo(row, false);
            }
        }
        return QObject::eventFilter(watched, event);
    }
    switch (event->type()) {
    case QEvent::FocusIn: {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason == Qt::MouseFocusReason) {
            // The press that follows puts the keyboard on its row.
            m_clicked = true;
            break;
        }
        // The keyboard goes on where it was, else starts on the start row; Tab brings it into view,
        // a window coming back leaves the list scrolled where it was.
        QModelIndex row = m_current;
        if (!row.isValid())
            row = m_start ? m_start() : QModelIndex();
        if (!row.isValid())
            row = rows().value(0);
        const bool tabbed = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason;
        if (tabbed)
            m_current = QPersistentModelIndex();
        moveTo(row, tabbed);
        m_view->viewport()->update();
        break;
    }
    case QEvent::FocusOut: {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            m_clicked = false;
        m_view->viewport()->update();
        break;
    }
    case QEvent::KeyPress:
        if (handleKey(static_cast<QKeyEvent *>(event)))
            return true;
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
