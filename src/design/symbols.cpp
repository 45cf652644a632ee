// The symbol-name table and drawing with the Material Icons font.
#include "design/symbols.h"

#include "design/fonts.h"

#include <QColor>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QRawFont>

namespace Symbols {

namespace {

// Codepoints of the Material Icons font (the name it goes by there is noted beside each).
const QHash<QString, char32_t> &table()
{
    static const QHash<QString, char32_t> map = {
        {QStringLiteral("arrow.clockwise"), 0xe5d5},                   // refresh
        {QStringLiteral("arrow.counterclockwise"), 0xe042},            // replay
        {QStringLiteral("arrow.down.circle"), 0xf181},                 // arrow_circle_down
        {QStringLiteral("arrow.down.to.line"), 0xe258},                // vertical_align_bottom
        {QStringLiteral("arrow.right"), 0xe5c8},                       // arrow_forward
        {QStringLiteral("arrow.triangle.2.circlepath"), 0xe627},       // sync
        {QStringLiteral("arrow.triangle.branch"), 0xf184},             // alt_route
        {QStringLiteral("bolt"), 0xea0b},                              // bolt
        {QStringLiteral("bolt.fill"), 0xea0b},                         // bolt
        {QStringLiteral("bolt.horizontal"), 0xe3e7},                   // flash_on
        {QStringLiteral("bolt.trianglebadge.exclamationmark"), 0xe932}, // offline_bolt
        {QStringLiteral("checkmark"), 0xe5ca},                         // check
        {QStringLiteral("checkmark.circle.fill"), 0xe86c},             // check_circle
        {QStringLiteral("checkmark.seal.fill"), 0xef76},               // verified
        {QStringLiteral("checkmark.shield"), 0xe8e8},                  // verified_user
        {QStringLiteral("chevron.down"), 0xe5cf},                      // expand_more
        {QStringLiteral("chevron.left"), 0xe5cb},                      // chevron_left
        {QStringLiteral("chevron.left.forwardslash.chevron.right"), 0xe86f}, // code
        {QStringLiteral("chevron.right"), 0xe5cc},                     // chevron_right
        {QStringLiteral("chevron.up.chevron.down"), 0xe5d7},           // unfold_more
        {QStringLiteral("circle.lefthalf.filled"), 0xeb37},            // contrast
        {QStringLiteral("clock.arrow.circlepath"), 0xe889},            // history
        {QStringLiteral("cpu"), 0xe322},                               // memory
        {QStringLiteral("curlybraces"), 0xead3},                       // data_object
        {QStringLiteral("doc.badge.gearshape"), 0xeaf3},               // file_open
        {QStringLiteral("doc.on.doc"), 0xe14d},                        // content_copy
        {QStringLiteral("dot.radiowaves.left.and.right"), 0xe1e2},     // wifi_tethering
        {QStringLiteral("ellipsis"), 0xe5d3},                          // more_horiz
        {QStringLiteral("exclamationmark.triangle"), 0xf083},          // warning_amber
        {QStringLiteral("exclamationmark.triangle.fill"), 0xe002},     // warning
        {QStringLiteral("eye"), 0xe8f4},                               // visibility
        {QStringLiteral("folder"), 0xe2c7},                            // folder
        {QStringLiteral("gauge.with.dots.needle.33percent"), 0xe9e4},  // speed
        {QStringLiteral("gearshape"), 0xe8b8},                         // settings
        {QStringLiteral("globe"), 0xe894},                             // language
        {QStringLiteral("house"), 0xe88a},                             // home
        {QStringLiteral("info.circle.fill"), 0xe88e},                  // info
        {QStringLiteral("iphone"), 0xe325},                            // phone_iphone
        {QStringLiteral("iphone.slash"), 0xe201},                      // mobile_off
        {QStringLiteral("key"), 0xe73c},                               // key
        {QStringLiteral("line.3.horizontal.decrease.circle"), 0xe152}, // filter_list
        {QStringLiteral("list.bullet"), 0xe241},                       // format_list_bulleted
        {QStringLiteral("list.bullet.rectangle"), 0xe0ee},             // list_alt
        {QStringLiteral("lock.shield"), 0xe32a},                       // security
        {QStringLiteral("magnifyingglass"), 0xe8b6},                   // search
        {QStringLiteral("minus"), 0xe15b},                             // remove
        {QStringLiteral("minus.circle"), 0xe15d},                      // remove_circle_outline
        {QStringLiteral("moon"), 0xe51c},                              // dark_mode
        {QStringLiteral("network"), 0xeb2f},                           // lan
        {QStringLiteral("pause.circle"), 0xe036},                      // pause_circle_outline
        {QStringLiteral("pause.fill"), 0xe034},                        // pause
        {QStringLiteral("pencil"), 0xe3c9},                            // edit
        {QStringLiteral("person"), 0xe7fd},                            // person
        {QStringLiteral("play.circle"), 0xe039},                       // play_circle_outline
        {QStringLiteral("play.fill"), 0xe037},                         // play_arrow
        {QStringLiteral("play.rectangle"), 0xe41b},                    // slideshow
        {QStringLiteral("plus"), 0xe145},                              // add
        {QStringLiteral("plus.square.on.square"), 0xe02e},             // library_add
        {QStringLiteral("rectangle.grid.2x2"), 0xe9b0},                // grid_view
        {QStringLiteral("sidebar.right"), 0xf114},                     // view_sidebar
        {QStringLiteral("slider.horizontal.3"), 0xe429},               // tune
        {QStringLiteral("sparkle"), 0xe3e4},                           // flare
        {QStringLiteral("sparkles"), 0xe65f},                          // auto_awesome
        {QStringLiteral("square.and.arrow.down"), 0xe171},             // save_alt
        {QStringLiteral("square.and.arrow.up"), 0xe6b8},               // ios_share
        {QStringLiteral("square.and.pencil"), 0xe745},                 // edit_note
        {QStringLiteral("stop.fill"), 0xe047},                         // stop
        {QStringLiteral("sun.max"), 0xe518},                           // light_mode
        {QStringLiteral("tornado"), 0xe199},                           // tornado
        {QStringLiteral("tortoise.fill"), 0xe068},                     // slow_motion_video
        {QStringLiteral("tray.and.arrow.down"), 0xe168},               // move_to_inbox
        {QStringLiteral("trash"), 0xe92e},                             // delete_outline
        {QStringLiteral("waveform"), 0xe1b8},                          // graphic_eq
        {QStringLiteral("waveform.path.ecg"), 0xeaa2},                 // monitor_heart
        {QStringLiteral("wifi"), 0xe63e},                              // wifi
        {QStringLiteral("wifi.exclamationmark"), 0xf063},              // signal_wifi_bad
        {QStringLiteral("xmark"), 0xe5cd},                             // close
        {QStringLiteral("xmark.circle.fill"), 0xe5c9},                 // cancel
    };
    return map;
}

} // namespace

char32_t codepoint(const QString &name)
{
    return table().value(name, 0);
}

bool contains(const QString &name)
{
    return table().contains(name);
}

QStringList names()
{
    QStringList list = table().keys();
    list.sort();
    return list;
}

QString fontFamily()
{
    return QStringLiteral("Material Icons");
}

qreal glyphPixelSize(qreal textSize)
{
    return textSize * 1.2;
}

QFont font(qreal textSize)
{
    Fonts::inter(textSize); // makes sure the bundled fonts are registered
    QFont f(fontFamily());
    f.setPixelSize(qMax(1, qRound(glyphPixelSize(textSize))));
    f.setStyleStrategy(QFont::NoFontMerging);
    return f;
}

qreal inkShare(const QString &name)
{
    static QHash<char32_t, qreal> measured;
    const char32_t code = codepoint(name);
    if (code == 0)
        return 0;
    if (const auto found = measured.constFind(code); found != measured.constEnd())
        return found.value();
    constexpr qreal Reference = 240;
    QFont reference = font(Reference / 1.2);
    reference.setPixelSize(int(Reference));
    const QRawFont raw = QRawFont::fromFont(reference);
    const QList<quint32> glyphs = raw.glyphIndexesForString(QString::fromUcs4(&code, 1));
    qreal share = 0;
    if (!glyphs.isEmpty() && glyphs.first() != 0) {
        const QRectF ink = raw.pathForGlyph(glyphs.first()).boundingRect();
        share = std::max(ink.width(), ink.height()) / Reference;
    }
    // A glyph that can't be measured is drawn as most Material glyphs are laid out: 20 of 24 units.
    if (share < 0.05)
        share = 20.0 / 24.0;
    measured.insert(code, share);
    return share;
}

QFont font(const QString &name, qreal textSize)
{
    QFont f = font(textSize);
    const qreal share = inkShare(name);
    if (share > 0)
        f.setPixelSize(qMax(1, qRound(textSize / share)));
    return f;
}

void draw(QPainter &painter, const QRectF &rect, const QString &name, qreal textSize, const QColor &color)
{
    const char32_t code = codepoint(name);
    if (code == 0)
        return;
    painter.save();
    painter.setFont(font(name, textSize));
    painter.setPen(color);
    painter.drawText(rect, Qt::AlignCenter, QString::fromUcs4(&code, 1));
    painter.restore();
}

} // namespace Symbols
