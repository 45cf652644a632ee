// The right info panel: engine state and counts, activity strip, hosts, pins, file actions, links.
#include "app/right_info_panel.h"

#include "app/app_state.h"
#include "app/file_actions.h"
#include "app/info_panel_logic.h"
#include "app/main_header.h"
#include "app/route_tree.h"
#include "design/activity_graph.h"
#include "design/badges.h"
#include "design/copy_button.h"
#include "design/fonts.h"
#include "design/indicators.h"
#include "design/shell_widgets.h"
#include "design/tab_bar.h"
#include "engine/engine_client.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

const QStringList tabNames = {QStringLiteral("Info"), QStringLiteral("Pins"), QStringLiteral("Files"),
                              QStringLiteral("Links")};

ColorRole foreground()
{
    return [](const Palette &p) { return p.foreground; };
}

ColorRole mutedForeground()
{
    return [](const Palette &p) { return p.mutedForeground; };
}

QColor chaosRed(const Palette &palette)
{
    return palette.isDark ? QColor(255, 107, 107) : QColor(224, 49, 49);
}

void collectTexts(const QWidget *widget, QStringList &out)
{
    for (QObject *child : widget->children()) {
        auto *w = qobject_cast<QWidget *>(child);
        if (!w || w->isHidden())
            continue;
        if (auto *text = qobject_cast<ShellText *>(w))
            out.append(text->text());
        else if (auto *tag = qobject_cast<SnowTag *>(w))
            out.append(tag->shownText());
        collectTexts(w, out);
    }
}

} // namespace

RightInfoPanel::RightInfoPanel(const AppContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_tabBar(new TabBar)
    , m_scroll(new QScrollArea)
{
    setFixedWidth(Width);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto *tabRow = new QWidget(this);
    // The tab row and its rule together are as tall as the header beside them, so the two rules
    // run on in one line across the window.
    tabRow->setFixedHeight(MainHeader::Height - 1);
    auto *tabLayout = new QHBoxLayout(tabRow);
    // The tabs keep room for their focus ring round each label; the labels start 16 in.
    tabLayout->setContentsMargins(16 - TabBarTab::RingRoomX, 0, 16, 0);
    QList<TabBar::Item> items;
    for (const QString &name : tabNames)
        items.append({name, name});
    m_tabBar->setItems(items);
    m_tabBar->setSelection(m_tab);
    tabLayout->addWidget(m_tabBar);
    tabLayout->addStretch(1);
    connect(m_tabBar, &TabBar::selectionEdited, this, [this](const QVariant &value) { setTab(value.toString()); });
    column->addWidget(tabRow);
    column->addWidget(new Rule(Qt::Horizontal, this));

    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setFocusPolicy(Qt::NoFocus); // no Tab stop with nothing to show
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
    m_scroll->viewport()->setAutoFillBackground(false);
    useThinScrollBars(m_scroll);
    column->addWidget(m_scroll, 1);

    EngineClient *engine = context.engine;
    connect(engine, &EngineClient::statusChanged, this, &RightInfoPanel::refreshEngine);
    connect(engine, &EngineClient::proxyRunningChanged, this, &RightInfoPanel::refreshEngine);
    connect(engine, &EngineClient::healthChanged, this, &RightInfoPanel::refreshCounts);
    connect(engine, &EngineClient::trafficChanged, this, &RightInfoPanel::refreshTraffic);
    connect(engine, &EngineClient::chaosPresetsChanged, this, &RightInfoPanel::refreshChaos);
    connect(engine, &EngineClient::activeChaosIdChanged, this, &RightInfoPanel::refreshChaos);
    connect(engine, &EngineClient::endpointsChanged, this, &RightInfoPanel::rebuild);
    rebuild();
}

void RightInfoPanel::setTab(const QString &tab)
{
    m_tab = tab;
    m_tabBar->setSelection(tabNames.contains(tab) ? tab : QStringLiteral("Info"));
    rebuild();
}

void RightInfoPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Palette::of(this).background);
}

QStringList RightInfoPanel::shownTexts() const
{
    QStringList texts;
    if (m_content)
        collectTexts(m_content, texts);
    return texts;
}

