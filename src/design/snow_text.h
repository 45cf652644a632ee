// A text drawn in a palette colour (so it follows the theme), on one line or wrapped.
#pragma once

#include <QWidget>

#include <functional>

struct Palette;

class SnowText : public QWidget
{
    Q_OBJECT
public:
    using ColorRole = std::function<QColor(const Palette &)>;

    SnowText(const QString &text, const QFont &font, ColorRole color, QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const { return m_text; }
    void setColorRole(ColorRole color);
    QColor color() const;
    // Wrapped texts grow downwards to show every line; single-line texts elide (at the right by default).
    void setWrap(bool wrap);
    bool wraps() const { return m_wrap; }
    void setAlignment(Qt::Alignment alignment);
    // How a single-line text that is too wide is shortened; Qt::ElideNone draws it whole.
    void setElideMode(Qt::TextElideMode mode);
    Qt::TextElideMode elideMode() const { return m_elide; }
    // The first `length` characters stay whole while they fit; only what follows them is shortened.
    void setKeptPrefix(int length);
    // What is painted at the current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return m_wrap; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    ColorRole m_color;
    bool m_wrap = false;
    Qt::TextElideMode m_elide = Qt::ElideRight;
    int m_keptPrefix = 0;
    Qt::Alignment m_alignment = Qt::AlignLeft | Qt::AlignVCenter;
};
