// The settings sheet's sections, each redrawn from the engine link, the preferences and AppState.
#include "screens/setup/settings_screen.h"

#include "app/app_state.h"
#include "app/sheet_presenter.h"
#include "design/badges.h"
#include "design/card.h"
#include "design/fonts.h"
#include "design/indicators.h"
#include "design/ks_button.h"
#include "design/shell_widgets.h"
#include "design/snow_progress_bar.h"
#include "design/snow_segmented.h"
#include "design/snow_switch.h"
#include "design/snow_text_field.h"
#include "engine/engine_client.h"
#include "platform/analytics.h"
#include "platform/preferences.h"
#include "screens/setup/setup_logic.h"
#include "screens/setup/setup_widgets.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QNetworkReply>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace SetupWidgets;

namespace {

QString themeLabel(AppTheme theme)
{
    QString raw = AppThemes::rawValue(theme);
    if (!raw.isEmpty())
        raw[0] = raw[0].toUpper();
    return raw;
}

QString themeIcon(AppTheme theme)
{
    switch (theme) {
    case AppTheme::system: return QStringLiteral("circle.lefthalf.filled");
    case AppTheme::light: return QStringLiteral("sun.max");
    case AppTheme::dark: return QStringLiteral("moon");
    }
    return {};
}

QWidget *titledTexts(const QString &title, const QFont &titleFont, ShellText **subtitleOut, const QString &subtitle,
                     const QFont &subtitleFont, bool wrapSubtitle, QWidget *parent)
{
    QWidget *texts = column(2, parent);
    texts->layout()->addWidget(text(title, titleFont, foreground(), texts));
    ShellText *second = wrapSubtitle ? wrapped(subtitle, subtitleFont, mutedForeground(), texts)
                                     : text(subtitle, subtitleFont, mutedForeground(), texts);
    texts->layout()->addWidget(second);
    if (subtitleOut)
        *subtitleOut = second;
    return texts;
}

} // namespace

