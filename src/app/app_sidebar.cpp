// The sidebar: project switcher, navigation rows, the route tree with its menus, and the footer.
#include "app/app_sidebar.h"

#include "app/app_state.h"
#include "app/file_actions.h"
#include "app/route_tree.h"
#include "app/shell_widgets.h"
#include "design/badges.h"
#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/indicators.h"
#include "design/ks_button.h"
#include "design/project_color.h"
#include "design/sidebar_row.h"
#include "design/snow_context_menu.h"
#include "design/snow_dropdown.h"
#include "engine/engine_client.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

constexpr int RowSpacing = 2;
constexpr int RouteIndent = 8;
constexpr int SubListLeading = 14;
constexpr int GuideInset = 12;
constexpr char routeActiveProperty[] = "ksRouteActive";

// The coloured square with the project's initials.
class ProjectAvatar final : public QWidget
{
public:
    explicit ProjectAvatar(QWidget *parent)
        : QWidget(parent)
    {
        setFixedSize(24, 24);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void set(const QColor &fill, const QString &initials)
    {
        m_fill = fill;
        m_initials = initials;
        update();
    }
    QString initials() const { return m_initials; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(roundedRectPath(QRectF(rect()), 8), m_fill);
        painter.setFont(Fonts::inter(11, QFont::DemiBold));
        painter.setPen(QColor(0, 0, 0, int(0.7 * 255)));
        painter.drawText(rect(), Qt::AlignCenter, m_initials);
    }

private:
    QColor m_fill;
    QString m_initials;
};

// The 5-point dot that marks a switched-off route.
class OffDot final : public QWidget
{
public:
    explicit OffDot(QWidget *parent = nullptr)
        : QWidget(parent)
    {
        setFixedSize(5, 5);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Palette::of(this).faint);
        painter.drawEllipse(rect());
    }
};

QColor assistantColor(const Palette &palette)
{
    return palette.isDark ? Palette::indigo() : QColor(110, 110, 214);
}

} // namespace

