// The push buttons.
#include "design/ks_button.h"

#include "design/anchored_overlay.h"
#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/hover_animation.h"
#include "design/indicators.h"
#include "design/keyboard_reach.h"
#include "design/palette.h"
#include "design/symbols.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QVariantAnimation>
#include <QtMath>

namespace {

constexpr qreal LabelSpacing = 6;

} // namespace

// SnowButtonBase

SnowButtonBase::SnowButtonBase(QWidget *parent)
    : QWidget(parent), m_hover(new HoverAnimation(this)), m_press(new SnowPressStyle(this))
{
    m_hover->setGate([this] { return acceptsPress(); });
    m_press->setGate([this] { return acceptsPress(); });
    KeyboardReach::install(this, [this] { trigger(); });
}

void SnowButtonBase::setAction(std::function<void()> action)
{
    m_action = std::move(action);
}

bool SnowButtonBase::trigger()
{
    if (!acceptsPress())
        return false;
    const auto action = m_action;
    emit clicked();
    if (action)
        action();
    return true;
}

QPainterPath SnowButtonBase::hitShape() const
{
    QPainterPath path;
    path.addRect(QRectF(rect()));
    return path;
}

void SnowButtonBase::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_pressedInside = hitShape().contains(event->position());
    event->accept();
}

void SnowButtonBase::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const bool fire = m_pressedInside && hitShape().contains(event->position()) && acceptsPress();
    m_pressedInside = false;
    event->accept();
    if (!fire)
        return;
    // The action may delete this button (a sheet closing), so signal first and touch no member after.
    const auto action = m_action;
    emit clicked();
    if (action)
        action();
}

// KSButton

KSButton::Metrics KSButton::metrics(Size size)
{
    switch (size) {
    case Size::sm:
        return {10, 28, 8, 14, 12};
    case Size::md:
        return {16, 36, 12, 15, 13};
    case Size::lg:
        return {24, 44, 16, 16, 14};
    }
    return {16, 36, 12, 15, 13};
}

KSButton::Look KSButton::look(Variant variant, Size size, const Palette &palette)
{
    const Metrics m = metrics(size);
    const QColor clear(Qt::transparent);
    switch (variant) {
    case Variant::primary:
        return {m, palette.brand, palette.brandHover, palette.onBrand};
    case Variant::secondary:
        return {m, palette.muted, palette.mutedStrong, palette.foreground};
    case Variant::ghost:
        return {m, clear, palette.muted, palette.foreground};
    case Variant::text:
        return {m, clear, palette.muted, palette.accentText()};
    case Variant::destructive:
        return {m, Palette::red(), QColor(0xE0, 0x31, 0x31), QColor(Qt::white)};
    case Variant::violet:
        return {m, Palette::indigo(), withOpacity(Palette::indigo(), 0.85), QColor::fromRgbF(0, 0, 0, 0.8f)};
    }
    return {m, palette.brand, palette.brandHover, palette.onBrand};
}

KSButton::KSButton(const QString &title, const QString &icon, Variant variant, Size size, bool fullWidth,
                   bool loading, bool disabled, std::function<void()> action, QWidget *parent)
    : SnowButtonBase(parent), m_title(title), m_icon(icon), m_variant(variant), m_size(size), m_fullWidth(fullWidth),
      m_loading(loading), m_disabled(disabled), m_spin(new QVariantAnimation(this))
{
    setAction(std::move(action));
    m_spin->setStartValue(0.0);
    m_spin->setEndValue(1.0);
    m_spin->setDuration(800);
    m_spin->setLoopCount(-1);
    connect(m_spin, &QVariantAnimation::valueChanged, this, [this] { update(); });
    KeyboardReach::setReachable(this, !m_disabled);
    relayout();
}

void KSButton::setTitle(const QString &title)
{
    m_title = title;
    relayout();
}

void KSButton::setIcon(const QString &icon)
{
    m_icon = icon;
    relayout();
}

void KSButton::setVariant(Variant variant)
{
    m_variant = variant;
    update();
}

void KSButton::setSize(Size size)
{
    m_size = size;
    relayout();
}

void KSButton::setFullWidth(bool fullWidth)
{
    m_fullWidth = fullWidth;
    relayout();
}

void KSButton::setLoading(bool loading)
{
    if (loading == m_loading)
        return;
    m_loading = loading;
    syncSpin();
    relayout();
}

void KSButton::setDisabled(bool disabled)
{
    if (disabled == m_disabled)
        return;
    m_disabled = disabled;
    KeyboardReach::setReachable(this, !disabled);
    update();
}

void KSButton::changeEvent(QEvent *event)
{
    SnowButtonBase::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        update();
}

bool KSButton::hovered() const
{
    return hoverAnimation()->hovered();
}

