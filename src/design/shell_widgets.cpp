// Text, symbol, plain button, filled box and rule widgets of the shell.
#include "design/shell_widgets.h"

#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/keyboard_reach.h"
#include "design/symbols.h"

#include <QEnterEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QAbstractScrollArea>
#include <QScrollBar>
#include <QPainter>
#include <QVariantAnimation>

ShellText::ShellText(const QString &text, const QFont &font, ColorRole color, QWidget *parent)
    : SnowText(text, font, std::move(color), parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ShellText::setFont(const QFont &font)
{
    QWidget::setFont(font);
    updateGeometry();
    update();
}

void ShellText::setElideMode(Qt::TextElideMode mode)
{
    SnowText::setElideMode(mode);
    setSizePolicy(mode == Qt::ElideNone ? QSizePolicy::Fixed : QSizePolicy::Preferred, sizePolicy().verticalPolicy());
    updateGeometry();
}

void ShellText::setWrap(bool wrap)
{
    SnowText::setWrap(wrap);
    setAlignment(wrap ? Qt::AlignLeft | Qt::AlignTop : Qt::AlignLeft | Qt::AlignVCenter);
    QSizePolicy policy(QSizePolicy::Preferred, wrap ? QSizePolicy::Minimum : QSizePolicy::Fixed);
    policy.setHeightForWidth(wrap);
    setSizePolicy(policy);
    updateGeometry();
}

QSize ShellText::sizeHint() const
{
    const QFontMetrics fm(font());
    const int w = fm.horizontalAdvance(text()) + 1;
    if (wraps())
        return {w, heightForWidth(w)};
    return {w, fm.height()};
}

QSize ShellText::minimumSizeHint() const
{
    const QFontMetrics fm(font());
    if (elideMode() == Qt::ElideNone && !wraps())
        return sizeHint();
    return {wraps() ? 40 : 0, fm.height()};
}

int ShellText::heightForWidth(int width) const
{
    const QFontMetrics fm(font());
    if (!wraps())
        return fm.height();
    return fm.boundingRect(QRect(0, 0, qMax(1, width), 100000), Qt::AlignLeft | Qt::TextWordWrap, text()).height();
}

SymbolLabel::SymbolLabel(const QString &symbol, qreal textSize, ColorRole color, QWidget *parent)
    : QWidget(parent)
    , m_symbol(symbol)
    , m_textSize(textSize)
    , m_color(std::move(color))
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SymbolLabel::setSymbol(const QString &symbol)
{
    m_symbol = symbol;
    update();
}

void SymbolLabel::setColorRole(ColorRole color)
{
    m_color = std::move(color);
    update();
}

QSize SymbolLabel::sizeHint() const
{
    const int side = int(std::ceil(Symbols::glyphPixelSize(m_textSize)));
    return {side, side};
}

void SymbolLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const Palette palette = Palette::of(this);
    Symbols::draw(painter, rect(), m_symbol, m_textSize, m_color ? m_color(palette) : palette.foreground);
}

PlainButton::PlainButton(QWidget *parent)
    : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    KeyboardReach::install(this, [this] { emit clicked(); });
}

void PlainButton::setFill(Fill fill, qreal radius)
{
    m_fill = std::move(fill);
    m_radius = radius;
    if (!m_animation) {
        m_animation = new QVariantAnimation(this);
        m_animation->setDuration(150);
        m_animation->setEasingCurve(QEasingCurve::OutCubic);
        connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &v) {
            m_hoverProgress = v.toReal();
            update();
        });
    }
    update();
}

void PlainButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_fill) {
        const Palette palette = Palette::of(this);
        const QColor rest = m_fill(palette, false, false);
        const QColor active = m_fill(palette, true, m_pressed);
        const QColor fill = m_pressed ? active : blendColors(rest, active, m_hoverProgress);
        if (fill.alpha() > 0)
            painter.fillPath(roundedRectPath(QRectF(rect()), m_radius), fill);
    }
    KeyboardReach::paintRing(painter, this, QRectF(rect()), m_fill ? m_radius : 6);
}

void PlainButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    if (m_animation) {
        m_animation->stop();
        m_animation->setStartValue(m_hoverProgress);
        m_animation->setEndValue(1.0);
        m_animation->start();
    }
    QWidget::enterEvent(event);
}

void PlainButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    m_pressed = false;
    if (m_animation) {
        m_animation->stop();
        m_animation->setStartValue(m_hoverProgress);
        m_animation->setEndValue(0.0);
        m_animation->start();
    }
    QWidget::leaveEvent(event);
}

void PlainButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_pressed = true;
        update();
    }
    event->accept();
}

void PlainButton::mouseReleaseEvent(QMouseEvent *event)
{
    const bool wasPressed = m_pressed;
    m_pressed = false;
    update();
    if (wasPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    event->accept();
}

IconButton::IconButton(const QString &symbol, qreal side, qreal glyph, ColorRole tint, QWidget *parent)
    : QWidget(parent)
    , m_button(new GhostIconButton(symbol, side, glyph, std::nullopt, {}, this))
    , m_tint(std::move(tint))
{
    setFixedSize(int(side), int(side));
    m_button->setGeometry(0, 0, int(side), int(side));
    connect(m_button, &GhostIconButton::clicked, this, &IconButton::clicked);
    applyTint();
}

void IconButton::setSymbol(const QString &symbol)
{
    m_button->setIcon(symbol);
}

QString IconButton::symbol() const
{
    return m_button->icon();
}

void IconButton::setTint(ColorRole tint)
{
    m_tint = std::move(tint);
    applyTint();
}

QColor IconButton::symbolColor() const
{
    return m_button->symbolColor();
}

void IconButton::applyTint()
{
    m_button->setTint(m_tint ? std::optional<QColor>(m_tint(Palette::of(this))) : std::nullopt);
}

bool IconButton::event(QEvent *event)
{
    // The tint follows the palette in force.
    if (event->type() == PaletteHost::changedEventType() || event->type() == QEvent::ParentChange
        || event->type() == QEvent::Polish)
        applyTint();
    return QWidget::event(event);
}

namespace {

class ScrollBarStyler final : public QObject
{
public:
    explicit ScrollBarStyler(QAbstractScrollArea *area)
        : QObject(area)
        , m_area(area)
    {
        area->installEventFilter(this);
        apply();
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_area && (event->type() == PaletteHost::changedEventType() || event->type() == QEvent::Show))
            apply();
        return false;
    }

private:
    void apply()
    {
        const Palette palette = Palette::of(m_area);
        const QString handle = palette.borderStrong.name(QColor::HexArgb);
        const QString sheet = QStringLiteral(
                                  "QScrollBar:vertical { background: transparent; width: 10px; margin: 2px; }"
                                  "QScrollBar::handle:vertical { background: %1; border-radius: 3px; min-height: 24px; }"
                                  "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                                  "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }")
                                  .arg(handle);
        if (m_area->verticalScrollBar()->styleSheet() != sheet)
            m_area->verticalScrollBar()->setStyleSheet(sheet);
        const QString across = QStringLiteral(
                                   "QScrollBar:horizontal { background: transparent; height: 10px; margin: 2px; }"
                                   "QScrollBar::handle:horizontal { background: %1; border-radius: 3px; min-width: 24px; }"
                                   "QScrollBar::add-line:horizontal, QScrollBar::sub-line:horizontal { width: 0; }"
                                   "QScrollBar::add-page:horizontal, QScrollBar::sub-page:horizontal { background: transparent; }")
                                   .arg(handle);
        if (m_area->horizontalScrollBar()->styleSheet() != across)
            m_area->horizontalScrollBar()->setStyleSheet(across);
    }

    QAbstractScrollArea *m_area;
};

} // namespace

void useThinScrollBars(QAbstractScrollArea *area)
{
    new ScrollBarStyler(area);
}

FilledBox::FilledBox(ColorRole fill, qreal radius, QWidget *parent)
    : QWidget(parent)
    , m_fill(std::move(fill))
    , m_radius(radius)
{
}

void FilledBox::setFillRole(ColorRole fill)
{
    m_fill = std::move(fill);
    update();
}

void FilledBox::paintEvent(QPaintEvent *)
{
    if (!m_fill)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(roundedRectPath(QRectF(rect()), m_radius), m_fill(Palette::of(this)));
}

Rule::Rule(Qt::Orientation orientation, QWidget *parent)
    : QWidget(parent)
{
    if (orientation == Qt::Vertical)
        setFixedWidth(1);
    else
        setFixedHeight(1);
}

void Rule::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Palette::of(this).border);
}
