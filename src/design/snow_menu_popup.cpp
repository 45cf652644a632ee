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

QRect SnowMenuPopup::placement(const QSize &size, const QRect &anchor, const QRect &screen)
{
    int x = anchor.center().x() + 1 - size.width() / 2;
    if (!screen.isEmpty())
        x = qMax(screen.left(), qMin(x, screen.right() + 1 - size.width()));
    int y = anchor.bottom() + 1 + Gap;
    if (!screen.isEmpty() && y + size.height() > screen.bottom() + 1) {
        const int above = anchor.top() - Gap - size.height();
        if (above >= screen.top())
            y = above;
        y = qMax(screen.top(), qMin(y, screen.bottom() + 1 - size.height()));
    }
    return {QPoint(x, y), size};
}

void SnowMenuPopup::open(const QList<SnowMenuItem> &items, int width, const QRect &anchor, const Palette &palette)
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
    int height = m_list->height();
    if (!available.isEmpty()) {
        // Too tall for either side of the control: take the roomier side and scroll.
        const int below = available.bottom() + 1 - (anchor.bottom() + 1 + Gap);
        const int above = anchor.top() - Gap - available.top();
        if (height > below && height > above)
            height = qMax(qMax(below, above), qMin(height, available.height()));
    }
    const bool scrolls = height < m_list->height();
    m_scroll->setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    const QSize size(width + (scrolls ? m_scroll->verticalScrollBar()->sizeHint().width() : 0), height);
    setGeometry(placement(size, anchor, available));
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
    m_popup->open(currentItems(), m_width, anchor, Palette::of(m_owner));
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
