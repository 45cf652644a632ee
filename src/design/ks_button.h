// The push buttons: KSButton in six variants and three sizes, its two shorthands, and the two icon buttons.
#pragma once

#include <QColor>
#include <QPainterPath>
#include <QPointer>
#include <QRectF>
#include <QWidget>

#include <functional>
#include <optional>

class AnchoredOverlay;
class HoverAnimation;
class QVariantAnimation;
class SnowPressStyle;
struct Palette;

// What every button shares: hover fade, press scale, and a click that reaches clicked() and the action
// when the left button is released inside the hit shape and acceptsPress() holds at that moment.
class SnowButtonBase : public QWidget
{
    Q_OBJECT
public:
    void setAction(std::function<void()> action);
    // A press from elsewhere (a keyboard shortcut): runs clicked() and the action exactly as a click
    // would, so a disabled or loading button ignores its shortcut too. Returns whether it ran.
    bool trigger();

    HoverAnimation *hoverAnimation() const { return m_hover; }
    SnowPressStyle *pressStyle() const { return m_press; }

signals:
    void clicked();

protected:
    explicit SnowButtonBase(QWidget *parent);

    // False while the button ignores presses (disabled, loading); also keeps the hover and press looks off.
    virtual bool acceptsPress() const { return true; }
    // The hit shape, in widget coordinates.
    virtual QPainterPath hitShape() const;

    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    HoverAnimation *m_hover;
    SnowPressStyle *m_press;
    std::function<void()> m_action;
    bool m_pressedInside = false;
};

// The general text button.
class KSButton : public SnowButtonBase
{
    Q_OBJECT
public:
    enum class Variant { primary, secondary, ghost, text, destructive, violet };
    enum class Size { sm, md, lg };

    struct Metrics
    {
        qreal horizontalPadding;
        qreal height;
        qreal cornerRadius;
        qreal loaderSize;
        qreal fontSize; // Inter semibold
    };
    static Metrics metrics(Size size);

    // Everything a variant decides: sizes and the three colours.
    struct Look
    {
        Metrics metrics;
        QColor fill;
        QColor hoverFill;
        QColor label;
    };
    static Look look(Variant variant, Size size, const Palette &palette);

    explicit KSButton(const QString &title = {}, const QString &icon = {}, Variant variant = Variant::primary,
                      Size size = Size::md, bool fullWidth = false, bool loading = false, bool disabled = false,
                      std::function<void()> action = {}, QWidget *parent = nullptr);

    QString title() const { return m_title; }
    void setTitle(const QString &title);
    QString icon() const { return m_icon; }
    void setIcon(const QString &icon);
    Variant variant() const { return m_variant; }
    void setVariant(Variant variant);
    Size size() const { return m_size; }
    void setSize(Size size);
    bool fullWidth() const { return m_fullWidth; }
    void setFullWidth(bool fullWidth);
    bool loading() const { return m_loading; }
    void setLoading(bool loading);
    // The button's own disabled flag: dimmed, ignores presses, takes no new hover. It hides
    // QWidget::setDisabled on purpose: the widget stays enabled so hover keeps following the pointer
    // (a QWidget disabled through the base class looks and acts disabled too).
    bool disabled() const { return m_disabled || !isEnabled(); }
    void setDisabled(bool disabled);

    bool hovered() const;
    // The look in force for the palette the button finds up its parents.
    virtual Look currentLook() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    bool acceptsPress() const override { return !disabled() && !m_loading; }
    QPainterPath hitShape() const override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;
    virtual bool allowsFullWidth() const { return true; }
    void relayout();

private:
    void syncSpin();
    qreal markWidth(const Look &look) const;

    QString m_title;
    QString m_icon;
    Variant m_variant;
    Size m_size;
    bool m_fullWidth;
    bool m_loading;
    bool m_disabled;
    QVariantAnimation *m_spin;
};

// A KSButton in the primary variant, never full width.
class PrimaryButton final : public KSButton
{
    Q_OBJECT
public:
    explicit PrimaryButton(const QString &title = {}, const QString &icon = {}, Size size = Size::md,
                           bool loading = false, bool disabled = false, std::function<void()> action = {},
                           QWidget *parent = nullptr);
};

// A KSButton in the secondary variant; the destructive form is red-tinted, at most md-sized, never full width.
class SecondaryButton final : public KSButton
{
    Q_OBJECT
public:
    explicit SecondaryButton(const QString &title = {}, const QString &icon = {}, bool destructive = false,
                             Size size = Size::md, bool loading = false, bool disabled = false,
                             std::function<void()> action = {}, QWidget *parent = nullptr);

    static Look destructiveLook(Size size, const Palette &palette);

    bool destructive() const { return m_destructive; }
    void setDestructive(bool destructive);
    Look currentLook() const override;

protected:
    bool allowsFullWidth() const override { return false; }

private:
    bool m_destructive;
};

// A square icon-only button with a fill only under the pointer.
class GhostIconButton final : public SnowButtonBase
{
    Q_OBJECT
public:
    explicit GhostIconButton(const QString &icon = {}, qreal size = 28, qreal glyph = 14,
                             std::optional<QColor> tint = std::nullopt, std::function<void()> action = {},
                             QWidget *parent = nullptr);

    QString icon() const { return m_icon; }
    void setIcon(const QString &icon);
    std::optional<QColor> tint() const { return m_tint; }
    void setTint(std::optional<QColor> tint);
    QColor symbolColor() const;
    QSize sizeHint() const override;

protected:
    QPainterPath hitShape() const override;
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_icon;
    qreal m_size;
    qreal m_glyph;
    std::optional<QColor> m_tint;
};

// An icon button with an active state and an optional count badge over its top-trailing corner.
class CircleIconButton final : public SnowButtonBase
{
    Q_OBJECT
public:
    explicit CircleIconButton(const QString &icon = {}, qreal size = 28, bool active = false,
                              std::optional<qint64> badge = std::nullopt, std::function<void()> action = {},
                              QWidget *parent = nullptr);
    ~CircleIconButton() override;

    QString icon() const { return m_icon; }
    void setIcon(const QString &icon);
    bool active() const { return m_active; }
    void setActive(bool active);
    std::optional<qint64> badge() const { return m_badge; }
    void setBadge(std::optional<qint64> badge);
    QSize sizeHint() const override;

    // The badge's circle relative to the button's own rectangle (it spills 4 right and 4 up).
    static QRectF badgeRect(const QRectF &button, const QString &text);

protected:
    QPainterPath hitShape() const override;
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

private:
    void syncBadge();
    void paintBadge(QPainter &painter, const QRectF &button) const;

    QString m_icon;
    qreal m_size;
    bool m_active;
    std::optional<qint64> m_badge;
    QPointer<AnchoredOverlay> m_badgeOverlay;
};
