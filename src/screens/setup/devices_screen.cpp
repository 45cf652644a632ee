// The devices screen: the simulator card with its CA hint, rows, trust notification and proxy snippet.
#include "screens/setup/devices_screen.h"

#include "app/app_state.h"
#include "design/badges.h"
#include "design/card.h"
#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/indicators.h"
#include "design/ks_button.h"
#include "design/shell_widgets.h"
#include "design/snow_empty_state.h"
#include "design/snow_toast.h"
#include "engine/engine_client.h"
#include "screens/setup/setup_logic.h"
#include "screens/setup/setup_widgets.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace SetupWidgets;

namespace {

// The CA hint is drawn the same on both palettes: black ink on a yellow wash.
ColorRole hintInk()
{
    return [](const Palette &) { return QColor(0, 0, 0, int(0.7 * 255)); };
}

} // namespace

SimulatorRow::SimulatorRow(const Simulator &sim, QWidget *parent)
    : QWidget(parent)
    , m_sim(sim)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(12);
    layout->addWidget(new StatusDot(Palette::green(), 8, false, this), 0, Qt::AlignVCenter);
    QWidget *texts = column(2, this);
    // A long name gives way to the buttons and ends in an ellipsis rather than a cut letter.
    auto *name = new ShellText(sim.name, Fonts::inter(13, QFont::Medium), foreground(), texts);
    name->setElideMode(Qt::ElideRight);
    name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    texts->layout()->addWidget(name);
    auto *detail = new ShellText(sim.os + QStringLiteral(" \u00b7 ") + sim.udid, Fonts::ksCodeSm(), mutedForeground(),
                                 texts);
    detail->setElideMode(Qt::ElideMiddle);
    detail->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    texts->layout()->addWidget(detail);
    texts->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    layout->addWidget(texts, 1, Qt::AlignVCenter);
    layout->addWidget(new SnowTag(QStringLiteral("Booted"), SnowTag::Tone::info, {}, false, this), 0, Qt::AlignVCenter);
    m_trusted = new SnowTag(QStringLiteral("Trusted"), SnowTag::Tone::success, QStringLiteral("checkmark.seal.fill"),
                            false, this);
    m_trust = new KSButton(QStringLiteral("Trust CA"), QStringLiteral("checkmark.shield"), KSButton::Variant::violet,
                           KSButton::Size::sm, false, false, false, [this] { emit trustRequested(m_sim); }, this);
    layout->addWidget(m_trusted, 0, Qt::AlignVCenter);
    layout->addWidget(m_trust, 0, Qt::AlignVCenter);
    setState(false, false, false);
}

void SimulatorRow::setState(bool trusted, bool busy, bool caGenerated)
{
    m_trusted->setVisible(trusted);
    m_trust->setVisible(!trusted);
    m_trust->setLoading(busy);
    m_trust->setDisabled(!caGenerated);
}

void SimulatorRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(roundedRectPath(QRectF(rect()), 8), Palette::of(this).subtle);
}

