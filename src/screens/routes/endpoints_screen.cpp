// The routes screen.
#include "screens/routes/endpoints_screen.h"

#include "app/app_state.h"
#include "app/file_actions.h"
#include "app/route_actions.h"
#include "design/badges.h"
#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/ks_button.h"
#include "design/palette.h"
#include "design/search_field.h"
#include "design/shell_widgets.h"
#include "design/snow_empty_state.h"
#include "design/snow_text.h"
#include "engine/engine_client.h"
#include "engine/records/mock_data.h"
#include "screens/routes/route_list_model.h"
#include "screens/routes/route_table_view.h"
#include "screens/routes/routes_logic.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPointer>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

// The titles above the table's columns, at the rows' widths.
class ColumnHeader final : public QWidget
{
public:
    explicit ColumnHeader(QWidget *parent)
        : QWidget(parent)
    {
        setFixedHeight(RouteTable::ColumnHeaderHeight);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        using namespace RouteTable;
        QPainter p(this);
        p.setFont(Fonts::inter(11));
        p.setPen(Palette::of(this).mutedForeground);
        const QRect row = rect();
        const int h = row.height();
        int x = Pad;
        p.drawText(QRect(x, 0, MethodWidth, h), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Method"));
        const QRect address = addressRect(row);
        p.drawText(address, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Host / Path"));
        x = address.right() + 1;
        p.drawText(QRect(x, 0, StatusWidth, h), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Status"));
        x += StatusWidth;
        p.drawText(QRect(x, 0, LatencyWidth, h), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Latency"));
        x += LatencyWidth;
        p.drawText(QRect(x, 0, ActiveWidth, h), Qt::AlignCenter, QStringLiteral("Active"));
    }
};

// The 1-point line under the column header, in borderStrong.
class StrongRule final : public QWidget
{
public:
    explicit StrongRule(QWidget *parent)
        : QWidget(parent)
    {
        setFixedHeight(1);
    }

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), Palette::of(this).borderStrong); }
};

QWidget *padded(QWidget *content, int top, int bottom)
{
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, top, 0, bottom);
    layout->setSpacing(0);
    layout->addWidget(content);
    return page;
}

} // namespace

EndpointsScreen::EndpointsScreen(const AppContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_model(new RouteListModel(context.state, context.engine, this))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(24, 8, 24, 24);
    column->setSpacing(16);
    column->addWidget(buildToolbar());
    column->addWidget(buildTablePanel(), 1);
    connect(m_model, &RouteListModel::listingChanged, this, &EndpointsScreen::refresh);
    refresh();
}

QWidget *EndpointsScreen::buildToolbar()
{
    auto *bar = new QWidget(this);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    m_search = new SearchField(bar);
    m_search->setPlaceholder(QStringLiteral("Filter endpoints…"));
    m_search->setMaximumWidth(340);
    connect(m_search, &SearchField::textEdited, m_model, &RouteListModel::setFilter);
    row->addWidget(m_search, 1);
    row->addStretch(0);
    m_count = new CountBadge(0, bar);
    row->addWidget(m_count);
    row->addWidget(new SnowText(QStringLiteral("routes"), Fonts::ksMeta(),
                                [](const Palette &p) { return p.mutedForeground; }, bar));
    QPointer<AppState> state(m_context.state);
    row->addWidget(new PrimaryButton(QStringLiteral("New route"), QStringLiteral("plus"), KSButton::Size::sm, false,
                                     false, [state] {
                                         if (state)
                                             state->setShowNewRoute(true);
                                     },
                                     bar));
    return bar;
}

QWidget *EndpointsScreen::buildTablePanel()
{
    auto *panel = new CardSurface(16, this);
    auto *column = new QVBoxLayout(panel);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(0);
    column->addWidget(new ColumnHeader(panel));
    column->addWidget(new StrongRule(panel));

    m_stack = new QStackedWidget(panel);
    m_table = new RouteTableView(m_context, m_model);
    useThinScrollBars(m_table);
    m_stack->addWidget(padded(m_table, 4, 0));
    m_emptyProject = buildEmptyProject();
    m_emptyProjectPage = padded(m_emptyProject, 40, 40);
    m_stack->addWidget(m_emptyProjectPage);
    m_noMatch = buildNoMatch();
    m_noMatchPage = padded(m_noMatch, 40, 40);
    m_stack->addWidget(m_noMatchPage);
    column->addWidget(m_stack, 1);
    return panel;
}

