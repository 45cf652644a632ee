// The environments sheet.
#include "screens/routes/manage_environments_sheet.h"

#include "app/sheet_presenter.h"
#include "design/badges.h"
#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/indicators.h"
#include "design/ks_button.h"
#include "design/palette.h"
#include "design/shell_widgets.h"
#include "design/snow_empty_state.h"
#include "design/snow_input.h"
#include "design/snow_text.h"
#include "design/snow_text_field.h"
#include "design/symbols.h"
#include "engine/engine_client.h"
#include "screens/routes/record_list.h"
#include "screens/routes/sheet_parts.h"
#include "screens/routes/sheets_logic.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

enum EnvRole {
    SelectedRole = RecordListModel::FirstValueRole,
    ActiveRole,
};

constexpr int RenamingRole = RecordListModel::RenamingRole;

constexpr int Pad = 8;
constexpr int Spacing = 8;
constexpr int Ellipsis = 22;
constexpr qreal DotSize = 6;

QFont nameFont(bool selected)
{
    return Fonts::inter(13, selected ? QFont::Medium : QFont::Normal);
}

class EnvRowDelegate final : public RecordRowDelegate
{
public:
    using RecordRowDelegate::RecordRowDelegate;

    QRect ellipsisRect(const QRect &row) const override
    {
        return {row.right() + 1 - Pad - Ellipsis, row.top() + (row.height() - Ellipsis) / 2, Ellipsis, Ellipsis};
    }

    QRect editorRect(const QRect &row, const QModelIndex &index) const override
    {
        int right = ellipsisRect(row).left() - Spacing;
        if (index.data(ActiveRole).toBool())
            right -= int(DotSize) + Spacing;
        right -= 4; // the least room the spacer keeps
        return {row.left() + Pad, row.top() + (row.height() - 28) / 2, qMax(20, right - row.left() - Pad), 28};
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return {option.rect.width(), (index.data(RenamingRole).toBool() ? 36 : 30) + Gap};
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QPainter &p = *painter;
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        const Palette palette = Palette::of(option.widget);
        const QRect row = rowRect(option.rect);
        const bool selected = index.data(SelectedRole).toBool();
        const qreal hover = hoverProgress(option, index);
        if (selected)
            p.fillPath(roundedRectPath(QRectF(row), 6), palette.mutedStrong);
        else if (hover > 0)
            p.fillPath(roundedRectPath(QRectF(row), 6), withOpacity(palette.muted, hover));

        const QRect ellipsis = ellipsisRect(row);
        qreal right = ellipsis.left() - Spacing;
        if (index.data(ActiveRole).toBool()) {
            const QRectF dot(right - DotSize, row.top() + (row.height() - DotSize) / 2.0, DotSize, DotSize);
            p.setPen(Qt::NoPen);
            p.setBrush(Palette::green());
            p.drawEllipse(dot);
            right = dot.left() - Spacing;
        }
        if (!index.data(RenamingRole).toBool()) {
            const QFont font = nameFont(selected);
            const qreal room = qMax<qreal>(0, right - 4 - (row.left() + Pad));
            p.setFont(font);
            p.setPen(palette.foreground);
            p.drawText(QRectF(row.left() + Pad, row.top(), room, row.height()), Qt::AlignLeft | Qt::AlignVCenter,
                       QFontMetricsF(font).elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, room));
        }
        Symbols::draw(p, QRectF(ellipsis), QStringLiteral("ellipsis"), 11, palette.mutedForeground);
        paintKeyboardRing(p, option, index, 6);
        p.restore();
    }

protected:
    QWidget *makeEditor(QWidget *parent) const override
    {
        auto *edit = new QLineEdit;
        edit->setFont(Fonts::inter(13));
        SnowInputLook::styleLineEdit(edit, Palette::of(parent));
        return new SnowInput(edit, 28, 8, parent);
    }
};

SnowTextField *monoField(const QString &placeholder, QWidget *parent)
{
    auto *field = new SnowTextField(parent);
    field->setPlaceholder(placeholder);
    field->setMono(true);
    field->setBoxHeight(36);
    return field;
}

