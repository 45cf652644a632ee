// The new-project and manage-projects sheets.
#include "screens/routes/projects_sheets.h"

#include "app/app_state.h"
#include "app/project_actions.h"
#include "app/sheet_presenter.h"
#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/ks_button.h"
#include "design/palette.h"
#include "design/snow_text.h"
#include "design/snow_text_field.h"
#include "design/symbols.h"
#include "engine/engine_client.h"
#include "screens/routes/record_list.h"
#include "screens/routes/sheet_parts.h"
#include "screens/routes/sheets_logic.h"

#include <QFontMetricsF>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QVBoxLayout>

namespace {

enum ProjectRole {
    ActiveRole = RecordListModel::FirstValueRole,
    CountRole,
};

constexpr int RenamingRole = RecordListModel::RenamingRole;

constexpr int PadH = 12;
constexpr int PadV = 8;
constexpr int Spacing = 12;
constexpr int Ellipsis = 24;
constexpr int EditorHeight = 28;

qreal iconWidth()
{
    return Symbols::glyphPixelSize(13);
}

QFont nameFont()
{
    return Fonts::inter(13, QFont::Medium);
}

QFont countFont()
{
    return Fonts::inter(11);
}

class ProjectRowDelegate final : public RecordRowDelegate
{
public:
    using RecordRowDelegate::RecordRowDelegate;

    QRect ellipsisRect(const QRect &row) const override
    {
        return {row.right() + 1 - PadH - Ellipsis, row.top() + (row.height() - Ellipsis) / 2, Ellipsis, Ellipsis};
    }

    QRect editorRect(const QRect &row, const QModelIndex &index) const override
    {
        const int left = row.left() + PadH + int(iconWidth()) + Spacing;
        const qreal count = QFontMetricsF(countFont()).horizontalAdvance(countText(index));
        const int right = ellipsisRect(row).left() - Spacing - int(count) - Spacing;
        return {left, row.top() + (row.height() - EditorHeight) / 2, qMax(40, right - left), EditorHeight};
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const int content = index.data(RenamingRole).toBool() ? EditorHeight : Ellipsis;
        return {option.rect.width(), PadV + content + PadV + Gap};
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QPainter &p = *painter;
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        const Palette palette = Palette::of(option.widget);
        const QRect row = rowRect(option.rect);
        if (const qreal hover = hoverProgress(option, index); hover > 0)
            p.fillPath(roundedRectPath(QRectF(row), 8), withOpacity(palette.muted, hover));

        const bool active = index.data(ActiveRole).toBool();
        qreal x = row.left() + PadH;
        const QColor iconColor = active ? (palette.isDark ? Palette::indigo() : QColor(0, 0, 0)) : palette.mutedForeground;
        Symbols::draw(p, QRectF(x, row.top(), iconWidth(), row.height()),
                      active ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("folder"), 13, iconColor);
        x += iconWidth() + Spacing;

        const QRect ellipsis = ellipsisRect(row);
        const QString count = countText(index);
        const qreal countWidth = QFontMetricsF(countFont()).horizontalAdvance(count);
        if (index.data(RenamingRole).toBool()) {
            x = editorRect(row, index).right() + 1 + Spacing;
        } else {
            const qreal room = qMax<qreal>(0, ellipsis.left() - Spacing - countWidth - Spacing - x);
            const QString name = QFontMetricsF(nameFont()).elidedText(index.data(Qt::DisplayRole).toString(),
                                                                      Qt::ElideRight, room);
            p.setFont(nameFont());
            p.setPen(palette.foreground);
            p.drawText(QRectF(x, row.top(), room, row.height()), Qt::AlignLeft | Qt::AlignVCenter, name);
            x += QFontMetricsF(nameFont()).horizontalAdvance(name) + Spacing;
        }
        p.setFont(countFont());
        p.setPen(palette.mutedForeground);
        p.drawText(QRectF(x, row.top(), countWidth + 1, row.height()), Qt::AlignLeft | Qt::AlignVCenter, count);

        Symbols::draw(p, QRectF(ellipsis), QStringLiteral("ellipsis"), 13, palette.mutedForeground);
        paintKeyboardRing(p, option, index, 8);
        p.restore();
    }

protected:
    QWidget *makeEditor(QWidget *parent) const override
    {
        auto *field = new SnowTextField(parent);
        field->setBoxHeight(EditorHeight);
        return field;
    }

private:
    static QString countText(const QModelIndex &index)
    {
        return SheetsLogic::routeCountText(index.data(CountRole).toInt());
    }
};

} // namespace

NewProjectSheet::NewProjectSheet(const AppContext &context, QWidget *parent)
    : SheetSurface([](const Palette &p) { return p.content; }, parent)
    , m_context(context)
{
    setFixedWidth(Width);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(24);
    column->addWidget(SheetParts::title(QStringLiteral("New project"), this));

    auto *fieldBlock = new QVBoxLayout;
    fieldBlock->setSpacing(6);
    m_name = new SnowTextField(this);
    m_name->setPlaceholder(QStringLiteral("Project name"));
    m_name->setBoxHeight(36);
    connect(m_name, &SnowTextField::submitted, this, &NewProjectSheet::create);
    fieldBlock->addWidget(m_name);
    m_error = new SnowText(SheetsLogic::createProjectFailedText(), Fonts::inter(11, QFont::Medium),
                           [](const Palette &p) { return p.errorRed(); }, this);
    m_error->hide();
    fieldBlock->addWidget(m_error);
    column->addLayout(fieldBlock);

    QPointer<NewProjectSheet> self(this);
    m_create = SheetParts::primaryButton(QStringLiteral("Create"), QStringLiteral("plus"), this, [self] {
        if (self)
            self->create();
    });
    column->addLayout(SheetParts::buttonRow(this, SheetParts::dismissAction(this), m_create));
}