void RightInfoPanel::rebuild()
{
    const int scrollPosition = m_scroll->verticalScrollBar() ? m_scroll->verticalScrollBar()->value() : 0;
    auto *content = new QWidget;
    content->setAutoFillBackground(false);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(24);
    if (m_tab == QLatin1String("Pins")) {
        column->addWidget(buildPins());
    } else if (m_tab == QLatin1String("Files")) {
        column->addWidget(buildFiles());
    } else if (m_tab == QLatin1String("Links")) {
        column->addWidget(buildLinks());
    } else {
        column->addWidget(buildMainInfo());
        column->addWidget(buildActivity());
        column->addWidget(buildHosts());
    }
    column->addStretch(1);
    m_scroll->setWidget(content); // deletes the previous column
    content->setAutoFillBackground(false); // setWidget turns it on
    m_content = content;
    m_scroll->verticalScrollBar()->setValue(scrollPosition);
    refreshEngine();
    refreshTraffic();
    refreshChaos();
    refreshCounts();
}

QWidget *RightInfoPanel::section(const QString &title, int spacing, QVBoxLayout **body)
{
    auto *box = new QWidget;
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(spacing);
    column->addWidget(new ShellText(title, Fonts::ksSection(), foreground(), box));
    *body = column;
    return box;
}

QWidget *RightInfoPanel::buildMainInfo()
{
    QVBoxLayout *body = nullptr;
    QWidget *box = section(QStringLiteral("Main info"), 14, &body);
    auto infoRow = [&](const QString &icon, const QString &label, QWidget *value) {
        auto *row = new QWidget(box);
        auto *layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(10);
        auto *symbol = new SymbolLabel(icon, 12, [](const Palette &p) { return p.faint; }, row);
        symbol->setFixedWidth(16);
        layout->addWidget(symbol);
        layout->addWidget(new ShellText(label, Fonts::inter(13), mutedForeground(), row));
        layout->addStretch(1);
        value->setParent(row);
        layout->addWidget(value);
        body->addWidget(row);
    };
    auto valueText = [](ColorRole color = foreground()) {
        auto *text = new ShellText({}, Fonts::inter(13, QFont::Medium), color);
        text->setElideMode(Qt::ElideNone);
        return text;
    };

    infoRow(QStringLiteral("person"), QStringLiteral("Workspace"), [&] {
        auto *t = valueText();
        t->setText(QStringLiteral("Kestrion"));
        return t;
    }());
    auto *engineBox = new QWidget;
    auto *engineRow = new QHBoxLayout(engineBox);
    engineRow->setContentsMargins(0, 0, 0, 0);
    engineRow->setSpacing(6);
    m_engineDot = new StatusDot(Qt::gray, 7, false, engineBox);
    m_engineText = valueText();
    engineRow->addWidget(m_engineDot);
    engineRow->addWidget(m_engineText);
    infoRow(QStringLiteral("bolt"), QStringLiteral("Engine"), engineBox);
    m_portText = valueText();
    infoRow(QStringLiteral("network"), QStringLiteral("Proxy port"), m_portText);
    m_routesText = valueText();
    infoRow(QStringLiteral("list.bullet"), QStringLiteral("Routes"), m_routesText);
    m_trafficText = valueText();
    infoRow(QStringLiteral("arrow.down.to.line"), QStringLiteral("Intercepted"), m_trafficText);
    m_chaosText = valueText();
    infoRow(QStringLiteral("tornado"), QStringLiteral("Chaos"), m_chaosText);
    return box;
}

QWidget *RightInfoPanel::buildActivity()
{
    QVBoxLayout *body = nullptr;
    QWidget *box = section(QStringLiteral("Traffic activity"), 12, &body);
    m_activity = new ActivityGraph({}, InfoPanel::activityColumns, box);
    body->addWidget(m_activity);
    return box;
}

QWidget *RightInfoPanel::buildHosts()
{
    const QList<Endpoint> &routes = m_context.engine->endpoints();
    const QList<RouteTree::PositionBlock> hosts = RouteTree::hostGroupPositions(routes);
    auto *box = new QWidget;
    auto *body = new QVBoxLayout(box);
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(14);
    auto *header = new QWidget(box);
    auto *headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(0, 0, 0, 0);
    headerRow->setSpacing(6);
    headerRow->addWidget(new ShellText(QStringLiteral("Hosts"), Fonts::ksSection(), foreground(), header));
    headerRow->addWidget(new ShellText(QString::number(hosts.size()), Fonts::inter(13), mutedForeground(), header));
    headerRow->addStretch(1);
    body->addWidget(header);
    for (const RouteTree::PositionBlock &host : hosts) {
        auto *row = new QWidget(box);
        auto *layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(10);
        layout->addWidget(new IconTile(QStringLiteral("globe"), std::nullopt, 32, 8, row));
        auto *texts = new QVBoxLayout;
        texts->setSpacing(1);
        texts->addWidget(new ShellText(host.title(), Fonts::inter(13, QFont::Medium), foreground(), row));
        texts->addWidget(new ShellText(QString::number(host.positions.size()) + QStringLiteral(" routes"),
                                       Fonts::inter(11), mutedForeground(), row));
        layout->addLayout(texts, 1);
        layout->addWidget(new MethodBadge(QString::fromLatin1(rawValue(RouteTree::dominantMethod(routes, host.positions))), row));
        body->addWidget(row);
    }
    return box;
}