DevicesScreen::DevicesScreen(const AppContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    const ScrollPage page = scrollPage(this, 24, 820);
    outer->addWidget(page.scroll);
    QWidget *inset = page.page;
    QVBoxLayout *columnLayout = page.column;

    QWidget *header = column(4, inset);
    QWidget *titleRow = row(8, header);
    titleRow->layout()->addWidget(
        new SymbolLabel(QStringLiteral("wifi"), 14, [](const Palette &) { return Palette::primary(); }, titleRow));
    titleRow->layout()->addWidget(text(QStringLiteral("Connected Devices"), Fonts::ksSection(), foreground(), titleRow));
    static_cast<QHBoxLayout *>(titleRow->layout())->addStretch(1);
    header->layout()->addWidget(titleRow);
    header->layout()->addWidget(wrapped(QStringLiteral("Route your app's network traffic through Kestrion for local "
                                                       "interception."),
                                        Fonts::ksMeta(), mutedForeground(), header));
    columnLayout->addWidget(header);
    // The card is at most 460 wide at the leading edge; a row rather than an alignment, so that its
    // wrapped code keeps the height of the width it really gets.
    QWidget *cardRow = row(0, inset);
    QWidget *card = buildCard();
    card->setMaximumWidth(460);
    static_cast<QHBoxLayout *>(cardRow->layout())->addWidget(card, 1);
    static_cast<QHBoxLayout *>(cardRow->layout())->addStretch(0);
    columnLayout->addWidget(cardRow);
    columnLayout->addStretch(1);

    SimulatorManager *manager = context.simulators;
    connect(manager, &SimulatorManager::simulatorsChanged, this, &DevicesScreen::rebuildRows);
    connect(manager, &SimulatorManager::trustedChanged, this, &DevicesScreen::refreshRows);
    connect(manager, &SimulatorManager::busyChanged, this, &DevicesScreen::refreshRows);
    connect(manager, &SimulatorManager::statusChanged, this, &DevicesScreen::refreshState);
    connect(context.engine, &EngineClient::caInfoChanged, this, [this] {
        refreshState();
        refreshRows();
    });
    // The port comes with each health answer and may change while the screen is shown.
    connect(context.engine, &EngineClient::healthChanged, this, &DevicesScreen::refreshSnippet);
    connect(context.engine, &EngineClient::proxyRunningChanged, this, &DevicesScreen::refreshSnippet);
    rebuildRows();
    refreshState();
    // Built anew each time the screen is shown, so this is the "when shown" refresh.
    manager->refresh();
}

QWidget *DevicesScreen::buildCard()
{
    QWidget *content = column(12);
    content->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *layout = static_cast<QVBoxLayout *>(content->layout());

    QWidget *headerRow = row(8, content);
    auto *headerLayout = static_cast<QHBoxLayout *>(headerRow->layout());
    headerLayout->addWidget(new IconTile(QStringLiteral("iphone"), Palette::blue(), 32, 8, headerRow));
    headerLayout->addWidget(text(QStringLiteral("iOS Simulator"), Fonts::inter(14, QFont::DemiBold), foreground(),
                                 headerRow));
    headerLayout->addStretch(1);
    auto *refresh = new GhostIconButton(QStringLiteral("arrow.clockwise"), 30, 15, std::nullopt,
                                        [this] { m_context.simulators->refresh(); }, headerRow);
    m_refresh = refresh;
    headerLayout->addWidget(refresh);
    layout->addWidget(headerRow);

    auto *hint = new FilledBox([](const Palette &) { return withOpacity(Palette::yellow(), 0.3); }, 12, content);
    auto *hintLayout = new QHBoxLayout(hint);
    hintLayout->setContentsMargins(12, 8, 12, 8);
    hintLayout->setSpacing(8);
    hintLayout->addWidget(new SymbolLabel(QStringLiteral("exclamationmark.triangle.fill"), 12, hintInk(), hint));
    hintLayout->addWidget(text(QStringLiteral("Generate a Root CA to intercept HTTPS."), Fonts::inter(12, QFont::Medium),
                               hintInk(), hint));
    hintLayout->addStretch(1);
    hintLayout->addSpacing(8);
    m_openCertificates = new SecondaryButton(QStringLiteral("Open Certificates"), {}, false, KSButton::Size::sm, false,
                                             false, [this] { m_context.state->select(NavItem::certificates); }, hint);
    hintLayout->addWidget(m_openCertificates);
    m_caHint = hint;
    layout->addWidget(hint);

    auto *openSimulator = new SecondaryButton(QStringLiteral("Open Simulator"), QStringLiteral("play.rectangle"), false,
                                              KSButton::Size::md, false, false,
                                              [this] { m_context.simulators->openSimulatorApp(); });
    m_empty = new SnowEmptyState(QStringLiteral("iphone.slash"), QStringLiteral("No booted simulator"),
                                 QStringLiteral("Open Simulator.app, boot a device, then Refresh."), Palette::primary(),
                                 true, openSimulator, content);
    layout->addWidget(m_empty);
    m_list = column(8, content);
    m_listLayout = static_cast<QVBoxLayout *>(m_list->layout());
    layout->addWidget(m_list);

    m_toast = new SnowToast({}, SnowToast::Tone::success, content);
    layout->addWidget(m_toast, 0, Qt::AlignLeft);
    layout->addWidget(new SnowDivider(false, 0, content));
    layout->addWidget(text(QStringLiteral("Point your app's URLSession at the proxy:"), Fonts::ksMeta(), foreground(),
                           content));
    m_snippet = new CodeBox(SetupLogic::proxySnippet(m_context.engine->proxyPort()), 11, true, content);
    m_snippet->codeText()->setHangingIndent(true);
    layout->addWidget(m_snippet);
    return new Card(20, 16, content);
}

