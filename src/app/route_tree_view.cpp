// The sidebar's route tree: layout, painting, clicks, menus and keyboard.
#include "app/route_tree_view.h"

#include "app/app_sidebar.h"
#include "app/app_state.h"
#include "app/route_actions.h"
#include "app/route_tree_delegate.h"
#include "app/route_tree_model.h"
#include "design/keyboard_rows.h"
#include "design/snow_context_menu.h"

#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollArea>

#include <algorithm>

RouteTreeView::RouteTreeView(const AppContext &context, QWidget *parent)
    : QTreeView(parent)
    , m_context(context)
    , m_model(new RouteTreeModel(context.state, context.engine, this))
{
    setHeaderHidden(true);
    setIndentation(0);
    setRootIsDecorated(false);
    setUniformRowHeights(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setSelectionMode(QAbstractItemView::NoSelection);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setMouseTracking(true);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setStyleSheet(QStringLiteral("QTreeView { background: transparent; border: none; }"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setItemDelegate(new RouteTreeDelegate(this));
    setModel(m_model);

    // The tree keeps every block open; folding is the model's, which drops a folded block's rows.
    connect(m_model, &QAbstractItemModel::modelReset, this, &RouteTreeView::relayout);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &RouteTreeView::relayout);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &RouteTreeView::relayout);
    connect(m_model, &QAbstractItemModel::layoutChanged, this, &RouteTreeView::relayout);

    m_menu = SnowContextMenu::attach(this, 220, [this](const QPoint &pos) -> QList<SnowMenuItem> {
        const QModelIndex row = rowAt(viewport()->mapFrom(this, pos));
        if (!row.isValid())
            return {};
        if (RouteTreeModel::Kind(row.data(RouteTreeModel::KindRole).toInt()) == RouteTreeModel::Kind::route) {
            m_menu->setWidth(220);
            return routeMenuItems(row.data(RouteTreeModel::RouteIDRole).toString());
        }
        if (!m_model->showsGroups())
            return {};
        m_menu->setWidth(190);
        return groupMenuItems(row.data(Qt::DisplayRole).toString());
    });
    // The menu hangs below the row that was pressed, as it would below a row of its own.
    m_menu->setAnchorProvider([this](const QPoint &pos) {
        const QRect row = paintedRect(rowAt(viewport()->mapFrom(this, pos)));
        return row.isEmpty() ? QRect() : row.translated(viewport()->mapTo(this, QPoint(0, 0)));
    });
    // Reached by Tab like the rows above it; a click leaves the focus where it was. Up and Down walk the
    // rows shown, Space or Return opens a route or folds a block.
    m_keys = KeyboardRows::install(this,
                                   {[this](const QModelIndex &row) { activate(row); }, {},
                                    [this](const QModelIndex &row) {
                                        m_menu->openAt(viewport()->mapTo(this, paintedRect(row).center()));
                                    }},
                                   KeyboardRows::Click::keepsFocus);
    m_keys->setRows([this] { return shownRows(); });
    // The keyboard starts on the open route, else on the first row.
    m_keys->setStartRow([this] {
        const std::optional<QString> &selected = m_context.state->selectedEndpointID();
        return selected ? m_model->routeIndex(*selected) : QModelIndex();
    });
    connect(m_keys, &KeyboardRows::currentChanged, this, &RouteTreeView::bringIntoView);
    relayout();
}

QModelIndex RouteTreeView::keyboardRow() const
{
    return m_keys->current();
}

void RouteTreeView::relayout()
{
    expandAll();
    m_height = contentHeight();
    setFixedHeight(m_height);
    updateGeometry();
    viewport()->update();
}

int RouteTreeView::contentHeight() const
{
    int height = 0;
    for (int b = 0; b < m_model->rowCount(); ++b) {
        const QModelIndex block = m_model->index(b, 0);
        height += RouteTreeDelegate::itemHeight(block);
        for (int r = 0; r < m_model->rowCount(block); ++r)
            height += RouteTreeDelegate::itemHeight(m_model->index(r, 0, block));
    }
    return height;
}

QSize RouteTreeView::sizeHint() const
{
    return {AppSidebar::Width - 16, m_height};
}

void RouteTreeView::drawRow(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    // The delegate paints the whole row, fills included; the style draws nothing behind it.
    QStyleOptionViewItem row = option;
    row.rect = QRect(0, option.rect.top(), viewport()->width(), option.rect.height());
    row.state.setFlag(QStyle::State_MouseOver, m_hovered.isValid() && QModelIndex(m_hovered) == index);
    row.state.setFlag(QStyle::State_Selected, false);
    row.state.setFlag(QStyle::State_HasFocus, KeyboardRows::ringsRow(this, index));
    itemDelegateForIndex(index)->paint(painter, row, index);
}

QRect RouteTreeView::paintedRect(const QModelIndex &index) const
{
    if (!index.isValid())
        return {};
    const QRect item = visualRect(index);
    if (item.isEmpty())
        return {};
    return RouteTreeDelegate::rowRect(QRect(0, item.top(), viewport()->width(), item.height()), index);
}

QModelIndex RouteTreeView::rowAt(const QPoint &pos) const
{
    const QModelIndex index = indexAt(QPoint(0, pos.y()));
    return paintedRect(index).contains(pos) ? index : QModelIndex();
}

QRect RouteTreeView::blockRect(const QString &label) const
{
    return paintedRect(m_model->blockIndex(label));
}

QRect RouteTreeView::routeRect(const QString &routeID) const
{
    return paintedRect(m_model->routeIndex(routeID));
}

void RouteTreeView::setHovered(const QModelIndex &index)
{
    if (QModelIndex(m_hovered) == index)
        return;
    const QRect before = paintedRect(m_hovered);
    m_hovered = index;
    viewport()->update(before);
    viewport()->update(paintedRect(index));
}

void RouteTreeView::mousePressEvent(QMouseEvent *event)
{
    // Like a sidebar row: a left press arms a tap; other buttons do nothing here.
    m_tap.press(event, rowAt(event->position().toPoint()));
    event->accept();
}

void RouteTreeView::mouseDoubleClickEvent(QMouseEvent *event)
{
    mousePressEvent(event);
}

void RouteTreeView::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    const QModelIndex tapped = m_tap.release(event, rowAt(event->position().toPoint()));
    if (tapped.isValid())
        activate(tapped);
}