void NewProjectSheet::create()
{
    if (m_creating)
        return;
    const QString name = SheetsLogic::trimmedName(m_name->text());
    if (name.isEmpty())
        return;
    m_creating = true;
    m_create->setLoading(true);
    m_error->hide();
    QPointer<NewProjectSheet> self(this);
    m_context.engine->createProject(name, [self](const std::optional<QString> &id) {
        // A sheet closed meanwhile has nothing left to update, and its user no longer asked to switch.
        if (!self)
            return;
        self->m_creating = false;
        self->m_create->setLoading(false);
        if (!id) {
            self->m_error->show();
            return;
        }
        ProjectActions::activate(self->m_context.state, self->m_context.engine, *id);
        Sheets::dismiss(self);
    });
}

ManageProjectsSheet::ManageProjectsSheet(const AppContext &context, QWidget *parent)
    : SheetSurface([](const Palette &p) { return p.content; }, parent)
    , m_context(context)
{
    setFixedSize(Width, Height);
    QVBoxLayout *column = SheetParts::edgeColumn(QStringLiteral("Projects"), 12, this);

    QPointer<ManageProjectsSheet> self(this);
    m_model = new RecordListModel(this);
    auto *delegate = new ProjectRowDelegate;
    m_list = new RecordListView(m_model, delegate, this);
    m_list->setPadding(12, 8, 12, 8);
    m_list->setMenu(180, [self](const QString &id) { return self ? self->rowMenuItems(id) : QList<SnowMenuItem>(); });
    // A row has no click action: everything is done through its menu.
    m_list->setKeysOpenMenu(true);
    delegate->setCommit([self](const QString &id, const QString &text) {
        if (self)
            self->commitRename(id, text);
    });
    column->addWidget(m_list, 1);

    connect(context.engine, &EngineClient::projectsChanged, this, &ManageProjectsSheet::refresh);
    connect(context.engine, &EngineClient::activeProjectIDChanged, this, &ManageProjectsSheet::refresh);
    // The route counts are the engine's: asked afresh on opening and whenever a route edit lands. Not
    // while a project operation runs: the engine's active project may be changing, and the operation
    // reloads the list itself.
    const auto reload = [this] {
        if (!m_context.engine->operationsUnderWay())
            m_context.engine->loadProjects();
    };
    connect(context.engine, &EngineClient::routePushLanded, this, reload);
    connect(context.engine, &EngineClient::operationsUnderWayChanged, this, reload);
    refresh();
    reload();
}

void ManageProjectsSheet::refresh()
{
    const QString active = m_context.engine->activeProjectID();
    QList<RecordListModel::Item> items;
    for (const Project &project : m_context.engine->projects()) {
        RecordListModel::Item item;
        item.id = QString::fromStdString(project.id);
        item.values[Qt::DisplayRole] = QString::fromStdString(project.name);
        item.values[ActiveRole] = item.id == active;
        item.values[CountRole] = qint64(project.routeCount);
        items.append(item);
    }
    m_list->setItems(items);
}

QList<SnowMenuItem> ManageProjectsSheet::rowMenuItems(const QString &projectID) const
{
    QPointer<AppState> state(m_context.state);
    QPointer<EngineClient> engine(m_context.engine);
    QPointer<ManageProjectsSheet> self(const_cast<ManageProjectsSheet *>(this));
    QList<SnowMenuItem> items;
    if (projectID != m_context.engine->activeProjectID()) {
        items.append(SnowMenuItem::entry(QStringLiteral("Switch to"), {}, [state, engine, projectID] {
            if (state && engine)
                ProjectActions::activate(state, engine, projectID);
        }));
    }
    items.append(SnowMenuItem::entry(QStringLiteral("Rename"), {}, [self, projectID] {
        if (self)
            self->startRename(projectID);
    }));
    items.append(SnowMenuItem::entry(QStringLiteral("Duplicate"), {}, [engine, projectID] {
        if (engine)
            engine->duplicateProject(projectID);
    }));
    items.append(SnowMenuItem::entry(QStringLiteral("Delete"), {}, [state, engine, projectID] {
        if (state && engine)
            ProjectActions::remove(state, engine, projectID);
    }, SnowMenuItem::Tone::destructive, false, m_context.engine->projects().size() < 2));
    return items;
}

QString ManageProjectsSheet::renaming() const
{
    return m_list->renaming();
}

void ManageProjectsSheet::startRename(const QString &projectID)
{
    QString name;
    for (const Project &project : m_context.engine->projects()) {
        if (QString::fromStdString(project.id) == projectID)
            name = QString::fromStdString(project.name);
    }
    m_list->startRenaming(projectID, name);
}

void ManageProjectsSheet::commitRename(const QString &projectID, const QString &text)
{
    m_context.engine->renameProject(projectID, text);
    m_list->stopRenaming();
}