AppSidebar::AppSidebar(const AppContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_state(context.state)
    , m_engine(context.engine)
{
    setFixedWidth(Width);
    setAutoFillBackground(false);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addSpacing(38);
    column->addWidget(buildHeader());

    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
    scroll->viewport()->setAutoFillBackground(false);
    useThinScrollBars(scroll);
    auto *content = new QWidget;
    content->setAutoFillBackground(false);
    auto *list = new QVBoxLayout(content);
    list->setContentsMargins(8, 0, 8, 16);
    list->setSpacing(RowSpacing);

    struct NavRowSpec
    {
        NavItem item;
        const char *label;
        const char *symbol;
    };
    const NavRowSpec primary[] = {
        {NavItem::dashboard, "Dashboard", "house"},
        {NavItem::endpoints, "Endpoints", "chevron.left.forwardslash.chevron.right"},
        {NavItem::liveTraffic, "Live Traffic", "waveform"},
        {NavItem::history, "History", "clock.arrow.circlepath"},
        {NavItem::schema, "Schema Drift", "arrow.triangle.branch"},
    };
    const NavRowSpec security[] = {
        {NavItem::certificates, "Certificates", "lock.shield"},
        {NavItem::devices, "Devices", "iphone"},
    };
    auto addNavRow = [&](const NavRowSpec &spec) {
        auto *row = new SidebarRow(QString::fromUtf8(spec.label), content);
        row->setIcon(QString::fromLatin1(spec.symbol));
        const NavItem item = spec.item;
        connect(row, &SidebarRow::clicked, this, [this, item] { m_state->select(item); });
        m_navRows[item] = row;
        list->addWidget(row);
    };
    for (const auto &spec : primary)
        addNavRow(spec);
    auto *labelBox = new QWidget(content);
    auto *labelLayout = new QVBoxLayout(labelBox);
    labelLayout->setContentsMargins(8, 16, 8, 4);
    labelLayout->addWidget(new ShellText(QStringLiteral("Security"), Fonts::inter(11, QFont::Medium),
                                         [](const Palette &p) { return p.mutedForeground; }, labelBox));
    list->addWidget(labelBox);
    for (const auto &spec : security)
        addNavRow(spec);

    m_endpointCount = new SidebarCount(0, false);
    m_navRows[NavItem::endpoints]->setTrailing(m_endpointCount);

    list->addWidget(buildRoutesHeader());
    m_emptyNote = buildEmptyNote();
    m_emptyNote->setParent(content);
    list->addWidget(m_emptyNote);
    m_tree = new RouteTreeView(context, content);
    list->addWidget(m_tree);
    list->addStretch(1);
    scroll->setWidget(content);
    content->setAutoFillBackground(false); // setWidget turns it on
    column->addWidget(scroll, 1);
    column->addWidget(buildFooter());

    connect(m_state, &AppState::navChanged, this, [this] {
        refreshNav();
        m_tree->refresh();
    });
    connect(m_state, &AppState::selectedEndpointIDChanged, this, [this] {
        refreshNav();
        m_tree->refresh();
    });
    connect(m_engine, &EngineClient::endpointsChanged, this, [this] {
        refreshNav();
        refreshRoutes();
    });
    connect(m_engine, &EngineClient::projectsChanged, this, &AppSidebar::refreshProject);
    connect(m_engine, &EngineClient::activeProjectIDChanged, this, &AppSidebar::refreshProject);

    refreshNav();
    refreshProject();
    refreshRoutes();
}

QWidget *AppSidebar::buildHeader()
{
    auto *header = new QWidget(this);
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(12, 0, 12, 8);
    row->setSpacing(8);

    m_switcher = new SnowDropdown(header);
    m_switcher->setMenuWidth(232);
    m_switcher->setItemsProvider([this] { return projectMenuItems(); });
    auto *label = new QWidget;
    label->setFixedHeight(32);
    auto *labelRow = new QHBoxLayout(label);
    labelRow->setContentsMargins(6, 0, 6, 0);
    labelRow->setSpacing(9);
    m_avatar = new ProjectAvatar(label);
    m_projectName = new ShellText({}, Fonts::inter(13, QFont::DemiBold), [](const Palette &p) { return p.foreground; },
                                  label);
    m_projectName->setElideMode(Qt::ElideRight);
    auto *chevron = new SymbolLabel(QStringLiteral("chevron.up.chevron.down"), 9,
                                    [](const Palette &p) { return p.faint; }, label);
    labelRow->addWidget(m_avatar);
    labelRow->addWidget(m_projectName);
    labelRow->addWidget(chevron);
    m_switcher->setLabelWidget(label);
    // A long name is cut at its end rather than pushing the button away.
    m_switcher->setMaximumWidth(Width - 24 - 28 - 8);
    row->addWidget(m_switcher);
    row->addStretch(1);

    auto *newRoute = new IconButton(QStringLiteral("square.and.pencil"), 28, 14, {}, header);
    newRoute->setToolTip(QStringLiteral("New route"));
    connect(newRoute, &IconButton::clicked, this, [this] { m_state->setShowNewRoute(true); });
    row->addWidget(newRoute);
    return header;
}

QWidget *AppSidebar::buildRoutesHeader()
{
    auto *header = new QWidget;
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(8, 16, 8, 4);
    row->setSpacing(4);

    auto *toggle = new PlainButton(header);
    auto *toggleRow = new QHBoxLayout(toggle);
    toggleRow->setContentsMargins(0, 0, 0, 0);
    toggleRow->setSpacing(4);
    toggleRow->addWidget(new ShellText(QStringLiteral("Mock routes"), Fonts::inter(11, QFont::Medium),
                                       [](const Palette &p) { return p.mutedForeground; }, toggle));
    m_routesChevron = new SymbolLabel(QStringLiteral("chevron.down"), 8, [](const Palette &p) { return p.faint; }, toggle);
    toggleRow->addWidget(m_routesChevron);
    connect(toggle, &PlainButton::clicked, this, [this] { setRoutesOpen(!m_routesOpen); });
    row->addWidget(toggle);
    row->addStretch(1);

    auto *add = new IconButton(QStringLiteral("plus"), 20, 10, {}, header);
    add->setToolTip(QStringLiteral("New route"));
    connect(add, &IconButton::clicked, this, [this] { m_state->setShowNewRoute(true); });
    row->addWidget(add);
    return header;
}

QWidget *AppSidebar::buildEmptyNote()
{
    auto *outer = new QWidget;
    auto *outerLayout = new QVBoxLayout(outer);
    outerLayout->setContentsMargins(4, 4, 4, 0);
    auto *note = new FilledBox([](const Palette &p) { return p.card; }, 12, outer);
    auto *column = new QVBoxLayout(note);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(8);
    column->addWidget(new ShellText(QStringLiteral("No routes yet"), Fonts::inter(12, QFont::Medium),
                                    [](const Palette &p) { return p.foreground; }, note));
    auto *message = new ShellText(QStringLiteral("Add a route or import a session to start mocking."),
                                  Fonts::inter(11), [](const Palette &p) { return p.mutedForeground; }, note);
    message->setWrap(true);
    column->addWidget(message);
    auto *add = new KSButton(QStringLiteral("Add route"), QStringLiteral("plus"), KSButton::Variant::secondary,
                             KSButton::Size::sm, false, false, false, [this] { m_state->setShowNewRoute(true); }, note);
    column->addWidget(add, 0, Qt::AlignLeft);
    outerLayout->addWidget(note);
    return outer;
}

QWidget *AppSidebar::buildFooter()
{
    auto *footer = new QWidget(this);
    auto *column = new QVBoxLayout(footer);
    column->setContentsMargins(8, 0, 8, 12);
    column->setSpacing(RowSpacing);
    column->addWidget(new SnowDivider(false, 0, footer));
    column->addSpacing(4 - RowSpacing);

    m_assistantRow = new SidebarRow(QStringLiteral("Assistant"), footer);
    m_assistantRow->setIcon(QStringLiteral("sparkle"));
    m_assistantRow->setTrailing(new SnowTag(QStringLiteral("NEW"), SnowTag::Tone::violet, {}, true));
    connect(m_assistantRow, &SidebarRow::clicked, this, [this] { m_state->setShowSettings(true); });
    column->addWidget(m_assistantRow);

    m_settingsRow = new SidebarRow(QStringLiteral("Settings"), footer);
    m_settingsRow->setIcon(QStringLiteral("gearshape"));
    connect(m_settingsRow, &SidebarRow::clicked, this, [this] { m_state->setShowSettings(true); });
    column->addWidget(m_settingsRow);
    return footer;
}

void AppSidebar::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter painter(this);
    painter.fillRect(rect(), palette.sidebarBg);
}

