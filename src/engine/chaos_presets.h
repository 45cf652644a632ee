// ChaosPresets: the engine's chaos presets and the choice of the active one, sent one at a time in order.
#pragma once

#include "engine/records/engine_records.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <functional>

class EngineChannel;
class QNetworkReply;

class ChaosPresets final : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void()>;

    explicit ChaosPresets(EngineChannel *channel, QObject *parent = nullptr);

    const QList<ChaosPreset> &presets() const { return m_presets; }
    void setPresets(const QList<ChaosPreset> &presets);
    const QString &activeId() const { return m_activeId; }
    void setActiveId(const QString &id);

    void load(Done done = {});
    // Choosing the active preset again switches chaos off.
    void choose(const QString &id);

signals:
    void presetsChanged();
    void activeIdChanged();

private:
    // Posts the oldest choice not yet sent; one post at a time, so the engine applies them in order.
    void sendNextChoice();

    EngineChannel *m_channel;
    QList<ChaosPreset> m_presets;
    QString m_activeId;
    std::deque<QString> m_queue;
    QPointer<QNetworkReply> m_reply;
    // Raised by every choice, so a reload sent before the latest choice does not undo it on screen.
    int m_choices = 0;
};
