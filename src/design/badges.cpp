// Method badge, tag, status chip, count badge, icon tile and key hint.
#include "design/badges.h"

#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/palette.h"
#include "design/symbols.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QtMath>

namespace {

QSize pillSize(qreal contentWidth, qreal contentHeight, qreal hpad, qreal vpad)
{
    return QSize(qCeil(contentWidth + 2 * hpad), qCeil(contentHeight + 2 * vpad));
}

void fillPill(QPainter &p, const QRectF &rect, qreal radius, const QColor &fill)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.fillPath(roundedRectPath(rect, radius), fill);
}

QFont methodFont()
{
    return Fonts::mono(10, QFont::DemiBold, 0.4);
}

QFont chipFont()
{
    return Fonts::mono(10, QFont::DemiBold);
}

QFont tagFont(bool uppercase)
{
    return uppercase ? Fonts::inter(9.5, QFont::Medium, 0.5) : Fonts::inter(11, QFont::Medium);
}

QFont countFont()
{
    return Fonts::inter(11, QFont::Medium);
}

constexpr qreal ChipBoltSize = 7;
constexpr qreal ChipSpacing = 2;
constexpr qreal TagIconSize = 9;
constexpr qreal TagSpacing = 3;

// Width of the count text with every digit in a cell as wide as the widest digit.
qreal tabularWidth(const QString &text, const QFontMetricsF &fm, qreal digitCell)
{
    qreal w = 0;
    for (const QChar c : text)
        w += c.isDigit() ? digitCell : fm.horizontalAdvance(c);
    return w;
}

qreal widestDigit(const QFontMetricsF &fm)
{
    qreal w = 0;
    for (char c = '0'; c <= '9'; ++c)
        w = qMax(w, fm.horizontalAdvance(QLatin1Char(c)));
    return w;
}

} // namespace

qreal tabularTextWidth(const QString &text, const QFont &font)
{
    const QFontMetricsF fm(font);
    return tabularWidth(text, fm, widestDigit(fm));
}

void drawTabularText(QPainter &painter, const QRectF &rect, const QString &text, const QFont &font)
{
    const QFontMetricsF fm(font);
    const qreal cell = widestDigit(fm);
    painter.setFont(font);
    qreal x = rect.left() + (rect.width() - tabularWidth(text, fm, cell)) / 2;
    for (const QChar ch : text) {
        const qreal w = ch.isDigit() ? cell : fm.horizontalAdvance(ch);
        painter.drawText(QRectF(x, rect.top(), w, rect.height()), Qt::AlignCenter, QString(ch));
        x += w;
    }
}

PillColors methodBadgeColors(const QString &method)
{
    const QColor ink = Palette::pastelInk();
    if (method == QLatin1String("POST"))
        return {Palette::green(), ink};
    if (method == QLatin1String("PUT"))
        return {Palette::orange(), ink};
    if (method == QLatin1String("DELETE"))
        return {Palette::red(), QColor(Qt::white)};
    if (method == QLatin1String("PATCH"))
        return {Palette::purple(), ink};
    if (method == QLatin1String("CONNECT"))
        return {Palette::cyan(), ink};
    return {Palette::blue(), ink};
}

PillColors statusChipColors(qint64 status, bool injected, const Palette &palette)
{
    QColor fill;
    if (injected)
        fill = Palette::yellow();
    else if (status >= 200 && status <= 299)
        fill = Palette::green();
    else if (status >= 300 && status <= 399)
        fill = Palette::cyan();
    else if (status >= 400 && status <= 499)
        fill = Palette::yellow();
    else if (status < 500)
        fill = palette.subtle;
    else
        fill = Palette::red();

    QColor text;
    if (!injected && status >= 500)
        text = QColor(Qt::white);
    else if (status >= 200)
        text = Palette::pastelInk();
    else
        text = palette.mutedForeground;
    return {fill, text};
}

// MethodBadge

MethodBadge::MethodBadge(const QString &method, QWidget *parent) : QWidget(parent), m_method(method)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void MethodBadge::setMethod(const QString &method)
{
    if (method == m_method)
        return;
    m_method = method;
    updateGeometry();
    update();
}

QSize MethodBadge::sizeHint() const
{
    return sizeFor(m_method);
}