QScrollArea *scrollOver(QWidget *content, QWidget *parent)
{
    auto *scroll = new QScrollArea(parent);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus); // no Tab stop with nothing to show
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    scroll->setWidget(content);
    content->setAutoFillBackground(false);
    useThinScrollBars(scroll);
    return scroll;
}

} // namespace

EnvVarRow::EnvVarRow(const AppContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    m_key = monoField(QStringLiteral("key"), this);
    m_key->setFixedWidth(150);
    m_value = monoField(QStringLiteral("value"), this);
    QPointer<EnvVarRow> self(this);
    m_remove = new GhostIconButton(QStringLiteral("minus.circle"), 26, 13, std::nullopt, [self] {
        if (self)
            self->m_context.engine->removeVar(self->m_environmentID, self->m_varID);
    }, this);
    row->addWidget(m_key);
    row->addWidget(m_value, 1);
    row->addWidget(m_remove, 0, Qt::AlignVCenter);
    // Keys and values are stored exactly as typed, on every keystroke.
    connect(m_key, &SnowTextField::textEdited, this, [this](const QString &text) {
        m_context.engine->setVar(m_environmentID, m_varID, text, std::nullopt);
    });
    connect(m_value, &SnowTextField::textEdited, this, [this](const QString &text) {
        m_context.engine->setVar(m_environmentID, m_varID, std::nullopt, text);
    });
}

void EnvVarRow::bind(const QString &environmentID, const QString &varID, const QString &key, const QString &value)
{
    m_environmentID = environmentID;
    m_varID = varID;
    // Only a different text is written, so a focused field keeps its cursor; a field the user is
    // not in shows the start of its text.
    for (auto [field, text] : {std::pair{m_key, key}, std::pair{m_value, value}}) {
        if (field->text() == text)
            continue;
        field->setText(text);
        if (!field->lineEdit()->hasFocus())
            field->lineEdit()->setCursorPosition(0);
    }
}

ManageEnvironmentsSheet::ManageEnvironmentsSheet(const AppContext &context, QWidget *parent)
    : SheetSurface([](const Palette &p) { return p.content; }, parent)
    , m_context(context)
{
    setFixedSize(Width, Height);
    QVBoxLayout *column = SheetParts::edgeColumn(QStringLiteral("Environments"), 16, this);

    auto *body = new QHBoxLayout;
    body->setSpacing(0);
    body->addWidget(buildList());
    body->addWidget(new SnowDivider(true, 0, this));
    body->addWidget(buildPane(), 1);
    column->addLayout(body, 1);

    // Shown with no choice yet: the first environment is the chosen one.
    if (!context.engine->environments().isEmpty())
        m_selected = QString::fromStdString(context.engine->environments().first().id);
    connect(context.engine, &EngineClient::environmentsChanged, this, &ManageEnvironmentsSheet::refresh);
    connect(context.engine, &EngineClient::activeEnvIDChanged, this, &ManageEnvironmentsSheet::refresh);
    refresh();
}

QWidget *ManageEnvironmentsSheet::buildList()
{
    auto *box = new QWidget(this);
    box->setFixedWidth(ListWidth);
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    QPointer<ManageEnvironmentsSheet> self(this);
    m_model = new RecordListModel(this);
    auto *delegate = new EnvRowDelegate;
    m_list = new RecordListView(m_model, delegate, box);
    m_list->setPadding(Pad, Pad, Pad, Pad);
    m_list->setMenu(170, [self](const QString &id) { return self ? self->envMenuItems(id) : QList<SnowMenuItem>(); });
    delegate->setCommit([self](const QString &id, const QString &text) {
        if (self)
            self->commitRename(id, text);
    });
    connect(m_list, &RecordListView::rowClicked, this, &ManageEnvironmentsSheet::select);
    // Tab lands on the environment the pane shows.
    KeyboardRows::of(m_list)->setStartRow([self] {
        const std::optional<QString> id = self ? self->selectedID() : std::nullopt;
        return id ? self->m_model->index(self->m_model->rowOf(*id)) : QModelIndex();
    });
    column->addWidget(m_list, 1);
    column->addWidget(new SnowDivider(false, 0, box));
    auto *footer = new QHBoxLayout;
    footer->setContentsMargins(8, 8, 8, 8);
    footer->addWidget(new KSButton(QStringLiteral("New environment"), QStringLiteral("plus"), KSButton::Variant::text,
                                   KSButton::Size::sm, false, false, false, [self] {
                                       if (self)
                                           self->addEnvironment();
                                   },
                                   box));
    footer->addStretch(1);
    column->addLayout(footer);
    return box;
}

