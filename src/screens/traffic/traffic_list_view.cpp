// The painted-row list of the traffic screens and its replay menu.
#include "screens/traffic/traffic_list_view.h"

#include "design/keyboard_reach.h"
#include "design/keyboard_rows.h"
#include "design/shell_widgets.h"
#include "design/snow_context_menu.h"
#include "screens/traffic/traffic_table.h"
#include "design/palette.h"

#include <QEasingCurve>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QVariantAnimation>
#include <QPainter>
#include <QStyleOptionViewItem>

TrafficListView::TrafficListView(QWidget *parent)
    : QListView(parent), m_hoverIn(new QVariantAnimation(this)), m_hoverOut(new QVariantAnimation(this))
{
    useThinScrollBars(this);
    for (QVariantAnimation *animation : {m_hoverIn, m_hoverOut}) {
        animation->setDuration(HoverMs);
        animation->setEasingCurve(QEasingCurve::OutCubic);
    }
    connect(m_hoverIn, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_in = value.toReal();
        repaintRow(m_hovered);
    });
    connect(m_hoverOut, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_out = value.toReal();
        repaintRow(m_leaving);
    });
    setFrameShape(QFrame::NoFrame);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_Hover);
    viewport()->setAutoFillBackground(false);
    // The list fills its own area with the card colour, so a repaint of rows never repaints the
    // card and the window behind it.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    QPalette clear = palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    setPalette(clear);
    setAutoFillBackground(false);
    setViewportMargins(0, 4, 0, 4);
    m_keys = KeyboardRows::install(this, {[this](const QModelIndex &index) {
                                              if (m_open)
                                                  m_open(index);
                                              else
                                                  openMenu(index);
                                          },
                                          {}, [this](const QModelIndex &index) { openMenu(index); }});
}

void TrafficListView::openMenu(const QModelIndex &index)
{
    if (m_menu && index.isValid())
        m_menu->openAt(viewport()->mapTo(this, visualRect(index).center()));
}

void TrafficListView::paintKeyboardRing(QPainter &painter, const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (KeyboardRows::ringsRow(option.widget, index))
        KeyboardReach::paintRing(painter, option.widget, QRectF(option.rect), traffictable::RowRadius);
}

void TrafficListView::paintEvent(QPaintEvent *event)
{
    {
        // The card colour may be translucent: it lies over the window's background, as on the card.
        QPainter p(viewport());
        const Palette palette = Palette::of(this);
        p.fillRect(event->rect(), palette.background);
        p.fillRect(event->rect(), palette.card);
    }
    QListView::paintEvent(event);
}

qreal TrafficListView::hoverLevel(const QModelIndex &index) const
{
    if (!index.isValid())
        return 0;
    if (index == m_hovered)
        return m_in;
    if (index == m_leaving)
        return m_out;
    return 0;
}

void TrafficListView::repaintRow(const QPersistentModelIndex &index)
{
    if (index.isValid())
        viewport()->update(visualRect(index));
}

void TrafficListView::hoverRow(const QModelIndex &index)
{
    if (index == m_hovered)
        return;
    m_hoverOut->stop();
    repaintRow(m_leaving);
    m_leaving = m_hovered;
    m_out = m_in;
    m_hoverOut->setStartValue(m_out);
    m_hoverOut->setEndValue(0.0);
    m_hoverOut->start();
    m_hovered = index;
    m_in = 0;
    m_hoverIn->stop();
    m_hoverIn->setStartValue(0.0);
    m_hoverIn->setEndValue(1.0);
    if (index.isValid())
        m_hoverIn->start();
}

void TrafficListView::mouseMoveEvent(QMouseEvent *event)
{
    hoverRow(indexAt(event->position().toPoint()));
    QListView::mouseMoveEvent(event);
}

void TrafficListView::leaveEvent(QEvent *event)
{
    hoverRow({});
    QListView::leaveEvent(event);
}

QModelIndex TrafficListView::rowAt(const QPoint &viewPos) const
{
    return indexAt(viewport()->mapFrom(this, viewPos));
}

void TrafficListView::setReplayMenu(std::function<QString(const QModelIndex &)> idOf, std::function<bool()> enabled,
                                    std::function<void(const QString &)> replay)
{
    m_menu = SnowContextMenu::attach(this, traffictable::MenuWidth,
                                     [this, idOf, enabled, replay](const QPoint &pos) -> QList<SnowMenuItem> {
                                         const QModelIndex row = rowAt(pos);
                                         const QString id = row.isValid() ? idOf(row) : QString();
                                         if (id.isEmpty())
                                             return {};
                                         return {SnowMenuItem::entry(
                                             QStringLiteral("Replay request"), QStringLiteral("arrow.clockwise"),
                                             [replay, id] { replay(id); }, SnowMenuItem::Tone::normal, false,
                                             !enabled())};
                                     });
    m_menu->setAnchorProvider([this](const QPoint &pos) {
        const QModelIndex row = rowAt(pos);
        return row.isValid() ? visualRect(row).translated(viewport()->mapTo(this, QPoint(0, 0))) : QRect();
    });
}
