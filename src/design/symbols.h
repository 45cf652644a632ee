// Platform symbol names ("gearshape", "arrow.down.circle") drawn as Material Icons glyphs.
#pragma once

#include <QFont>
#include <QRectF>
#include <QString>
#include <QStringList>

class QColor;
class QPainter;

namespace Symbols {

// The glyph standing in for a symbol name, 0 when the name is unknown.
char32_t codepoint(const QString &name);
bool contains(const QString &name);
// Every mapped name, sorted.
QStringList names();

// The icon font's family ("Material Icons") and the font at the pixel size that matches text of textSize.
QString fontFamily();
QFont font(qreal textSize);
// Pixel size of the icon font for a symbol shown beside text of textSize: Material glyphs sit in a
// padded square, so they are drawn a fifth larger than the text to look the same weight.
qreal glyphPixelSize(qreal textSize);

// How much of the icon font's em square the symbol's ink fills along its longer side (0 when unknown).
qreal inkShare(const QString &name);
// The icon font at the size at which this symbol's ink is textSize pixels along its longer side, as
// a symbol beside text of that size looks; Material glyphs leave differing margins in their square.
QFont font(const QString &name, qreal textSize);

// Draws the symbol centred in rect, its ink textSize pixels along its longer side, in the colour;
// an unknown name draws nothing.
void draw(QPainter &painter, const QRectF &rect, const QString &name, qreal textSize, const QColor &color);

} // namespace Symbols
