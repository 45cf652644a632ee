// Every symbol name the application draws has a Material Icons glyph, and the glyph is in the font.
#include "design/symbols.h"

#include "design/fonts.h"
#include "support/test_support.h"

#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRawFont>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

namespace {

// Every symbol name the screens, sheets and controls of the application ask for.
const QStringList &screenSymbolNames()
{
    static const QStringList names = {
        "arrow.clockwise", "arrow.counterclockwise", "arrow.down.circle", "arrow.down.to.line", "arrow.right",
        "arrow.triangle.2.circlepath", "arrow.triangle.branch", "bolt", "bolt.fill", "bolt.horizontal",
        "bolt.trianglebadge.exclamationmark", "checkmark", "checkmark.circle.fill", "checkmark.seal.fill",
        "checkmark.shield", "chevron.down", "chevron.left", "chevron.left.forwardslash.chevron.right",
        "chevron.right", "chevron.up.chevron.down", "circle.lefthalf.filled", "clock.arrow.circlepath", "cpu",
        "curlybraces", "doc.badge.gearshape", "doc.on.doc", "dot.radiowaves.left.and.right", "ellipsis",
        "exclamationmark.triangle", "exclamationmark.triangle.fill", "eye", "folder",
        "gauge.with.dots.needle.33percent", "gearshape", "globe", "house", "info.circle.fill", "iphone",
        "iphone.slash", "key", "line.3.horizontal.decrease.circle", "list.bullet", "list.bullet.rectangle",
        "lock.shield", "magnifyingglass", "minus", "minus.circle", "moon", "network", "pause.circle", "pause.fill",
        "pencil", "person", "play.circle", "play.fill", "play.rectangle", "plus", "plus.square.on.square",
        "rectangle.grid.2x2", "sidebar.right", "slider.horizontal.3", "sparkle", "sparkles",
        "square.and.arrow.down", "square.and.arrow.up", "square.and.pencil", "stop.fill", "sun.max", "tornado",
        "tortoise.fill", "tray.and.arrow.down", "trash", "waveform", "waveform.path.ecg", "wifi",
        "wifi.exclamationmark", "xmark", "xmark.circle.fill",
    };
    return names;
}

// Dotted texts in the sources that are not symbols: bundle ids, keychains, file and host names.
bool isDottedNonSymbol(const QString &text)
{
    static const QSet<QString> extensions = {"json", "pem", "crt", "key", "yaml", "yml", "har", "kestrion",
                                              "txt", "log", "png", "ttf", "ini", "conf", "keychain", "sh",
                                              "cpp", "h", "html", "js", "jpg", "svg", "xml", "csv", "der",
                                              // host names in placeholders and samples
                                              "com", "dev", "test", "net", "io", "local"};
    return text.startsWith(QLatin1String("com.")) || text.startsWith(QLatin1String("org."))
        || text.startsWith(QLatin1String("ks.")) || extensions.contains(text.section(QLatin1Char('.'), -1));
}

// Symbol names written in one source text: literals handed to Symbols, to an icon or symbol
// parameter or field, and every dotted lower-case literal that is not a file name or bundle id.
QSet<QString> symbolNamesIn(const QString &source)
{
    static const QRegularExpression literal(QStringLiteral(R"re("([a-z][a-z0-9]*(?:\.[a-z0-9]+)*)")re"));
    static const QRegularExpression symbolPosition(QStringLiteral(
        R"re((?:Symbols::\w+\([^;]*?|\b(?:icon|symbol|glyphName|systemName)\w*\s*(?:=|:|\()\s*(?:QStringLiteral\(|QLatin1String\(|u)?)"([a-z][a-z0-9]*(?:\.[a-z0-9]+)*)")re"));
    static const QRegularExpression dotted(QStringLiteral(R"(^[a-z]+(?:\.[a-z0-9]+)+$)"));
    QSet<QString> names;
    for (const auto &m : symbolPosition.globalMatch(source))
        names.insert(m.captured(1));
    for (const auto &m : literal.globalMatch(source)) {
        const QString text = m.captured(1);
        if (dotted.match(text).hasMatch() && !isDottedNonSymbol(text))
            names.insert(text);
    }
    return names;
}

// The same over every source file of the application except the symbol table itself.
QSet<QString> symbolNamesInSources()
{
    QSet<QString> names;
    QDirIterator files(testsupport::sourceDir() + QStringLiteral("/src"), {"*.cpp", "*.h"}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        if (path.endsWith(QLatin1String("/design/symbols.cpp")) || path.endsWith(QLatin1String("/design/symbols.h")))
            continue;
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            names.unite(symbolNamesIn(QString::fromUtf8(file.readAll())));
    }
    return names;
}

} // namespace

