// Right-press detection over a view tree and the menu it opens.
#include "design/snow_context_menu.h"

#include "design/snow_menu_popup.h"

#include <QChildEvent>
#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QWidget>

SnowContextMenu::SnowContextMenu(QWidget *target, int width)
    : QObject(target), m_target(target), m_menu(new SnowMenuOpener(target))
{
    m_menu->setWidth(width);
    connect(m_menu, &SnowMenuOpener::openChanged, this, &SnowContextMenu::openChanged);
    watch(target);
}

SnowContextMenu *SnowContextMenu::attach(QWidget *target, int width, const QList<SnowMenuItem> &items)
{
    auto *menu = new SnowContextMenu(target, width);
    menu->setItems(items);
    return menu;
}

SnowContextMenu *SnowContextMenu::attach(QWidget *target, int width, Provider provider)
{
    auto *menu = new SnowContextMenu(target, width);
    menu->setProvider(std::move(provider));
    return menu;
}

void SnowContextMenu::setItems(const QList<SnowMenuItem> &items)
{
    m_provider = [items](const QPoint &) { return items; };
}

void SnowContextMenu::setWidth(int width)
{
    m_menu->setWidth(width);
}

bool SnowContextMenu::isOpen() const
{
    return m_menu->isOpen();
}

void SnowContextMenu::watch(QObject *object)
{
    object->installEventFilter(this);
    for (QObject *child : object->children()) {
        if (child->isWidgetType())
            watch(child);
    }
}

bool SnowContextMenu::openAt(const QPoint &pos)
{
    const QList<SnowMenuItem> items = m_provider ? m_provider(pos) : QList<SnowMenuItem>();
    if (items.isEmpty())
        return false;
    m_menu->close();
    m_menu->setItems(items);
    m_menu->open(m_anchor ? m_anchor(pos) : QRect());
    return true;
}

bool SnowContextMenu::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::ChildAdded: {
        QObject *child = static_cast<QChildEvent *>(event)->child();
        if (child && child->isWidgetType())
            watch(child);
        break;
    }
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::RightButton || !watched->isWidgetType())
            break;
        auto *widget = static_cast<QWidget *>(watched);
        if (widget != m_target && !m_target->isAncestorOf(widget))
            break;
        // A view inside with a menu of its own keeps its right clicks.
        bool nested = false;
        for (QWidget *w = widget; w && w != m_target; w = w->parentWidget()) {
            const auto *own = w->findChild<SnowContextMenu *>(QString(), Qt::FindDirectChildrenOnly);
            nested = nested || (own && own != this);
        }
        if (nested)
            break;
        const QPoint pos = widget->mapTo(m_target, mouse->position().toPoint());
        // The view never sees the right press, nor the context-menu event that follows it.
        if (openAt(pos))
            return true;
        break;
    }
    case QEvent::ContextMenu:
        if (isOpen())
            return true;
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