SettingsScreen::SettingsScreen(const AppContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
{
    setFixedSize(SheetWidth, SheetHeight);
    QVBoxLayout *layout = sheetColumn(this, buildHeader());

    const ScrollPage content = scrollPage(this, 16);
    QVBoxLayout *sections = content.column;
    sections->addWidget(buildAppearance());
    sections->addWidget(buildProxy());
    sections->addWidget(buildAI());
    sections->addWidget(buildEngine());
    sections->addWidget(buildPrivacy());
    sections->addStretch(1);
    layout->addWidget(content.scroll, 1);

    EngineClient *engine = context.engine;
    connect(engine, &EngineClient::aiStatusChanged, this, &SettingsScreen::refreshAI);
    connect(engine, &EngineClient::aiSetupChanged, this, &SettingsScreen::refreshAI);
    connect(engine, &EngineClient::aiSetupActiveChanged, this, &SettingsScreen::refreshAI);
    connect(engine, &EngineClient::statusChanged, this, &SettingsScreen::refreshEngine);
    connect(engine, &EngineClient::healthChanged, this, &SettingsScreen::refreshEngine);
    connect(&Preferences::instance(), &Preferences::valueChanged, this, [this](const QString &key) {
        if (key == QLatin1String(PrefKey::ProxyPort))
            refreshPort();
        else if (key == QLatin1String(PrefKey::AutostartPref))
            m_autostart->setOn(Preferences::instance().boolValue(PrefKey::AutostartPref, true));
    });
    refreshPort();
    refreshAI();
    refreshEngine();
    loadAIStatus();
}

SettingsScreen::~SettingsScreen()
{
    if (m_aiLoad)
        m_aiLoad->abort();
}

void SettingsScreen::loadAIStatus()
{
    if (m_aiLoad)
        return;
    m_aiLoad = m_context.engine->loadAIStatus();
}

QWidget *SettingsScreen::buildHeader()
{
    QWidget *header = row(8);
    header->layout()->setContentsMargins(24, 16, 24, 16);
    auto *layout = static_cast<QHBoxLayout *>(header->layout());
    layout->addWidget(titledTexts(QStringLiteral("Settings"), Fonts::inter(16, QFont::DemiBold), nullptr,
                                  QStringLiteral("Preferences & engine status"), Fonts::ksMeta(), false, header));
    layout->addStretch(1);
    m_close = new CircleIconButton(QStringLiteral("xmark"), 30, false, std::nullopt,
                                   [this] { Sheets::dismiss(this); }, header);
    layout->addWidget(m_close);
    return header;
}

QWidget *SettingsScreen::section(const QString &title, int spacing, QWidget *content)
{
    QWidget *body = column(spacing);
    body->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    body->layout()->addWidget(new CardHeader(title, nullptr, body));
    content->setParent(body);
    body->layout()->addWidget(content);
    return new Card(20, 16, body);
}

QWidget *SettingsScreen::settingRow(const QString &title, const QString &subtitle, QWidget *trailing,
                                    int verticalInset)
{
    QWidget *box = row(8);
    box->layout()->setContentsMargins(0, verticalInset, 0, verticalInset);
    auto *layout = static_cast<QHBoxLayout *>(box->layout());
    layout->addWidget(titledTexts(title, Fonts::inter(12, QFont::Medium), nullptr, subtitle, Fonts::inter(11), false,
                                  box),
                      0, Qt::AlignVCenter);
    layout->addStretch(1);
    trailing->setParent(box);
    layout->addWidget(trailing, 0, Qt::AlignVCenter);
    return box;
}

QWidget *SettingsScreen::buildAppearance()
{
    m_theme = new SnowSegmented;
    QList<SnowSegmented::Item> items;
    for (AppTheme theme : AppThemes::all())
        items.append({QVariant::fromValue(int(theme)), themeLabel(theme), themeIcon(theme)});
    m_theme->setItems(items);
    m_theme->setSelection(int(m_context.state->theme()));
    connect(m_theme, &SnowSegmented::selectionEdited, this,
            [this](const QVariant &value) { m_context.state->setTheme(AppTheme(value.toInt())); });
    connect(m_context.state, &AppState::themeChanged, this,
            [this] { m_theme->setSelection(int(m_context.state->theme())); });
    return section(QStringLiteral("Appearance"), 16,
                   settingRow(QStringLiteral("Theme"), QStringLiteral("Controls the visual appearance of Kestrion"),
                              m_theme, 0));
}

QWidget *SettingsScreen::buildProxy()
{
    QWidget *content = column(0);
    m_port = new SnowTextField;
    m_port->setMono(true);
    m_port->setBoxHeight(36);
    m_port->setFixedWidth(96);
    connect(m_port, &SnowTextField::textEdited, this, &SettingsScreen::portEdited);
    content->layout()->addWidget(settingRow(QStringLiteral("Proxy Port"),
                                            QStringLiteral("HTTP/HTTPS interception port \u00b7 restart Kestrion to "
                                                           "apply"),
                                            m_port, 12));
    auto *separator = new FilledBox([](const Palette &p) { return p.subtle; }, 0, content);
    separator->setFixedHeight(1);
    content->layout()->addWidget(separator);
    m_autostart = new SnowSwitch;
    m_autostart->setOn(Preferences::instance().boolValue(PrefKey::AutostartPref, true));
    connect(m_autostart, &SnowSwitch::toggled, this,
            [](bool on) { Preferences::instance().setValue(PrefKey::AutostartPref, on); });
    content->layout()->addWidget(settingRow(QStringLiteral("Auto-start on launch"),
                                            QStringLiteral("Start the proxy when Kestrion opens"), m_autostart, 12));
    return section(QStringLiteral("Proxy"), 4, content);
}

void SettingsScreen::portEdited(const QString &text)
{
    if (const std::optional<int> port = SetupLogic::portFromEdit(text))
        Preferences::instance().setValue(PrefKey::ProxyPort, *port);
    // Stored or not, the field shows what is stored now.
    refreshPort();
}

void SettingsScreen::refreshPort()
{
    const QString shown = QString::number(SetupLogic::shownPort(Preferences::proxyPort()));
    if (m_port->text() != shown)
        m_port->setText(shown);
}

QWidget *SettingsScreen::buildAI()
{
    QWidget *content = row(12);
    auto *layout = static_cast<QHBoxLayout *>(content->layout());
    layout->addWidget(new IconTile(QStringLiteral("sparkles"), Palette::purple(), 36, 12, content), 0, Qt::AlignTop);
    QWidget *body = column(8, content);
    auto *bodyLayout = static_cast<QVBoxLayout *>(body->layout());

    QWidget *top = row(8, body);
    top->layout()->addWidget(titledTexts(QStringLiteral("Local Model (llama.cpp)"), Fonts::inter(12, QFont::DemiBold),
                                         &m_aiDetail, {}, Fonts::inter(11), false, top));
    static_cast<QHBoxLayout *>(top->layout())->addStretch(1);
    m_aiStatus = new StatusLabel(7, top);
    top->layout()->addWidget(m_aiStatus);
    bodyLayout->addWidget(top);
    m_modelLine = text({}, Fonts::ksCodeSm(), mutedForeground(), body);
    bodyLayout->addWidget(m_modelLine);

    // Setup progress.
    m_progress = column(8, body);
    m_progress->layout()->setContentsMargins(0, 2, 0, 0);
    QWidget *progressRow = row(8, m_progress);
    progressRow->layout()->addWidget(new SnowLoader(14, Palette::indigo(), progressRow));
    m_progressMessage = text({}, Fonts::inter(11, QFont::Medium), foreground(), progressRow);
    progressRow->layout()->addWidget(m_progressMessage);
    static_cast<QHBoxLayout *>(progressRow->layout())->addStretch(1);
    QFont percentFont = Fonts::ksCodeSm();
    percentFont.setWeight(QFont::DemiBold);
    m_percent = text({}, percentFont, foreground(), progressRow);
    progressRow->layout()->addWidget(m_percent);
    m_progress->layout()->addWidget(progressRow);
    m_bar = new SnowProgressBar(m_progress);
    m_bar->setTint(Palette::indigo());
    m_progress->layout()->addWidget(m_bar);
    m_bytes = text({}, Fonts::ksCodeSm(), mutedForeground(), m_progress);
    m_progress->layout()->addWidget(m_bytes);
    bodyLayout->addWidget(m_progress);

    // The setup offer.
    m_offer = column(8, body);
    m_offer->layout()->setContentsMargins(0, 2, 0, 0);
    m_setup = new PrimaryButton(QStringLiteral("Set Up Automatically"), QStringLiteral("arrow.down.circle"),
                                KSButton::Size::md, false, false, [this] { m_context.engine->setupAI(); }, m_offer);
    m_offer->layout()->addWidget(m_setup);
    static_cast<QVBoxLayout *>(m_offer->layout())->setAlignment(m_setup, Qt::AlignLeft);
    m_offer->layout()->addWidget(wrapped(
        QStringLiteral("This engine has no local model to install: setup ends at once and downloads nothing. "
                       "Generation uses the built-in Tier-1 engine."),
        Fonts::inter(11), mutedForeground(), m_offer));
    bodyLayout->addWidget(m_offer);

    // Start or stop, and refresh.
    m_controls = row(8, body);
    m_controls->layout()->setContentsMargins(0, 2, 0, 0);
    m_stopModel = new SecondaryButton(QStringLiteral("Stop Model"), QStringLiteral("stop.fill"), true,
                                      KSButton::Size::md, false, false,
                                      [this] { m_context.engine->aiLifecycle(QStringLiteral("ai/stop")); }, m_controls);
    m_startModel = new PrimaryButton(QStringLiteral("Start Model"), QStringLiteral("play.fill"), KSButton::Size::md,
                                     false, false,
                                     [this] { m_context.engine->aiLifecycle(QStringLiteral("ai/start")); }, m_controls);
    m_refreshModel = new SecondaryButton(QStringLiteral("Refresh"), QStringLiteral("arrow.clockwise"), false,
                                         KSButton::Size::md, false, false, [this] { loadAIStatus(); }, m_controls);
    m_controls->layout()->addWidget(m_stopModel);
    m_controls->layout()->addWidget(m_startModel);
    m_controls->layout()->addWidget(m_refreshModel);
    static_cast<QHBoxLayout *>(m_controls->layout())->addStretch(1);
    bodyLayout->addWidget(m_controls);

    body->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    layout->addWidget(body, 1);
    return section(QStringLiteral("AI Mock Generation"), 16, content);
}

void SettingsScreen::refreshAI()
{
    const EngineClient *engine = m_context.engine;
    const AIStatus &status = engine->aiStatus();
    m_aiDetail->setText(QString::fromStdString(status.detail));
    const SetupLogic::StatusLook look = SetupLogic::aiLook(status, Palette::of(this));
    m_aiStatus->setLook(look.label, look.dot, look.pulse,
                        [status](const Palette &p) { return SetupLogic::aiLook(status, p).ink; });
    m_modelLine->setText(SetupLogic::modelLine(status.model));

    const SetupLogic::AIForm form = SetupLogic::aiForm(status, engine->aiSetupActive());
    m_progress->setVisible(form == SetupLogic::AIForm::progress);
    m_offer->setVisible(form == SetupLogic::AIForm::offer);
    m_controls->setVisible(form == SetupLogic::AIForm::controls);
    m_stopModel->setVisible(status.running);
    m_startModel->setVisible(!status.running);

    const AISetupProgress &setup = engine->aiSetup();
    const bool downloading = SetupLogic::isDownloading(setup);
    m_progressMessage->setText(QString::fromStdString(setup.message));
    m_percent->setVisible(downloading);
    m_percent->setText(QString::number(setup.percent) + QLatin1Char('%'));
    m_bar->setVisible(downloading);
    m_bar->setValue(double(setup.percent) / 100.0);
    m_bytes->setVisible(downloading);
    m_bytes->setText(QString::fromStdString(setup.bytesText()));
}

QWidget *SettingsScreen::buildEngine()
{
    QWidget *content = row(12);
    auto *layout = static_cast<QHBoxLayout *>(content->layout());
    layout->addWidget(new IconTile(QStringLiteral("cpu"), std::nullopt, 36, 12, content), 0, Qt::AlignTop);
    QWidget *body = column(8, content);
    QWidget *top = row(8, body);
    top->layout()->addWidget(titledTexts(QStringLiteral("Go Proxy Binary"), Fonts::inter(12, QFont::DemiBold),
                                         &m_engineSubtitle, {}, Fonts::ksCodeSm(), false, top));
    static_cast<QHBoxLayout *>(top->layout())->addStretch(1);
    m_engineStatus = new StatusLabel(7, top);
    top->layout()->addWidget(m_engineStatus);
    body->layout()->addWidget(top);

    QWidget *metrics = row(8, body);
    m_memory = text({}, Fonts::ksCodeSm(), mutedForeground(), metrics);
    m_uptime = text({}, Fonts::ksCodeSm(), mutedForeground(), metrics);
    m_goroutines = text({}, Fonts::ksCodeSm(), mutedForeground(), metrics);
    metrics->layout()->addWidget(m_memory);
    metrics->layout()->addWidget(text(QStringLiteral("\u00b7"), Fonts::ksCodeSm(), mutedForeground(), metrics));
    metrics->layout()->addWidget(m_uptime);
    metrics->layout()->addWidget(text(QStringLiteral("\u00b7"), Fonts::ksCodeSm(), mutedForeground(), metrics));
    metrics->layout()->addWidget(m_goroutines);
    static_cast<QHBoxLayout *>(metrics->layout())->addStretch(1);
    body->layout()->addWidget(metrics);
    body->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    layout->addWidget(body, 1);
    return section(QStringLiteral("Engine"), 16, content);
}

void SettingsScreen::refreshEngine()
{
    const EngineClient *engine = m_context.engine;
    const EngineStatus status = engine->status();
    const SetupLogic::StatusLook look = SetupLogic::engineLook(status, Palette::of(this));
    m_engineStatus->setLook(look.label, look.dot, look.pulse,
                            [status](const Palette &p) { return SetupLogic::engineLook(status, p).ink; });
    const std::optional<EngineHealth> &health = engine->health();
    if (health) {
        m_engineSubtitle->setText(SetupLogic::engineSubtitle(QString::fromStdString(health->version), health->pid));
        m_memory->setText(QStringLiteral("Memory: ") + SetupLogic::memoryText(health->memoryBytes));
        m_uptime->setText(QStringLiteral("Uptime: ") + SetupLogic::uptimeText(health->uptimeSeconds));
        m_goroutines->setText(QStringLiteral("Goroutines: ") + QString::number(health->goroutines));
    } else {
        m_engineSubtitle->setText(SetupLogic::engineSubtitle(std::nullopt, std::nullopt));
        m_memory->setText(QStringLiteral("Memory: ") + SetupLogic::memoryText(std::nullopt));
        m_uptime->setText(QStringLiteral("Uptime: ") + SetupLogic::uptimeText(std::nullopt));
        m_goroutines->setText(QStringLiteral("Goroutines: 0"));
    }
}

QWidget *SettingsScreen::buildPrivacy()
{
    Analytics *analytics = m_context.analytics ? m_context.analytics : &Analytics::shared();
    if (!analytics->endpoint().isEmpty()) {
        m_optIn = new SnowSwitch;
        m_optIn->setOn(Preferences::instance().boolValue(PrefKey::AnalyticsOptIn, false));
        connect(m_optIn, &SnowSwitch::toggled, this, [analytics](bool on) {
            Preferences::instance().setValue(PrefKey::AnalyticsOptIn, on);
            analytics->announceChange();
        });
        connect(analytics, &Analytics::changed, this,
                [this] { m_optIn->setOn(Preferences::instance().boolValue(PrefKey::AnalyticsOptIn, false)); });
        QWidget *box = row(8);
        auto *layout = static_cast<QHBoxLayout *>(box->layout());
        layout->addWidget(titledTexts(QStringLiteral("Share anonymous usage events"), Fonts::inter(12, QFont::Medium),
                                      nullptr,
                                      QStringLiteral("Off by default. Anonymous activation events only \u2014 never "
                                                     "your traffic, requests, or mock data."),
                                      Fonts::inter(11), true, box),
                          1);
        m_optIn->setParent(box);
        layout->addWidget(m_optIn, 0, Qt::AlignVCenter);
        return section(QStringLiteral("Privacy"), 16, box);
    }
    QWidget *box = row(12);
    auto *layout = static_cast<QHBoxLayout *>(box->layout());
    layout->addWidget(new IconTile(QStringLiteral("lock.shield"), Palette::green(), 32, 12, box), 0, Qt::AlignVCenter);
    layout->addWidget(titledTexts(QStringLiteral("No telemetry"), Fonts::inter(12, QFont::Medium), nullptr,
                                  QStringLiteral("This build collects nothing. Your traffic, requests, and mock data "
                                                 "never leave your computer."),
                                  Fonts::inter(11), true, box),
                      1);
    return section(QStringLiteral("Privacy"), 16, box);
}

bool SettingsScreen::event(QEvent *event)
{
    // The grey dot of "Off" is the palette's own muted colour, so it follows a theme change.
    if (event->type() == PaletteHost::changedEventType())
        refreshAI();
    return QWidget::event(event);
}

QStringList SettingsScreen::shownTexts() const
{
    return SetupWidgets::shownTexts(this);
}

void SettingsScreen::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Palette::of(this).background);
}
