// The route inspector's frame, header bar, route actions and its request, switch, latency and error sections.
#include "screens/routes/inspector_view.h"

#include "app/app_state.h"
#include "app/route_actions.h"
#include "design/badges.h"
#include "design/choice_chips.h"
#include "design/fonts.h"
#include "design/indicators.h"
#include "design/ks_button.h"
#include "design/mini_field.h"
#include "design/palette.h"
#include "design/shell_widgets.h"
#include "design/snow_dropdown.h"
#include "design/snow_select.h"
#include "design/snow_slider.h"
#include "design/snow_switch.h"
#include "design/snow_text.h"
#include "design/snow_text_field.h"
#include "design/symbols.h"
#include "engine/engine_client.h"
#include "platform/desktop.h"
#include "screens/routes/inspector_logic.h"
#include "screens/routes/response_section.h"
#include "screens/routes/sequence_section.h"

#include <QHBoxLayout>
#include <QHideEvent>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

ColorRole muted()
{
    return [](const Palette &p) { return p.mutedForeground; };
}

ColorRole foreground()
{
    return [](const Palette &p) { return p.foreground; };
}

ShellText *heading(const QString &text, QWidget *parent)
{
    return new ShellText(text, Fonts::inter(11, QFont::Medium), muted(), parent);
}

QVBoxLayout *stack(QWidget *owner, int spacing)
{
    auto *column = new QVBoxLayout(owner);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(spacing);
    return column;
}

// The header's ground with its one-point rule along the bottom edge.
class HeaderBar final : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        const Palette palette = Palette::of(this);
        QPainter p(this);
        p.fillRect(rect(), palette.background);
        p.fillRect(QRect(0, height() - 1, width(), 1), palette.border);
    }
};

} // namespace

InspectorView::InspectorView(const AppContext &context, const Endpoint &route, QWidget *parent)
    : QWidget(parent), m_context(context), m_model(new InspectorModel(context.engine, route, this))
{
    setFixedWidth(PanelWidth);
    auto *column = stack(this, 0);
    column->addWidget(buildHeaderBar());

    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setFocusPolicy(Qt::NoFocus); // no Tab stop with nothing to show
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->viewport()->setAutoFillBackground(false);
    useThinScrollBars(m_scroll);
    // The scrolled column keeps the panel's ground behind the sections.
    auto *sections = new FilledBox([](const Palette &p) { return p.background; }, 0);
    auto *sectionColumn = new QVBoxLayout(sections);
    sectionColumn->setContentsMargins(16, 16, 16, 16);
    sectionColumn->setSpacing(24);
    const auto addSection = [&](QWidget *section, bool divider) {
        sectionColumn->addWidget(section);
        if (divider)
            sectionColumn->addWidget(new SnowDivider(false, 0, sections));
    };
    addSection(buildRequestSection(), true);
    addSection(buildToggles(), true);
    addSection(buildLatencySection(), true);
    addSection(buildErrorSection(), true);
    m_response = new ResponseSection(m_model, context.engine, sections);
    addSection(m_response, true);
    m_sequence = new SequenceSection(m_model, sections);
    addSection(m_sequence, false);
    sectionColumn->addStretch(1);
    m_scroll->setWidget(sections);
    column->addWidget(m_scroll, 1);

    connect(m_model, &InspectorModel::endpointChanged, this, &InspectorView::showEndpoint);
    connect(m_model, &InspectorModel::fieldChanged, this, &InspectorView::showField);
    connect(m_model, &InspectorModel::routesChanged, this, &InspectorView::showRequestNotes);
    showEndpoint();
    for (InspectorModel::Field field :
         {InspectorModel::Field::method, InspectorModel::Field::host, InspectorModel::Field::path,
          InspectorModel::Field::status, InspectorModel::Field::latency, InspectorModel::Field::enableMock,
          InspectorModel::Field::passThrough, InspectorModel::Field::errorState})
        showField(field);
}

InspectorView::~InspectorView()
{
    commitPendingEdits();
}

// ---- Header ----

