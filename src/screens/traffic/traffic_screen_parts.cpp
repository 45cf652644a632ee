// Column, toolbar pieces and the keyed empty-state widget of the traffic screens.
#include "screens/traffic/traffic_screen_parts.h"

#include "design/fonts.h"
#include "design/ks_button.h"
#include "design/palette.h"
#include "design/search_field.h"
#include "design/snow_text.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

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
    row->setSpacing(12);
    if (filter) {
        filter->setPlaceholder(QStringLiteral("Filter by path, host, status\u2026"));
        filter->setMaximumWidth(340);
        row->addWidget(filter, 1);
    }
    return row;
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
