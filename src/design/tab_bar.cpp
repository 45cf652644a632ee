// The tab bar.
#include "design/tab_bar.h"

#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/keyboard_reach.h"
#include "design/palette.h"

#include <QFontMetrics>
#include <QPainter>

namespace {

QFont tabFont(bool selected)
{
    return Fonts::inter(13, selected ? QFont::DemiBold : QFont::Medium);
}

} // namespace

TabBar::TabBar(QWidget *parent) : ChipRow(16 - 2 * TabBarTab::RingRoomX, parent) {}

void TabBar::setItems(const QList<Item> &items)
{
    m_items = items;
    clearChips();
    for (const Item &item : m_items)
        addChip(new TabBarTab(item.label, this), item.value, Qt::AlignVCenter);
    refreshChips(false);
}

TabBarTab *TabBar::tab(int index) const
{
    return static_cast<TabBarTab *>(chipInRow(index));
}

TabBarTab::TabBarTab(const QString &label, QWidget *parent) : SelectableChip(160, parent), m_label(label) {}

QSize TabBarTab::sizeHint() const
{
    const QFontMetrics fm(tabFont(true));
    return {fm.horizontalAdvance(m_label) + 1 + 2 * RingRoomX, fm.height() + Spacing + UnderlineHeight + 2 * RingRoomY};
}

void TabBarTab::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const qreal t = selectedProgress();
    const QRect content = rect().adjusted(RingRoomX, RingRoomY, -RingRoomX, -RingRoomY);
    const int textHeight = content.height() - Spacing - UnderlineHeight;
    p.setFont(tabFont(isSelected()));
    p.setPen(blendColors(palette.mutedForeground, palette.accentText(), t));
    p.drawText(QRect(content.left(), content.top(), content.width(), textHeight), Qt::AlignCenter, m_label);
    const QRectF underline(content.left(), content.bottom() + 1 - UnderlineHeight, content.width(), UnderlineHeight);
    p.fillPath(roundedRectPath(underline, UnderlineHeight / 2.0), withOpacity(palette.accentText(), t));
    KeyboardReach::paintRing(p, this, QRectF(rect()), 4);
}
