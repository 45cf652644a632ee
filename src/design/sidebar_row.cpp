// Sidebar rows and count pills.
#include "design/sidebar_row.h"

#include "design/badges.h"
#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/keyboard_reach.h"
#include "design/palette.h"
#include "design/symbols.h"

#include <QEnterEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QtMath>

namespace {

constexpr int MarkFrame = 17;
constexpr int Spacing = 8;
constexpr int TrailingPad = 8;
constexpr int MinSpacer = 4;

} // namespace

SidebarRow::SidebarRow(const QString &label, QWidget *parent) : QWidget(parent), m_label(label)
{
    m_layout = new QHBoxLayout(this);
    m_layout->setSpacing(0);
    m_layout->addStretch(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    KeyboardReach::install(this, [this] { emit clicked(); });
    relayout();
}

void SidebarRow::setLabel(const QString &label)
{
    m_label = label;
    update();
}

void SidebarRow::setIcon(const QString &symbol)
{
    m_icon = symbol;
    update();
}

void SidebarRow::setEmoji(const QString &emoji)
{
    m_emoji = emoji;
    update();
}

void SidebarRow::setActive(bool active)
{
    m_active = active;
    update();
}

void SidebarRow::setIndent(qreal indent)
{
    m_indent = indent;
    relayout();
}

void SidebarRow::setIconColor(std::optional<QColor> color)
{
    m_iconColor = color;
    update();
}

void SidebarRow::setTrailing(QWidget *trailing)
{
    if (m_trailing) {
        m_layout->removeWidget(m_trailing);
        m_trailing->deleteLater();
    }
    m_trailing = trailing;
    if (trailing)
        m_layout->addWidget(trailing, 0, Qt::AlignVCenter);
    update();
}

int SidebarRow::rowHeight(qreal indent)
{
    return indent > 0 ? 26 : 30;
}

QColor SidebarRow::rowFill(const Palette &palette, bool active, qreal indent, bool hovered)
{
    if (active)
        return indent > 0 ? palette.subtle : palette.mutedStrong;
    return hovered ? palette.muted : QColor(Qt::transparent);
}

void SidebarRow::relayout()
{
    m_layout->setContentsMargins(qRound(m_indent) + 8, 0, TrailingPad, 0);
    setFixedHeight(rowHeight(m_indent));
    updateGeometry();
    update();
}

int SidebarRow::leadingWidth() const
{
    return hasMark() ? MarkFrame + Spacing : 0;
}

QSize SidebarRow::sizeHint() const
{
    const QFontMetrics fm(Fonts::inter(m_indent > 0 ? 12 : 13, QFont::Medium));
    // The row's 8-point spacing also falls before the spacer, and again before a trailing view.
    int w = qRound(m_indent) + 8 + leadingWidth() + fm.horizontalAdvance(m_label) + Spacing + MinSpacer + TrailingPad;
    if (m_trailing)
        w += Spacing + m_trailing->sizeHint().width();
    return {w, rowHeight(m_indent)};
}

QSize SidebarRow::minimumSizeHint() const
{
    return {qRound(m_indent) + 8 + leadingWidth() + TrailingPad + 20, rowHeight(m_indent)};
}

void SidebarRow::enterEvent(QEnterEvent *)
{
    m_hovered = true;
    update();
}

void SidebarRow::leaveEvent(QEvent *)
{
    m_hovered = false;
    update();
}

void SidebarRow::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void SidebarRow::mouseReleaseEvent(QMouseEvent *event)
{
    const bool wasPressed = m_pressed;
    m_pressed = false;
    event->accept();
    if (wasPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

void SidebarRow::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.fillPath(roundedRectPath(QRectF(rect()), 6), rowFill(palette, m_active, m_indent, m_hovered));

    const bool nested = m_indent > 0;
    qreal x = qRound(m_indent) + 8;
    const QRectF markRect(x, 0, MarkFrame, height());
    if (!m_emoji.isEmpty()) {
        p.setFont(Fonts::inter(13));
        p.setPen(palette.foreground);
        p.drawText(markRect, Qt::AlignCenter, m_emoji);
    } else if (!m_icon.isEmpty()) {
        const QColor color = m_active ? palette.foreground : m_iconColor.value_or(palette.mutedForeground);
        Symbols::draw(p, markRect, m_icon, nested ? 12 : 13.5, color);
    }
    x += leadingWidth();
    const bool hasTrailing = m_trailing && m_trailing->isVisible();
    const qreal right = (hasTrailing ? m_trailing->geometry().left() - Spacing : width() - TrailingPad) - MinSpacer
                        - Spacing;
    const QFont font = Fonts::inter(nested ? 12 : 13, m_active ? QFont::Medium : QFont::Normal);
    p.setFont(font);
    p.setPen(withOpacity(palette.foreground, m_active ? 1.0 : 0.82));
    const QRectF labelRect(x, 0, qMax<qreal>(0, right - x), height());
    p.drawText(labelRect, Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetrics(font).elidedText(m_label, Qt::ElideRight, int(labelRect.width())));
    KeyboardReach::paintRing(p, this, QRectF(rect()), 6);
}

SidebarCount::SidebarCount(qint64 count, bool emphasized, QWidget *parent)
    : QWidget(parent), m_count(count), m_emphasized(emphasized)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SidebarCount::setCount(qint64 count)
{
    m_count = count;
    updateGeometry();
    update();
}

void SidebarCount::setEmphasized(bool emphasized)
{
    m_emphasized = emphasized;
    updateGeometry();
    update();
}

QSize SidebarCount::sizeHint() const
{
    const QFontMetrics fm(Fonts::inter(11, QFont::Medium));
    const int textWidth = qCeil(tabularTextWidth(text(), Fonts::inter(11, QFont::Medium))) + 1;
    if (m_emphasized)
        return {qMax(18, textWidth + 10), qMax(18, fm.height())};
    return {textWidth + 4, fm.height()};
}

void SidebarCount::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    if (m_emphasized)
        p.fillPath(roundedRectPath(QRectF(rect()), 6), palette.brand);
    p.setPen(m_emphasized ? palette.onBrand : palette.mutedForeground);
    drawTabularText(p, QRectF(rect()), text(), Fonts::inter(11, QFont::Medium));
}
