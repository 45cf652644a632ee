// SimulatorManager: simctl runs through ToolRunner; the JSON is checked strictly so a bad listing shows nothing.
#include "platform/simulator_manager.h"

#include "platform/desktop.h"
#include "platform/tool_runner.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

const QString BootedState = QStringLiteral("Booted");

QString stringMember(const QJsonObject &object, const char *key, bool *ok)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString())
        *ok = false;
    return value.toString();
}

} // namespace

namespace Simctl {

QString prettyRuntime(const QString &identifier)
{
    const QStringList parts = identifier.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return identifier;
    const QString &last = parts.last();
    const QStringList pieces = last.split(QLatin1Char('-'), Qt::SkipEmptyParts);
    if (pieces.isEmpty())
        return last;
    const QString version = pieces.mid(1).join(QLatin1Char('.'));
    return version.isEmpty() ? pieces.first() : pieces.first() + QLatin1Char(' ') + version;
}

std::optional<QList<Simulator>> parseBootedDevices(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonValue devices = document.object().value(QLatin1String("devices"));
    if (!devices.isObject())
        return std::nullopt;

    QList<Simulator> found;
    const QJsonObject runtimes = devices.toObject();
    for (auto runtime = runtimes.begin(); runtime != runtimes.end(); ++runtime) {
        if (!runtime.value().isArray())
            return std::nullopt;
        const QString os = prettyRuntime(runtime.key());
        for (const QJsonValue &entry : runtime.value().toArray()) {
            if (!entry.isObject())
                return std::nullopt;
            const QJsonObject device = entry.toObject();
            bool ok = true;
            Simulator sim{stringMember(device, "udid", &ok), stringMember(device, "name", &ok), os,
                          stringMember(device, "state", &ok)};
            if (!ok)
                return std::nullopt;
            if (sim.state == BootedState)
                found.append(std::move(sim));
        }
    }

    // Normalise once per name rather than on every comparison.
    struct Keyed
    {
        QList<uint> key;
        Simulator sim;
    };
    QList<Keyed> keyed;
    keyed.reserve(found.size());
    for (Simulator &sim : found)
        keyed.append({sim.name.normalized(QString::NormalizationForm_C).toUcs4(), std::move(sim)});
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed &a, const Keyed &b) {
        return std::lexicographical_compare(a.key.begin(), a.key.end(), b.key.begin(), b.key.end());
    });
    QList<Simulator> sorted;
    sorted.reserve(keyed.size());
    for (Keyed &entry : keyed)
        sorted.append(std::move(entry.sim));
    return sorted;
}

} // namespace Simctl

SimulatorManager::SimulatorManager(QObject *parent)
    : QObject(parent)
{
}

void SimulatorManager::refresh()
{
    beginRun();
    const QStringList arguments{QStringLiteral("simctl"), QStringLiteral("list"), QStringLiteral("devices"),
                                QStringLiteral("booted"), QStringLiteral("-j")};
    // A missing xcrun (always the case off the Mac) is an ordinary failure: no simulators.
    ToolRunner::run(ToolPaths::xcrun(), arguments, this, [this](const ToolResult &result) {
        std::optional<QList<Simulator>> listed;
        if (result.status == 0)
            listed = Simctl::parseBootedDevices(result.output.toUtf8());
        setSimulators(listed.value_or(QList<Simulator>()));
        endRun();
    });
}

bool SimulatorManager::isTrusted(const QString &udid, const QString &caFingerprint) const
{
    const auto found = m_trusted.constFind(udid);
    return found != m_trusted.constEnd() && found.value() == caFingerprint;
}

void SimulatorManager::trust(const Simulator &sim, const QString &caPath, const QString &caFingerprint)
{
    if (caPath.isEmpty()) {
        setStatus(QStringLiteral("Generate a Root CA first (Certificates tab)."), true);
        return;
    }
    beginRun();
    const QStringList arguments{QStringLiteral("simctl"), QStringLiteral("keychain"), sim.udid,
                                QStringLiteral("add-root-cert"), caPath};
    ToolRunner::run(ToolPaths::xcrun(), arguments, this, [this, sim, caFingerprint](const ToolResult &result) {
        if (result.status == 0) {
            const auto found = m_trusted.constFind(sim.udid);
            if (found == m_trusted.constEnd() || found.value() != caFingerprint) {
                m_trusted.insert(sim.udid, caFingerprint);
                emit trustedChanged();
            }
            setStatus(QStringLiteral("Kestrion CA trusted in ") + sim.name + QLatin1Char('.'), false);
        } else {
            const QString detail = result.error.trimmed();
            setStatus(detail.isEmpty() ? QStringLiteral("Trust failed") : QStringLiteral("Trust failed: ") + detail,
                      true);
        }
        endRun();
    });
}

void SimulatorManager::openSimulatorApp()
{
    Desktop::openApplication(QString::fromLatin1(SimulatorAppIdentifier), QString::fromLatin1(SimulatorAppFallback));
}

bool SimulatorManager::toolFound()
{
    return ToolPaths::runnable(ToolPaths::xcrun());
}

bool SimulatorManager::appFound()
{
    return QFileInfo::exists(QString::fromLatin1(SimulatorAppFallback));
}

void SimulatorManager::setSimulators(const QList<Simulator> &simulators)
{
    m_simulators = simulators;
    emit simulatorsChanged();
}

void SimulatorManager::setStatus(const QString &text, bool failure)
{
    m_status = text;
    m_statusIsFailure = failure;
    emit statusChanged();
}

void SimulatorManager::beginRun()
{
    if (m_runs++ == 0)
        emit busyChanged();
}

void SimulatorManager::endRun()
{
    if (--m_runs == 0)
        emit busyChanged();
}
