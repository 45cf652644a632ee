// The sidebar: project switcher, navigation rows, the routes section and the footer.
#include "app/app_sidebar.h"

#include "app/app_state.h"
#include "app/file_actions.h"
#include "app/project_actions.h"
#include "app/route_tree.h"
#include "design/badges.h"
#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/indicators.h"
#include "design/ks_button.h"
#include "design/project_color.h"
#include "design/shell_widgets.h"
#include "design/sidebar_row.h"
#include "design/snow_dropdown.h"
#include "engine/engine_client.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace {

constexpr int RowSpacing = 2;
// Room the routes toggle keeps round its label, across, for the focus ring.
constexpr int RoutesToggleRingRoom = 5;

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
    // Tab goes from the header straight to the rows: the list scrolls to whichever row takes the focus.
    scroll->setFocusPolicy(Qt::NoFocus);
    useThinScrollBars(scroll);
    auto *content = new QWidget;
    content->setAutoFillBackground(false);
    // The rows always take the viewport's width, the scroll bar's share given up, so the list never
    // scrolls sideways when a row takes the focus.
    content->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
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
    // Note and tree share one body, so that folding the section can animate its height.
    m_routesBody = new QWidget(content);
    auto *body = new QVBoxLayout(m_routesBody);
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    m_emptyNote = buildEmptyNote();
    m_emptyNote->setParent(m_routesBody);
    body->addWidget(m_emptyNote);
    m_tree = new RouteTreeView(context, m_routesBody);
    body->addWidget(m_tree);
    list->addWidget(m_routesBody);
    m_routesAnimation = new QVariantAnimation(this);
    m_routesAnimation->setDuration(150);
    m_routesAnimation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_routesAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { m_routesBody->setMaximumHeight(value.toInt()); });
    connect(m_routesAnimation, &QVariantAnimation::finished, this, [this] {
        m_routesBody->setMaximumHeight(QWIDGETSIZE_MAX);
        refreshRoutes();
    });
    list->addStretch(1);
    scroll->setWidget(content);
    content->setAutoFillBackground(false); // setWidget turns it on
    column->addWidget(scroll, 1);
    column->addWidget(buildFooter());

    connect(m_state, &AppState::navChanged, this, &AppSidebar::refreshNav);
    connect(m_state, &AppState::selectedEndpointIDChanged, this, &AppSidebar::refreshNav);
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
    // The toggle keeps room round its label for the focus ring; the row's margins give it back, so the label
    // stands where it would without.
    row->setContentsMargins(8 - RoutesToggleRingRoom, 15, 8, 3);
    row->setSpacing(4);

    auto *toggle = new PlainButton(header);
    auto *toggleRow = new QHBoxLayout(toggle);
    toggleRow->setContentsMargins(RoutesToggleRingRoom, 4, RoutesToggleRingRoom, 4);
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
            if (state && engine)
                ProjectActions::activate(state, engine, id);
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
    if (open == m_routesOpen)
        return;
    m_routesOpen = open;
    m_routesChevron->setSymbol(open ? QStringLiteral("chevron.down") : QStringLiteral("chevron.right"));
    // The body grows from, or shrinks to, nothing; it leaves the layout once closed.
    const int from = m_routesAnimation->state() == QAbstractAnimation::Running
                         ? m_routesAnimation->currentValue().toInt()
                         : (open ? 0 : m_routesBody->height());
    m_routesAnimation->stop();
    if (open)
        refreshRoutes();
    m_routesBody->setMaximumHeight(from);
    m_routesAnimation->setStartValue(from);
    // The note wraps, so its height depends on the column's width.
    const int bodyWidth = Width - 16;
    const int full = m_routesBody->hasHeightForWidth() ? m_routesBody->heightForWidth(bodyWidth)
                                                       : m_routesBody->sizeHint().height();
    m_routesAnimation->setEndValue(open ? full : 0);
    m_routesAnimation->start();
    // Closing keeps the body in the layout until the animation ends.
    refreshRoutes();
}

bool AppSidebar::routesAnimating() const
{
    return m_routesAnimation->state() == QAbstractAnimation::Running;
}

int AppSidebar::routesFoldDuration() const
{
    return m_routesAnimation->duration();
}

void AppSidebar::setRoutesFoldDuration(int ms)
{
    m_routesAnimation->setDuration(ms);
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
    m_emptyNote->setVisible(empty);
    m_tree->setVisible(!empty);
    m_routesBody->setVisible(m_routesOpen || routesAnimating());
}
