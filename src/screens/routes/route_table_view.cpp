// Painting and clicks of the routes table.
#include "screens/routes/route_table_view.h"

#include "app/app_state.h"
#include "app/route_actions.h"
#include "design/badges.h"
#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/keyboard_reach.h"
#include "design/palette.h"
#include "design/snow_context_menu.h"
#include "design/snow_switch.h"
#include "design/symbols.h"
#include "engine/engine_client.h"
#include "screens/routes/route_list_model.h"
#include "screens/routes/routes_logic.h"
#include "screens/routes/row_hover_fade.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QVariantAnimation>

namespace RouteTable {

QRect switchRect(const QRect &row)
{
    const int columnLeft = row.right() + 1 - Pad - ActiveWidth;
    return {columnLeft + (ActiveWidth - SnowSwitch::TrackWidth) / 2, row.top() + (row.height() - SnowSwitch::TrackHeight) / 2,
            SnowSwitch::TrackWidth, SnowSwitch::TrackHeight};
}

QRect addressRect(const QRect &row)
{
    const int left = row.left() + Pad + MethodWidth;
    const int right = row.right() + 1 - Pad - ActiveWidth - LatencyWidth - StatusWidth;
    return {left, row.top(), qMax(0, right - left), row.height()};
}

} // namespace RouteTable

namespace {

using Kind = RouteListModel::Kind;

Kind kindOf(const QModelIndex &index)
{
    return Kind(index.data(RouteListModel::KindRole).toInt());
}

} // namespace

QSize RouteTableDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    return {option.rect.width(), kindOf(index) == Kind::header ? RouteTable::HeaderRowHeight : RouteTable::RouteRowHeight};
}

void RouteTableDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::TextAntialiasing);
    const QRect row = option.rect;
    if (kindOf(index) == Kind::header)
        paintHeader(*painter, row, index, option.widget);
    else
        paintRoute(*painter, row, index, option.widget);
    if (KeyboardRows::ringsRow(option.widget, index))
        KeyboardReach::paintRing(*painter, option.widget, QRectF(row), 8);
    painter->restore();
}

void RouteTableDelegate::paintRoute(QPainter &p, const QRect &row, const QModelIndex &index, const QWidget *widget) const
{
    using namespace RouteTable;
    const Palette palette = Palette::of(widget);
    const bool selected = index.data(RouteListModel::SelectedRole).toBool();
    // Selection wins over hover.
    const RowHoverFade *fade = RowHoverFade::of(widget);
    const qreal hover = fade ? fade->progress(index) : 0;
    if (selected)
        p.fillPath(roundedRectPath(QRectF(row), 8), palette.mutedStrong);
    else if (hover > 0)
        p.fillPath(roundedRectPath(QRectF(row), 8), withOpacity(palette.subtle, hover));

    int x = row.left() + Pad;
    const QString method = index.data(RouteListModel::MethodRole).toString();
    const QSize badge = MethodBadge::sizeFor(method);
    MethodBadge::paint(p, QRectF(x, row.top() + (row.height() - badge.height()) / 2.0, badge.width(), badge.height()),
                       method);

    // Host then path on one shared baseline, shortened in the middle.
    const QRect address = addressRect(row);
    const QFont hostFont = Fonts::inter(12, selected ? QFont::Medium : QFont::Normal);
    const QFont pathFont = Fonts::inter(13, QFont::Medium);
    const RoutesLogic::ElidedAddress shown
        = RoutesLogic::elideAddress(index.data(RouteListModel::HostRole).toString(), hostFont,
                                    index.data(RouteListModel::PathRole).toString(), pathFont, address.width());
    const QFontMetricsF hostMetrics(hostFont);
    const QFontMetricsF pathMetrics(pathFont);
    const qreal baseline = row.top() + (row.height() - pathMetrics.height()) / 2.0 + pathMetrics.ascent();
    qreal tx = address.left();
    const auto run = [&](const QString &text, const QFont &font, const QColor &color) {
        if (text.isEmpty())
            return;
        p.setFont(font);
        p.setPen(color);
        p.drawText(QPointF(tx, baseline), text);
        tx += QFontMetricsF(font).horizontalAdvance(text);
    };
    p.save();
    p.setClipRect(address);
    run(shown.hostStart, hostFont, palette.mutedForeground);
    run(shown.pathStart, pathFont, palette.foreground);
    if (shown.elided)
        run(QStringLiteral("…"), pathFont, palette.mutedForeground);
    run(shown.hostEnd, hostFont, palette.mutedForeground);
    run(shown.pathEnd, pathFont, palette.foreground);
    p.restore();

    x = address.right() + 1;
    const qint64 status = index.data(RouteListModel::StatusRole).toLongLong();
    const QSize chip = StatusChip::sizeFor(status, false);
    StatusChip::paint(p, QRectF(x, row.top() + (row.height() - chip.height()) / 2.0, chip.width(), chip.height()),
                      status, false, palette);
    x += StatusWidth;

    const int latency = index.data(RouteListModel::LatencyRole).toInt();
    p.setFont(Fonts::ksCodeSm());
    p.setPen(RoutesLogic::latencyColor(latency, palette));
    p.drawText(QRect(x, row.top(), LatencyWidth, row.height()), Qt::AlignRight | Qt::AlignVCenter,
               RoutesLogic::latencyText(latency));

    const bool active = index.data(RouteListModel::ActiveRole).toBool();
    SnowSwitch::paint(p, switchRect(row).topLeft(), palette, active ? 1.0 : 0.0, 0, false);
}

