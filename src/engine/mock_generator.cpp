// MockGenerator: generation requests, the local model's start and stop, and the polled automatic setup.
#include "engine/mock_generator.h"

#include "engine/engine_channel.h"
#include "platform/strict_utf8.h"

#include <QNetworkReply>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace {

constexpr int AIGenerateTimeoutMs = 120000;
constexpr int AILifecycleTimeoutMs = 90000;

std::string textOrEmpty(const std::optional<QString> &text)
{
    return text ? text->toStdString() : std::string();
}

} // namespace

MockGenerator::MockGenerator(EngineChannel *channel, QObject *parent)
    : QObject(parent)
    , m_channel(channel)
    , m_aiStatus(AIStatus::initial())
    , m_aiSetup(AISetupProgress::initial())
{
}

void MockGenerator::setAiStatus(const AIStatus &status)
{
    m_aiStatus = status;
    emit aiStatusChanged();
}

void MockGenerator::setAiSetup(const AISetupProgress &progress)
{
    m_aiSetup = progress;
    emit aiSetupChanged();
}

void MockGenerator::setAiSetupActive(bool active)
{
    m_aiSetupActive = active;
    emit aiSetupActiveChanged();
}

void MockGenerator::generateMock(const std::optional<QString> &example, const std::optional<QString> &key,
                                qint64 seed, int count, QObject *context,
                                std::function<void(const std::optional<QString> &)> done)
{
    const auto finish = EngineChannel::whileContextLives(context, std::move(done));
    const MockGenerateRequest request{textOrEmpty(key), textOrEmpty(example), seed, count};
    QNetworkReply *reply = m_channel->sendControl(
        "POST", QStringLiteral("mock/generate"), {}, QByteArray::fromStdString(encodeRecord(request)),
        m_channel->timeouts().general, this, [this, finish](const ControlReply &reply) {
            const std::optional<QString> body = reply.isSuccess() ? strictUtf8(reply.body) : std::nullopt;
            if (!body)
                m_channel->appendLog(QStringLiteral("mock generation failed"));
            finish(body);
        });
    if (!reply)
        finish(std::nullopt);
}

void MockGenerator::generateMockAI(const QString &prompt, const std::optional<QString> &example,
                                  const std::optional<QString> &key, qint64 seed, int count, QObject *context,
                                  std::function<void(const std::optional<GeneratedBody> &)> done)
{
    const auto finish = EngineChannel::whileContextLives(context, std::move(done));
    const MockAIRequest request{prompt.toStdString(), textOrEmpty(key), textOrEmpty(example), seed, count};
    // The tier travels in a response header, read from the reply while its handler runs.
    auto sent = std::make_shared<QPointer<QNetworkReply>>();
    *sent = m_channel->sendControl(
        "POST", QStringLiteral("mock/ai"), {}, QByteArray::fromStdString(encodeRecord(request)),
        AIGenerateTimeoutMs, this, [this, finish, sent](const ControlReply &reply) {
            const std::optional<QString> text = reply.isSuccess() ? strictUtf8(reply.body) : std::nullopt;
            if (!text) {
                m_channel->appendLog(QStringLiteral("AI generation failed"));
                finish(std::nullopt);
                return;
            }
            QString tier = QStringLiteral("tier1");
            if (QNetworkReply *network = sent->data(); network && network->hasRawHeader("X-Kestrion-Tier"))
                tier = QString::fromUtf8(network->rawHeader("X-Kestrion-Tier"));
            finish(GeneratedBody{*text, tier});
        });
    if (!*sent)
        finish(std::nullopt);
}

QNetworkReply *MockGenerator::loadAIStatus(Done done)
{
    QNetworkReply *reply = m_channel->sendControl("GET", QStringLiteral("ai/status"), {}, std::nullopt, m_channel->timeouts().general,
                                       this, [this, done](const ControlReply &reply) {
                                           if (!reply.transportFailed()) {
                                               if (auto status = decodeRecord<AIStatus>(EngineChannel::asView(reply.body)))
                                                   setAiStatus(*status);
                                           }
                                           if (done)
                                               done();
                                       });
    if (!reply && done)
        done();
    return reply;
}

void MockGenerator::aiLifecycle(const QString &path)
{
    m_channel->sendControl("POST", path, {}, std::nullopt, AILifecycleTimeoutMs, this, [this](const ControlReply &reply) {
        const auto status = reply.transportFailed() ? std::nullopt : decodeRecord<AIStatus>(EngineChannel::asView(reply.body));
        if (status)
            setAiStatus(*status);
        else
            loadAIStatus();
    });
}

void MockGenerator::setupAI()
{
    if (m_aiSetupActive)
        return;
    setAiSetupActive(true);
    AISetupProgress starting = AISetupProgress::initial();
    starting.stage = "installing_server";
    starting.message = "Starting\u2026";
    setAiSetup(starting);

    const int run = ++m_aiSetupRun;
    QNetworkReply *reply = m_channel->sendControl(
        "POST", QStringLiteral("ai/setup"), {}, QByteArrayLiteral("{}"), m_channel->timeouts().general, this,
        [this, run](const ControlReply &reply) {
            if (run != m_aiSetupRun || !m_aiSetupActive)
                return;
            // A setup the engine never started has nothing to poll; the button must work again.
            if (reply.transportFailed()) {
                endSetup(reply.error);
                return;
            }
            if (!reply.isSuccess()) {
                endSetup(QStringLiteral("HTTP ") + QString::number(reply.httpStatus));
                return;
            }
            pollSetup(run, 0);
        });
    if (!reply)
        setAiSetupActive(false);
}

void MockGenerator::pollSetup(int run, int failures)
{
    if (run != m_aiSetupRun || !m_aiSetupActive)
        return;
    QNetworkReply *reply = m_channel->sendControl(
        "GET", QStringLiteral("ai/setup"), {}, std::nullopt, m_channel->timeouts().general, this,
        [this, run, failures](const ControlReply &reply) {
            if (run != m_aiSetupRun || !m_aiSetupActive)
                return;
            const auto progress =
                reply.transportFailed() ? std::nullopt : decodeRecord<AISetupProgress>(EngineChannel::asView(reply.body));
            if (!progress) {
                if (failures + 1 >= MaxSetupPollFailures) {
                    endSetup(QStringLiteral("no progress from the engine"));
                    return;
                }
                QTimer::singleShot(m_setupPollIntervalMs, this,
                                   [this, run, failures] { pollSetup(run, failures + 1); });
                return;
            }
            setAiSetup(*progress);
            if (progress->stage == "done") {
                setAiSetupActive(false);
                m_channel->appendLog(QStringLiteral("\u2022 AI setup complete"));
                loadAIStatus();
                return;
            }
            if (progress->stage == "error") {
                setAiSetupActive(false);
                m_channel->appendLog(QStringLiteral("AI setup failed: ")
                          + (progress->err ? QString::fromStdString(*progress->err)
                                           : QStringLiteral("unknown error")));
                return;
            }
            QTimer::singleShot(m_setupPollIntervalMs, this, [this, run] { pollSetup(run, 0); });
        });
    // The engine went away while the setup ran.
    if (!reply)
        endSetup(QStringLiteral("engine not connected"));
}

void MockGenerator::endSetup(const QString &error)
{
    AISetupProgress failed = m_aiSetup;
    failed.stage = "error";
    failed.err = error.toStdString();
    setAiSetup(failed);
    setAiSetupActive(false);
    m_channel->appendLog(QStringLiteral("AI setup failed: ") + error);
}
