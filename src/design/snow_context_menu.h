// A menu that opens below a view on a right press over it (or over anything inside it).
#pragma once

#include "design/snow_menu_item.h"

#include <QList>
#include <QObject>
#include <QPoint>
#include <QRect>

#include <functional>

class QWidget;
class SnowMenuOpener;

class SnowContextMenu final : public QObject
{
    Q_OBJECT
public:
    // Entries for a right press at pos (target coordinates); an empty list attaches nothing, so the
    // press then reaches the view as usual.
    using Provider = std::function<QList<SnowMenuItem>(const QPoint &pos)>;

    // The menu belongs to the target and watches it and every widget inside it.
    static SnowContextMenu *attach(QWidget *target, int width, const QList<SnowMenuItem> &items);
    static SnowContextMenu *attach(QWidget *target, int width, Provider provider);

    void setItems(const QList<SnowMenuItem> &items);
    void setProvider(Provider provider) { m_provider = std::move(provider); }
    void setWidth(int width);
    // What the menu hangs below for a press at pos (target coordinates): a row of a list, say.
    // Without it the menu opens below the whole target.
    void setAnchorProvider(std::function<QRect(const QPoint &pos)> anchor) { m_anchor = std::move(anchor); }

    bool isOpen() const;
    // Opens as a right press at pos would; false when there are no entries.
    bool openAt(const QPoint &pos);
    SnowMenuOpener *menu() const { return m_menu; }

signals:
    void openChanged(bool open);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    SnowContextMenu(QWidget *target, int width);
    void watch(QObject *object);

    QWidget *m_target;
    SnowMenuOpener *m_menu;
    Provider m_provider;
    std::function<QRect(const QPoint &)> m_anchor;
};
