// Text styles and registration of the bundled font files.
#include "design/fonts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFontDatabase>
#include <QSet>

namespace Fonts {

namespace {

// Qt's font engines only load whole pixel sizes (a point size is rounded the same way), so a fractional
// size such as the 9.5 of upper-case tags is drawn at the nearest pixel.
int toPixels(qreal size)
{
    return qMax(1, qRound(size));
}

void ensureRegistered()
{
    static const bool done = [] {
        registerApplicationFonts();
        return true;
    }();
    Q_UNUSED(done);
}

} // namespace

QString resourcesDir()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/resources");
}

int registerApplicationFonts(const QString &dir)
{
    static QSet<QString> registeredFiles;
    const QDir folder(dir.isEmpty() ? resourcesDir() : dir);
    int count = 0;
    const QStringList files = folder.entryList({QStringLiteral("*.ttf")}, QDir::Files, QDir::Name);
    for (const QString &name : files) {
        const QString path = folder.absoluteFilePath(name);
        if (registeredFiles.contains(path))
            continue;
        if (QFontDatabase::addApplicationFont(path) >= 0) {
            registeredFiles.insert(path);
            ++count;
        } else {
            qWarning("Could not register font %s", qPrintable(path));
        }
    }
    return count;
}

QFont inter(qreal pixelSize, QFont::Weight weight, qreal tracking)
{
    ensureRegistered();
    QFont font(QStringLiteral("Inter"));
    font.setPixelSize(toPixels(pixelSize));
    font.setWeight(weight);
    if (tracking != 0)
        font.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    return font;
}

QFont mono(qreal pixelSize, QFont::Weight weight, qreal tracking)
{
    // The bundled face, so code looks the same on every machine whatever "monospace" resolves to.
    ensureRegistered();
    QFont font(QStringLiteral("JetBrains Mono"));
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(toPixels(pixelSize));
    font.setWeight(weight);
    if (tracking != 0)
        font.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    return font;
}

QFont ksGreeting()
{
    static const QFont font = inter(18, QFont::DemiBold);
    return font;
}

QFont ksStat()
{
    static const QFont font = inter(24, QFont::DemiBold);
    return font;
}

QFont ksSection()
{
    static const QFont font = inter(14, QFont::DemiBold);
    return font;
}

QFont ksBody()
{
    static const QFont font = inter(13, QFont::Normal);
    return font;
}

QFont ksMeta()
{
    static const QFont font = inter(12, QFont::Normal);
    return font;
}

QFont ksCode()
{
    static const QFont font = mono(12);
    return font;
}

QFont ksCodeSm()
{
    static const QFont font = mono(11);
    return font;
}

} // namespace Fonts
