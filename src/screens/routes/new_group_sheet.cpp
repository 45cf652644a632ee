// The route group sheet.
#include "screens/routes/new_group_sheet.h"

#include "app/app_state.h"
#include "app/sheet_presenter.h"
#include "design/fonts.h"
#include "design/ks_button.h"
#include "design/palette.h"
#include "design/snow_text.h"
#include "design/snow_text_field.h"
#include "engine/engine_client.h"
#include "screens/routes/sheet_parts.h"
#include "screens/routes/sheets_logic.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPointer>
#include <QVBoxLayout>

NewGroupSheet::NewGroupSheet(const AppContext &context, QWidget *parent)
    : SheetSurface([](const Palette &p) { return p.content; }, parent)
    , m_context(context)
{
    setFixedWidth(Width);
    const std::optional<QString> renameFrom = context.state->groupRenameFrom();
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(24);
    m_title = SheetParts::title(renameFrom ? QStringLiteral("Rename group") : QStringLiteral("New group"), this);
    column->addWidget(m_title);

    m_name = new SnowTextField(this);
    m_name->setPlaceholder(QStringLiteral("Group name"));
    m_name->setBoxHeight(36);
    m_name->setText(renameFrom.value_or(QString()));
    connect(m_name, &SnowTextField::submitted, this, &NewGroupSheet::commit);
    column->addWidget(m_name);

    QPointer<NewGroupSheet> self(this);
    auto *save = SheetParts::primaryButton(QStringLiteral("Save"), QStringLiteral("checkmark"), this, [self] {
        if (self)
            self->commit();
    });
    column->addLayout(SheetParts::buttonRow(this, [self] {
        if (self)
            self->finish();
    }, save));
}

void NewGroupSheet::commit()
{
    const QString name = SheetsLogic::trimmedName(m_name->text());
    AppState *state = m_context.state;
    if (!name.isEmpty()) {
        if (const std::optional<QString> from = state->groupRenameFrom())
            m_context.engine->renameGroup(*from, name);
        else if (const std::optional<QString> target = state->groupAssignTarget())
            m_context.engine->setGroup(*target, name);
    }
    finish();
}

void NewGroupSheet::finish()
{
    m_context.state->setGroupRenameFrom(std::nullopt);
    m_context.state->setGroupAssignTarget(std::nullopt);
    Sheets::dismiss(this);
}