QSize MethodBadge::sizeFor(const QString &method)
{
    const QFontMetricsF fm(methodFont());
    return pillSize(fm.horizontalAdvance(method), fm.height(), 5, 2);
}

void MethodBadge::paint(QPainter &p, const QRectF &rect, const QString &method)
{
    p.save();
    const PillColors colors = methodBadgeColors(method);
    fillPill(p, rect, 6, colors.fill);
    p.setFont(methodFont());
    p.setPen(colors.text);
    p.drawText(rect, Qt::AlignCenter, method);
    p.restore();
}

void MethodBadge::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    paint(p, QRectF(rect()), m_method);
}

// SnowTag

SnowTag::SnowTag(const QString &text, Tone tone, const QString &icon, bool uppercase, QWidget *parent)
    : QWidget(parent), m_text(text), m_tone(tone), m_icon(icon), m_uppercase(uppercase)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

PillColors SnowTag::colors(Tone tone, const Palette &palette)
{
    const QColor ink = Palette::pastelInk();
    switch (tone) {
    case Tone::neutral:
        return {palette.subtle, palette.mutedForeground};
    case Tone::brand:
        return {Palette::indigo(), ink};
    case Tone::success:
        return {Palette::green(), ink};
    case Tone::warning:
        return {Palette::yellow(), ink};
    case Tone::error:
        return {Palette::red(), QColor(Qt::white)};
    case Tone::info:
        return {Palette::blue(), ink};
    case Tone::violet:
        return {Palette::purple(), ink};
    }
    return {palette.subtle, palette.mutedForeground};
}

QString SnowTag::shownText() const
{
    return m_uppercase ? m_text.toUpper() : m_text;
}

QFont SnowTag::textFont() const
{
    return tagFont(m_uppercase);
}

void SnowTag::setText(const QString &text)
{
    m_text = text;
    updateGeometry();
    update();
}

void SnowTag::setTone(Tone tone)
{
    m_tone = tone;
    update();
}

void SnowTag::setIcon(const QString &icon)
{
    m_icon = icon;
    updateGeometry();
    update();
}

void SnowTag::setUppercase(bool uppercase)
{
    m_uppercase = uppercase;
    updateGeometry();
    update();
}

QSize SnowTag::sizeHint() const
{
    return sizeFor(m_text, m_icon, m_uppercase);
}

QSize SnowTag::sizeFor(const QString &text, const QString &icon, bool uppercase)
{
    const QFontMetricsF fm(tagFont(uppercase));
    qreal width = fm.horizontalAdvance(uppercase ? text.toUpper() : text);
    qreal height = fm.height();
    if (!icon.isEmpty()) {
        const qreal glyph = Symbols::glyphPixelSize(TagIconSize);
        width += glyph + TagSpacing;
        height = qMax(height, glyph);
    }
    return pillSize(width, height, 7, 3);
}

void SnowTag::paint(QPainter &p, const QRectF &rect, const QString &text, Tone tone, const Palette &palette,
                    const QString &icon, bool uppercase)
{
    p.save();
    const PillColors c = colors(tone, palette);
    fillPill(p, rect, 8, c.fill);
    QRectF content = rect.adjusted(7, 3, -7, -3);
    if (!icon.isEmpty()) {
        const qreal glyph = Symbols::glyphPixelSize(TagIconSize);
        Symbols::draw(p, QRectF(content.left(), content.top(), glyph, content.height()), icon, TagIconSize, c.text);
        content.setLeft(content.left() + glyph + TagSpacing);
    }
    p.setFont(tagFont(uppercase));
    p.setPen(c.text);
    p.drawText(content, Qt::AlignVCenter | Qt::AlignLeft, uppercase ? text.toUpper() : text);
    p.restore();
}

void SnowTag::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    paint(p, QRectF(rect()), m_text, m_tone, Palette::of(this), m_icon, m_uppercase);
}

// StatusChip

StatusChip::StatusChip(qint64 status, bool injected, QWidget *parent)
    : QWidget(parent), m_status(status), m_injected(injected)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void StatusChip::setStatus(qint64 status)
{
    m_status = status;
    updateGeometry();
    update();
}

void StatusChip::setInjected(bool injected)
{
    m_injected = injected;
    updateGeometry();
    update();
}

