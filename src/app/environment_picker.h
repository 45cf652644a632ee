// The header's select box that shows and switches the active environment.
#pragma once

#include "app/app_context.h"
#include "design/snow_menu_item.h"

#include <QWidget>

class SnowSelect;

class EnvironmentPicker final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int BoxWidth = 168;
    // The narrowest the header makes it while it shows the name, shortened; past that it shows its icon alone.
    static constexpr int LeastWidth = 120;

    explicit EnvironmentPicker(const AppContext &context, QWidget *parent = nullptr);

    void setBoxWidth(int width);
    // The icon and chevron alone, the name then being the tooltip.
    void setIconOnly(bool iconOnly);
    bool isIconOnly() const;

    // The menu as it would open now, and the label shown.
    QList<SnowMenuItem> envItems() const;
    QString activeName() const;
    SnowSelect *select() const { return m_select; }

private:
    void refresh();

    AppContext m_context;
    SnowSelect *m_select;
};