QWidget *InspectorView::buildHeaderBar()
{
    auto *bar = new HeaderBar(this);
    bar->setFixedHeight(HeaderHeight);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(16, 0, 16, 0);
    row->setSpacing(8);
    m_badge = new MethodBadge(QStringLiteral("GET"), bar);
    row->addWidget(m_badge);
    m_title = new SnowText({}, Fonts::inter(13, QFont::Medium), foreground(), bar);
    m_title->setElideMode(Qt::ElideMiddle);
    m_title->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_title->setMinimumWidth(0);
    row->addWidget(m_title, 1);
    row->addSpacing(4);
    m_chip = new StatusChip(200, false, bar);
    row->addWidget(m_chip);
    m_actions = new SnowDropdown(bar);
    m_actions->setFixedSize(24, 24);
    m_actions->setMenuWidth(190);
    m_actions->setToolTip(QStringLiteral("Route actions"));
    m_actions->setLabelPainter([](QPainter &p, const QRectF &rect, bool, const Palette &palette) {
        Symbols::draw(p, rect, QStringLiteral("ellipsis"), 12, palette.mutedForeground);
    });
    m_actions->setItemsProvider([this] { return routeActions(); });
    row->addWidget(m_actions);
    m_close = new GhostIconButton(QStringLiteral("xmark"), 24, 11, std::nullopt, [this] { close(); }, bar);
    row->addWidget(m_close);
    return bar;
}

void InspectorView::showEndpoint()
{
    const Endpoint &saved = m_model->endpoint();
    m_badge->setMethod(QString::fromUtf8(rawValue(saved.method).data(), qsizetype(rawValue(saved.method).size())));
    m_title->setText(QString::fromStdString(saved.path));
    m_title->setToolTip(InspectorLogic::titleTooltip(saved));
    m_chip->setStatus(saved.status);
}

QList<SnowMenuItem> InspectorView::routeActions()
{
    QPointer<InspectorView> self(this);
    return {
        SnowMenuItem::entry(QStringLiteral("Duplicate route"), QStringLiteral("plus.square.on.square"), [self] {
            if (self)
                self->duplicateRoute();
        }),
        SnowMenuItem::entry(QStringLiteral("Copy URL"), QStringLiteral("doc.on.doc"), [self] {
            if (self)
                Desktop::copyText(InspectorLogic::copyURL(self->m_model->endpoint()));
        }),
        SnowMenuItem::divider(),
        SnowMenuItem::entry(QStringLiteral("Delete route"), QStringLiteral("trash"), [self] {
            if (self)
                self->deleteRoute();
        }, SnowMenuItem::Tone::destructive),
    };
}

void InspectorView::duplicateRoute()
{
    // The copy takes a number still being typed.
    commitPendingEdits();
    if (m_model->isCurrent())
        RouteActions::duplicate(m_context.state, m_context.engine, QString::fromStdString(m_model->routeID()));
}

void InspectorView::deleteRoute()
{
    if (!m_model->isCurrent()) {
        // Its route belongs to a project that is no longer shown: only close.
        m_context.state->setSelectedEndpointID(std::nullopt);
        return;
    }
    // Closes first (the selection names this route); `this` may be gone afterwards.
    RouteActions::remove(m_context.state, m_context.engine, QString::fromStdString(m_model->routeID()));
}

void InspectorView::close()
{
    commitPendingEdits();
    m_context.state->setSelectedEndpointID(std::nullopt);
}

void InspectorView::commitPendingEdits()
{
    for (MiniField *field : findChildren<MiniField *>())
        field->commitPending();
}

void InspectorView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_model->setDeferCommits(false);
}

void InspectorView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (event->spontaneous())
        return;
    // Being taken down, perhaps from a handler of the route list: a number still being typed is saved
    // into this route once that handler has returned.
    m_model->setDeferCommits(true);
    commitPendingEdits();
}

void InspectorView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Palette::of(this).background);
}

// ---- Request ----

QWidget *InspectorView::labeledField(const QString &label, SnowTextField *&field, ShellText *&labelText,
                                     const QString &placeholder)
{
    auto *box = new QWidget(this);
    auto *column = stack(box, 4);
    labelText = new ShellText(label, Fonts::inter(11, QFont::Medium), muted(), box);
    column->addWidget(labelText);
    field = new SnowTextField(box);
    field->setPlaceholder(placeholder);
    field->setMono(true);
    field->setBoxHeight(28);
    column->addWidget(field);
    return box;
}

