// Command palette: matching screens and routes, Return opens the best match.
#include "app/command_palette.h"

#include "app/app_state.h"
#include "app/sheet_presenter.h"
#include "design/badges.h"
#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/indicators.h"
#include "design/keyboard_reach.h"
#include "design/shell_widgets.h"
#include "design/snow_empty_state.h"
#include "design/symbols.h"
#include "engine/engine_client.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPointer>
#include <QVBoxLayout>

namespace {

constexpr int RowHeight = 36;
constexpr int LabelTop = 12;
constexpr int LabelBottom = 4;

} // namespace

void PaletteResultsModel::setResults(const QList<NavItem> &screens, const QList<Endpoint> &routes)
{
    beginResetModel();
    m_rows.clear();
    if (!screens.isEmpty()) {
        m_rows.append({Kind::label, QStringLiteral("Go to"), {}, {}, std::nullopt, NavItem::dashboard, {}});
        for (NavItem item : screens)
            m_rows.append({Kind::screen, Nav::title(item), {}, Nav::icon(item), std::nullopt, item, {}});
    }
    if (!routes.isEmpty()) {
        m_rows.append({Kind::label, QStringLiteral("Routes"), {}, {}, std::nullopt, NavItem::dashboard, {}});
        for (const Endpoint &route : routes) {
            m_rows.append({Kind::route, QString::fromStdString(route.path), QString::fromStdString(route.host), {},
                           route.method, NavItem::endpoints, QString::fromStdString(route.id)});
        }
    }
    endResetModel();
}

int PaletteResultsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant PaletteResultsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Row &row = m_rows[index.row()];
    switch (role) {
    case Qt::DisplayRole: return row.title;
    case KindRole: return int(row.kind);
    case SubtitleRole: return row.subtitle;
    case IconRole: return row.icon;
    case MethodRole: return row.method ? QString::fromLatin1(rawValue(*row.method)) : QString();
    default: return {};
    }
}

Qt::ItemFlags PaletteResultsModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return m_rows[index.row()].kind == Kind::label ? Qt::ItemIsEnabled : Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QRect PaletteRowDelegate::contentRect(const QRect &itemRect, const QModelIndex &index)
{
    return itemRect.adjusted(0, index.row() > 0 ? Spacing : 0, 0, 0);
}

QSize PaletteRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const auto kind = PaletteResultsModel::Kind(index.data(PaletteResultsModel::KindRole).toInt());
    const int gap = index.row() > 0 ? Spacing : 0;
    if (kind == PaletteResultsModel::Kind::label)
        return {option.rect.width(), gap + LabelTop + QFontMetrics(Fonts::inter(11, QFont::Medium)).height() + LabelBottom};
    return {option.rect.width(), gap + RowHeight};
}

void PaletteRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const Palette palette = Palette::of(option.widget);
    const auto kind = PaletteResultsModel::Kind(index.data(PaletteResultsModel::KindRole).toInt());
    const QRect r = contentRect(option.rect, index);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::TextAntialiasing);
    if (kind == PaletteResultsModel::Kind::label) {
        painter->setFont(Fonts::inter(11, QFont::Medium));
        painter->setPen(palette.mutedForeground);
        painter->drawText(r.adjusted(12, LabelTop, -12, -LabelBottom), Qt::AlignLeft | Qt::AlignVCenter,
                          index.data(Qt::DisplayRole).toString());
        painter->restore();
        return;
    }
    if (option.state & (QStyle::State_MouseOver | QStyle::State_Sunken))
        painter->fillPath(roundedRectPath(QRectF(r), 8), palette.subtle);

    int x = r.left() + 12;
    const QString method = index.data(PaletteResultsModel::MethodRole).toString();
    const QString icon = index.data(PaletteResultsModel::IconRole).toString();
    if (!method.isEmpty()) {
        // The design system's own badge, drawn into the row.
        MethodBadge badge(method);
        const QSize size = badge.sizeHint();
        badge.resize(size);
        painter->save();
        painter->translate(x, r.center().y() - size.height() / 2 + 1);
        badge.render(painter, QPoint(), QRegion(), QWidget::DrawChildren);
        painter->restore();
        x += size.width() + 12;
    } else if (!icon.isEmpty()) {
        Symbols::draw(*painter, QRectF(x, r.top(), 16, r.height()), icon, 14, palette.mutedForeground);
        x += 16 + 12;
    }
    const QFont titleFont = Fonts::inter(13, QFont::Medium);
    const QString title = index.data(Qt::DisplayRole).toString();
    const QString subtitle = index.data(PaletteResultsModel::SubtitleRole).toString();
    const int right = r.right() - 12;
    const QFontMetrics titleMetrics(titleFont);
    const QString shownTitle = titleMetrics.elidedText(title, Qt::ElideRight, qMax(0, right - x));
    painter->setFont(titleFont);
    painter->setPen(palette.foreground);
    painter->drawText(QRect(x, r.top(), right - x, r.height()), Qt::AlignLeft | Qt::AlignVCenter, shownTitle);
    x += titleMetrics.horizontalAdvance(shownTitle) + 12;
    if (!subtitle.isEmpty() && x < right) {
        const QFont subFont = Fonts::inter(12);
        painter->setFont(subFont);
        painter->setPen(palette.mutedForeground);
        painter->drawText(QRect(x, r.top(), right - x, r.height()), Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(subFont).elidedText(subtitle, Qt::ElideRight, right - x));
    }
    painter->restore();
}

CommandPalette::CommandPalette(const AppContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_field(new QLineEdit)
    , m_model(new PaletteResultsModel(this))
    , m_view(new QListView)
{
    setFixedSize(Width, Height);
    m_dismiss = [this] { Sheets::dismiss(this); };

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto *queryInset = new QWidget(this);
    auto *insetLayout = new QVBoxLayout(queryInset);
    insetLayout->setContentsMargins(12, 12, 12, 12);
    auto *queryRow = new FilledBox([](const Palette &p) { return p.subtle; }, 12, queryInset);
    queryRow->setFixedHeight(44);
    auto *row = new QHBoxLayout(queryRow);
    row->setContentsMargins(16, 0, 16, 0);
    row->setSpacing(10);
    row->addWidget(new SymbolLabel(QStringLiteral("magnifyingglass"), 14, [](const Palette &p) { return p.faint; },
                                   queryRow));
    m_field->setParent(queryRow);
    m_field->setFrame(false);
    m_field->setFont(Fonts::inter(14));
    m_field->setPlaceholderText(QStringLiteral("Jump to a route or section…"));
    m_field->setAttribute(Qt::WA_MacShowFocusRect, false);
    // The field is the sheet's one stop: Tab there shows the ring round its box.
    KeyboardReach::ringFrameOfEditor(queryRow, m_field, 12);
    row->addWidget(m_field, 1);
    row->addWidget(new KeyCap(QStringLiteral("esc"), queryRow));
    insetLayout->addWidget(queryRow);
    column->addWidget(queryInset);
    column->addWidget(new SnowDivider(false, 0, this));

    m_view->setModel(m_model);
    m_view->setItemDelegate(new PaletteRowDelegate(m_view));
    m_view->setFrameShape(QFrame::NoFrame);
    m_view->setMouseTracking(true);
    m_view->setSpacing(0);
    m_view->setUniformItemSizes(false);
    m_view->setSelectionMode(QAbstractItemView::NoSelection);
    m_view->setFocusPolicy(Qt::NoFocus);
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setStyleSheet(QStringLiteral("QListView { background: transparent; }"));
    m_view->viewport()->setAutoFillBackground(false);
    useThinScrollBars(m_view);
    connect(m_view, &QListView::clicked, this, [this](const QModelIndex &index) { activateRow(index.row()); });
    auto *listBox = new QWidget(this);
    auto *listLayout = new QVBoxLayout(listBox);
    listLayout->setContentsMargins(8, 8, 8, 8);
    listLayout->addWidget(m_view);
    column->addWidget(listBox, 1);

    m_emptyBox = new QWidget(this);
    auto *emptyLayout = new QVBoxLayout(m_emptyBox);
    emptyLayout->setContentsMargins(8, 24 + 8, 8, 24);
    m_empty = new SnowEmptyState(QStringLiteral("magnifyingglass"), QStringLiteral("No matches"), std::nullopt,
                                 Palette::primary(), true, nullptr, m_emptyBox);
    emptyLayout->addWidget(m_empty);
    emptyLayout->addStretch(1);
    column->addWidget(m_emptyBox, 1);

    connect(m_field, &QLineEdit::textChanged, this, &CommandPalette::refresh);
    connect(m_field, &QLineEdit::returnPressed, this, &CommandPalette::activateFirst);
    connect(context.engine, &EngineClient::endpointsChanged, this, &CommandPalette::refresh);
    refresh();
    m_field->setFocus();
}

void CommandPalette::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Palette::of(this).content);
}

