// The certificates screen: cards for the root CA, its trust anchors and certificate substitution.
#include "screens/setup/certificates_screen.h"

#include "design/badges.h"
#include "design/card.h"
#include "design/fonts.h"
#include "design/ks_button.h"
#include "design/shell_widgets.h"
#include "design/snow_toast.h"
#include "design/symbols.h"
#include "engine/engine_client.h"
#include "platform/desktop.h"
#include "platform/file_panels.h"
#include "platform/tool_runner.h"
#include "screens/setup/ca_export.h"
#include "screens/setup/setup_logic.h"
#include "screens/setup/setup_widgets.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QVariantAnimation>
#include <QVBoxLayout>

using namespace SetupWidgets;

// The disclosure's chevron: points right when closed and turns a quarter clockwise to point down.
class DisclosureChevron final : public QWidget
{
public:
    explicit DisclosureChevron(QWidget *parent)
        : QWidget(parent)
        , m_turn(new QVariantAnimation(this))
    {
        setFixedSize(12, 12);
        m_turn->setDuration(150);
        m_turn->setEasingCurve(QEasingCurve::OutCubic);
        connect(m_turn, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
            m_angle = value.toReal();
            update();
        });
    }

    void setOpen(bool open, bool animate)
    {
        const qreal target = open ? 90 : 0;
        m_turn->stop();
        if (!animate) {
            m_angle = target;
            update();
            return;
        }
        m_turn->setStartValue(m_angle);
        m_turn->setEndValue(target);
        m_turn->start();
    }
    // The resting angle once the turn has ended.
    qreal targetAngle() const
    {
        return m_turn->state() == QAbstractAnimation::Running ? m_turn->endValue().toReal() : m_angle;
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(width() / 2.0, height() / 2.0);
        painter.rotate(m_angle);
        painter.translate(-width() / 2.0, -height() / 2.0);
        Symbols::draw(painter, QRectF(rect()), QStringLiteral("chevron.right"), 9, Palette::of(this).faint);
    }

private:
    QVariantAnimation *m_turn;
    qreal m_angle = 0;
};

namespace {

QWidget *iconHeader(const QString &icon, const QColor &tint, const QString &title, const QString &subtitle)
{
    QWidget *header = row(12);
    auto *layout = static_cast<QHBoxLayout *>(header->layout());
    layout->addWidget(new IconTile(icon, tint, 36, 12, header), 0, Qt::AlignTop);
    QWidget *texts = column(2, header);
    texts->layout()->addWidget(text(title, Fonts::inter(14, QFont::DemiBold), foreground(), texts));
    texts->layout()->addWidget(wrapped(subtitle, Fonts::ksMeta(), mutedForeground(), texts));
    layout->addWidget(texts, 1, Qt::AlignTop);
    return header;
}

} // namespace

const QStringList &CertificatesScreen::steps()
{
    static const QStringList list{
        QStringLiteral("Send the certificate to your device"),
        QStringLiteral("Open Settings \u2192 General \u2192 VPN & Device Management"),
        QStringLiteral("Tap the Kestrion CA and install"),
        QStringLiteral("Go to Certificate Trust Settings and enable full trust"),
    };
    return list;
}

CertificatesScreen::CertificatesScreen(const AppContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    const ScrollPage page = scrollPage(this, 16, 680);
    outer->addWidget(page.scroll);
    page.column->addWidget(buildHeader());
    page.column->addWidget(buildRootCard());
    page.column->addWidget(buildTrustCard());
    page.column->addWidget(buildStatusCard());
    page.column->addStretch(1);

    EngineClient *engine = context.engine;
    connect(engine, &EngineClient::caInfoChanged, this, &CertificatesScreen::refresh);
    connect(engine, &EngineClient::caTrustedOnMacChanged, this, &CertificatesScreen::refresh);
    connect(engine, &EngineClient::caTrustMessageChanged, this, &CertificatesScreen::refresh);
    refresh();
}