QList<SnowMenuItem> InspectorView::methodItems()
{
    QList<SnowMenuItem> items;
    QPointer<InspectorModel> model(m_model);
    for (HTTPMethod method : allHTTPMethods) {
        const std::string_view raw = rawValue(method);
        items.append(SnowMenuItem::entry(QString::fromUtf8(raw.data(), qsizetype(raw.size())), {}, [model, method] {
            if (model)
                model->setMethod(method);
        }, SnowMenuItem::Tone::normal, method == m_model->method()));
    }
    return items;
}

QWidget *InspectorView::buildRequestSection()
{
    auto *section = new QWidget(this);
    auto *column = stack(section, 12);
    column->addWidget(heading(QStringLiteral("Request"), section));

    auto *row = new QHBoxLayout;
    row->setSpacing(12);
    auto *methodBox = new QWidget(section);
    auto *methodColumn = stack(methodBox, 4);
    methodColumn->addWidget(heading(QStringLiteral("Method"), methodBox));
    m_method = new SnowSelect(methodBox);
    m_method->setBoxWidth(104);
    m_method->setSize(KSButton::Size::sm);
    m_method->setMenuWidth(130);
    m_method->setItemsProvider([this] { return methodItems(); });
    methodColumn->addWidget(m_method);
    row->addWidget(methodBox, 0, Qt::AlignTop);
    m_status = new MiniField(QStringLiteral("Status"), m_model->status(), 56, section);
    connect(m_status, &MiniField::valueCommitted, m_model, &InspectorModel::setStatus);
    row->addWidget(m_status, 0, Qt::AlignTop);
    row->addStretch(1);
    column->addLayout(row);

    column->addWidget(labeledField(QStringLiteral("Host"), m_host, m_hostLabel, QStringLiteral("api.my-app.dev")));
    connect(m_host, &SnowTextField::textEdited, m_model, &InspectorModel::setHostText);
    column->addWidget(labeledField(QStringLiteral("Path"), m_path, m_pathLabel, QStringLiteral("/v2/users")));
    connect(m_path, &SnowTextField::textEdited, m_model, &InspectorModel::setPathText);

    m_conflict = new QWidget(section);
    auto *conflictRow = new QHBoxLayout(m_conflict);
    conflictRow->setContentsMargins(0, 0, 0, 0);
    conflictRow->setSpacing(4);
    const ColorRole amber = [](const Palette &p) { return InspectorLogic::amberInk(p); };
    conflictRow->addWidget(new SymbolLabel(QStringLiteral("exclamationmark.triangle.fill"), 10, amber, m_conflict), 0,
                           Qt::AlignTop);
    auto *conflictText = new ShellText(
        QStringLiteral("Another active route matches this request — the first match wins."), Fonts::inter(11), amber,
        m_conflict);
    conflictText->setWrap(true);
    conflictRow->addWidget(conflictText, 1);
    column->addWidget(m_conflict);
    m_pathHint = new ShellText(QStringLiteral(":param segments match any value"), Fonts::inter(11), muted(), section);
    column->addWidget(m_pathHint);
    return section;
}

void InspectorView::showRequestNotes()
{
    const bool conflict = m_model->conflictingRoute().has_value();
    m_conflict->setVisible(conflict);
    m_pathHint->setVisible(!conflict && m_model->pathText().contains(QLatin1Char(':')));
}

// ---- Switches, latency, error override ----

QWidget *InspectorView::buildToggles()
{
    auto *section = new QWidget(this);
    auto *column = stack(section, 12);
    const auto addRow = [&](const QString &label, SnowSwitch *&toggle) {
        auto *row = new QHBoxLayout;
        row->addWidget(new ShellText(label, Fonts::inter(13), foreground(), section));
        row->addStretch(1);
        toggle = new SnowSwitch(section);
        row->addWidget(toggle);
        column->addLayout(row);
    };
    addRow(QStringLiteral("Enable mock"), m_enableMock);
    addRow(QStringLiteral("Pass-through to real server"), m_passThroughSwitch);
    connect(m_enableMock, &SnowSwitch::toggled, m_model, &InspectorModel::setEnableMock);
    connect(m_passThroughSwitch, &SnowSwitch::toggled, m_model, &InspectorModel::setPassThrough);
    return section;
}

