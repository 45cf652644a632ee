// ChaosPresets: a choice shows at once, is queued behind the one in flight, and a reload confirms the last.
#include "engine/chaos_presets.h"

#include "engine/engine_channel.h"

#include <QNetworkReply>

ChaosPresets::ChaosPresets(EngineChannel *channel, QObject *parent)
    : QObject(parent)
    , m_channel(channel)
{
}

void ChaosPresets::setPresets(const QList<ChaosPreset> &presets)
{
    m_presets = presets;
    emit presetsChanged();
}

void ChaosPresets::setActiveId(const QString &id)
{
    m_activeId = id;
    emit activeIdChanged();
}

void ChaosPresets::load(Done done)
{
    const int choicesAtRequest = m_choices;
    QNetworkReply *reply = m_channel->sendControl(
        "GET", QStringLiteral("chaos"), {}, std::nullopt, m_channel->timeouts().general, this,
        [this, done, choicesAtRequest](const ControlReply &reply) {
            // An error status with a valid body is still the engine's state.
            if (!reply.transportFailed()) {
                if (auto state = decodeRecord<ChaosState>(EngineChannel::asView(reply.body))) {
                    setPresets(QList<ChaosPreset>(state->presets.begin(), state->presets.end()));
                    // A choice made since this was asked is newer than the answer.
                    if (choicesAtRequest == m_choices && !m_reply)
                        setActiveId(QString::fromStdString(state->activeId));
                }
            }
            if (done)
                done();
        });
    if (!reply && done)
        done();
}

void ChaosPresets::choose(const QString &id)
{
    const QString next = id == m_activeId ? QString() : id;
    // Shown at once; the reload after the requests shows what the engine really holds.
    setActiveId(next);
    ++m_choices;
    if (!m_channel->controlPort())
        return;
    // Parallel posts could be applied in any order; queued, the last tap is the one that stays.
    m_queue.push_back(next);
    if (!m_reply)
        sendNextChoice();
}

void ChaosPresets::sendNextChoice()
{
    if (m_queue.empty())
        return;
    const QString id = m_queue.front();
    m_queue.pop_front();
    // No time limit: a choice cut short may still be applied after the next one.
    m_reply = m_channel->sendControl(
        "POST", QStringLiteral("chaos/active"), EngineChannel::literalQuery(QStringLiteral("id"), id), std::nullopt,
        0, this, [this, id](const ControlReply &) {
            m_reply = nullptr;
            const QString line = id.isEmpty() ? QStringLiteral("\u2022 chaos off") : QStringLiteral("\u2022 chaos: ") + id;
            if (!m_queue.empty()) {
                m_channel->appendLog(line);
                sendNextChoice();
                return;
            }
            load([this, line] { m_channel->appendLog(line); });
        });
    if (!m_reply)
        m_queue.clear();
}
