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

// Draws the symbol centred in rect at the given text size and colour; an unknown name draws nothing.
void draw(QPainter &painter, const QRectF &rect, const QString &name, qreal textSize, const QColor &color);

} // namespace Symbols
