// EngineClient: the engine's root CA, its generation, and trusting it in the user's certificate store.
#include "engine/engine_client.h"

#include "engine/analytics.h"
#include "platform/preferences.h"
#include "platform/tool_runner.h"

#include <QDir>

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

void EngineClient::loadCA(Done done)
{
    QNetworkReply *reply = sendControl("GET", QStringLiteral("ca"), {}, std::nullopt, generalTimeout(), this,
                                       [this, done](const ControlReply &reply) {
                                           if (!reply.transportFailed()) {
                                               if (auto info = decodeRecord<CAInfo>(asView(reply.body))) {
                                                   setCaInfo(*info);
                                                   refreshTrustFlag();
                                               }
                                           }
                                           if (done)
                                               done();
                                       });
    if (!reply && done)
        done();
}

void EngineClient::refreshTrustFlag()
{
    const QString fingerprint = m_caInfo ? QString::fromStdString(m_caInfo->fingerprint) : QString();
    const Preferences &preferences = Preferences::instance();
    setCaTrustedOnMac(!fingerprint.isEmpty() && preferences.contains(PrefKey::CaTrustedFingerprint)
                      && preferences.stringValue(PrefKey::CaTrustedFingerprint) == fingerprint);
}

void EngineClient::generateCA()
{
    performGenerateCA();
}

void EngineClient::performGenerateCA(Done done)
{
    QNetworkReply *reply = sendControl(
        "POST", QStringLiteral("ca/generate"), {}, std::nullopt, GenerateTimeoutMs, this,
        [this, done](const ControlReply &reply) {
            const auto info = reply.transportFailed() ? std::nullopt : decodeRecord<CAInfo>(asView(reply.body));
            if (info) {
                setCaInfo(*info);
                refreshTrustFlag();
                appendLog(QStringLiteral("Root CA generated"));
            } else {
                appendLog(QStringLiteral("CA generation failed"));
            }
            if (done)
                done();
        });
    if (!reply) {
        setCaTrustMessage(QStringLiteral("Engine is still starting \u2014 try again in a moment."));
        appendLog(QStringLiteral("generate CA: engine not connected"));
        if (done)
            done();
    }
}

QStringList EngineClient::trustArguments(const QString &caPath)
{
    return {QStringLiteral("add-trusted-cert"), QStringLiteral("-r"), QStringLiteral("trustRoot"),
            QStringLiteral("-k"), loginKeychainPath(), caPath};
}

void EngineClient::trustCAOnMac(Done done)
{
    if (!m_caInfo || m_caInfo->path.empty()) {
        setCaTrustMessage(QStringLiteral("Generate a Root CA first."));
        if (done)
            done();
        return;
    }
    const QString path = QString::fromStdString(m_caInfo->path);
    const QString fingerprint = QString::fromStdString(m_caInfo->fingerprint);
    setCaTrustMessage(std::nullopt);

    ToolRunner::run(ToolPaths::security(), trustArguments(path), this,
                    [this, fingerprint, done](const ToolResult &result) {
                        if (result.status == 0) {
                            Preferences::instance().setValue(PrefKey::CaTrustedFingerprint, fingerprint);
                            // A CA regenerated while the tool ran is not the one just trusted.
                            refreshTrustFlag();
                            setCaTrustMessage(std::nullopt);
                            appendLog(QStringLiteral("Root CA trusted on this Mac"));
                            analytics().track(QStringLiteral("ca_trusted"), true);
                        } else {
                            QString message = result.error.trimmed();
                            if (message.isEmpty())
                                message = QStringLiteral(
                                    "Trust was cancelled \u2014 you can trust it manually instead.");
                            setCaTrustMessage(message);
                        }
                        if (done)
                            done();
                    },
                    // The tool may wait for the user to confirm; the caller waits as long as it runs.
                    ToolRunner::NoTimeLimit);
}
