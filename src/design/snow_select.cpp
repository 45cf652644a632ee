// Drawing and opening of the select box.
#include "design/snow_select.h"

#include "design/animated_flag.h"
#include "design/fonts.h"
#include "design/hover_animation.h"
#include "design/keyboard_reach.h"
#include "design/palette.h"
#include "design/snow_input.h"
#include "design/snow_menu_list.h"
#include "design/snow_menu_popup.h"
#include "design/symbols.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace {

constexpr int Pad = 10;
constexpr int Spacing = 6;
constexpr qreal ChevronSize = 9;

} // namespace

SnowSelect::SnowSelect(QWidget *parent)
    : QWidget(parent), m_menu(new SnowMenuOpener(this)), m_hover(new HoverAnimation(this)),
      m_openLook(new AnimatedFlag(this, 150))
{
    // Tab shows the ring of the other controls, the box's own focus look being too faint to find;
    // a click still takes the focus, for the arrow keys.
    KeyboardReach::install(this, {});
    setFocusPolicy(Qt::StrongFocus);
    connect(m_menu, &SnowMenuOpener::openChanged, this, [this](bool open) {
        m_openLook->set(open);
        emit openChanged(open);
    });
    applyGeometry();
}

void SnowSelect::setValue(const QString &value, bool placeholder)
{
    m_value = value;
    m_placeholder = placeholder;
    updateGeometry();
    update();
}

void SnowSelect::setIcon(const QString &symbol)
{
    m_icon = symbol;
    updateGeometry();
    update();
}

void SnowSelect::setValueShown(bool shown)
{
    m_valueShown = shown;
    update();
}

int SnowSelect::iconOnlyWidth()
{
    return int(std::ceil(2 * Pad + Symbols::glyphPixelSize(12) + Spacing + Symbols::glyphPixelSize(ChevronSize)));
}

void SnowSelect::setBoxWidth(std::optional<int> width)
{
    m_width = width;
    applyGeometry();
}

void SnowSelect::setSize(KSButton::Size size)
{
    m_size = size;
    applyGeometry();
}

int SnowSelect::effectiveMenuWidth(int menuWidth, std::optional<int> boxWidth)
{
    return qMax(menuWidth, boxWidth.value_or(0));
}

int SnowSelect::effectiveMenuWidth() const
{
    return effectiveMenuWidth(m_menuWidth, m_width);
}

void SnowSelect::setItems(const QList<SnowMenuItem> &items)
{
    m_menu->setItems(items);
}

void SnowSelect::setItemsProvider(std::function<QList<SnowMenuItem>()> provider)
{
    m_menu->setItemsProvider(std::move(provider));
}

bool SnowSelect::isOpen() const
{
    return m_menu->isOpen();
}

void SnowSelect::setOpen(bool open)
{
    if (open) {
        m_menu->setWidth(effectiveMenuWidth());
        m_menu->open();
    } else {
        m_menu->close();
    }
}

int SnowSelect::boxHeight(KSButton::Size size)
{
    return int(KSButton::metrics(size).height);
}

qreal SnowSelect::textSize(KSButton::Size size)
{
    return size == KSButton::Size::sm ? 12 : 13;
}

void SnowSelect::applyGeometry()
{
    const int h = boxHeight(m_size);
    setMinimumHeight(h);
    setMaximumHeight(h);
    if (m_width) {
        setFixedWidth(*m_width);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    } else {
        setMinimumWidth(0);
        setMaximumWidth(QWIDGETSIZE_MAX);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    updateGeometry();
    update();
}

QSize SnowSelect::sizeHint() const
{
    if (m_width)
        return {*m_width, boxHeight(m_size)};
    const QFontMetrics fm(Fonts::inter(textSize(m_size), QFont::Medium));
    int w = 2 * Pad + fm.horizontalAdvance(m_value) + Spacing + int(Symbols::glyphPixelSize(ChevronSize));
    if (!m_icon.isEmpty())
        w += int(Symbols::glyphPixelSize(12)) + Spacing;
    return {w + Spacing, boxHeight(m_size)};
}

QSize SnowSelect::minimumSizeHint() const
{
    return {2 * Pad + 40, boxHeight(m_size)};
}

void SnowSelect::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // The open look is the menu's alone: the focus a click leaves behind shows nothing, and the keyboard's
    // focus has its ring.
    SnowInputLook::paint(p, QRectF(rect()), palette, m_openLook->progress(), m_hover->progress(), 8);

    const QRectF content = QRectF(rect()).adjusted(Pad, 0, -Pad, 0);
    qreal x = content.left();
    if (!m_icon.isEmpty()) {
        const qreal iw = Symbols::glyphPixelSize(12);
        Symbols::draw(p, QRectF(x, content.top(), iw, content.height()), m_icon, 12, palette.mutedForeground);
        x += iw + Spacing;
    }
    const qreal chevronWidth = Symbols::glyphPixelSize(ChevronSize);
    Symbols::draw(p, QRectF(content.right() - chevronWidth, content.top(), chevronWidth, content.height()),
                  QStringLiteral("chevron.up.chevron.down"), ChevronSize, palette.mutedForeground);
    if (m_valueShown) {
        const QFont font = Fonts::inter(textSize(m_size), QFont::Medium);
        const QRectF textRect(x, content.top(), qMax<qreal>(0, content.right() - chevronWidth - Spacing - x),
                              content.height());
        p.setFont(font);
        p.setPen(m_placeholder ? palette.faint : palette.foreground);
        p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetrics(font).elidedText(m_value, Qt::ElideRight, int(textRect.width())));
    }
    KeyboardReach::paintRing(p, this, QRectF(rect()), 8);
}

void SnowSelect::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void SnowSelect::mouseReleaseEvent(QMouseEvent *event)
{
    const bool wasPressed = m_pressed;
    m_pressed = false;
    event->accept();
    if (wasPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        setOpen(!isOpen());
}

void SnowSelect::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (event->modifiers() & ~(Qt::AltModifier | Qt::KeypadModifier))
            break;
        event->accept();
        if (!isOpen()) {
            setOpen(true);
            if (SnowMenuPopup *popup = m_menu->popup(); popup && isOpen())
                popup->list()->highlightChecked();
        }
        return;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}