void RouteTableDelegate::paintHeader(QPainter &p, const QRect &row, const QModelIndex &index, const QWidget *widget) const
{
    const Palette palette = Palette::of(widget);
    const bool collapsed = index.data(RouteListModel::CollapsedRole).toBool();
    qreal x = row.left() + RouteTable::Pad;

    const qreal glyph = Symbols::glyphPixelSize(9);
    const QRectF chevron(x, row.top() + (row.height() - glyph) / 2.0, glyph, glyph);
    p.save();
    p.translate(chevron.center());
    const auto *view = qobject_cast<const RouteTableView *>(widget);
    p.rotate(view ? view->chevronAngle(index.data(RouteListModel::LabelRole).toString(), collapsed)
                  : (collapsed ? 0 : 90));
    Symbols::draw(p, QRectF(-glyph / 2, -glyph / 2, glyph, glyph), QStringLiteral("chevron.right"), 9, palette.faint);
    p.restore();
    x += glyph + 8;

    const QString label = index.data(RouteListModel::LabelRole).toString();
    const QFont font = Fonts::inter(12, QFont::Medium);
    const QFontMetricsF metrics(font);
    const int count = index.data(RouteListModel::CountRole).toInt();
    const QSize pill = CountBadge::sizeFor(count);
    const qreal labelRoom = qMax<qreal>(0, row.right() + 1 - RouteTable::Pad - x - 8 - pill.width());
    const QString shown = metrics.elidedText(label, Qt::ElideRight, labelRoom);
    p.setFont(font);
    p.setPen(palette.mutedForeground);
    p.drawText(QRectF(x, row.top(), labelRoom, row.height()), Qt::AlignLeft | Qt::AlignVCenter, shown);
    x += metrics.horizontalAdvance(shown) + 8;
    CountBadge::paint(p, QRectF(x, row.top() + (row.height() - pill.height()) / 2.0, pill.width(), pill.height()), count,
                      palette);
}

