// The popover every menu opens in: a popup window below its control, and the helper that owns one.
#pragma once

#include "design/palette.h"
#include "design/snow_menu_item.h"

#include <QList>
#include <QPointer>
#include <QWidget>

#include <functional>

class QScrollArea;
class SnowMenuList;

class SnowMenuPopup final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int Radius = 10;
    static constexpr int Gap = 4;
    // Below this much room on its roomier side a menu that fits on neither side covers its control instead.
    static constexpr int MinScrolledHeight = 120;

    // Top-level on purpose: an action that destroys the menu's owner must not destroy the popup
    // whose click is still being handled (owners release it with deleteLater).
    SnowMenuPopup();

    // Shows the entries below anchor, in the palette of the caller, inside window when it is given
    // (both in global coordinates).
    void open(const QList<SnowMenuItem> &items, int width, const QRect &anchor, const Palette &palette,
              const QRect &window = {});
    SnowMenuList *list() const { return m_list; }
    QRect anchor() const { return m_anchor; }

    // Where a popup of the given size goes: centred under the anchor, slid sideways to stay inside
    // the window (Gap clear of its edges) and the screen, above the anchor when there is no room
    // below. A menu that fits on neither side within the window may leave it (never the screen);
    // one that fits on neither side of the screen takes the roomier side, shorter and
    // scrollBarWidth wider, as it then scrolls. An empty window or screen bounds nothing.
    static QRect placement(const QSize &size, const QRect &anchor, const QRect &window, const QRect &screen,
                           int scrollBarWidth = 0);

signals:
    void closed();

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    SnowMenuList *m_list;
    QScrollArea *m_scroll;
    QRect m_anchor;
};

// Owns the popup of one control: rebuilds the entries from the provider each time the menu opens,
// anchors it to the control and reports open and close.
class SnowMenuOpener final : public QObject
{
    Q_OBJECT
public:
    explicit SnowMenuOpener(QWidget *owner);
    ~SnowMenuOpener() override;

    void setItems(const QList<SnowMenuItem> &items);
    void setItemsProvider(std::function<QList<SnowMenuItem>()> provider);
    QList<SnowMenuItem> currentItems() const;
    void setWidth(int width) { m_width = width; }
    int width() const { return m_width; }

    bool isOpen() const;
    // Opens below the given rectangle of the owner (its whole rectangle when empty).
    void open(const QRect &anchorInOwner = {});
    void close();
    // The popup while one exists (tests and renders).
    SnowMenuPopup *popup() const { return m_popup; }

signals:
    void openChanged(bool open);

private:
    QWidget *m_owner;
    QPointer<SnowMenuPopup> m_popup;
    QList<SnowMenuItem> m_items;
    std::function<QList<SnowMenuItem>()> m_provider;
    int m_width = 200;
    bool m_open = false;
};
