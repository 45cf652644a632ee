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
#include "screens/routes/sheets_logic.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPointer>
#include <QVBoxLayout>

NewGroupSheet::NewGroupSheet(const AppContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
{
    setFixedWidth(Width);
    const std::optional<QString> renameFrom = context.state->groupRenameFrom();
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(24);
    m_title = new SnowText(renameFrom ? QStringLiteral("Rename group") : QStringLiteral("New group"),
                           Fonts::inter(16, QFont::DemiBold), [](const Palette &p) { return p.foreground; }, this);
    column->addWidget(m_title);

    m_name = new SnowTextField(this);
    m_name->setPlaceholder(QStringLiteral("Group name"));
    m_name->setBoxHeight(36);
    m_name->setText(renameFrom.value_or(QString()));
    connect(m_name, &SnowTextField::submitted, this, &NewGroupSheet::commit);
    column->addWidget(m_name);

    QPointer<NewGroupSheet> self(this);
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addStretch(1);
    buttons->addWidget(new KSButton(QStringLiteral("Cancel"), {}, KSButton::Variant::text, KSButton::Size::md, false,
                                    false, false, [self] {
                                        if (self)
                                            self->finish();
                                    },
                                    this));
    buttons->addWidget(new PrimaryButton(QStringLiteral("Save"), QStringLiteral("checkmark"), KSButton::Size::md, false,
                                         false, [self] {
                                             if (self)
                                                 self->commit();
                                         },
                                         this));
    column->addLayout(buttons);
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

void NewGroupSheet::paintEvent(QPaintEvent *)
{
    QPainter(this).fillRect(rect(), Palette::of(this).content);
}