RouteTableView::RouteTableView(const AppContext &context, RouteListModel *model, QWidget *parent)
    : PaintedListView(parent)
    , m_context(context)
    , m_model(model)
{
    setItemDelegate(new RouteTableDelegate(this));
    m_fold = new QVariantAnimation(this);
    m_fold->setDuration(150);
    m_fold->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_fold, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_foldAngle = value.toReal();
        viewport()->update(headerRect(m_folding));
    });
    setModel(model);

    m_menu = SnowContextMenu::attach(this, 220, [this](const QPoint &pos) -> QList<SnowMenuItem> {
        const QModelIndex index = indexAt(viewport()->mapFrom(this, pos));
        if (!index.isValid())
            return {};
        if (kindOf(index) == Kind::route) {
            m_menu->setWidth(220);
            return RouteActions::menuItems(m_context.state, m_context.engine,
                                           index.data(RouteListModel::RouteIDRole).toString());
        }
        m_menu->setWidth(190);
        return RouteActions::groupMenuItems(m_context.state, index.data(RouteListModel::LabelRole).toString());
    });
    m_menu->setAnchorProvider([this](const QPoint &pos) {
        const QRect row = visualRect(indexAt(viewport()->mapFrom(this, pos)));
        return row.isEmpty() ? QRect() : row.translated(viewport()->mapTo(this, QPoint(0, 0)));
    });

    // Return opens a route or folds a group, Space flips a route's Active switch.
    KeyboardRows::install(this, {[this](const QModelIndex &index) { openRow(index.row()); },
                                 [this](const QModelIndex &index) {
                                     if (m_model->kindAt(index.row()) == Kind::header)
                                         openRow(index.row());
                                     else
                                         m_context.engine->toggleEndpoint(m_model->routeIDAt(index.row()));
                                 },
                                 [this](const QModelIndex &index) {
                                     m_menu->openAt(viewport()->mapTo(this, visualRect(index).center()));
                                 }});
}

qreal RouteTableView::chevronAngle(const QString &label, bool collapsed) const
{
    if (label == m_folding && m_fold->state() == QAbstractAnimation::Running)
        return m_foldAngle;
    return collapsed ? 0 : 90;
}

void RouteTableView::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles)
{
    // A row's height follows its kind, which a data change never alters; the list view would lay out
    // every row again, so only the changed rows are repainted.
    QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
}

QRect RouteTableView::routeRect(const QString &routeID) const
{
    const int row = m_model->rowOfRoute(routeID);
    return row < 0 ? QRect() : visualRect(m_model->index(row));
}

QRect RouteTableView::headerRect(const QString &label) const
{
    const int row = m_model->rowOfHeader(label);
    return row < 0 ? QRect() : visualRect(m_model->index(row));
}

void RouteTableView::clickRow(int row, const QPoint &viewportPos)
{
    if (row < 0 || row >= m_model->rowCount())
        return;
    if (m_model->kindAt(row) == Kind::header) {
        openRow(row);
        return;
    }
    const QString id = m_model->routeIDAt(row);
    if (RouteTable::switchRect(visualRect(m_model->index(row))).contains(viewportPos)) {
        m_context.engine->toggleEndpoint(id);
        return;
    }
    AppState *state = m_context.state;
    state->setSelectedEndpointID(state->selectedEndpointID() == id ? std::nullopt : std::optional<QString>(id));
}

void RouteTableView::openRow(int row)
{
    if (row < 0 || row >= m_model->rowCount())
        return;
    if (m_model->kindAt(row) == Kind::header) {
        const QString label = m_model->index(row).data(RouteListModel::LabelRole).toString();
        const bool collapsing = !m_model->isCollapsed(label);
        const qreal from = chevronAngle(label, !collapsing);
        m_model->toggleCollapsed(label);
        // The chevron turns over 0.15 s, ease in and out.
        m_fold->stop();
        m_folding = label;
        m_fold->setStartValue(from);
        m_fold->setEndValue(collapsing ? 0.0 : 90.0);
        m_foldAngle = from;
        m_fold->start();
        return;
    }
    m_context.state->setSelectedEndpointID(m_model->routeIDAt(row));
}
