// The tab bar.
#include "design/tab_bar.h"

#include "design/animated_flag.h"
#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/palette.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>

namespace {

QFont tabFont(bool selected)
{
    return Fonts::inter(13, selected ? QFont::DemiBold : QFont::Medium);
}

} // namespace

TabBar::TabBar(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TabBar::setItems(const QList<Item> &items)
{
    m_items = items;
    qDeleteAll(m_tabs);
    m_tabs.clear();
    auto *row = static_cast<QHBoxLayout *>(layout());
    for (const Item &item : m_items) {
        auto *tab = new TabBarTab(item.label, this);
        const QVariant value = item.value;
        connect(tab, &TabBarTab::clicked, this, [this, value] {
            m_selection = value;
            refreshTabs(true);
            emit selectionEdited(value);
        });
        row->addWidget(tab, 0, Qt::AlignVCenter);
        m_tabs.append(tab);
    }
    refreshTabs(false);
}

void TabBar::setSelection(const QVariant &value)
{
    m_selection = value;
    refreshTabs(true);
}

int TabBar::tabCount() const
{
    return int(m_tabs.size());
}

TabBarTab *TabBar::tab(int index) const
{
    return index >= 0 && index < m_tabs.size() ? m_tabs[index] : nullptr;
}

void TabBar::refreshTabs(bool animate)
{
    for (int i = 0; i < m_tabs.size(); ++i)
        m_tabs[i]->setSelected(m_selection.isValid() && m_items[i].value == m_selection, animate);
}

TabBarTab::TabBarTab(const QString &label, QWidget *parent)
    : QWidget(parent), m_label(label), m_selected(new AnimatedFlag(this, 160, QEasingCurve::InOutQuad))
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

bool TabBarTab::isSelected() const
{
    return m_selected->value();
}

void TabBarTab::setSelected(bool selected, bool animate)
{
    if (selected == m_selected->value())
        return;
    if (animate)
        m_selected->set(selected);
    else
        m_selected->jump(selected);
}

QSize TabBarTab::sizeHint() const
{
    const QFontMetrics fm(tabFont(true));
    return {fm.horizontalAdvance(m_label) + 1, fm.height() + Spacing + UnderlineHeight};
}

void TabBarTab::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void TabBarTab::mouseReleaseEvent(QMouseEvent *event)
{
    const bool wasPressed = m_pressed;
    m_pressed = false;
    event->accept();
    if (wasPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

void TabBarTab::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const qreal t = m_selected->progress();
    const int textHeight = height() - Spacing - UnderlineHeight;
    p.setFont(tabFont(m_selected->value()));
    p.setPen(blendColors(palette.mutedForeground, palette.accentText(), t));
    p.drawText(QRect(0, 0, width(), textHeight), Qt::AlignCenter, m_label);
    const QRectF underline(0, height() - UnderlineHeight, width(), UnderlineHeight);
    p.fillPath(roundedRectPath(underline, UnderlineHeight / 2.0), withOpacity(palette.accentText(), t));
}