QWidget *ManageEnvironmentsSheet::buildPane()
{
    m_pane = new QStackedWidget(this);

    m_emptyPage = new QWidget;
    auto *emptyLayout = new QVBoxLayout(m_emptyPage);
    emptyLayout->setContentsMargins(24, 24, 24, 24);
    emptyLayout->addWidget(new SnowEmptyState(QStringLiteral("curlybraces"), QStringLiteral("No environments yet"),
                                              QStringLiteral("Create one to define {{variables}} for your mocks."),
                                              Palette::primary(), true));
    m_pane->addWidget(m_emptyPage);

    QPointer<ManageEnvironmentsSheet> self(this);
    m_editorPage = new QWidget;
    auto *column = new QVBoxLayout(m_editorPage);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto *header = new QHBoxLayout;
    header->setContentsMargins(16, 16, 16, 16);
    m_paneTitle = new SnowText(QString(), Fonts::inter(13, QFont::DemiBold), [](const Palette &p) { return p.foreground; },
                               m_editorPage);
    header->addWidget(m_paneTitle, 1);
    m_activeTag = new SnowTag(QStringLiteral("Active"), SnowTag::Tone::success, {}, false, m_editorPage);
    header->addWidget(m_activeTag);
    m_setActive = new KSButton(QStringLiteral("Set active"), {}, KSButton::Variant::text, KSButton::Size::sm, false,
                               false, false, [self] {
                                   if (self && self->selectedID())
                                       self->activate(*self->selectedID());
                               },
                               m_editorPage);
    header->addWidget(m_setActive);
    column->addLayout(header);
    column->addWidget(new SnowDivider(false, 0, m_editorPage));

    auto *rows = new QWidget;
    auto *rowsColumn = new QVBoxLayout(rows);
    rowsColumn->setContentsMargins(16, 16, 16, 16);
    rowsColumn->setSpacing(8);
    m_rowsLayout = new QVBoxLayout;
    m_rowsLayout->setSpacing(8);
    rowsColumn->addLayout(m_rowsLayout);
    auto *add = new QHBoxLayout;
    add->setContentsMargins(0, 2, 0, 0);
    add->addWidget(new KSButton(QStringLiteral("Add variable"), QStringLiteral("plus"), KSButton::Variant::text,
                                KSButton::Size::sm, false, false, false, [self] {
                                    if (self)
                                        self->addVariable();
                                },
                                rows));
    add->addStretch(1);
    rowsColumn->addLayout(add);
    rowsColumn->addStretch(1);
    column->addWidget(scrollOver(rows, m_editorPage), 1);

    auto *note = new SnowText(
        QStringLiteral("Reference these in mock bodies as {{key}} — served responses substitute the active environment's value."),
        Fonts::inter(12), [](const Palette &p) { return p.mutedForeground; }, m_editorPage);
    note->setWrap(true);
    // The sheet's width is fixed, so the wrapped note's height is known now; the stacked pane
    // would otherwise give it a single line.
    note->setFixedHeight(note->heightForWidth(Width - ListWidth - 1 - 32));
    auto *noteBox = new QVBoxLayout;
    noteBox->setContentsMargins(16, 16, 16, 16);
    noteBox->addWidget(note);
    column->addLayout(noteBox);
    m_pane->addWidget(m_editorPage);
    return m_pane;
}

std::optional<QString> ManageEnvironmentsSheet::selectedID() const
{
    return SheetsLogic::selectedEnvironmentID(m_context.engine->environments(), m_selected);
}

bool ManageEnvironmentsSheet::showsEmptyState() const
{
    return m_pane->currentWidget() == m_emptyPage;
}

void ManageEnvironmentsSheet::select(const QString &environmentID)
{
    m_selected = environmentID;
    refresh();
}

