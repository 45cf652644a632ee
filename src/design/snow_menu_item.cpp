// Menu entry constructors and the tone colours.
#include "design/snow_menu_item.h"

#include "design/palette.h"

SnowMenuItem SnowMenuItem::entry(const QString &title, const QString &icon, std::function<void()> action, Tone tone,
                                 bool checked, bool disabled)
{
    SnowMenuItem item;
    item.title = title;
    item.icon = icon;
    item.action = std::move(action);
    item.tone = tone;
    item.checked = checked;
    item.disabled = disabled;
    return item;
}

SnowMenuItem SnowMenuItem::divider()
{
    SnowMenuItem item;
    item.isDivider = true;
    item.action = [] {};
    return item;
}

SnowMenuItem SnowMenuItem::header(const QString &title)
{
    SnowMenuItem item;
    item.title = title;
    item.isHeader = true;
    item.action = [] {};
    return item;
}

QColor snowMenuToneColor(SnowMenuItem::Tone tone, const Palette &palette)
{
    switch (tone) {
    case SnowMenuItem::Tone::accent:
        return palette.accentText();
    case SnowMenuItem::Tone::destructive:
        return palette.errorRed();
    case SnowMenuItem::Tone::normal:
        break;
    }
    return palette.foreground;
}

QColor snowMenuIconColor(SnowMenuItem::Tone tone, const Palette &palette)
{
    return tone == SnowMenuItem::Tone::normal ? palette.mutedForeground : snowMenuToneColor(tone, palette);
}
