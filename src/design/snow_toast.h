// A notification pill in one of three tones, on a surface that inverts the window's appearance.
#pragma once

#include <QColor>
#include <QImage>
#include <QPointer>
#include <QWidget>

struct Palette;
class ToastShadow;

class SnowToast final : public QWidget
{
    Q_OBJECT
public:
    enum class Tone { success, error, info };

    SnowToast(const QString &text, Tone tone, QWidget *parent = nullptr);
    ~SnowToast() override;

    void setText(const QString &text);
    QString text() const { return m_text; }
    void setTone(Tone tone);
    Tone tone() const { return m_tone; }

    static QString symbol(Tone tone);
    static QColor symbolColor(Tone tone);
    static QColor textColor(const Palette &palette);
    static QColor surfaceColor(const Palette &palette);

    // Hiding a toast whose window is not shown yet sends it no hide event, so its shadow follows here.
    void setVisible(bool visible) override;

    // One line as wide as the text needs; narrower, the text wraps and the pill grows downwards
    // to show it whole, up to MaxLines, after which the last line is cut with an ellipsis and the
    // whole text shows on hover.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    // The size the toast takes when it may be at most maxWidth wide.
    QSize sizeFor(int maxWidth) const;
    // The lines drawn at the given width, as shown (the last one elided when the text does not fit).
    QStringList linesAt(int width) const;
    bool isCut() const;

    static constexpr int MaxLines = 6;
    // The whole text on hover is broken into lines at most this wide, and narrower in a narrow window,
    // so it stays HoverMargin inside the window.
    static constexpr int HoverMaxWidth = 480;
    static constexpr int HoverMargin = 8;
    QStringList hoverLines(int windowWidth) const;

    // The shadow's reach beyond the pill on each side, and how far it drops.
    static constexpr int ShadowMargin = 18;
    static constexpr int ShadowDrop = 4;
    // The shadow of a pill of the given size: the pill's shape blurred, in black at the shadow's
    // opacity, ShadowMargin larger on every side.
    static QImage shadowImage(QSize pill);
    // The widget that paints the shadow around the pill, since the pill cannot paint outside itself: a
    // child of the nearest ancestor with room for it; none while the toast has no parent.
    QWidget *shadow() const;

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void placeShadow();
    void syncToolTip();
    void showHoverText(const QPoint &globalPos);

    QString m_text;
    Tone m_tone;
    QPointer<ToastShadow> m_shadow;
    // The ancestors between the toast and the shadow's parent, whose moves shift the shadow.
    QList<QPointer<QWidget>> m_watched;
};