QWidget *CertificatesScreen::buildHeader()
{
    QWidget *header = column(4);
    auto *layout = static_cast<QVBoxLayout *>(header->layout());
    layout->setContentsMargins(0, 0, 0, 4);
    QWidget *titleRow = row(8, header);
    titleRow->layout()->addWidget(
        new SymbolLabel(QStringLiteral("lock.shield"), 14, [](const Palette &) { return Palette::primary(); }, titleRow));
    titleRow->layout()->addWidget(text(QStringLiteral("TLS Certificates"), Fonts::ksSection(), foreground(), titleRow));
    static_cast<QHBoxLayout *>(titleRow->layout())->addStretch(1);
    layout->addWidget(titleRow);
    layout->addWidget(wrapped(QStringLiteral("Kestrion uses a controlled MITM setup \u2014 the Root CA is generated "
                                             "locally and never leaves this machine."),
                              Fonts::ksMeta(), mutedForeground(), header));
    return header;
}

QWidget *CertificatesScreen::buildRootCard()
{
    QWidget *content = column(16);
    content->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *layout = static_cast<QVBoxLayout *>(content->layout());
    layout->addWidget(iconHeader(QStringLiteral("key"), Palette::indigo(), QStringLiteral("Root Certificate"),
                                 QStringLiteral("Generate a unique Root CA on this computer. Used to sign per-host "
                                                "certificates on the fly.")));

    m_generatedBox = column(12, content);
    m_fingerprint = new CodeBox({}, 11, false, m_generatedBox);
    m_generatedBox->layout()->addWidget(m_fingerprint);
    QWidget *tagRow = row(8, m_generatedBox);
    auto *tagLayout = static_cast<QHBoxLayout *>(tagRow->layout());
    tagLayout->addWidget(new SnowTag(QStringLiteral("Root CA generated"), SnowTag::Tone::success,
                                     QStringLiteral("checkmark.seal.fill"), false, tagRow));
    m_expiry = text({}, Fonts::ksMeta(), mutedForeground(), tagRow);
    tagLayout->addWidget(m_expiry);
    tagLayout->addStretch(1);
    m_generatedBox->layout()->addWidget(tagRow);
    layout->addWidget(m_generatedBox);

    m_generate = new PrimaryButton(QStringLiteral("Generate Root CA"), QStringLiteral("key"), KSButton::Size::md,
                                   false, false, [this] { m_context.engine->generateCA(); }, content);
    layout->addWidget(m_generate, 0, Qt::AlignLeft);
    return new Card(20, 16, content);
}

QWidget *CertificatesScreen::buildTrustCard()
{
    QWidget *content = column(16);
    content->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *layout = static_cast<QVBoxLayout *>(content->layout());
    layout->addWidget(iconHeader(QStringLiteral("iphone"), Palette::mint(), QStringLiteral("Trust Anchor"),
                                 QStringLiteral("Install this CA on a device, or trust it on this computer, to "
                                                "intercept HTTPS.")));
    layout->addWidget(buildMacTrustSection());
    layout->addWidget(text(QStringLiteral("On a device:"), Fonts::inter(12, QFont::DemiBold), foreground(), content));

    QWidget *stepList = column(8, content);
    for (qsizetype i = 0; i < steps().size(); ++i) {
        QWidget *stepRow = row(12, stepList);
        auto *stepLayout = static_cast<QHBoxLayout *>(stepRow->layout());
        auto *badge = new FilledBox([](const Palette &p) { return p.brand; }, 9, stepRow);
        badge->setFixedSize(18, 18);
        auto *badgeLayout = new QHBoxLayout(badge);
        badgeLayout->setContentsMargins(0, 0, 0, 0);
        auto *number = text(QString::number(i + 1), Fonts::inter(10, QFont::DemiBold),
                            [](const Palette &p) { return p.onBrand; }, badge);
        number->setAlignment(Qt::AlignCenter);
        badgeLayout->addWidget(number, 0, Qt::AlignCenter);
        stepLayout->addWidget(badge, 0, Qt::AlignTop);
        stepLayout->addWidget(wrapped(steps()[i], Fonts::ksMeta(), mutedForeground(), stepRow), 1, Qt::AlignVCenter);
        stepList->layout()->addWidget(stepRow);
    }
    layout->addWidget(stepList);

    QWidget *buttons = row(8, content);
    auto *buttonLayout = static_cast<QHBoxLayout *>(buttons->layout());
    m_export = new SecondaryButton(QStringLiteral("Export Certificate"), QStringLiteral("square.and.arrow.up"), false,
                                   KSButton::Size::md, false, false, [this] { exportCert(); }, buttons);
    m_reveal = new SecondaryButton(QStringLiteral("Show in File Manager"), QStringLiteral("folder"), false,
                                   KSButton::Size::md, false, false, [this] { revealCert(); }, buttons);
    buttonLayout->addWidget(m_export);
    buttonLayout->addWidget(m_reveal);
    buttonLayout->addStretch(1);
    layout->addWidget(buttons);
    m_exportToast = new SnowToast({}, SnowToast::Tone::error, content);
    m_exportToast->hide();
    layout->addWidget(m_exportToast, 0, Qt::AlignLeft);

    m_trustCard = new Card(20, 16, content);
    m_trustOpacity = new QGraphicsOpacityEffect(m_trustCard);
    m_trustCard->setGraphicsEffect(m_trustOpacity);
    m_fade = new QVariantAnimation(this);
    m_fade->setDuration(150);
    m_fade->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_fade, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { m_trustOpacity->setOpacity(value.toReal()); });
    return m_trustCard;
}

