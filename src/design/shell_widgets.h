// Small building blocks of the shell: palette text, symbols, plain and icon buttons, boxes and rules.
#pragma once

#include "design/ks_button.h"
#include "design/palette.h"
#include "design/snow_text.h"

#include <QWidget>

#include <functional>

using ColorRole = std::function<QColor(const Palette &)>;

// One line of text in a palette colour with the shell's sizing: the width follows the elision, and a
// wrapped text sets its lines from the top.
class ShellText final : public SnowText
{
    Q_OBJECT
public:
    ShellText(const QString &text, const QFont &font, ColorRole color, QWidget *parent = nullptr);

    void setFont(const QFont &font);
    // Qt::ElideNone keeps the text whole: its width is then fixed to the text.
    void setElideMode(Qt::TextElideMode mode);
    // Wraps onto as many lines as it needs.
    void setWrap(bool wrap);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    int heightForWidth(int width) const override;
};

// A platform symbol drawn at a text size in a palette colour, centred in a fixed box.
class SymbolLabel final : public QWidget
{
    Q_OBJECT
public:
    SymbolLabel(const QString &symbol, qreal textSize, ColorRole color, QWidget *parent = nullptr);
    void setSymbol(const QString &symbol);
    QString symbol() const { return m_symbol; }
    void setColorRole(ColorRole color);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    qreal m_textSize;
    ColorRole m_color;
};

// A plain-style button: its whole rectangle takes clicks, it draws a rounded fill chosen by the
// caller from the hover state, and its children are its label.
class PlainButton : public QWidget
{
    Q_OBJECT
public:
    using Fill = std::function<QColor(const Palette &, bool hovered, bool pressed)>;

    explicit PlainButton(QWidget *parent = nullptr);
    void setFill(Fill fill, qreal radius);
    bool isHovered() const { return m_hovered; }
    // Runs what a click runs.
    void click() { emit clicked(); }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    Fill m_fill;
    qreal m_radius = 0;
    bool m_hovered = false;
    bool m_pressed = false;
    qreal m_hoverProgress = 0;
    class QVariantAnimation *m_animation = nullptr;
};

// The design system's square icon button with a tint taken from the palette in force.
class IconButton final : public QWidget
{
    Q_OBJECT
public:
    IconButton(const QString &symbol, qreal side, qreal glyph, ColorRole tint = {}, QWidget *parent = nullptr);
    void setSymbol(const QString &symbol);
    QString symbol() const;
    // No role: the button's own muted colour.
    void setTint(ColorRole tint);
    QColor symbolColor() const;
    GhostIconButton *button() const { return m_button; }
    // Runs what a click runs.
    void click() { emit clicked(); }
    QSize sizeHint() const override { return minimumSize(); }

signals:
    void clicked();

protected:
    bool event(QEvent *event) override;

private:
    void applyTint();

    GhostIconButton *m_button;
    ColorRole m_tint;
};

// Gives a scroll area thin scroll bars in the palette in force, restyled when the palette changes.
void useThinScrollBars(class QAbstractScrollArea *area);

// A rounded box filled from the palette, holding its children.
class FilledBox final : public QWidget
{
    Q_OBJECT
public:
    FilledBox(ColorRole fill, qreal radius, QWidget *parent = nullptr);
    void setFillRole(ColorRole fill);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ColorRole m_fill;
    qreal m_radius;
};

// A 1-point rule in palette.border (vertical or horizontal).
class Rule final : public QWidget
{
    Q_OBJECT
public:
    explicit Rule(Qt::Orientation orientation, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