bool AppSidebar::event(QEvent *event)
{
    // The assistant's mark follows the palette in force.
    if (event->type() == PaletteHost::changedEventType() || event->type() == QEvent::Polish)
        m_assistantRow->setIconColor(assistantColor(Palette::of(this)));
    return QWidget::event(event);
}

QString AppSidebar::activeProjectName() const
{
    const std::string id = m_engine->activeProjectID().toStdString();
    for (const Project &project : m_engine->projects()) {
        if (project.id == id)
            return QString::fromStdString(project.name);
    }
    return QStringLiteral("Kestrion");
}

QList<SnowMenuItem> AppSidebar::projectMenuItems() const
{
    QList<SnowMenuItem> items;
    const QString active = m_engine->activeProjectID();
    QPointer<EngineClient> engine(m_engine);
    QPointer<AppState> state(m_state);
    for (const Project &project : m_engine->projects()) {
        const QString id = QString::fromStdString(project.id);
        items.append(SnowMenuItem::entry(QString::fromStdString(project.name), {}, [engine, state, id] {
            if (state)
                state->setSelectedEndpointID(std::nullopt);
            if (engine && engine->activeProjectID() != id)
                engine->activateProject(id);
        }, SnowMenuItem::Tone::normal, id == active));
    }
    items.append(SnowMenuItem::divider());
    items.append(SnowMenuItem::entry(QStringLiteral("New project…"), QStringLiteral("plus"), [state] {
        if (state)
            state->setShowNewProject(true);
    }));
    QPointer<QWidget> window(const_cast<AppSidebar *>(this)->window());
    items.append(SnowMenuItem::entry(QStringLiteral("Import OpenAPI…"), QStringLiteral("square.and.arrow.down"),
                                     [engine, window] {
                                         if (engine)
                                             FileActions::importOpenAPI(engine, window);
                                     }));
    items.append(SnowMenuItem::entry(QStringLiteral("Manage projects…"), QStringLiteral("slider.horizontal.3"), [state] {
        if (state)
            state->setShowManageProjects(true);
    }));
    return items;
}

