// Layout, drawing and choosing of menu entries.
#include "design/snow_menu_list.h"

#include "design/fonts.h"
#include "design/palette.h"
#include "design/symbols.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

namespace {

constexpr int DividerPad = 6;
constexpr int HeaderTop = 5;
constexpr int HeaderBottom = 2;
constexpr int RowPad = 8;
constexpr int IconFrame = 15;
constexpr int Gap = 8;

} // namespace

SnowMenuList::SnowMenuList(QWidget *parent) : QWidget(parent), m_hoverFade(new QVariantAnimation(this))
{
    m_hoverFade->setDuration(150);
    m_hoverFade->setEasingCurve(QEasingCurve::OutCubic);
    m_hoverFade->setStartValue(0.0);
    m_hoverFade->setEndValue(1.0);
    connect(m_hoverFade, &QVariantAnimation::valueChanged, this, [this](const QVariant &v) {
        m_hoverProgress = v.toReal();
        update();
    });
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover);
    relayout();
}

void SnowMenuList::setItems(const QList<SnowMenuItem> &items)
{
    m_items = items;
    m_hovered = -1;
    m_fading = -1;
    m_pressed = -1;
    relayout();
}

void SnowMenuList::setMenuWidth(int width)
{
    m_width = qMax(2 * Padding, width);
    relayout();
}

int SnowMenuList::headerHeight() const
{
    return QFontMetrics(Fonts::inter(12, QFont::DemiBold)).height() + HeaderTop + HeaderBottom;
}

int SnowMenuList::elementHeight(const SnowMenuItem &item) const
{
    if (item.isDivider)
        return 1 + 2 * DividerPad;
    if (item.isHeader)
        return headerHeight();
    return RowHeight;
}

void SnowMenuList::relayout()
{
    m_rects.clear();
    int y = Padding;
    for (int i = 0; i < m_items.size(); ++i) {
        if (i > 0)
            y += Spacing;
        const int h = elementHeight(m_items[i]);
        m_rects.append(QRect(Padding, y, m_width - 2 * Padding, h));
        y += h;
    }
    m_height = y + Padding;
    setFixedSize(m_width, m_height);
    updateGeometry();
    update();
}

QSize SnowMenuList::sizeHint() const
{
    return {m_width, m_height};
}

QRect SnowMenuList::itemRect(int index) const
{
    return index >= 0 && index < m_rects.size() ? m_rects[index] : QRect();
}

int SnowMenuList::itemAt(const QPoint &pos) const
{
    for (int i = 0; i < m_rects.size(); ++i) {
        if (m_rects[i].contains(pos))
            return i;
    }
    return -1;
}

void SnowMenuList::setHoveredIndex(int index)
{
    // Only enabled rows take the hover fill.
    if (index >= 0 && (index >= m_items.size() || !m_items[index].isClickable()))
        index = -1;
    if (index == m_hovered)
        return;
    m_fading = m_hovered;
    m_fadingFrom = m_hoverProgress;
    m_hovered = index;
    m_hoverProgress = 0;
    m_hoverFade->stop();
    m_hoverFade->start();
    update();
}

void SnowMenuList::activate(int index)
{
    if (index < 0 || index >= m_items.size() || !m_items[index].isClickable())
        return;
    // Copies first: dismissing may hide or release this list before the action runs.
    const std::function<void()> action = m_items[index].action;
    const std::function<void()> dismiss = m_onDismiss;
    if (dismiss)
        dismiss();
    if (action)
        action();
}

void SnowMenuList::highlightChecked()
{
    for (int i = 0; i < m_items.size(); ++i) {
        if (m_items[i].checked && m_items[i].isClickable()) {
            setHoveredIndex(i);
            return;
        }
    }
    handleKey(Qt::Key_Home);
}

bool SnowMenuList::handleKey(int key)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        activate(m_hovered);
        return true;
    }
    if (key != Qt::Key_Up && key != Qt::Key_Down && key != Qt::Key_Home && key != Qt::Key_End)
        return false;
    const int step = key == Qt::Key_Down || key == Qt::Key_Home ? 1 : -1;
    const int n = int(m_items.size());
    int i = key == Qt::Key_Home || key == Qt::Key_End ? -1 : m_hovered;
    for (int tries = 0; tries < n; ++tries) {
        i = i < 0 ? (step > 0 ? 0 : n - 1) : (i + step + n) % n;
        if (m_items[i].isClickable()) {
            setHoveredIndex(i);
            break;
        }
    }
    return true;
}

void SnowMenuList::mouseMoveEvent(QMouseEvent *event)
{
    setHoveredIndex(itemAt(event->position().toPoint()));
}

void SnowMenuList::leaveEvent(QEvent *)
{
    setHoveredIndex(-1);
}

void SnowMenuList::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton ? itemAt(event->position().toPoint()) : -1;
    event->accept();
}

void SnowMenuList::mouseReleaseEvent(QMouseEvent *event)
{
    const int pressed = m_pressed;
    m_pressed = -1;
    event->accept();
    if (event->button() == Qt::LeftButton && pressed >= 0 && itemAt(event->position().toPoint()) == pressed)
        activate(pressed);
}

void SnowMenuList::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    const QFont titleFont = Fonts::inter(13);
    const QFont headerFont = Fonts::inter(12, QFont::DemiBold);
    for (int i = 0; i < m_items.size(); ++i) {
        const SnowMenuItem &item = m_items[i];
        const QRect r = m_rects[i];
        if (item.isDivider) {
            p.fillRect(QRectF(r.left(), r.top() + DividerPad, r.width(), 1), palette.subtle);
            continue;
        }
        if (item.isHeader) {
            p.setFont(headerFont);
            p.setPen(palette.mutedForeground);
            const QRect text = r.adjusted(RowPad, HeaderTop, -RowPad, -HeaderBottom);
            p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                       QFontMetrics(headerFont).elidedText(item.title, Qt::ElideRight, text.width()));
            continue;
        }

        p.save();
        p.setOpacity(item.disabled ? 0.5 : 1.0);
        const qreal hover = i == m_hovered ? m_hoverProgress
                            : i == m_fading ? m_fadingFrom * (1 - m_hoverProgress)
                                            : 0.0;
        if (hover > 0 && !item.disabled) {
            QPainterPath path;
            path.addRoundedRect(QRectF(r), 8, 8);
            p.fillPath(path, withOpacity(palette.mutedStrong, hover));
        }
        qreal x = r.left() + RowPad;
        const qreal right = r.right() + 1 - RowPad;
        if (!item.icon.isEmpty()) {
            Symbols::draw(p, QRectF(x, r.top(), IconFrame, r.height()), item.icon, 12,
                          snowMenuIconColor(item.tone, palette));
            x += IconFrame + Gap;
        }
        qreal titleRight = right - Gap;
        if (item.checked) {
            const qreal checkWidth = Symbols::glyphPixelSize(11);
            Symbols::draw(p, QRectF(right - checkWidth, r.top(), checkWidth, r.height()), QStringLiteral("checkmark"),
                          11, palette.accentText());
            titleRight -= checkWidth;
        }
        p.setFont(titleFont);
        p.setPen(snowMenuToneColor(item.tone, palette));
        const QRectF titleRect(x, r.top(), qMax<qreal>(0, titleRight - x), r.height());
        p.drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetrics(titleFont).elidedText(item.title, Qt::ElideRight, int(titleRect.width())));
        p.restore();
    }
}
