// The stable colour of a project, picked from eight swatches by a hash of its name.
#pragma once

#include <QByteArrayView>
#include <QColor>
#include <QList>
#include <QString>

namespace ProjectColor {

// indigo, blue, mint, green, purple, orange, cyan, yellow.
const QList<QColor> &swatches();

// djb2 over the name's UTF-8 bytes, wrapping at 64 bits, modulo the swatch count.
int swatchIndex(QByteArrayView utf8);

QColor color(const QString &name);

} // namespace ProjectColor