SidebarRow *AppSidebar::navRow(NavItem item) const
{
    const auto found = m_navRows.find(item);
    return found == m_navRows.end() ? nullptr : found->second;
}

void AppSidebar::setRoutesOpen(bool open)
{
    m_routesOpen = open;
    m_routesChevron->setSymbol(open ? QStringLiteral("chevron.down") : QStringLiteral("chevron.right"));
    refreshRoutes();
}

void AppSidebar::refreshNav()
{
    const NavItem nav = m_state->nav();
    for (const auto &[item, row] : m_navRows) {
        bool active = nav == item;
        if (item == NavItem::endpoints)
            active = active && !m_state->selectedEndpointID().has_value();
        row->setActive(active);
    }
    const qsizetype count = m_engine->endpoints().size();
    m_endpointCount->setCount(count);
    m_endpointCount->setVisible(count >= 1);
}

void AppSidebar::refreshProject()
{
    const QString name = activeProjectName();
    m_projectName->setText(name);
    static_cast<ProjectAvatar *>(m_avatar)->set(ProjectColor::color(m_engine->activeProjectID()),
                                               RouteTree::initials(name));
}

void AppSidebar::refreshRoutes()
{
    const bool empty = m_engine->endpoints().isEmpty();
    m_emptyNote->setVisible(m_routesOpen && empty);
    m_tree->setVisible(m_routesOpen && !empty);
    m_tree->refresh();
}