QWidget *CertificatesScreen::buildMacTrustSection()
{
    QWidget *section = column(12);
    auto *layout = static_cast<QVBoxLayout *>(section->layout());

    m_trustedRow = row(8, section);
    auto *trustedLayout = static_cast<QHBoxLayout *>(m_trustedRow->layout());
    trustedLayout->addWidget(new SnowTag(QStringLiteral("Trusted on this computer"), SnowTag::Tone::success,
                                         QStringLiteral("checkmark.seal.fill"), false, m_trustedRow));
    m_retrust = new KSButton(QStringLiteral("Re-trust"), QStringLiteral("arrow.clockwise"), KSButton::Variant::ghost,
                             KSButton::Size::sm, false, false, false, [this] { m_context.engine->trustCAOnMac(); },
                             m_trustedRow);
    trustedLayout->addWidget(m_retrust);
    trustedLayout->addStretch(1);
    layout->addWidget(m_trustedRow);

    m_untrustedRow = row(12, section);
    auto *untrustedLayout = static_cast<QHBoxLayout *>(m_untrustedRow->layout());
    m_trust = new PrimaryButton(QStringLiteral("Trust on this computer"), QStringLiteral("checkmark.shield"),
                                KSButton::Size::md, false, false, [this] { m_context.engine->trustCAOnMac(); },
                                m_untrustedRow);
    untrustedLayout->addWidget(m_trust);
    untrustedLayout->addWidget(wrapped(SetupLogic::oneClickTrustHint(ToolPaths::passwordPrompt()), Fonts::ksMeta(),
                                       mutedForeground(), m_untrustedRow),
                               1, Qt::AlignVCenter);
    layout->addWidget(m_untrustedRow);

    m_trustToast = new SnowToast({}, SnowToast::Tone::error, section);
    layout->addWidget(m_trustToast, 0, Qt::AlignLeft);

    m_disclosure = new PlainButton(section);
    m_disclosure->setCursor(Qt::PointingHandCursor);
    auto *labelRow = new QHBoxLayout(m_disclosure);
    // Room round the label for the focus ring, which is drawn inside the button's edge.
    labelRow->setContentsMargins(4, 4, 6, 4);
    labelRow->setSpacing(6);
    m_chevron = new DisclosureChevron(m_disclosure);
    labelRow->addWidget(m_chevron, 0, Qt::AlignVCenter);
    labelRow->addWidget(text(QStringLiteral("Prefer to trust it manually?"), Fonts::inter(12, QFont::Medium),
                             mutedForeground(), m_disclosure),
                        0, Qt::AlignVCenter);
    connect(m_disclosure, &PlainButton::clicked, this, &CertificatesScreen::toggleManualTrust);
    layout->addWidget(m_disclosure, 0, Qt::AlignLeft);

    m_manualBox = new CodeBox({}, 11, false, section);
    m_manualBox->hide();
    layout->addWidget(m_manualBox);
    return section;
}

