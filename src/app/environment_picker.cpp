// Environment picker: "No environment", one entry per environment, "Manage environments…".
#include "app/environment_picker.h"

#include "app/app_state.h"
#include "engine/engine_client.h"
#include "app/header_logic.h"
#include "design/snow_select.h"

#include <QHBoxLayout>
#include <QPointer>

EnvironmentPicker::EnvironmentPicker(const AppContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_select(new SnowSelect(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_select);
    m_select->setIcon(QStringLiteral("curlybraces"));
    m_select->setBoxWidth(BoxWidth);
    m_select->setSize(KSButton::Size::sm);
    m_select->setMenuWidth(220);
    m_select->setItemsProvider([this] { return envItems(); });
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    connect(context.engine, &EngineClient::environmentsChanged, this, &EnvironmentPicker::refresh);
    connect(context.engine, &EngineClient::activeEnvIDChanged, this, &EnvironmentPicker::refresh);
    refresh();
}

void EnvironmentPicker::setBoxWidth(int width)
{
    m_select->setBoxWidth(width);
    updateGeometry();
}

void EnvironmentPicker::setIconOnly(bool iconOnly)
{
    if (iconOnly == isIconOnly())
        return;
    m_select->setValueShown(!iconOnly);
    refresh();
}

bool EnvironmentPicker::isIconOnly() const
{
    return !m_select->valueShown();
}

QString EnvironmentPicker::activeName() const
{
    return HeaderLogic::activeEnvironmentName(m_context.engine->environments(), m_context.engine->activeEnvID());
}

void EnvironmentPicker::refresh()
{
    m_select->setValue(activeName(), false);
    m_select->setToolTip(isIconOnly() ? activeName() : QString());
}

QList<SnowMenuItem> EnvironmentPicker::envItems() const
{
    QPointer<EngineClient> engine(m_context.engine);
    QPointer<AppState> state(m_context.state);
    auto activate = [engine](const QString &id) {
        return [engine, id] {
            if (!engine)
                return;
            engine->chooseEnvironment(id);
        };
    };
    const QString active = m_context.engine->activeEnvID();
    QList<SnowMenuItem> items;
    items.append(SnowMenuItem::entry(QStringLiteral("No environment"), {}, activate(QString()),
                                     SnowMenuItem::Tone::normal, active.isEmpty()));
    const auto &environments = m_context.engine->environments();
    if (!environments.isEmpty())
        items.append(SnowMenuItem::divider());
    for (const MockEnvironment &environment : environments) {
        const QString id = QString::fromStdString(environment.id);
        items.append(SnowMenuItem::entry(QString::fromStdString(environment.name), {}, activate(id),
                                         SnowMenuItem::Tone::normal, id == active));
    }
    items.append(SnowMenuItem::divider());
    items.append(SnowMenuItem::entry(QStringLiteral("Manage environments…"), QStringLiteral("slider.horizontal.3"),
                                     [state] {
                                         if (state)
                                             state->setShowManageEnvironments(true);
                                     }));
    return items;
}
