// SchemaDrift: drift findings from the event stream and the engine, the unseen count, and the schema requests.
#pragma once

#include "engine/records/engine_records.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class EngineChannel;

class SchemaDrift final : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void()>;
    static constexpr int MaxDrifts = 200;

    explicit SchemaDrift(EngineChannel *channel, QObject *parent = nullptr);

    const QList<SchemaDriftRecord> &drifts() const { return m_drifts; }
    void setDrifts(const QList<SchemaDriftRecord> &drifts);
    int unseen() const { return m_unseen; }
    void setUnseen(int count);

    // A finding from the event stream: newest first, at most MaxDrifts, one more unseen.
    void record(SchemaDriftRecord record, int breaking);
    // Empties the findings and the unseen count; a fetch already under way does not bring them back.
    void forget();

    // done gets the learned baselines (none on any failure) while context lives.
    void fetch(QObject *context, std::function<void(const std::vector<SchemaBaseline> &)> done);
    void relearn(const std::optional<QString> &key, Done done = {});
    void clear(Done done = {});

signals:
    void driftsChanged();
    void unseenChanged();

private:
    EngineChannel *m_channel;
    QList<SchemaDriftRecord> m_drifts;
    int m_unseen = 0;
    // Raised by each clear of the findings (clear, project switch): a fetch started before it must
    // not bring the cleared findings back.
    int m_epoch = 0;
    // Counts findings recorded from events, so a fetch keeps those that arrived while it was in flight.
    qint64 m_eventSerial = 0;
};