RouteTreeView::RouteTreeView(const AppContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

SidebarRow *RouteTreeView::headerFor(const QString &label, bool group)
{
    auto &headers = group ? m_groupHeaders : m_hostHeaders;
    if (SidebarRow *row = headers.value(label))
        return row;
    auto *row = new SidebarRow(label, this);
    row->setIcon(group ? QStringLiteral("folder") : QStringLiteral("globe"));
    row->setTrailing(new SidebarCount(0, false));
    connect(row, &SidebarRow::clicked, this, [this, label] { toggleFold(label); });
    if (group) {
        SnowContextMenu::attach(row, 190, [this, label](const QPoint &) { return groupMenuItems(label); });
    }
    headers.insert(label, row);
    return row;
}

SidebarRow *RouteTreeView::rowFor(const Endpoint &route)
{
    const QString id = QString::fromStdString(route.id);
    SidebarRow *row = m_routeRows.value(id);
    if (!row) {
        row = new SidebarRow(QString::fromStdString(route.path), this);
        row->setIndent(RouteIndent);
        connect(row, &SidebarRow::clicked, this, [this, id] {
            m_context.state->select(NavItem::endpoints);
            m_context.state->setSelectedEndpointID(id);
        });
        SnowContextMenu::attach(row, 220, [this, id](const QPoint &) { return routeMenuItems(id); });
        m_routeRows.insert(id, row);
        row->setProperty(routeActiveProperty, true);
    }
    row->setLabel(QString::fromStdString(route.path));
    // Only a switched-off route carries the dot; the row remembers which it shows.
    if (row->property(routeActiveProperty).toBool() != route.active) {
        row->setTrailing(route.active ? nullptr : new OffDot);
        row->setProperty(routeActiveProperty, route.active);
    }
    const AppState *state = m_context.state;
    row->setActive(state->nav() == NavItem::endpoints && state->selectedEndpointID() == id);
    return row;
}

void RouteTreeView::refresh()
{
    const QList<Endpoint> &routes = m_context.engine->endpoints();
    m_showsGroups = RouteTree::hasGroups(routes);
    const QList<RouteTree::Block> blocks = m_showsGroups ? RouteTree::groupSections(routes)
                                                         : RouteTree::hostGroups(routes);
    QSet<QString> usedRows;
    QSet<SidebarRow *> usedHeaders;
    m_blocks.clear();
    for (const RouteTree::Block &block : blocks) {
        Block shown{block.title(), {}};
        SidebarRow *header = headerFor(shown.label, m_showsGroups);
        header->findChild<SidebarCount *>()->setCount(block.routes.size());
        usedHeaders.insert(header);
        for (const Endpoint &route : block.routes) {
            rowFor(route);
            const QString id = QString::fromStdString(route.id);
            shown.routeIDs.append(id);
            usedRows.insert(id);
        }
        m_blocks.append(shown);
    }
    // Rows of routes and labels that are gone are dropped; the fold sets keep their labels.
    for (auto it = m_routeRows.begin(); it != m_routeRows.end();) {
        if (!usedRows.contains(it.key())) {
            it.value()->deleteLater();
            it = m_routeRows.erase(it);
        } else {
            ++it;
        }
    }
    for (auto *headers : {&m_hostHeaders, &m_groupHeaders}) {
        for (auto it = headers->begin(); it != headers->end();) {
            if (!usedHeaders.contains(it.value())) {
                it.value()->deleteLater();
                it = headers->erase(it);
            } else {
                ++it;
            }
        }
    }
    placeRows();
}

void RouteTreeView::placeRows()
{
    const int w = width();
    int y = 0;
    m_guides.clear();
    bool first = true;
    for (const Block &block : std::as_const(m_blocks)) {
        if (!first)
            y += RowSpacing;
        first = false;
        SidebarRow *header = (m_showsGroups ? m_groupHeaders : m_hostHeaders).value(block.label);
        const int headerHeight = SidebarRow::rowHeight(0);
        header->setGeometry(0, y, w, headerHeight);
        header->show();
        y += headerHeight;
        const bool folded = foldSet().contains(block.label);
        if (folded) {
            for (const QString &id : block.routeIDs)
                m_routeRows.value(id)->hide();
            continue;
        }
        y += RowSpacing;
        const int listTop = y;
        bool firstRow = true;
        for (const QString &id : block.routeIDs) {
            if (!firstRow)
                y += RowSpacing;
            firstRow = false;
            SidebarRow *row = m_routeRows.value(id);
            const int h = SidebarRow::rowHeight(RouteIndent);
            row->setGeometry(SubListLeading, y, w - SubListLeading, h);
            row->show();
            y += h;
        }
        m_guides.append(QRect(GuideInset, listTop + 4, 1, qMax(0, y - listTop - 8)));
    }
    m_height = y;
    setFixedHeight(m_height);
    update();
}

void RouteTreeView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeRows();
}

void RouteTreeView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QColor border = Palette::of(this).border;
    for (const QRect &guide : std::as_const(m_guides))
        painter.fillRect(guide, border);
}

QSize RouteTreeView::sizeHint() const
{
    return {AppSidebar::Width - 16, m_height};
}

QStringList RouteTreeView::blockLabels() const
{
    QStringList labels;
    for (const Block &block : m_blocks)
        labels.append(block.label);
    return labels;
}

QStringList RouteTreeView::visibleRouteIDs(const QString &label) const
{
    for (const Block &block : m_blocks) {
        if (block.label == label)
            return foldSet().contains(label) ? QStringList{} : block.routeIDs;
    }
    return {};
}

SidebarRow *RouteTreeView::blockHeader(const QString &label) const
{
    return (m_showsGroups ? m_groupHeaders : m_hostHeaders).value(label);
}