SnowEmptyState *EndpointsScreen::buildEmptyProject()
{
    auto *actions = new QWidget;
    auto *row = new QHBoxLayout(actions);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    QPointer<AppState> state(m_context.state);
    QPointer<EngineClient> engine(m_context.engine);
    QPointer<EndpointsScreen> self(this);
    row->addWidget(new PrimaryButton(QStringLiteral("New route"), QStringLiteral("plus"), KSButton::Size::md, false,
                                     false, [state] {
                                         if (state)
                                             state->setShowNewRoute(true);
                                     }));
    row->addWidget(new SecondaryButton(QStringLiteral("Import file…"), QStringLiteral("square.and.arrow.down"), false,
                                       KSButton::Size::md, false, false, [engine, self] {
                                           if (engine && self)
                                               FileActions::importFile(engine, self->window());
                                       }));
    row->addWidget(new SecondaryButton(QStringLiteral("Load demo"), QStringLiteral("sparkles"), false,
                                       KSButton::Size::md, false, false, [self] {
                                           if (self)
                                               self->loadDemo();
                                       }));
    return new SnowEmptyState(QStringLiteral("list.bullet.rectangle"), QStringLiteral("No mock routes yet"),
                              QStringLiteral("Import a HAR/Postman file, add a route, or load the demo set to start mocking."),
                              Palette::primary(), false, actions);
}

SnowEmptyState *EndpointsScreen::buildNoMatch()
{
    QPointer<EndpointsScreen> self(this);
    auto *clear = new SecondaryButton(QStringLiteral("Clear filter"), {}, false, KSButton::Size::sm, false, false,
                                      [self] {
                                          if (self)
                                              self->setFilter(QString());
                                      });
    return new SnowEmptyState(QStringLiteral("magnifyingglass"), RoutesLogic::noMatchTitle(filter()),
                              QStringLiteral("Try a different path, host, or method."),
                              Palette::of(this).mutedForeground, false, clear);
}

QString EndpointsScreen::filter() const
{
    return m_model->filter();
}

void EndpointsScreen::setFilter(const QString &filter)
{
    m_search->setText(filter);
    m_model->setFilter(filter);
}

EndpointsScreen::PanelState EndpointsScreen::panelState() const
{
    if (m_model->filteredCount() > 0)
        return m_model->hasGroups() ? PanelState::grouped : PanelState::flat;
    // A non-empty filter that matches nothing says so, even in a project without routes.
    return filter().isEmpty() ? PanelState::emptyProject : PanelState::noMatch;
}

SnowEmptyState *EndpointsScreen::emptyState() const
{
    if (m_stack->currentWidget() == m_emptyProjectPage)
        return m_emptyProject;
    if (m_stack->currentWidget() == m_noMatchPage)
        return m_noMatch;
    return nullptr;
}

QList<SnowMenuItem> EndpointsScreen::moveItems(const QString &routeID) const
{
    return RouteActions::menuItems(m_context.state, m_context.engine, routeID);
}

void EndpointsScreen::loadDemo()
{
    // Routes may have arrived (a load, an import) since the button was drawn: never replace them.
    if (!m_context.engine->endpoints().isEmpty())
        return;
    const std::vector<Endpoint> &demo = MockData::endpoints();
    m_context.engine->replaceEndpoints(QList<Endpoint>(demo.begin(), demo.end()));
}

void EndpointsScreen::refresh()
{
    m_count->setCount(m_model->filteredCount());
    switch (panelState()) {
    case PanelState::emptyProject:
        m_stack->setCurrentWidget(m_emptyProjectPage);
        break;
    case PanelState::noMatch:
        m_noMatch->titleText()->setText(RoutesLogic::noMatchTitle(filter()));
        m_stack->setCurrentWidget(m_noMatchPage);
        break;
    case PanelState::flat:
    case PanelState::grouped:
        m_stack->setCurrentIndex(0);
        break;
    }
}

bool EndpointsScreen::event(QEvent *event)
{
    // The no-match tile is tinted with the palette's own muted ink, so it follows a theme change.
    if (event->type() == QEvent::Type(PaletteHost::changedEventType()) && m_noMatch) {
        auto *fresh = buildNoMatch();
        auto *layout = m_noMatchPage->layout();
        delete layout->replaceWidget(m_noMatch, fresh);
        m_noMatch->deleteLater();
        m_noMatch = fresh;
        refresh();
    }
    return QWidget::event(event);
}