void RouteTreeView::mouseMoveEvent(QMouseEvent *event)
{
    setHovered(rowAt(event->position().toPoint()));
    event->accept();
}

void RouteTreeView::wheelEvent(QWheelEvent *event)
{
    // The sidebar's scroll area does the scrolling.
    event->ignore();
}

QList<QModelIndex> RouteTreeView::shownRows() const
{
    QList<QModelIndex> rows;
    for (int b = 0; b < m_model->rowCount(); ++b) {
        const QModelIndex block = m_model->index(b, 0);
        rows.append(block);
        for (int r = 0; r < m_model->rowCount(block); ++r)
            rows.append(m_model->index(r, 0, block));
    }
    return rows;
}

void RouteTreeView::bringIntoView(const QModelIndex &index)
{
    // The sidebar's scroll area scrolls, not the tree: bring the row into its view.
    const QRect row = paintedRect(index);
    for (QWidget *up = parentWidget(); up && !row.isEmpty(); up = up->parentWidget()) {
        if (auto *area = qobject_cast<QScrollArea *>(up)) {
            if (area->widget()) {
                const QPoint at = viewport()->mapTo(area->widget(), row.center());
                area->ensureVisible(at.x(), at.y(), 0, row.height() / 2 + 8);
            }
            break;
        }
    }
}

void RouteTreeView::activate(const QModelIndex &index)
{
    if (RouteTreeModel::Kind(index.data(RouteTreeModel::KindRole).toInt()) == RouteTreeModel::Kind::route)
        openRoute(index.data(RouteTreeModel::RouteIDRole).toString());
    else
        toggleFold(index.data(Qt::DisplayRole).toString());
}

void RouteTreeView::keyPressEvent(QKeyEvent *event)
{
    // The rows' keys are taken before this; the rest go up to the window (shortcuts, Tab).
    event->ignore();
}

bool RouteTreeView::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::Leave)
        setHovered({});
    return QTreeView::viewportEvent(event);
}

bool RouteTreeView::showsGroups() const
{
    return m_model->showsGroups();
}

QStringList RouteTreeView::blockLabels() const
{
    return m_model->blockLabels();
}

QStringList RouteTreeView::visibleRouteIDs(const QString &label) const
{
    return m_model->isFolded(label) ? QStringList{} : m_model->routeIDs(label);
}

bool RouteTreeView::isFolded(const QString &label) const
{
    return m_model->isFolded(label);
}

void RouteTreeView::toggleFold(const QString &label)
{
    m_model->toggleFold(label);
}

void RouteTreeView::openRoute(const QString &routeID)
{
    m_context.state->select(NavItem::endpoints);
    m_context.state->setSelectedEndpointID(routeID);
}

QList<SnowMenuItem> RouteTreeView::groupMenuItems(const QString &label) const
{
    return RouteActions::groupMenuItems(m_context.state, label);
}

QList<SnowMenuItem> RouteTreeView::routeMenuItems(const QString &routeID) const
{
    return RouteActions::menuItems(m_context.state, m_context.engine, routeID);
}

void RouteTreeView::duplicateRoute(const QString &routeID)
{
    RouteActions::duplicate(m_context.state, m_context.engine, routeID);
}

void RouteTreeView::deleteRoute(const QString &routeID)
{
    RouteActions::remove(m_context.state, m_context.engine, routeID);
}