KSButton::Look KSButton::currentLook() const
{
    return look(m_variant, m_size, Palette::of(this));
}

void KSButton::relayout()
{
    const Look l = currentLook();
    setFixedHeight(qCeil(l.metrics.height));
    if (m_fullWidth && allowsFullWidth()) {
        setMinimumWidth(sizeHint().width());
        setMaximumWidth(QWIDGETSIZE_MAX);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    } else {
        setFixedWidth(sizeHint().width());
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    updateGeometry();
    update();
}

qreal KSButton::markWidth(const Look &l) const
{
    if (m_loading)
        return l.metrics.loaderSize;
    if (!m_icon.isEmpty())
        return Symbols::glyphPixelSize(l.metrics.fontSize);
    return 0;
}

QSize KSButton::sizeHint() const
{
    const Look l = currentLook();
    const QFontMetricsF fm(Fonts::inter(l.metrics.fontSize, QFont::DemiBold));
    qreal width = fm.horizontalAdvance(m_title);
    const qreal mark = markWidth(l);
    if (mark > 0)
        width += mark + (m_title.isEmpty() ? 0 : LabelSpacing);
    return QSize(qCeil(width + 2 * l.metrics.horizontalPadding), qCeil(l.metrics.height));
}

QPainterPath KSButton::hitShape() const
{
    return roundedRectPath(QRectF(rect()), currentLook().metrics.cornerRadius);
}

void KSButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const Look l = currentLook();
    const QRectF bounds(rect());
    if (disabled())
        p.setOpacity(0.5);
    pressStyle()->apply(p, bounds);
    p.fillPath(roundedRectPath(bounds, l.metrics.cornerRadius),
               blendColors(l.fill, l.hoverFill, hoverAnimation()->progress()));

    const QFont font = Fonts::inter(l.metrics.fontSize, QFont::DemiBold);
    const QFontMetricsF fm(font);
    const qreal mark = markWidth(l);
    const qreal rowWidth = fm.horizontalAdvance(m_title) + (mark > 0 ? mark + (m_title.isEmpty() ? 0 : LabelSpacing) : 0);
    qreal x = bounds.left() + (bounds.width() - rowWidth) / 2;
    if (m_loading) {
        SnowLoader::paintArc(p, QRectF(x, (bounds.height() - mark) / 2, mark, mark), mark, l.label,
                             SnowLoader::currentAngle());
    } else if (mark > 0) {
        Symbols::draw(p, QRectF(x, 0, mark, bounds.height()), m_icon, l.metrics.fontSize, l.label);
    }
    if (mark > 0)
        x += mark + LabelSpacing;
    p.setFont(font);
    p.setPen(l.label);
    p.drawText(QRectF(x, 0, bounds.right() - x, bounds.height()), Qt::AlignVCenter | Qt::AlignLeft, m_title);
    KeyboardReach::paintRing(p, this, bounds, l.metrics.cornerRadius);
}

void KSButton::syncSpin()
{
    if (m_loading && isVisible())
        m_spin->start();
    else
        m_spin->stop();
}

void KSButton::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    syncSpin();
}

void KSButton::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    syncSpin();
}

// PrimaryButton

PrimaryButton::PrimaryButton(const QString &title, const QString &icon, Size size, bool loading, bool disabled,
                             std::function<void()> action, QWidget *parent)
    : KSButton(title, icon, Variant::primary, size, false, loading, disabled, std::move(action), parent)
{
}

// SecondaryButton

SecondaryButton::SecondaryButton(const QString &title, const QString &icon, bool destructive, Size size,
                                 bool loading, bool disabled, std::function<void()> action, QWidget *parent)
    : KSButton(title, icon, Variant::secondary, size, false, loading, disabled, std::move(action), parent),
      m_destructive(destructive)
{
    relayout();
}

KSButton::Look SecondaryButton::destructiveLook(Size size, const Palette &palette)
{
    Metrics m = size == Size::sm ? Metrics{10, 28, 8, 14, 12} : Metrics{16, 36, 12, 14, 13};
    return {m, withOpacity(Palette::red(), 0.1), withOpacity(Palette::red(), 0.18), palette.errorRed()};
}

void SecondaryButton::setDestructive(bool destructive)
{
    m_destructive = destructive;
    relayout();
}

KSButton::Look SecondaryButton::currentLook() const
{
    if (m_destructive)
        return destructiveLook(size(), Palette::of(this));
    return KSButton::currentLook();
}

// GhostIconButton

GhostIconButton::GhostIconButton(const QString &icon, qreal size, qreal glyph, std::optional<QColor> tint,
                                 std::function<void()> action, QWidget *parent)
    : SnowButtonBase(parent), m_icon(icon), m_size(size), m_glyph(glyph), m_tint(tint)
{
    setAction(std::move(action));
    setFixedSize(qCeil(size), qCeil(size));
}