QWidget *RightInfoPanel::emptyNote(const QString &title, const QString &message)
{
    auto *note = new FilledBox([](const Palette &p) { return p.card; }, 12);
    auto *column = new QVBoxLayout(note);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(3);
    column->addWidget(new ShellText(title, Fonts::inter(12, QFont::Medium), foreground(), note));
    auto *text = new ShellText(message, Fonts::inter(11), mutedForeground(), note);
    text->setWrap(true);
    column->addWidget(text);
    return note;
}

QWidget *RightInfoPanel::buildPins()
{
    QVBoxLayout *body = nullptr;
    QWidget *box = section(QStringLiteral("Flagged routes"), 12, &body);
    const QList<Endpoint> flagged = InfoPanel::flagged(m_context.engine->endpoints());
    if (flagged.isEmpty()) {
        body->addWidget(emptyNote(QStringLiteral("No flagged routes"),
                                  QStringLiteral("Routes with errors, overrides, sequences, or disabled appear here.")));
        return box;
    }
    QPointer<AppState> state(m_context.state);
    for (const Endpoint &route : flagged) {
        auto *button = new PlainButton(box);
        auto *row = new QHBoxLayout(button);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(10);
        row->addWidget(new MethodBadge(QString::fromLatin1(rawValue(route.method)), button));
        auto *texts = new QVBoxLayout;
        texts->setSpacing(1);
        texts->addWidget(new ShellText(QString::fromStdString(route.path), Fonts::inter(13, QFont::Medium), foreground(),
                                       button));
        texts->addWidget(new ShellText(QString::fromStdString(route.host), Fonts::inter(11), mutedForeground(), button));
        row->addLayout(texts, 1);
        if (route.active)
            row->addWidget(new StatusChip(route.status, false, button));
        else
            row->addWidget(new SnowTag(QStringLiteral("OFF"), SnowTag::Tone::neutral, {}, true, button));
        for (QWidget *child : button->findChildren<QWidget *>())
            child->setAttribute(Qt::WA_TransparentForMouseEvents);
        const QString id = QString::fromStdString(route.id);
        // Opens the route directly: no history entry.
        connect(button, &PlainButton::clicked, this, [state, id] {
            if (!state)
                return;
            state->setNav(NavItem::endpoints);
            state->setSelectedEndpointID(id);
        });
        body->addWidget(button);
    }
    return box;
}

QWidget *RightInfoPanel::buildFiles()
{
    QVBoxLayout *body = nullptr;
    QWidget *box = section(QStringLiteral("Files & profiles"), 12, &body);
    struct FileRow
    {
        const char *icon;
        const char *title;
        const char *subtitle;
        void (*action)(EngineClient *, QWidget *);
    };
    const FileRow rows[] = {
        {"tray.and.arrow.down", "Import file…", "HAR · Charles · Postman · JSON", &FileActions::importFile},
        {"doc.badge.gearshape", "Open profile…", "Load a .kestrion sandbox", &FileActions::openProfile},
        {"square.and.arrow.up", "Export profile…", "Save this session", &FileActions::exportProfile},
    };
    QPointer<EngineClient> engine(m_context.engine);
    for (const FileRow &spec : rows) {
        auto *button = new PlainButton(box);
        button->setFill([](const Palette &p, bool hovered, bool) { return hovered ? p.muted : p.card; }, 12);
        auto *row = new QHBoxLayout(button);
        row->setContentsMargins(10, 10, 10, 10);
        row->setSpacing(11);
        row->addWidget(new IconTile(QString::fromLatin1(spec.icon), std::nullopt, 32, 8, button));
        auto *texts = new QVBoxLayout;
        texts->setSpacing(1);
        texts->addWidget(new ShellText(QString::fromUtf8(spec.title), Fonts::inter(13, QFont::Medium), foreground(),
                                       button));
        texts->addWidget(new ShellText(QString::fromUtf8(spec.subtitle), Fonts::inter(11), mutedForeground(), button));
        row->addLayout(texts, 1);
        for (QWidget *child : button->findChildren<QWidget *>())
            child->setAttribute(Qt::WA_TransparentForMouseEvents);
        auto action = spec.action;
        connect(button, &PlainButton::clicked, this, [this, engine, action] {
            // The file panel is modal, and a route change while it is open rebuilds this tab and deletes
            // this button; so the panel opens once the click has returned, not inside the button's call.
            QPointer<QWidget> window(this->window());
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [engine, window, action] {
                    if (engine && window)
                        action(engine, window);
                },
                Qt::QueuedConnection);
        });
        body->addWidget(button);
    }
    body->addWidget(emptyNote(QStringLiteral("Session restore"),
                              QStringLiteral("Routes, presets, and chaos settings are restored when you reopen Kestrion.")));
    return box;
}

