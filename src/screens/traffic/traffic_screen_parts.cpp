// Column, toolbar pieces and the keyed empty-state widget of the traffic screens.
#include "screens/traffic/traffic_screen_parts.h"

#include "design/fonts.h"
#include "design/ks_button.h"
#include "design/palette.h"
#include "design/search_field.h"
#include "design/snow_text.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace {

constexpr int ToolbarSpacing = 12;

} // namespace

namespace trafficparts {

QVBoxLayout *screenColumn(QWidget *owner)
{
    auto *column = new QVBoxLayout(owner);
    column->setContentsMargins(24, 8, 24, 24);
    column->setSpacing(16);
    return column;
}

QHBoxLayout *toolbar(SearchField *filter)
{
    auto *row = new QHBoxLayout;
    row->setSpacing(ToolbarSpacing);
    if (filter) {
        setUpFilter(filter);
        row->addWidget(filter, 1);
    }
    return row;
}

void setUpFilter(SearchField *filter)
{
    filter->setPlaceholder(QStringLiteral("Filter by path, host, status\u2026"));
    filter->setMaximumWidth(340);
}

SnowText *countCaption(const QString &text, QWidget *parent)
{
    return new SnowText(text, Fonts::ksMeta(), [](const Palette &p) { return p.mutedForeground; }, parent);
}

SecondaryButton *refreshButton(std::function<void()> action, QWidget *parent)
{
    return new SecondaryButton(QStringLiteral("Refresh"), QStringLiteral("arrow.clockwise"), false, KSButton::Size::md,
                               false, false, std::move(action), parent);
}

SecondaryButton *clearButton(std::function<void()> action, QWidget *parent)
{
    return new SecondaryButton(QStringLiteral("Clear"), QStringLiteral("trash"), true, KSButton::Size::md, false,
                               false, std::move(action), parent);
}

} // namespace trafficparts

TrafficToolbar::TrafficToolbar(SearchField *filter, QWidget *parent)
    : QWidget(parent)
    , m_filter(filter)
    , m_top(new QHBoxLayout)
    , m_below(new QHBoxLayout)
    , m_actions(new QHBoxLayout)
{
    auto *rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(8);
    rows->addLayout(m_top);
    rows->addLayout(m_below);
    m_top->setSpacing(ToolbarSpacing);
    m_actions->setSpacing(ToolbarSpacing);
    trafficparts::setUpFilter(filter);
    m_top->addWidget(filter, 1);
    // Stretch 0: the gap only takes what the filter, at its widest, leaves.
    m_top->addStretch(0);
    m_top->addLayout(m_actions);
    m_below->addStretch(1);
}

void TrafficToolbar::addLeading(QLayout *group)
{
    // After the filter and the groups before it, ahead of the gap.
    m_top->insertLayout(1 + m_leadingGroups++, group);
    fit();
}

void TrafficToolbar::addAction(QWidget *action)
{
    m_actions->addWidget(action);
    fit();
}

int TrafficToolbar::leadingMinimumWidth() const
{
    int width = 0;
    for (int i = 0; i < m_top->count(); ++i) {
        QLayoutItem *item = m_top->itemAt(i);
        if (item->layout() == m_actions || item->isEmpty())
            continue;
        if (width > 0)
            width += m_top->spacing();
        width += item->widget() == m_filter ? item->minimumSize().width() : item->sizeHint().width();
    }
    return width;
}

QSize TrafficToolbar::minimumSizeHint() const
{
    const QMargins margins = contentsMargins();
    return {qMax(leadingMinimumWidth(), m_actions->sizeHint().width()) + margins.left() + margins.right(),
            QWidget::minimumSizeHint().height()};
}

void TrafficToolbar::fit()
{
    const int oneRow = leadingMinimumWidth() + m_top->spacing() + m_actions->sizeHint().width();
    const bool below = contentsRect().width() < oneRow;
    if (below == m_actionsBelow)
        return;
    m_actionsBelow = below;
    QHBoxLayout *from = below ? m_top : m_below;
    QHBoxLayout *to = below ? m_below : m_top;
    from->removeItem(m_actions);
    m_actions->setParent(nullptr);
    to->addLayout(m_actions);
}

void TrafficToolbar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fit();
}

bool KeyedContent::rebuild(const QString &key)
{
    if (key == m_key && m_content)
        return false;
    m_key = key;
    delete m_content;
    return true;
}

void KeyedContent::show(QWidget *page, QWidget *content)
{
    m_content = content;
    page->layout()->addWidget(content);
}