void GhostIconButton::setIcon(const QString &icon)
{
    m_icon = icon;
    update();
}

void GhostIconButton::setTint(std::optional<QColor> tint)
{
    m_tint = tint;
    update();
}

QColor GhostIconButton::symbolColor() const
{
    return m_tint.value_or(Palette::of(this).mutedForeground);
}

QSize GhostIconButton::sizeHint() const
{
    return QSize(qCeil(m_size), qCeil(m_size));
}

QPainterPath GhostIconButton::hitShape() const
{
    return roundedRectPath(QRectF(0, 0, m_size, m_size), 8);
}

void GhostIconButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF frame(0, 0, m_size, m_size);
    pressStyle()->apply(p, frame);
    const Palette palette = Palette::of(this);
    p.fillPath(roundedRectPath(frame, 8),
               blendColors(QColor(Qt::transparent), palette.muted, hoverAnimation()->progress()));
    Symbols::draw(p, frame, m_icon, m_glyph, symbolColor());
    KeyboardReach::paintRing(p, this, frame, 8);
}

// CircleIconButton

CircleIconButton::CircleIconButton(const QString &icon, qreal size, bool active, std::optional<qint64> badge,
                                   std::function<void()> action, QWidget *parent)
    : SnowButtonBase(parent), m_icon(icon), m_size(size), m_active(active), m_badge(badge)
{
    setAction(std::move(action));
    setFixedSize(qCeil(size), qCeil(size));
}

CircleIconButton::~CircleIconButton()
{
    delete m_badgeOverlay;
}

void CircleIconButton::setIcon(const QString &icon)
{
    m_icon = icon;
    update();
}

void CircleIconButton::setActive(bool active)
{
    m_active = active;
    update();
}

void CircleIconButton::setBadge(std::optional<qint64> badge)
{
    m_badge = badge;
    syncBadge();
    update();
}

QSize CircleIconButton::sizeHint() const
{
    return QSize(qCeil(m_size), qCeil(m_size));
}

QRectF CircleIconButton::badgeRect(const QRectF &button, const QString &text)
{
    const QFontMetricsF fm(Fonts::inter(9, QFont::DemiBold));
    const qreal side = qMax(15.0, qMax(fm.horizontalAdvance(text), fm.height()));
    return QRectF(button.right() - side + 4, button.top() - 4, side, side);
}

QPainterPath CircleIconButton::hitShape() const
{
    return roundedRectPath(QRectF(0, 0, m_size, m_size), 12);
}

void CircleIconButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF frame(0, 0, m_size, m_size);
    pressStyle()->apply(p, frame);
    const Palette palette = Palette::of(this);
    const QColor fill = m_active ? palette.mutedStrong
                                 : blendColors(palette.muted, palette.mutedStrong, hoverAnimation()->progress());
    p.fillPath(roundedRectPath(frame, 12), fill);
    Symbols::draw(p, frame, m_icon, 0.4 * m_size, m_active ? palette.pillActiveText : palette.mutedForeground);
    KeyboardReach::paintRing(p, this, frame, 12);
    if (m_badge && !m_badgeOverlay)
        paintBadge(p, frame); // no parent to spill into: keep it inside the frame
}

void CircleIconButton::paintBadge(QPainter &p, const QRectF &button) const
{
    const QString text = QString::number(*m_badge);
    QRectF circle = badgeRect(button, text);
    if (!m_badgeOverlay)
        circle.moveTopRight(button.topRight());
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Palette::purple());
    p.drawEllipse(circle);
    p.setFont(Fonts::inter(9, QFont::DemiBold));
    p.setPen(Palette::pastelInk());
    p.drawText(circle, Qt::AlignCenter, text);
}

void CircleIconButton::syncBadge()
{
    if (m_badge && parentWidget()) {
        if (!m_badgeOverlay) {
            // The badge pokes 4 points past the top and trailing edges; one more for antialiasing.
            m_badgeOverlay = new AnchoredOverlay(this, QMargins(0, 5, 5, 0), AnchoredOverlay::Stacking::over,
                                                 [this](QPainter &p, const QRectF &button) {
                                                     if (m_badge)
                                                         paintBadge(p, button);
                                                 });
        }
        m_badgeOverlay->update();
    } else {
        delete m_badgeOverlay;
    }
}

bool CircleIconButton::event(QEvent *event)
{
    if (event->type() == QEvent::ParentChange) {
        delete m_badgeOverlay;
        syncBadge();
    } else if (event->type() == QEvent::Polish) {
        syncBadge();
    }
    return SnowButtonBase::event(event);
}
