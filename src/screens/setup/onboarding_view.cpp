// The onboarding sheet: three step cards between a header and a footer, redrawn from the engine link.
#include "screens/setup/onboarding_view.h"

#include "app/app_state.h"
#include "app/sheet_presenter.h"
#include "design/badges.h"
#include "design/card.h"
#include "design/card_surface.h"
#include "design/copy_button.h"
#include "design/fonts.h"
#include "design/indicators.h"
#include "design/ks_button.h"
#include "design/shell_widgets.h"
#include "design/symbols.h"
#include "engine/engine_client.h"
#include "engine/records/mock_data.h"
#include "platform/tool_runner.h"
#include "screens/setup/setup_logic.h"
#include "screens/setup/setup_widgets.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace SetupWidgets;

// A step's number on the brand colour, or a check mark on green once the step is done.
class StepBadge final : public QWidget
{
public:
    StepBadge(int number, QWidget *parent)
        : QWidget(parent)
        , m_number(number)
    {
        setFixedSize(20, 20);
    }
    void setDone(bool done)
    {
        if (m_done != done) {
            m_done = done;
            update();
        }
    }
    bool done() const { return m_done; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const Palette palette = Palette::of(this);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_done ? Palette::green() : palette.brand);
        painter.drawEllipse(QRectF(rect()));
        if (m_done) {
            Symbols::draw(painter, QRectF(rect()), QStringLiteral("checkmark"), 10, Qt::black);
            return;
        }
        painter.setPen(palette.onBrand);
        painter.setFont(Fonts::inter(11, QFont::DemiBold));
        painter.drawText(rect(), Qt::AlignCenter, QString::number(m_number));
    }

private:
    int m_number;
    bool m_done = false;
};

namespace {

ColorRole successInk()
{
    return [](const Palette &p) { return SetupLogic::successInk(p); };
}

QWidget *doneLabel(const QString &label, ShellText **textOut = nullptr)
{
    QWidget *box = row(6);
    box->layout()->addWidget(new SymbolLabel(QStringLiteral("checkmark.seal.fill"), 12, successInk(), box));
    ShellText *shown = text(label, Fonts::inter(12, QFont::Medium), successInk(), box);
    box->layout()->addWidget(shown);
    static_cast<QHBoxLayout *>(box->layout())->addStretch(1);
    if (textOut)
        *textOut = shown;
    return box;
}

} // namespace