QWidget *RightInfoPanel::linkRow(const QString &label, const QString &value, int keptPrefix)
{
    auto *box = new QWidget;
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    column->addWidget(new ShellText(label, Fonts::inter(12, QFont::Medium), foreground(), box));
    auto *field = new FilledBox([](const Palette &p) { return p.subtle; }, 8, box);
    auto *row = new QHBoxLayout(field);
    row->setContentsMargins(10, 8, 10, 8);
    row->setSpacing(8);
    auto *text = new ShellText(value, Fonts::ksCodeSm(), mutedForeground(), field);
    text->setElideMode(Qt::ElideMiddle);
    text->setKeptPrefix(keptPrefix);
    row->addWidget(text, 1);
    row->addWidget(new CopyButton(value, 11, field));
    column->addWidget(field);
    return box;
}

QWidget *RightInfoPanel::buildLinks()
{
    QVBoxLayout *body = nullptr;
    QWidget *box = section(QStringLiteral("Links"), 12, &body);
    for (const RouteTree::PositionBlock &host : RouteTree::hostGroupPositions(m_context.engine->endpoints()))
        body->addWidget(linkRow(host.title(), InfoPanel::hostLink(host.title())));
    const QString command = InfoPanel::proxyCommand(m_context.engine->proxyPort());
    body->addWidget(linkRow(QStringLiteral("Proxy command"), command, InfoPanel::proxyCommandKeptLength(command)));
    return box;
}

void RightInfoPanel::refreshEngine()
{
    if (!m_engineText)
        return;
    const EngineClient *engine = m_context.engine;
    m_engineText->setText(InfoPanel::engineText(engine->status(), engine->proxyRunning()));
    m_engineDot->setColor(InfoPanel::engineDotColor(engine->status()));
}

void RightInfoPanel::refreshCounts()
{
    const EngineClient *engine = m_context.engine;
    if (m_portText)
        m_portText->setText(QStringLiteral(":") + QString::number(engine->proxyPort()));
    if (m_routesText)
        m_routesText->setText(QString::number(engine->endpoints().size()));
    if (m_tab == QLatin1String("Links")) {
        // The proxy command follows the port the engine reports.
        if (m_content) {
            const QString command = InfoPanel::proxyCommand(engine->proxyPort());
            const auto texts = m_content->findChildren<ShellText *>();
            const auto copies = m_content->findChildren<CopyButton *>();
            if (!texts.isEmpty() && !copies.isEmpty() && texts.last()->text() != command) {
                texts.last()->setText(command);
                texts.last()->setKeptPrefix(InfoPanel::proxyCommandKeptLength(command));
                copies.last()->setText(command);
            }
        }
    }
}

void RightInfoPanel::refreshTraffic()
{
    // "Intercepted" counts the whole session; the graph divides the live list by position.
    if (m_trafficText)
        m_trafficText->setText(QString::number(m_context.engine->sessionRequestCount()));
    if (m_activity) {
        const auto levels = InfoPanel::activityLevels(m_context.engine->traffic().size());
        m_activity->setValues(QList<int>(levels.begin(), levels.end()));
    }
}

void RightInfoPanel::refreshChaos()
{
    if (!m_chaosText)
        return;
    const EngineClient *engine = m_context.engine;
    const auto name = InfoPanel::activeChaosName(engine->chaosPresets(), engine->activeChaosId());
    m_chaosText->setText(name.value_or(QStringLiteral("Off")));
    m_chaosText->setColorRole(name ? ColorRole(chaosRed) : mutedForeground());
}