QWidget *CertificatesScreen::buildStatusCard()
{
    QWidget *content = row(12);
    content->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *layout = static_cast<QHBoxLayout *>(content->layout());
    layout->addWidget(new IconTile(QStringLiteral("arrow.triangle.2.circlepath"), Palette::purple(), 36, 12, content));
    QWidget *texts = column(2, content);
    texts->layout()->addWidget(text(QStringLiteral("Dynamic Certificate Substitution"),
                                    Fonts::inter(12, QFont::DemiBold), foreground(), texts));
    texts->layout()->addWidget(text(QStringLiteral("Per-host TLS certificates signed by the Root CA"), Fonts::ksMeta(),
                                    mutedForeground(), texts));
    layout->addWidget(texts);
    layout->addStretch(1);
    m_statusTag = new SnowTag({}, SnowTag::Tone::neutral, {}, false, content);
    layout->addWidget(m_statusTag);
    return new Card(20, 16, content);
}

void CertificatesScreen::refresh()
{
    const EngineClient *engine = m_context.engine;
    const std::optional<CAInfo> &ca = engine->caInfo();
    const SetupLogic::CertificatesLook look = SetupLogic::certificatesLook(ca, engine->caTrustedOnMac());

    m_generatedBox->setVisible(look.showFingerprint);
    m_generate->setVisible(!look.showFingerprint);
    if (ca) {
        m_fingerprint->setText(QString::fromStdString(ca->fingerprint));
        m_expiry->setText(SetupLogic::expiryText(ca->notAfter));
    }

    m_trustedRow->setVisible(look.showTrustedRow);
    m_untrustedRow->setVisible(!look.showTrustedRow);
    m_trust->setEnabled(look.trustEnabled);
    const std::optional<QString> &message = engine->caTrustMessage();
    m_trustToast->setVisible(message.has_value());
    if (message)
        m_trustToast->setText(*message);
    m_manualBox->setText(SetupLogic::manualTrustCommand(ca));

    m_export->setEnabled(look.exportEnabled);
    m_reveal->setVisible(look.showReveal);
    m_statusTag->setText(look.statusTag);
    m_statusTag->setTone(look.statusActive ? SnowTag::Tone::success : SnowTag::Tone::neutral);

    const qreal opacity = look.trustCardOpacity;
    if (m_firstRefresh || !isVisible()) {
        m_fade->stop();
        m_trustOpacity->setOpacity(opacity);
    } else if (qAbs(trustCardOpacity() - opacity) > 0.001) {
        m_fade->stop();
        m_fade->setStartValue(m_trustOpacity->opacity());
        m_fade->setEndValue(opacity);
        m_fade->start();
    }
    m_firstRefresh = false;
}

void CertificatesScreen::toggleManualTrust()
{
    m_showManualTrust = !m_showManualTrust;
    m_chevron->setOpen(m_showManualTrust, isVisible());
    m_manualBox->setVisible(m_showManualTrust);
}

qreal CertificatesScreen::trustCardOpacity() const
{
    return m_fade->state() == QAbstractAnimation::Running ? m_fade->endValue().toReal() : m_trustOpacity->opacity();
}

qreal CertificatesScreen::chevronAngle() const
{
    return m_chevron->targetAngle();
}

void CertificatesScreen::exportCert()
{
    FilePanelRequest request;
    request.message = QStringLiteral("Export Root CA");
    request.nameFilters = {QStringLiteral("PEM certificate (*.pem)"), QStringLiteral("All files (*)")};
    request.suggestedName = QStringLiteral("kestrion-ca.pem");
    const QString path = FilePanels::chooseFileToSave(this, request);
    if (path.isEmpty())
        return;
    const std::optional<CAInfo> &ca = m_context.engine->caInfo();
    const QByteArray pem = ca ? QByteArray::fromStdString(ca->certPEM) : QByteArray();
    if (const std::optional<QString> error = CaExport::writePem(path, pem)) {
        showExportError(*error);
        return;
    }
    m_exportToast->hide();
    Desktop::revealFile(path);
}

void CertificatesScreen::showExportError(const QString &error)
{
    m_exportToast->setText(error);
    m_exportToast->show();
}

void CertificatesScreen::revealCert()
{
    const std::optional<CAInfo> &ca = m_context.engine->caInfo();
    if (!ca || ca->path.empty())
        return;
    Desktop::revealFile(QString::fromStdString(ca->path));
}

QStringList CertificatesScreen::shownTexts() const
{
    return SetupWidgets::shownTexts(this);
}

void CertificatesScreen::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Palette::of(this).background);
}