SidebarRow *RouteTreeView::routeRow(const QString &routeID) const
{
    return m_routeRows.value(routeID);
}

bool RouteTreeView::isFolded(const QString &label) const
{
    return foldSet().contains(label);
}

void RouteTreeView::toggleFold(const QString &label)
{
    QSet<QString> &set = foldSet();
    if (set.contains(label))
        set.remove(label);
    else
        set.insert(label);
    placeRows();
}

QList<SnowMenuItem> RouteTreeView::groupMenuItems(const QString &label) const
{
    if (label == QLatin1String(RouteTree::ungroupedLabel))
        return {};
    QPointer<AppState> state(m_context.state);
    return {SnowMenuItem::entry(QStringLiteral("Rename group…"), QStringLiteral("pencil"), [state, label] {
        if (state)
            state->openRenameGroup(label);
    })};
}

QList<SnowMenuItem> RouteTreeView::routeMenuItems(const QString &routeID) const
{
    const std::string id = routeID.toStdString();
    std::optional<Endpoint> found;
    for (const Endpoint &route : m_context.engine->endpoints()) {
        if (route.id == id) {
            found = route;
            break;
        }
    }
    if (!found)
        return {};
    const Endpoint route = *found;
    QPointer<EngineClient> engine(m_context.engine);
    QPointer<AppState> state(m_context.state);
    QPointer<RouteTreeView> self(const_cast<RouteTreeView *>(this));

    QList<SnowMenuItem> items;
    items.append(SnowMenuItem::entry(QStringLiteral("Duplicate route"), QStringLiteral("plus.square.on.square"),
                                     [self, routeID] {
                                         if (self)
                                             self->duplicateRoute(routeID);
                                     }));
    items.append(SnowMenuItem::entry(route.active ? QStringLiteral("Disable route") : QStringLiteral("Enable route"),
                                     route.active ? QStringLiteral("pause.circle") : QStringLiteral("play.circle"),
                                     [engine, routeID] {
                                         if (engine)
                                             engine->toggleEndpoint(routeID);
                                     }));
    items.append(SnowMenuItem::divider());
    items.append(SnowMenuItem::header(QStringLiteral("Move to group")));
    items.append(SnowMenuItem::entry(QStringLiteral("Ungrouped"), {}, [engine, routeID] {
        if (engine)
            engine->setGroup(routeID, QString());
    }, SnowMenuItem::Tone::normal, route.group.empty()));
    const QString current = QString::fromStdString(route.group);
    for (const QString &name : m_context.engine->groupNames()) {
        items.append(SnowMenuItem::entry(name, {}, [engine, routeID, name] {
            if (engine)
                engine->setGroup(routeID, name);
        }, SnowMenuItem::Tone::normal, current == name));
    }
    items.append(SnowMenuItem::entry(QStringLiteral("New group…"), QStringLiteral("plus"), [state, routeID] {
        if (state)
            state->openNewGroup(routeID);
    }));
    items.append(SnowMenuItem::divider());
    items.append(SnowMenuItem::entry(QStringLiteral("Delete route"), QStringLiteral("trash"), [self, routeID] {
        if (self)
            self->deleteRoute(routeID);
    }, SnowMenuItem::Tone::destructive));
    return items;
}

void RouteTreeView::duplicateRoute(const QString &routeID)
{
    const std::optional<QString> copy = m_context.engine->duplicateEndpoint(routeID);
    if (!copy)
        return;
    m_context.state->setNav(NavItem::endpoints);
    m_context.state->setSelectedEndpointID(*copy);
}

void RouteTreeView::deleteRoute(const QString &routeID)
{
    if (m_context.state->selectedEndpointID() == routeID)
        m_context.state->setSelectedEndpointID(std::nullopt);
    const std::string id = routeID.toStdString();
    QList<Endpoint> routes = m_context.engine->endpoints();
    routes.removeIf([&id](const Endpoint &route) { return route.id == id; });
    m_context.engine->setEndpoints(routes);
    m_context.engine->pushRoutes();
}
