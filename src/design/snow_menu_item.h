// The one menu-entry record shared by every menu, dropdown, select and context menu.
#pragma once

#include <QColor>
#include <QString>
#include <QUuid>

#include <functional>

struct Palette;

struct SnowMenuItem final
{
    enum class Tone { normal, accent, destructive };

    QUuid id = QUuid::createUuid();
    QString title;
    QString icon; // platform symbol name; empty for none
    bool checked = false;
    Tone tone = Tone::normal;
    bool isDivider = false;
    bool isHeader = false;
    bool disabled = false;
    std::function<void()> action;

    static SnowMenuItem entry(const QString &title, const QString &icon, std::function<void()> action,
                              Tone tone = Tone::normal, bool checked = false, bool disabled = false);
    static SnowMenuItem divider();
    static SnowMenuItem header(const QString &title);

    // Dividers win over headers; both take no click.
    bool isClickable() const { return !isDivider && !isHeader && !disabled; }
};

// Title colour of an entry; the icon of a normal entry stays muted.
QColor snowMenuToneColor(SnowMenuItem::Tone tone, const Palette &palette);
QColor snowMenuIconColor(SnowMenuItem::Tone tone, const Palette &palette);