QString CommandPalette::query() const
{
    return m_field->text();
}

void CommandPalette::setQuery(const QString &query)
{
    m_field->setText(query);
}

QList<NavItem> CommandPalette::navResults() const
{
    return PaletteSearch::navResults(query());
}

QList<Endpoint> CommandPalette::routeResults() const
{
    return PaletteSearch::routeResults(m_context.engine->endpoints(), query());
}

bool CommandPalette::showsNoMatches() const
{
    return !m_emptyBox->isHidden();
}

void CommandPalette::refresh()
{
    const QList<NavItem> screens = navResults();
    const QList<Endpoint> routes = routeResults();
    m_model->setResults(screens, routes);
    const bool none = screens.isEmpty() && routes.isEmpty();
    m_view->parentWidget()->setVisible(!none);
    m_emptyBox->setVisible(none);
    applyFieldColors();
}

bool CommandPalette::event(QEvent *event)
{
    // The sheet is re-coloured while open when the window's appearance changes.
    if (event->type() == PaletteHost::changedEventType())
        applyFieldColors();
    return QWidget::event(event);
}

void CommandPalette::applyFieldColors()
{
    // The field takes its text colour from the palette in force.
    QPalette fieldPalette = m_field->palette();
    const Palette palette = Palette::of(this);
    fieldPalette.setColor(QPalette::Text, palette.foreground);
    fieldPalette.setColor(QPalette::Base, Qt::transparent);
    fieldPalette.setColor(QPalette::PlaceholderText, palette.faint);
    m_field->setPalette(fieldPalette);
}

void CommandPalette::activateFirst()
{
    open(PaletteSearch::activateFirst(navResults(), routeResults(), query()));
}

void CommandPalette::activateRow(int row)
{
    if (row < 0 || row >= m_model->rowCount())
        return;
    const PaletteResultsModel::Row &result = m_model->row(row);
    if (result.kind == PaletteResultsModel::Kind::screen)
        open(PaletteSearch::OpenScreen{result.item});
    else if (result.kind == PaletteResultsModel::Kind::route)
        open(PaletteSearch::OpenRoute{result.routeID});
}

void CommandPalette::open(const PaletteSearch::Activation &activation)
{
    AppState *state = m_context.state;
    if (const auto *screen = std::get_if<PaletteSearch::OpenScreen>(&activation)) {
        state->select(screen->item);
    } else if (const auto *route = std::get_if<PaletteSearch::OpenRoute>(&activation)) {
        // Straight to the route: no history entry.
        state->setNav(NavItem::endpoints);
        state->setSelectedEndpointID(route->id);
    } else {
        return;
    }
    if (m_dismiss)
        m_dismiss();
}