QWidget *InspectorView::buildLatencySection()
{
    auto *section = new QWidget(this);
    auto *column = stack(section, 12);
    auto *top = new QHBoxLayout;
    top->addWidget(heading(QStringLiteral("Injected latency"), section));
    top->addStretch(1);
    m_latencyValue = new ShellText({}, Fonts::ksCodeSm(), foreground(), section);
    top->addWidget(m_latencyValue);
    column->addLayout(top);
    m_slider = new SnowSlider(section);
    m_slider->setRange(0, 5000);
    connect(m_slider, &SnowSlider::valueEdited, m_model, &InspectorModel::setLatency);
    column->addWidget(m_slider);
    auto *ends = new QHBoxLayout;
    const ColorRole faint = [](const Palette &p) { return p.faint; };
    ends->addWidget(new ShellText(QStringLiteral("0ms"), Fonts::ksCodeSm(), faint, section));
    ends->addStretch(1);
    ends->addWidget(new ShellText(QStringLiteral("5000ms"), Fonts::ksCodeSm(), faint, section));
    column->addLayout(ends);
    return section;
}

void InspectorView::showLatency()
{
    const double latency = m_model->latency();
    m_latencyValue->setText(InspectorLogic::latencyText(latency));
    m_latencyValue->setColorRole([latency](const Palette &p) { return InspectorLogic::latencyInk(latency, p); });
    m_slider->setValue(latency);
    m_slider->setColor(InspectorLogic::sliderTint(latency, Palette::of(this)));
}

QWidget *InspectorView::buildErrorSection()
{
    auto *section = new QWidget(this);
    auto *column = stack(section, 12);
    column->addWidget(heading(QStringLiteral("Error state override"), section));
    auto *rows = new QVBoxLayout;
    rows->setSpacing(4);
    const auto item = [](ErrorOverride value, const QString &label, std::optional<QColor> tint) {
        return ChoiceChips::Item{int(value), label, tint};
    };
    m_errorsTop = new ChoiceChips(section);
    m_errorsTop->setItems({item(ErrorOverride::ok, QStringLiteral("200 OK"), std::nullopt),
                           item(ErrorOverride::notFound, QStringLiteral("404"), Palette::yellow()),
                           item(ErrorOverride::serverError, QStringLiteral("500"), Palette::red())});
    m_errorsBottom = new ChoiceChips(section);
    m_errorsBottom->setItems({item(ErrorOverride::timeout, QStringLiteral("Timeout"), Palette::red()),
                              item(ErrorOverride::custom, QStringLiteral("Custom"), std::nullopt)});
    for (ChoiceChips *chips : {m_errorsTop, m_errorsBottom}) {
        connect(chips, &ChoiceChips::selectionEdited, m_model, [this](const QVariant &value) {
            m_model->setErrorState(ErrorOverride(value.toInt()));
        });
        rows->addWidget(chips, 0, Qt::AlignLeft);
    }
    column->addLayout(rows);
    return section;
}

// ---- Showing the draft ----

void InspectorView::showField(InspectorModel::Field field)
{
    using Field = InspectorModel::Field;
    switch (field) {
    case Field::method: {
        const std::string_view raw = rawValue(m_model->method());
        m_method->setValue(QString::fromUtf8(raw.data(), qsizetype(raw.size())));
        showRequestNotes();
        break;
    }
    case Field::host: {
        // The text being typed is never replaced by itself, so the cursor stays where it is.
        m_host->setText(m_model->hostText());
        const bool invalid = m_model->hostInvalid();
        m_hostLabel->setColorRole([invalid](const Palette &p) {
            return invalid ? InspectorLogic::redInk(p) : p.mutedForeground;
        });
        showRequestNotes();
        break;
    }
    case Field::path: {
        m_path->setText(m_model->pathText());
        const bool invalid = m_model->pathInvalid();
        m_pathLabel->setColorRole([invalid](const Palette &p) {
            return invalid ? InspectorLogic::redInk(p) : p.mutedForeground;
        });
        showRequestNotes();
        break;
    }
    case Field::status:
        m_status->setValue(m_model->status());
        break;
    case Field::latency:
        showLatency();
        break;
    case Field::enableMock:
        m_enableMock->setOn(m_model->enableMock());
        break;
    case Field::passThrough:
        m_passThroughSwitch->setOn(m_model->passThrough());
        break;
    case Field::errorState:
        m_errorsTop->setSelection(int(m_model->errorState()));
        m_errorsBottom->setSelection(int(m_model->errorState()));
        break;
    case Field::body:
    case Field::sequence:
    case Field::seqMode:
        break;
    }
}