OnboardingView::OnboardingView(const AppContext &context, std::function<void()> onFinish, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_onFinish(std::move(onFinish))
{
    setFixedSize(SheetWidth, SheetHeight);
    QVBoxLayout *layout = sheetColumn(this, buildHeader());

    const ScrollPage steps = scrollPage(this, 16);
    QVBoxLayout *stepColumn = steps.column;
    stepColumn->addWidget(buildStep(1, QStringLiteral("Trust the certificate"),
                                    QStringLiteral("Kestrion decrypts HTTPS with a Root CA generated on this computer. "
                                                   "Generate it, then trust it."),
                                    buildTrustContent()));
    stepColumn->addWidget(buildStep(2, QStringLiteral("Start the proxy"),
                                    QStringLiteral("Turn the proxy on and load a few demo routes so there's "
                                                   "something to intercept."),
                                    buildProxyContent()));
    stepColumn->addWidget(buildStep(3, QStringLiteral("Send a request"),
                                    QStringLiteral("Route a request through the proxy and watch it appear live. Run "
                                                   "this in a terminal:"),
                                    buildRequestContent()));
    stepColumn->addStretch(1);
    layout->addWidget(steps.scroll, 1);
    layout->addWidget(new SnowDivider(false, 0, this));
    layout->addWidget(buildFooter());

    EngineClient *engine = context.engine;
    for (auto signal : {&EngineClient::engineReadyChanged, &EngineClient::caInfoChanged,
                        &EngineClient::caTrustedOnMacChanged, &EngineClient::caTrustMessageChanged,
                        &EngineClient::proxyRunningChanged, &EngineClient::endpointsChanged})
        connect(engine, signal, this, &OnboardingView::refresh);
    connect(engine, &EngineClient::routesLoadedChanged, this, &OnboardingView::addDemoRoutes);
    refresh();
}

QWidget *OnboardingView::buildHeader()
{
    QWidget *header = row(12);
    header->layout()->setContentsMargins(24, 24, 24, 24);
    auto *layout = static_cast<QHBoxLayout *>(header->layout());
    layout->addWidget(new IconTile(QStringLiteral("bolt.horizontal"), Palette::indigo(), 32, 8, header));
    QWidget *texts = column(2, header);
    texts->layout()->addWidget(text(QStringLiteral("Set up Kestrion"), Fonts::ksGreeting(), foreground(), texts));
    texts->layout()->addWidget(text(QStringLiteral("Three steps to your first intercepted request."), Fonts::ksMeta(),
                                    mutedForeground(), texts));
    layout->addWidget(texts);
    layout->addStretch(1);
    return header;
}

QWidget *OnboardingView::buildStep(int number, const QString &title, const QString &detail, QWidget *content)
{
    QWidget *body = row(16);
    body->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *layout = static_cast<QHBoxLayout *>(body->layout());
    m_badges[number - 1] = new StepBadge(number, body);
    layout->addWidget(m_badges[number - 1], 0, Qt::AlignTop);
    QWidget *texts = column(8, body);
    auto *textLayout = static_cast<QVBoxLayout *>(texts->layout());
    QWidget *titles = column(2, texts);
    titles->layout()->addWidget(text(title, Fonts::ksSection(), foreground(), titles));
    titles->layout()->addWidget(wrapped(detail, Fonts::ksMeta(), mutedForeground(), titles));
    textLayout->addWidget(titles);
    content->setParent(texts);
    textLayout->addWidget(content);
    layout->addWidget(texts, 1);
    return new Card(16, 14, body);
}

QWidget *OnboardingView::buildTrustContent()
{
    QWidget *content = column(8);
    auto *layout = static_cast<QVBoxLayout *>(content->layout());

    m_connecting = row(8, content);
    m_connecting->layout()->addWidget(new SnowLoader(14, std::nullopt, m_connecting));
    m_connecting->layout()->addWidget(
        text(QStringLiteral("Connecting to engine\u2026"), Fonts::inter(12), mutedForeground(), m_connecting));
    static_cast<QHBoxLayout *>(m_connecting->layout())->addStretch(1);
    layout->addWidget(m_connecting);

    m_generate = new PrimaryButton(QStringLiteral("Generate Root CA"), QStringLiteral("key"), KSButton::Size::md, false,
                                   false, [this] { m_context.engine->generateCA(); }, content);
    layout->addWidget(m_generate, 0, Qt::AlignLeft);

    m_trustRow = row(12, content);
    m_trust = new PrimaryButton(QStringLiteral("Trust on this computer"), QStringLiteral("checkmark.shield"),
                                KSButton::Size::md, false, false, [this] { m_context.engine->trustCAOnMac(); },
                                m_trustRow);
    m_trustRow->layout()->addWidget(m_trust);
    // The note wraps beside the button rather than widening the card past the sheet.
    ShellText *note = wrapped(SetupLogic::trustNote(ToolPaths::passwordPrompt()), Fonts::inter(12), mutedForeground(),
                              m_trustRow);
    static_cast<QHBoxLayout *>(m_trustRow->layout())->addWidget(note, 1, Qt::AlignVCenter);
    layout->addWidget(m_trustRow);

    m_trustDone = doneLabel(QStringLiteral("Root CA trusted"));
    m_trustDone->setParent(content);
    layout->addWidget(m_trustDone);

    auto *banner = new FilledBox([](const Palette &) { return withOpacity(Palette::red(), 0.12); }, 8, content);
    auto *bannerLayout = new QHBoxLayout(banner);
    bannerLayout->setContentsMargins(12, 8, 12, 8);
    m_errorText = wrapped({}, Fonts::inter(12), [](const Palette &p) { return SetupLogic::errorInk(p); }, banner);
    bannerLayout->addWidget(m_errorText, 1);
    m_errorBanner = banner;
    layout->addWidget(banner);
    return content;
}

QWidget *OnboardingView::buildProxyContent()
{
    QWidget *content = column(8);
    m_proxyDone = doneLabel({}, &m_proxyDoneText);
    m_proxyDone->setParent(content);
    content->layout()->addWidget(m_proxyDone);
    m_start = new PrimaryButton(QStringLiteral("Start proxy + demo routes"), QStringLiteral("play.fill"),
                                KSButton::Size::md, false, false, [this] { startProxyWithDemoRoutes(); }, content);
    content->layout()->addWidget(m_start);
    static_cast<QVBoxLayout *>(content->layout())->setAlignment(m_start, Qt::AlignLeft);
    return content;
}

QWidget *OnboardingView::buildRequestContent()
{
    QWidget *content = column(8);
    auto *panel = new PanelStyle(12, content);
    panel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *panelLayout = new QHBoxLayout(panel);
    panelLayout->setContentsMargins(12, 12, 12, 12);
    panelLayout->setSpacing(8);
    m_curl = new CodeText({}, mutedForeground(), panel);
    m_curlCopy = new CopyButton({}, 12, panel);
    panelLayout->addWidget(m_curl, 1, Qt::AlignTop);
    panelLayout->addWidget(m_curlCopy, 0, Qt::AlignTop);
    content->layout()->addWidget(panel);
    m_liveTraffic = new SecondaryButton(QStringLiteral("Open Live Traffic"), QStringLiteral("waveform.path.ecg"), false,
                                        KSButton::Size::md, false, false,
                                        [this] {
                                            m_context.state->select(NavItem::liveTraffic);
                                            finish();
                                        },
                                        content);
    content->layout()->addWidget(m_liveTraffic);
    static_cast<QVBoxLayout *>(content->layout())->setAlignment(m_liveTraffic, Qt::AlignLeft);
    return content;
}

QWidget *OnboardingView::buildFooter()
{
    QWidget *footer = row(8);
    footer->layout()->setContentsMargins(16, 16, 16, 16);
    auto *layout = static_cast<QHBoxLayout *>(footer->layout());
    m_skip = new KSButton(QStringLiteral("Skip for now"), {}, KSButton::Variant::text, KSButton::Size::md, false, false,
                          false, [this] { finish(); }, footer);
    m_done = new PrimaryButton(QStringLiteral("Done"), QStringLiteral("checkmark"), KSButton::Size::md, false, false,
                               [this] { finish(); }, footer);
    layout->addWidget(m_skip);
    layout->addStretch(1);
    layout->addWidget(m_done);
    return footer;
}

void OnboardingView::refresh()
{
    const EngineClient *engine = m_context.engine;
    const SetupLogic::TrustStep trust =
        SetupLogic::trustStep(engine->engineReady(), engine->caInfo(), engine->caTrustedOnMac());
    m_connecting->setVisible(trust == SetupLogic::TrustStep::connecting);
    m_generate->setVisible(trust == SetupLogic::TrustStep::generate);
    m_trustRow->setVisible(trust == SetupLogic::TrustStep::trust);
    m_trustDone->setVisible(trust == SetupLogic::TrustStep::done);
    const std::optional<QString> &message = engine->caTrustMessage();
    m_errorBanner->setVisible(message.has_value());
    m_errorText->setText(message.value_or(QString()));

    const bool ready = SetupLogic::proxyReady(engine->proxyRunning(), engine->endpoints().size());
    m_proxyDone->setVisible(ready);
    if (ready)
        m_proxyDoneText->setText(
            SetupLogic::proxyRunningText(engine->proxyPort(), engine->endpoints(), MockData::endpoints()));
    m_start->setVisible(!ready);
    m_start->setDisabled(!engine->engineReady());

    const QString command = curlCommand();
    m_curl->setText(command);
    m_curlCopy->setText(command);

    m_badges[0]->setDone(engine->caTrustedOnMac());
    m_badges[1]->setDone(ready);
    m_badges[2]->setDone(false);
}

QString OnboardingView::curlCommand() const
{
    return SetupLogic::curlCommand(m_context.engine->caInfo(), m_context.engine->proxyPort());
}

bool OnboardingView::stepDone(int step) const
{
    return step >= 1 && step <= 3 && m_badges[step - 1]->done();
}

void OnboardingView::startProxyWithDemoRoutes()
{
    EngineClient *engine = m_context.engine;
    engine->startProxy();
    m_demoRoutesWanted = true;
    addDemoRoutes();
}

void OnboardingView::addDemoRoutes()
{
    EngineClient *engine = m_context.engine;
    // Only beside a list the engine has answered for: before that, `endpoints` may not be the project's routes.
    if (!m_demoRoutesWanted || !engine->routesLoaded())
        return;
    m_demoRoutesWanted = false;
    const QList<Endpoint> merged = SetupLogic::withDemoRoutes(engine->endpoints(), MockData::endpoints());
    if (merged.size() != engine->endpoints().size())
        engine->replaceEndpoints(merged);
}

void OnboardingView::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_onFinish)
        m_onFinish();
    Sheets::dismiss(this);
}

QStringList OnboardingView::shownTexts() const
{
    return SetupWidgets::shownTexts(this);
}

void OnboardingView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Palette::of(this).background);
}