void DevicesScreen::refreshSnippet()
{
    const QString snippet = SetupLogic::proxySnippet(m_context.engine->proxyPort());
    if (m_snippet->text() != snippet)
        m_snippet->setText(snippet);
}

QString DevicesScreen::caFingerprint() const
{
    const std::optional<CAInfo> &ca = m_context.engine->caInfo();
    return ca ? QString::fromStdString(ca->fingerprint) : QString();
}

void DevicesScreen::rebuildRows()
{
    for (const QPointer<SimulatorRow> &old : std::as_const(m_rows)) {
        if (old) {
            old->hide();
            old->deleteLater();
        }
    }
    m_rows.clear();
    const QList<Simulator> &simulators = m_context.simulators->simulators();
    for (const Simulator &sim : simulators) {
        auto *simRow = new SimulatorRow(sim, m_list);
        connect(simRow, &SimulatorRow::trustRequested, this, [this](const Simulator &target) {
            const std::optional<CAInfo> &ca = m_context.engine->caInfo();
            m_context.simulators->trust(target, ca ? QString::fromStdString(ca->path) : QString(), caFingerprint());
        });
        m_listLayout->addWidget(simRow);
        m_rows.append(simRow);
    }
    // Looked up again at each refresh: a tool installed meanwhile counts.
    if (simulators.isEmpty()) {
        m_empty->messageText()->setText(
            SetupLogic::simulatorEmptyMessage(SimulatorManager::toolFound(), SimulatorManager::appFound()));
        m_empty->actions()->setVisible(SimulatorManager::appFound());
    }
    m_empty->setVisible(simulators.isEmpty());
    m_list->setVisible(!simulators.isEmpty());
    refreshRows();
}

void DevicesScreen::refreshRows()
{
    const bool generated = SetupLogic::caGenerated(m_context.engine->caInfo());
    const QString fingerprint = caFingerprint();
    const SimulatorManager *manager = m_context.simulators;
    for (const QPointer<SimulatorRow> &simRow : std::as_const(m_rows)) {
        if (simRow)
            simRow->setState(generated && manager->isTrusted(simRow->simulator().udid, fingerprint), manager->busy(),
                             generated);
    }
}

void DevicesScreen::refreshState()
{
    m_caHint->setVisible(!SetupLogic::caGenerated(m_context.engine->caInfo()));
    const std::optional<QString> &status = m_context.simulators->status();
    m_toast->setVisible(status.has_value());
    if (status) {
        m_toast->setText(*status);
        m_toast->setTone(m_context.simulators->statusIsFailure() ? SnowToast::Tone::error : SnowToast::Tone::success);
    }
}

QList<SimulatorRow *> DevicesScreen::rows() const
{
    QList<SimulatorRow *> list;
    for (const QPointer<SimulatorRow> &simRow : m_rows)
        if (simRow)
            list.append(simRow);
    return list;
}

QStringList DevicesScreen::shownTexts() const
{
    return SetupWidgets::shownTexts(this);
}

void DevicesScreen::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Palette::of(this).background);
}
