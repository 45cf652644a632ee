// The menu popover window and its owner-side helper.
#include "design/snow_menu_popup.h"

#include "design/snow_menu_list.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

SnowMenuPopup::SnowMenuPopup() : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::StrongFocus);
    m_list = new SnowMenuList;
    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    // Arrow keys move through the entries, not the scroll position.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidget(m_list);
    m_scroll->setWidgetResizable(false);
    // setWidget() turns the background on; the popup paints the surface itself.
    m_list->setAutoFillBackground(false);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_scroll->setAutoFillBackground(false);
    m_scroll->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The size comes from the list in open(); the scroll area's own minimum would pad short menus.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->addWidget(m_scroll);
    m_list->setOnDismiss([this] { close(); });
}

namespace {

// Where a span of the given length starting at start goes to lie within [low, high) when it can.
int clampSpan(int start, int length, int low, int high)
{
    return qMax(low, qMin(start, high - length));
}

} // namespace

QRect SnowMenuPopup::placement(const QSize &size, const QRect &anchor, const QRect &window, const QRect &screen,
                               int scrollBarWidth)
{
    // The window's part on the screen first (kept off its very edge), then the screen alone.
    const QRect inset = window.adjusted(Gap, Gap, -Gap, -Gap);
    QRect inner = inset.isEmpty() ? screen : screen.isEmpty() ? inset : inset.intersected(screen);
    if (inner.isEmpty())
        inner = screen;
    const QRect outer = screen.isEmpty() ? inner : screen;

    const int below = anchor.bottom() + 1 + Gap;
    int width = size.width();
    int height = size.height();
    int y = below;
    bool placed = outer.isEmpty();
    for (const QRect &bounds : {inner, outer}) {
        if (placed || bounds.isEmpty())
            break;
        const int above = anchor.top() - Gap - height;
        if (below + height <= bounds.bottom() + 1) {
            y = below;
            placed = true;
        } else if (above >= bounds.top()) {
            y = above;
            placed = true;
        }
    }
    if (!placed) {
        const int roomBelow = outer.bottom() + 1 - below;
        const int roomAbove = anchor.top() - Gap - outer.top();
        const int wanted = height;
        if (qMax(roomBelow, roomAbove) >= MinScrolledHeight) {
            height = qMax(roomBelow, roomAbove);
            y = roomBelow >= roomAbove ? below : outer.top();
        } else {
            // A control about as tall as the screen: the menu lies over it.
            height = qMin(height, outer.height());
            y = clampSpan(below, height, outer.top(), outer.bottom() + 1);
        }
        if (height < wanted)
            width += scrollBarWidth;
    }

    int x = anchor.center().x() + 1 - width / 2;
    const QRect across = inner.width() >= width ? inner : outer;
    if (!across.isEmpty())
        x = clampSpan(x, width, across.left(), across.right() + 1);
    return {x, y, width, height};
}

void SnowMenuPopup::open(const QList<SnowMenuItem> &items, int width, const QRect &anchor, const Palette &palette,
                         const QRect &window)
{
    m_anchor = anchor;
    setAttribute(Qt::WA_NoMouseReplay, false);
    PaletteHost::set(this, palette);
    m_list->setMenuWidth(width);
    m_list->setItems(items);
    QScreen *screen = QGuiApplication::screenAt(anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    const QRect geometry = placement(QSize(width, m_list->height()), anchor, window, available,
                                     m_scroll->verticalScrollBar()->sizeHint().width());
    const bool scrolls = geometry.height() < m_list->height();
    m_scroll->setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    setGeometry(geometry);
    show();
    setFocus(Qt::PopupFocusReason);
}

void SnowMenuPopup::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), Radius, Radius);
    p.fillPath(path, palette.elevated);
    p.setPen(QPen(palette.border, 1));
    p.drawPath(path);
}

void SnowMenuPopup::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    if (!m_list->handleKey(event->key()))
        QWidget::keyPressEvent(event);
}

void SnowMenuPopup::mousePressEvent(QMouseEvent *event)
{
    // A press outside closes the menu; on the control that opened it, the press must not reopen it.
    const QPoint global = event->globalPosition().toPoint();
    if (!rect().contains(event->position().toPoint())) {
        if (m_anchor.contains(global))
            setAttribute(Qt::WA_NoMouseReplay);
        close();
        return;
    }
    QWidget::mousePressEvent(event);
}

void SnowMenuPopup::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    emit closed();
}

SnowMenuOpener::SnowMenuOpener(QWidget *owner) : QObject(owner), m_owner(owner) {}

SnowMenuOpener::~SnowMenuOpener()
{
    if (m_popup) {
        m_popup->disconnect(this);
        m_popup->hide();
        m_popup->deleteLater();
    }
}

void SnowMenuOpener::setItems(const QList<SnowMenuItem> &items)
{
    m_items = items;
    m_provider = nullptr;
}

void SnowMenuOpener::setItemsProvider(std::function<QList<SnowMenuItem>()> provider)
{
    m_provider = std::move(provider);
}

QList<SnowMenuItem> SnowMenuOpener::currentItems() const
{
    return m_provider ? m_provider() : m_items;
}

bool SnowMenuOpener::isOpen() const
{
    return m_open;
}

void SnowMenuOpener::open(const QRect &anchorInOwner)
{
    if (m_open)
        return;
    if (!m_popup) {
        m_popup = new SnowMenuPopup;
        connect(m_popup, &SnowMenuPopup::closed, this, [this] {
            if (!m_open)
                return;
            m_open = false;
            emit openChanged(false);
        });
    }
    const QRect local = anchorInOwner.isEmpty() ? m_owner->rect() : anchorInOwner;
    const QRect anchor(m_owner->mapToGlobal(local.topLeft()), local.size());
    m_open = true;
    emit openChanged(true);
    const QWidget *window = m_owner->window();
    m_popup->open(currentItems(), m_width, anchor, Palette::of(m_owner),
                  window->isVisible() ? window->geometry() : QRect());
}

void SnowMenuOpener::close()
{
    if (m_popup && m_popup->isVisible())
        m_popup->close();
    else if (m_open) {
        m_open = false;
        emit openChanged(false);
    }
}