QList<SnowMenuItem> ManageEnvironmentsSheet::envMenuItems(const QString &environmentID) const
{
    QPointer<ManageEnvironmentsSheet> self(const_cast<ManageEnvironmentsSheet *>(this));
    QPointer<EngineClient> engine(m_context.engine);
    return {
        SnowMenuItem::entry(QStringLiteral("Set active"), {}, [self, environmentID] {
            if (self)
                self->activate(environmentID);
        }),
        SnowMenuItem::entry(QStringLiteral("Rename"), {}, [self, environmentID] {
            if (self)
                self->startRename(environmentID);
        }),
        SnowMenuItem::entry(QStringLiteral("Duplicate"), {}, [engine, environmentID] {
            if (engine)
                engine->duplicateEnvironment(environmentID);
        }),
        SnowMenuItem::entry(QStringLiteral("Delete"), {}, [self, environmentID] {
            if (!self)
                return;
            self->m_context.engine->deleteEnvironment(environmentID);
            self->m_selected = SheetsLogic::selectionAfterDelete(self->m_context.engine->environments(), self->m_selected,
                                                                 environmentID);
            self->refresh();
        }, SnowMenuItem::Tone::destructive),
    };
}

void ManageEnvironmentsSheet::addEnvironment()
{
    m_context.engine->addEnvironment(QStringLiteral("New environment"));
    const QList<MockEnvironment> &environments = m_context.engine->environments();
    m_selected = environments.isEmpty() ? std::nullopt
                                        : std::optional<QString>(QString::fromStdString(environments.last().id));
    refresh();
}

void ManageEnvironmentsSheet::activate(const QString &environmentID)
{
    m_context.engine->chooseEnvironment(environmentID);
}

void ManageEnvironmentsSheet::startRename(const QString &environmentID)
{
    QString name;
    for (const MockEnvironment &environment : m_context.engine->environments()) {
        if (QString::fromStdString(environment.id) == environmentID) {
            name = QString::fromStdString(environment.name);
            break;
        }
    }
    m_list->startRenaming(environmentID, name);
}

void ManageEnvironmentsSheet::commitRename(const QString &environmentID, const QString &text)
{
    m_list->stopRenaming();
    m_context.engine->renameEnvironment(environmentID, text);
    refresh();
}

void ManageEnvironmentsSheet::addVariable()
{
    if (const std::optional<QString> id = selectedID())
        m_context.engine->addVar(*id);
}

void ManageEnvironmentsSheet::refresh()
{
    const QList<MockEnvironment> &environments = m_context.engine->environments();
    const QString active = m_context.engine->activeEnvID();
    const std::optional<QString> shown = selectedID();

    QList<RecordListModel::Item> items;
    const MockEnvironment *current = nullptr;
    for (const MockEnvironment &environment : environments) {
        RecordListModel::Item item;
        item.id = QString::fromStdString(environment.id);
        item.values[Qt::DisplayRole] = QString::fromStdString(environment.name);
        item.values[SelectedRole] = shown == item.id;
        item.values[ActiveRole] = item.id == active;
        if (shown == item.id && !current)
            current = &environment;
        items.append(item);
    }
    m_list->setItems(items);

    if (!current) {
        m_pane->setCurrentWidget(m_emptyPage);
        return;
    }
    m_pane->setCurrentWidget(m_editorPage);
    const QString id = QString::fromStdString(current->id);
    m_paneTitle->setText(QString::fromStdString(current->name));
    m_activeTag->setVisible(id == active);
    m_setActive->setVisible(id != active);

    // Rows by position: fields that stay keep their widgets (and the keyboard focus).
    const qsizetype count = qsizetype(current->vars.size());
    while (m_rows.size() > count) {
        // Later: the row may be the one whose remove button is being clicked right now.
        EnvVarRow *gone = m_rows.takeLast();
        gone->hide();
        m_rowsLayout->removeWidget(gone);
        gone->deleteLater();
    }
    while (m_rows.size() < count) {
        auto *row = new EnvVarRow(m_context);
        m_rowsLayout->addWidget(row);
        m_rows.append(row);
    }
    for (qsizetype i = 0; i < count; ++i) {
        const EnvVar &var = current->vars[std::size_t(i)];
        m_rows[i]->bind(id, QString::fromStdString(var.id), QString::fromStdString(var.key),
                        QString::fromStdString(var.value));
    }
}
