// MockGenerator: generated mock bodies (built-in and the local model) and the local model's status and setup.
#pragma once

#include "engine/records/engine_records.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class EngineChannel;
class QNetworkReply;

class MockGenerator final : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void()>;
    struct GeneratedBody
    {
        QString text;
        QString tier;
    };
    // Consecutive unanswered setup polls after which the setup is given up.
    static constexpr int MaxSetupPollFailures = 10;

    explicit MockGenerator(EngineChannel *channel, QObject *parent = nullptr);

    const AIStatus &aiStatus() const { return m_aiStatus; }
    void setAiStatus(const AIStatus &status);
    const AISetupProgress &aiSetup() const { return m_aiSetup; }
    void setAiSetup(const AISetupProgress &progress);
    bool aiSetupActive() const { return m_aiSetupActive; }
    void setAiSetupActive(bool active);

    // done gets the generated body, or none on failure, while context lives.
    void generateMock(const std::optional<QString> &example, const std::optional<QString> &key, qint64 seed,
                      int count, QObject *context, std::function<void(const std::optional<QString> &)> done);
    void generateMockAI(const QString &prompt, const std::optional<QString> &example,
                        const std::optional<QString> &key, qint64 seed, int count, QObject *context,
                        std::function<void(const std::optional<GeneratedBody> &)> done);
    // The request in flight (null when none was sent), so a caller that goes away can abort it.
    QNetworkReply *loadAIStatus(Done done = {});
    // POST "ai/start" or "ai/stop", then the status the engine reports.
    void aiLifecycle(const QString &path);
    void setupAI();
    // Time between setup polls (1 s unless changed; tests shorten it).
    void setSetupPollInterval(int intervalMs) { m_setupPollIntervalMs = intervalMs; }

signals:
    void aiStatusChanged();
    void aiSetupChanged();
    void aiSetupActiveChanged();

private:
    void pollSetup(int run, int failures);
    void endSetup(const QString &error);

    EngineChannel *m_channel;
    AIStatus m_aiStatus;
    AISetupProgress m_aiSetup;
    bool m_aiSetupActive = false;
    // Each setup run polls under its own number, so an ended run's last timer stays quiet.
    int m_aiSetupRun = 0;
    int m_setupPollIntervalMs = 1000;
};
