// The colour set every control paints from, its two instances, the accent colours and how a widget finds the one in force.
#pragma once

#include <QColor>
#include <QMetaType>

class QWidget;

struct Palette final
{
    QColor background;
    QColor content;
    QColor card;
    QColor elevated;
    QColor muted;
    QColor mutedStrong;
    QColor subtle;
    QColor mutedForeground;
    QColor faint;
    QColor foreground;
    QColor border;
    QColor borderStrong;
    QColor inputBackground;
    QColor switchOff;
    QColor shadow;
    QColor pillActiveBg;
    QColor pillActiveText;
    QColor sidebarBg;
    QColor railBg;
    QColor tableHeader;
    QColor brand;
    QColor brandHover;
    QColor onBrand;
    bool isDark = false;

    static const Palette &light();
    static const Palette &dark();

    // Accent colours, the same in both appearances.
    static QColor purple();
    static QColor indigo();
    static QColor blue();
    static QColor cyan();
    static QColor mint();
    static QColor green();
    static QColor yellow();
    static QColor orange();
    static QColor red();
    static QColor bg3();
    static QColor bg4();
    static QColor primary() { return indigo(); }
    static QColor amber() { return yellow(); }
    static QColor danger() { return red(); }
    static QColor success() { return green(); }

    // Accent on a neutral surface: indigo when dark, black when light.
    QColor accentText() const;
    // Destructive text and form error lines: #FF6B6B when dark, #E03131 when light.
    QColor errorRed() const;
    // Text and icons on a pastel accent fill: black at 0.75.
    static QColor pastelInk();

    // The palette in force for a widget: the nearest of it and its ancestors that carries one
    // (see PaletteHost), else Palette::light().
    static Palette of(const QWidget *widget);

    bool operator==(const Palette &other) const = default;
};

Q_DECLARE_METATYPE(Palette)

// A widget becomes a palette host by carrying the dynamic property "ksPalette" (a Palette in a QVariant).
// set() writes it, then sends changedEventType() to the host and every descendant widget and repaints
// them, so controls that style child widgets (line edits, labels) can restyle in event().
namespace PaletteHost {
void set(QWidget *host, const Palette &palette);
void clear(QWidget *host);
// The custom event sent to every widget of the tree after the palette of a host changed.
int changedEventType();
inline constexpr char propertyName[] = "ksPalette";
} // namespace PaletteHost

// A colour linearly between a (t = 0) and b (t = 1), alpha included; used for hover transitions.
QColor blendColors(const QColor &a, const QColor &b, qreal t);

// A colour with its alpha multiplied by the factor (opacity applied to an already translucent colour).
QColor withOpacity(const QColor &color, qreal opacity);
