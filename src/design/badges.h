// The small pills placed next to text: method badge, tag, status chip, count, icon tile and key hint.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <optional>

struct Palette;

struct PillColors
{
    QColor fill;
    QColor text;
    bool operator==(const PillColors &other) const = default;
};

// Fill and text of a method badge by the method's wire name; an unknown name takes GET's colours.
PillColors methodBadgeColors(const QString &method);

class QFont;
class QPainter;
class QRectF;

// Numbers with digits of equal width (the font has no tabular-figures switch here): every digit takes the
// cell of the widest one. The width, and drawing centred in a rectangle.
qreal tabularTextWidth(const QString &text, const QFont &font);
void drawTabularText(QPainter &painter, const QRectF &rect, const QString &text, const QFont &font);

// Fill and text of a status chip; injected chips are yellow and never white-lettered.
PillColors statusChipColors(qint64 status, bool injected, const Palette &palette);

// The HTTP method as a monospaced pill in its method colour; the palette is not read.
class MethodBadge final : public QWidget
{
    Q_OBJECT
public:
    explicit MethodBadge(const QString &method = QStringLiteral("GET"), QWidget *parent = nullptr);
    QString method() const { return m_method; }
    void setMethod(const QString &method);
    QSize sizeHint() const override;

    // What the widget draws, for delegates that paint badges into list rows.
    static QSize sizeFor(const QString &method);
    static void paint(QPainter &painter, const QRectF &rect, const QString &method);
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_method;
};

// A general label pill in one of seven tones, with an optional leading symbol.
class SnowTag final : public QWidget
{
    Q_OBJECT
public:
    enum class Tone { neutral, brand, success, warning, error, info, violet };

    explicit SnowTag(const QString &text = {}, Tone tone = Tone::neutral, const QString &icon = {},
                     bool uppercase = false, QWidget *parent = nullptr);

    static PillColors colors(Tone tone, const Palette &palette);
    // What the widget draws, for delegates that paint tags into list rows.
    static QSize sizeFor(const QString &text, const QString &icon = {}, bool uppercase = false);
    static void paint(QPainter &painter, const QRectF &rect, const QString &text, Tone tone, const Palette &palette,
                      const QString &icon = {}, bool uppercase = false);
    // What is drawn: the text upper-cased when asked.
    QString shownText() const;
    QFont textFont() const;

    QString text() const { return m_text; }
    void setText(const QString &text);
    Tone tone() const { return m_tone; }
    void setTone(Tone tone);
    QString icon() const { return m_icon; }
    void setIcon(const QString &icon);
    bool uppercase() const { return m_uppercase; }
    void setUppercase(bool uppercase);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    Tone m_tone;
    QString m_icon;
    bool m_uppercase;
};

// An HTTP status as a coloured pill, with a bolt when the response was injected.
class StatusChip final : public QWidget
{
    Q_OBJECT
public:
    explicit StatusChip(qint64 status = 200, bool injected = false, QWidget *parent = nullptr);
    qint64 status() const { return m_status; }
    bool injected() const { return m_injected; }
    void setStatus(qint64 status);
    void setInjected(bool injected);
    QSize sizeHint() const override;

    // What the widget draws, for delegates that paint chips into list rows.
    static QSize sizeFor(qint64 status, bool injected);
    static void paint(QPainter &painter, const QRectF &rect, qint64 status, bool injected, const Palette &palette);
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qint64 m_status;
    bool m_injected;
};

// A number in a subtle pill, digits of equal width.
class CountBadge final : public QWidget
{
    Q_OBJECT
public:
    explicit CountBadge(qint64 count = 0, QWidget *parent = nullptr);
    qint64 count() const { return m_count; }
    void setCount(qint64 count);
    QSize sizeHint() const override;

    // What the widget draws, for delegates that paint counts into list rows.
    static QSize sizeFor(qint64 count);
    static void paint(QPainter &painter, const QRectF &rect, qint64 count, const Palette &palette);
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qint64 m_count;
};

// A symbol on a square rounded tile, tinted or subtle.
class IconTile final : public QWidget
{
    Q_OBJECT
public:
    explicit IconTile(const QString &icon = {}, std::optional<QColor> tint = std::nullopt, qreal size = 32,
                      qreal radius = 8, QWidget *parent = nullptr);
    QString icon() const { return m_icon; }
    void setIcon(const QString &icon);
    std::optional<QColor> tint() const { return m_tint; }
    void setTint(std::optional<QColor> tint);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    static QColor symbolColor(const std::optional<QColor> &tint, const Palette &palette);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_icon;
    std::optional<QColor> m_tint;
    qreal m_size;
    qreal m_radius;
};

// A keyboard-shortcut hint: faint text, no border or fill.
class KeyCap final : public QWidget
{
    Q_OBJECT
public:
    explicit KeyCap(const QString &keys = {}, QWidget *parent = nullptr);
    QString keys() const { return m_keys; }
    void setKeys(const QString &keys);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_keys;
};