QSize StatusChip::sizeHint() const
{
    return sizeFor(m_status, m_injected);
}

QSize StatusChip::sizeFor(qint64 status, bool injected)
{
    const QFontMetricsF fm(chipFont());
    qreal width = fm.horizontalAdvance(QString::number(status));
    if (injected)
        width += Symbols::glyphPixelSize(ChipBoltSize) + ChipSpacing;
    return pillSize(width, fm.height(), 6, 2);
}

void StatusChip::paint(QPainter &p, const QRectF &rect, qint64 status, bool injected, const Palette &palette)
{
    p.save();
    const PillColors c = statusChipColors(status, injected, palette);
    fillPill(p, rect, 6, c.fill);
    QRectF content = rect.adjusted(6, 2, -6, -2);
    if (injected) {
        const qreal glyph = Symbols::glyphPixelSize(ChipBoltSize);
        Symbols::draw(p, QRectF(content.left(), content.top(), glyph, content.height()), QStringLiteral("bolt.fill"),
                      ChipBoltSize, c.text);
        content.setLeft(content.left() + glyph + ChipSpacing);
    }
    p.setFont(chipFont());
    p.setPen(c.text);
    p.drawText(content, Qt::AlignVCenter | Qt::AlignLeft, QString::number(status));
    p.restore();
}

void StatusChip::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    paint(p, QRectF(rect()), m_status, m_injected, Palette::of(this));
}

// CountBadge

CountBadge::CountBadge(qint64 count, QWidget *parent) : QWidget(parent), m_count(count)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void CountBadge::setCount(qint64 count)
{
    m_count = count;
    updateGeometry();
    update();
}

QSize CountBadge::sizeHint() const
{
    return sizeFor(m_count);
}

QSize CountBadge::sizeFor(qint64 count)
{
    const QFontMetricsF fm(countFont());
    return pillSize(tabularWidth(QString::number(count), fm, widestDigit(fm)), fm.height(), 6, 2);
}

void CountBadge::paint(QPainter &p, const QRectF &rect, qint64 count, const Palette &palette)
{
    p.save();
    fillPill(p, rect, 6, palette.subtle);
    p.setPen(palette.mutedForeground);
    drawTabularText(p, rect.adjusted(6, 2, -6, -2), QString::number(count), countFont());
    p.restore();
}

void CountBadge::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    paint(p, QRectF(rect()), m_count, Palette::of(this));
}

// IconTile

IconTile::IconTile(const QString &icon, std::optional<QColor> tint, qreal size, qreal radius, QWidget *parent)
    : QWidget(parent), m_icon(icon), m_tint(tint), m_size(size), m_radius(radius)
{
    setFixedSize(qCeil(size), qCeil(size));
}

void IconTile::setIcon(const QString &icon)
{
    m_icon = icon;
    update();
}

void IconTile::setTint(std::optional<QColor> tint)
{
    m_tint = tint;
    update();
}

QSize IconTile::sizeHint() const
{
    return QSize(qCeil(m_size), qCeil(m_size));
}

QColor IconTile::symbolColor(const std::optional<QColor> &tint, const Palette &palette)
{
    return tint ? QColor::fromRgbF(0, 0, 0, 0.65f) : palette.mutedForeground;
}

void IconTile::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const Palette palette = Palette::of(this);
    const QRectF frame(0, 0, m_size, m_size);
    fillPill(p, frame, m_radius, m_tint.value_or(palette.subtle));
    Symbols::draw(p, frame, m_icon, 0.42 * m_size, symbolColor(m_tint, palette));
}

// KeyCap

KeyCap::KeyCap(const QString &keys, QWidget *parent) : QWidget(parent), m_keys(keys)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void KeyCap::setKeys(const QString &keys)
{
    m_keys = keys;
    updateGeometry();
    update();
}

QSize KeyCap::sizeHint() const
{
    const QFontMetricsF fm(Fonts::inter(11, QFont::Medium));
    return QSize(qCeil(fm.horizontalAdvance(m_keys)), qCeil(fm.height()));
}

void KeyCap::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setFont(Fonts::inter(11, QFont::Medium));
    p.setPen(Palette::of(this).faint);
    p.drawText(QRectF(rect()), Qt::AlignCenter, m_keys);
}