TEST(Symbols, EveryNameTheScreensUseIsMapped)
{
    for (const QString &name : screenSymbolNames())
        EXPECT_TRUE(Symbols::contains(name)) << "no glyph for " << name.toStdString();
}

TEST(Symbols, SourceWalkFindsNamesInSymbolPositions)
{
    const QString source = QStringLiteral(R"(
        Symbols::draw(p, rect, QStringLiteral("not.a.glyph"), 12, color);
        item.icon = QStringLiteral("bogus");
        auto *tag = new SnowTag(QStringLiteral("watching"), SnowTag::Tone::success, QStringLiteral("eye"));
        const QString file = QStringLiteral("routes.json");
        const QString id = QStringLiteral("com.apple.iphonesimulator");
        return QStringLiteral("chevron.right");
    )");
    const QSet<QString> names = symbolNamesIn(source);
    EXPECT_TRUE(names.contains(QStringLiteral("not.a.glyph")));
    EXPECT_TRUE(names.contains(QStringLiteral("bogus")));
    EXPECT_TRUE(names.contains(QStringLiteral("chevron.right")));
    EXPECT_FALSE(names.contains(QStringLiteral("routes.json")));
    EXPECT_FALSE(names.contains(QStringLiteral("com.apple.iphonesimulator")));
    EXPECT_FALSE(names.contains(QStringLiteral("watching")));
    EXPECT_FALSE(Symbols::contains(QStringLiteral("bogus")));
}

TEST(Symbols, EveryNameInTheSourcesIsMapped)
{
    const QSet<QString> names = symbolNamesInSources();
    EXPECT_TRUE(names.contains(QStringLiteral("magnifyingglass"))) << "the source walk found nothing";
    for (const QString &name : names)
        EXPECT_TRUE(Symbols::contains(name)) << "no glyph for " << name.toStdString() << " used in src/";
}

TEST(Symbols, EveryGlyphIsInTheIconFont)
{
    const QRawFont font(Fonts::resourcesDir() + QStringLiteral("/MaterialIcons-Regular.ttf"), 24);
    ASSERT_TRUE(font.isValid());
    for (const QString &name : Symbols::names())
        EXPECT_TRUE(font.supportsCharacter(Symbols::codepoint(name))) << name.toStdString();
}

TEST(Symbols, UnknownNamesDrawNothing)
{
    EXPECT_EQ(Symbols::codepoint(QStringLiteral("no.such.symbol")), 0u);
    QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        Symbols::draw(p, QRectF(0, 0, 32, 32), QStringLiteral("no.such.symbol"), 20, Qt::black);
    }
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ASSERT_EQ(qAlpha(image.pixel(x, y)), 0);
}

TEST(Symbols, KnownNamesDrawCentredInk)
{
    QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        Symbols::draw(p, QRectF(0, 0, 32, 32), QStringLiteral("plus"), 20, Qt::black);
    }
    // The plus sign's crossing sits at the middle of the rectangle.
    EXPECT_GT(qAlpha(image.pixel(16, 16)), 128);
    EXPECT_EQ(qAlpha(image.pixel(1, 1)), 0);
}

namespace {

// The drawn ink's bounding box (pixels with any coverage) of a symbol drawn at textSize.
QRect inkOf(const QString &name, qreal textSize)
{
    QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        Symbols::draw(p, QRectF(0, 0, 64, 64), name, textSize, Qt::black);
    }
    QRect ink;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 64)
                ink |= QRect(x, y, 1, 1);
    return ink;
}

} // namespace

TEST(Symbols, InkMatchesTheAskedSizeWhateverTheGlyphsMargins)
{
    // The header's arrows, the proxy chip's chevron, the assistant's sparkle, a wide and a square glyph.
    const struct { const char *name; qreal size; } cases[] = {
        {"chevron.left", 12}, {"chevron.right", 12}, {"chevron.down", 8}, {"sparkle", 13},
        {"ellipsis", 14},     {"gearshape", 13},     {"sidebar.right", 14},
    };
    for (const auto &c : cases) {
        const QRect ink = inkOf(QString::fromLatin1(c.name), c.size);
        const int longer = std::max(ink.width(), ink.height());
        EXPECT_NEAR(longer, c.size, 1.5) << c.name << " draws " << ink.width() << "x" << ink.height();
        EXPECT_NEAR(ink.center().x(), 32, 1.5) << c.name << " stays centred";
    }
}
