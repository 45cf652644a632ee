// The new-route sheet.
#include "screens/routes/new_route_sheet.h"

#include "app/app_state.h"
#include "app/sheet_presenter.h"
#include "design/fonts.h"
#include "design/ks_button.h"
#include "design/palette.h"
#include "design/snow_field.h"
#include "design/snow_select.h"
#include "design/snow_text.h"
#include "design/snow_text_field.h"
#include "design/status_code_field.h"
#include "engine/engine_client.h"
#include "screens/routes/new_route_logic.h"
#include "screens/routes/sheet_parts.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QVBoxLayout>

namespace {
constexpr char SchemeHint[] = "Scheme is dropped — routes match by host.";
} // namespace

NewRouteSheet::NewRouteSheet(const AppContext &context, QWidget *parent)
    : SheetSurface([](const Palette &p) { return p.background; }, parent)
    , m_context(context)
{
    setFixedWidth(Width);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);

    QPointer<NewRouteSheet> self(this);
    column->addLayout(SheetParts::titleRow(QStringLiteral("New route"), this));

    auto *methodStatus = new QHBoxLayout;
    methodStatus->setSpacing(12);
    m_methodSelect = new SnowSelect(this);
    m_methodSelect->setBoxWidth(110);
    m_methodSelect->setSize(KSButton::Size::md);
    m_methodSelect->setMenuWidth(220);
    m_methodSelect->setItemsProvider([self]() -> QList<SnowMenuItem> {
        QList<SnowMenuItem> items;
        if (!self)
            return items;
        for (HTTPMethod method : allHTTPMethods) {
            items.append(SnowMenuItem::entry(QString::fromLatin1(rawValue(method)), {}, [self, method] {
                if (self)
                    self->setMethod(method);
            }, SnowMenuItem::Tone::normal, method == self->m_method));
        }
        return items;
    });
    auto *methodField = new SnowField(m_methodSelect, this);
    methodField->setLabel(QStringLiteral("Method"));
    methodStatus->addWidget(methodField, 0, Qt::AlignTop);
    m_status = new StatusCodeField(this);
    m_status->setValue(200);
    auto *statusField = new SnowField(m_status, this);
    statusField->setLabel(QStringLiteral("Status"));
    methodStatus->addWidget(statusField, 0, Qt::AlignTop);
    methodStatus->addStretch(1);
    column->addLayout(methodStatus);

    const QString suggestion = NewRouteLogic::suggestedHost(context.engine->endpoints());
    m_host = new SnowTextField(this);
    m_host->setMono(true);
    m_host->setBoxHeight(36);
    m_host->setPlaceholder(suggestion);
    m_host->setText(suggestion); // opens pre-filled; the placeholder shows once the field is cleared
    m_hostRow = new SnowField(m_host, this);
    m_hostRow->setLabel(QStringLiteral("Host"));
    column->addWidget(m_hostRow);

    m_path = new SnowTextField(this);
    m_path->setMono(true);
    m_path->setBoxHeight(36);
    m_path->setPlaceholder(QStringLiteral("/v2/users"));
    m_pathRow = new SnowField(m_path, this);
    m_pathRow->setLabel(QStringLiteral("Path"));
    m_pathRow->setHint(QStringLiteral("Use :param for wildcard segments — /v2/users/:id"));
    column->addWidget(m_pathRow);

    // One flexible gap of at least 8 pushes the buttons to the bottom.
    column->addSpacerItem(new QSpacerItem(0, 8, QSizePolicy::Minimum, QSizePolicy::MinimumExpanding));

    m_create = SheetParts::primaryButton(QStringLiteral("Create route"), QStringLiteral("plus"), this, [self] {
        if (self)
            self->create();
    });
    column->addLayout(SheetParts::buttonRow(this, SheetParts::dismissAction(this), m_create));

    // Both hint lines and the gaps need more than the usual height. The sheet is made tall enough for
    // them once, so no hint lands on the box above it and nothing jumps while typing.
    m_hostRow->setHint(QString::fromUtf8(SchemeHint));
    layout()->invalidate();
    setFixedHeight(std::max(Height, layout()->totalSizeHint().height()));

    // The keys start in the first text field; Shift+Tab reaches the method before it.
    m_status->lineEdit()->setFocus(Qt::OtherFocusReason);

    connect(m_host, &SnowTextField::textEdited, this, &NewRouteSheet::refresh);
    connect(m_path, &SnowTextField::textEdited, this, &NewRouteSheet::refresh);
    connect(context.engine, &EngineClient::endpointsChanged, this, &NewRouteSheet::refresh);
    refresh();
}

void NewRouteSheet::setMethod(HTTPMethod method)
{
    m_method = method;
    refresh();
}

bool NewRouteSheet::canCreate() const
{
    return NewRouteLogic::canCreate(m_host->text(), m_path->text());
}

std::optional<Endpoint> NewRouteSheet::conflictingRoute() const
{
    return NewRouteLogic::conflictingRoute(m_context.engine->endpoints(), m_method, m_host->text(), m_path->text());
}

void NewRouteSheet::refresh()
{
    m_methodSelect->setValue(QString::fromLatin1(rawValue(m_method)));
    m_hostRow->setHint(m_host->text().contains(QStringLiteral("://"))
                           ? std::optional<QString>(QString::fromUtf8(SchemeHint))
                           : std::nullopt);
    m_pathRow->setError(conflictingRoute() ? std::optional<QString>(NewRouteLogic::conflictWarning(m_method))
                                           : std::nullopt);
    m_create->setDisabled(!canCreate());
}

void NewRouteSheet::create()
{
    // "Create route" takes no focus, so a status still being typed is committed (and clamped) here.
    const int status = m_status->commitPending();
    if (!canCreate())
        return;
    const Endpoint route = NewRouteLogic::makeRoute(m_method, m_host->text(), m_path->text(), status);
    const QString id = QString::fromStdString(route.id);
    EngineClient *engine = m_context.engine;
    AppState *state = m_context.state;
    QList<Endpoint> routes = engine->endpoints();
    routes.append(route);
    engine->replaceEndpoints(routes);
    Sheets::dismiss(this);
    state->setNav(NavItem::endpoints);
    state->setSelectedEndpointID(id);
}

void NewRouteSheet::keyPressEvent(QKeyEvent *event)
{
    // The default action: Return creates (the fields let it through).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        m_create->trigger();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}
