// CertificateAuthority: loads and generates the root CA; trusting runs the trust tool and remembers the fingerprint.
#include "engine/certificate_authority.h"

#include "engine/engine_channel.h"
#include "platform/preferences.h"
#include "platform/tool_runner.h"

#include <QDir>
#include <QNetworkReply>

namespace {

constexpr int GenerateTimeoutMs = 15000;

QString loginKeychainPath()
{
    const QString home = QDir::homePath();
    if (home.isEmpty() || home == QDir::rootPath())
        return QStringLiteral("login.keychain");
    return home + QStringLiteral("/Library/Keychains/login.keychain-db");
}

} // namespace

CertificateAuthority::CertificateAuthority(EngineChannel *channel, QObject *parent)
    : QObject(parent)
    , m_channel(channel)
{
}

void CertificateAuthority::setInfo(const std::optional<CAInfo> &info)
{
    m_info = info;
    emit infoChanged();
}

void CertificateAuthority::setTrustedOnMac(bool trusted)
{
    m_trustedOnMac = trusted;
    emit trustedOnMacChanged();
}

void CertificateAuthority::setTrustMessage(const std::optional<QString> &message)
{
    m_trustMessage = message;
    emit trustMessageChanged();
}

void CertificateAuthority::load(Done done)
{
    QNetworkReply *reply = m_channel->sendControl("GET", QStringLiteral("ca"), {}, std::nullopt, m_channel->timeouts().general, this,
                                       [this, done](const ControlReply &reply) {
                                           if (!reply.transportFailed()) {
                                               if (auto info = decodeRecord<CAInfo>(EngineChannel::asView(reply.body))) {
                                                   setInfo(*info);
                                                   refreshTrustFlag();
                                               }
                                           }
                                           if (done)
                                               done();
                                       });
    if (!reply && done)
        done();
}

void CertificateAuthority::refreshTrustFlag()
{
    const QString fingerprint = m_info ? QString::fromStdString(m_info->fingerprint) : QString();
    const Preferences &preferences = Preferences::instance();
    setTrustedOnMac(!fingerprint.isEmpty() && preferences.contains(PrefKey::CaTrustedFingerprint)
                      && preferences.stringValue(PrefKey::CaTrustedFingerprint) == fingerprint);
}

void CertificateAuthority::generate(Done done)
{
    QNetworkReply *reply = m_channel->sendControl(
        "POST", QStringLiteral("ca/generate"), {}, std::nullopt, GenerateTimeoutMs, this,
        [this, done](const ControlReply &reply) {
            const auto info = reply.transportFailed() ? std::nullopt : decodeRecord<CAInfo>(EngineChannel::asView(reply.body));
            if (info) {
                setInfo(*info);
                refreshTrustFlag();
                m_channel->appendLog(QStringLiteral("Root CA generated"));
            } else {
                m_channel->appendLog(QStringLiteral("CA generation failed"));
            }
            if (done)
                done();
        });
    if (!reply) {
        setTrustMessage(QStringLiteral("Engine is still starting \u2014 try again in a moment."));
        m_channel->appendLog(QStringLiteral("generate CA: engine not connected"));
        if (done)
            done();
    }
}

QStringList CertificateAuthority::trustArguments(const QString &caPath)
{
    return {QStringLiteral("add-trusted-cert"), QStringLiteral("-r"), QStringLiteral("trustRoot"),
            QStringLiteral("-k"), loginKeychainPath(), caPath};
}

void CertificateAuthority::trust(Done done)
{
    if (!m_info || m_info->path.empty()) {
        setTrustMessage(QStringLiteral("Generate a Root CA first."));
        if (done)
            done();
        return;
    }
    const QString path = QString::fromStdString(m_info->path);
    const QString fingerprint = QString::fromStdString(m_info->fingerprint);
    setTrustMessage(std::nullopt);

    ToolRunner::run(ToolPaths::security(), trustArguments(path), this,
                    [this, fingerprint, done](const ToolResult &result) {
                        if (result.status == 0) {
                            Preferences::instance().setValue(PrefKey::CaTrustedFingerprint, fingerprint);
                            // A CA regenerated while the tool ran is not the one just trusted.
                            refreshTrustFlag();
                            setTrustMessage(std::nullopt);
                            m_channel->appendLog(QStringLiteral("Root CA trusted on this computer"));
                            emit trusted();
                        } else {
                            QString message = result.error.trimmed();
                            if (message.isEmpty())
                                message = QStringLiteral(
                                    "Trust was cancelled \u2014 you can trust it manually instead.");
                            setTrustMessage(message);
                        }
                        if (done)
                            done();
                    },
                    // The tool may wait for the user to confirm; the caller waits as long as it runs.
                    ToolRunner::NoTimeLimit);
}
