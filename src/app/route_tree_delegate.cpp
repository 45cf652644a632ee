// Route tree rows drawn with the sidebar row's look: fills, marks, labels, counts, guide line and off dot.
#include "app/route_tree_delegate.h"

#include "app/route_tree_model.h"
#include "design/badges.h"
#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/keyboard_reach.h"
#include "design/palette.h"
#include "design/sidebar_row.h"
#include "design/symbols.h"

#include <QFontMetrics>
#include <QPainter>
#include <QtMath>

namespace {

// The sidebar row's inner measures: mark frame, spacing, trailing padding and the least room before the trailing view.
constexpr int MarkFrame = 17;
constexpr int Spacing = 8;
constexpr int TrailingPad = 8;
constexpr int MinSpacer = 4;

bool isBlock(const QModelIndex &index)
{
    return RouteTreeModel::Kind(index.data(RouteTreeModel::KindRole).toInt()) == RouteTreeModel::Kind::block;
}

// The count pill's box, right-aligned and centred in the row as the row's layout would place it.
QRect countRect(const QRect &row, int count)
{
    const QFont font = Fonts::inter(11, QFont::Medium);
    const int w = qCeil(tabularTextWidth(QString::number(count), font)) + 1 + 4;
    const int h = QFontMetrics(font).height();
    return {row.right() + 1 - TrailingPad - w, row.top() + (row.height() - h) / 2, w, h};
}

QRect offDotRect(const QRect &row)
{
    const int size = RouteTreeDelegate::OffDotSize;
    return {row.right() + 1 - TrailingPad - size, row.top() + (row.height() - size) / 2, size, size};
}

void drawLabel(QPainter &p, const Palette &palette, const QRect &row, qreal x, int right, bool nested, bool active,
               const QString &text)
{
    const QFont font = Fonts::inter(nested ? 12 : 13, active ? QFont::Medium : QFont::Normal);
    p.setFont(font);
    p.setPen(withOpacity(palette.foreground, active ? 1.0 : 0.82));
    const QRectF labelRect(x, row.top(), qMax<qreal>(0, right - x), row.height());
    p.drawText(labelRect, Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetrics(font).elidedText(text, Qt::ElideRight, int(labelRect.width())));
}

} // namespace

int RouteTreeDelegate::itemHeight(const QModelIndex &index)
{
    const bool first = !index.parent().isValid() && index.row() == 0;
    return (first ? 0 : RowSpacing) + (isBlock(index) ? BlockRowHeight : RouteRowHeight);
}

QRect RouteTreeDelegate::rowRect(const QRect &itemRect, const QModelIndex &index)
{
    const int top = itemRect.bottom() + 1 - (isBlock(index) ? BlockRowHeight : RouteRowHeight);
    const int left = itemRect.left() + (isBlock(index) ? 0 : SubListLeading);
    return QRect(QPoint(left, top), itemRect.bottomRight());
}

QSize RouteTreeDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    return {option.rect.width(), itemHeight(index)};
}

void RouteTreeDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::TextAntialiasing);
    const QRect row = rowRect(option.rect, index);
    const bool hovered = option.state.testFlag(QStyle::State_MouseOver);
    if (isBlock(index))
        paintBlock(*painter, row, hovered, index, option.widget);
    else
        paintRoute(*painter, option.rect, row, hovered, index, option.widget);
    if (option.state.testFlag(QStyle::State_HasFocus) && option.widget)
        KeyboardReach::paintRing(*painter, option.widget, QRectF(row), 6);
    painter->restore();
}

void RouteTreeDelegate::paintBlock(QPainter &p, const QRect &row, bool hovered, const QModelIndex &index,
                                   const QWidget *widget) const
{
    const Palette palette = Palette::of(widget);
    p.fillPath(roundedRectPath(QRectF(row), 6), SidebarRow::rowFill(palette, false, 0, hovered));

    qreal x = row.left() + 8;
    Symbols::draw(p, QRectF(x, row.top(), MarkFrame, row.height()), index.data(RouteTreeModel::SymbolRole).toString(),
                  13.5, palette.mutedForeground);
    x += MarkFrame + Spacing;

    const int count = index.data(RouteTreeModel::CountRole).toInt();
    const QRect pill = countRect(row, count);
    p.setPen(palette.mutedForeground);
    drawTabularText(p, QRectF(pill), QString::number(count), Fonts::inter(11, QFont::Medium));

    drawLabel(p, palette, row, x, pill.left() - Spacing - MinSpacer - Spacing, false, false,
              index.data(Qt::DisplayRole).toString());
}

void RouteTreeDelegate::paintRoute(QPainter &p, const QRect &item, const QRect &row, bool hovered,
                                   const QModelIndex &index, const QWidget *widget) const
{
    const Palette palette = Palette::of(widget);

    // This row's stretch of the block's guide line, which runs through the gaps and stops short of both ends.
    const bool first = index.row() == 0;
    const bool last = index.row() == index.model()->rowCount(index.parent()) - 1;
    const int guideTop = first ? row.top() + GuideMargin : item.top();
    const int guideBottom = last ? row.bottom() + 1 - GuideMargin : item.bottom() + 1;
    if (guideBottom > guideTop)
        p.fillRect(QRect(item.left() + GuideInset, guideTop, 1, guideBottom - guideTop), palette.border);

    const bool selected = index.data(RouteTreeModel::SelectedRole).toBool();
    p.fillPath(roundedRectPath(QRectF(row), 6), SidebarRow::rowFill(palette, selected, RouteIndent, hovered));

    const bool enabled = index.data(RouteTreeModel::EnabledRole).toBool();
    int right = row.right() + 1 - TrailingPad;
    if (!enabled) {
        const QRect dot = offDotRect(row);
        p.setPen(Qt::NoPen);
        p.setBrush(palette.faint);
        p.drawEllipse(dot);
        right = dot.left() - Spacing;
    }
    drawLabel(p, palette, row, row.left() + RouteIndent + 8, right - MinSpacer - Spacing, true, selected,
              index.data(Qt::DisplayRole).toString());
}
