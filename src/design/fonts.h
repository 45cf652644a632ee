// The text styles ("Inter" at explicit pixel sizes, the bundled "JetBrains Mono" for code) and font registration.
#pragma once

#include <QFont>
#include <QString>

namespace Fonts {

// Registers every "*.ttf" in <dir>/ (default: <application dir>/resources) with the font database.
// Returns how many files were registered; later calls for the same folder register nothing again.
int registerApplicationFonts(const QString &dir = {});

// The folder registerApplicationFonts() reads by default.
QString resourcesDir();

// "Inter" at a pixel size (fractional sizes round to the nearest pixel) and weight, with letter spacing in pixels.
QFont inter(qreal pixelSize, QFont::Weight weight = QFont::Normal, qreal tracking = 0);

// The bundled code font "JetBrains Mono" at a pixel size and weight.
QFont mono(qreal pixelSize, QFont::Weight weight = QFont::Normal, qreal tracking = 0);

QFont ksGreeting(); // Inter 18 semibold
QFont ksStat();     // Inter 24 semibold
QFont ksSection();  // Inter 14 semibold
QFont ksBody();     // Inter 13 regular
QFont ksMeta();     // Inter 12 regular
QFont ksCode();     // monospaced 12
QFont ksCodeSm();   // monospaced 11

} // namespace Fonts
