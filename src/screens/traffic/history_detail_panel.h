// The detail panel beside the history table: one recorded exchange in full, with replay.
#pragma once

#include "engine/records/traffic_records.h"

#include <QWidget>

#include <functional>

class CodeTextView;
class CopyButton;
class EngineClient;
class MethodBadge;
class PrimaryButton;
class QScrollArea;
class QVBoxLayout;
class SnowLoader;
class SnowText;
class StatusChip;

class HistoryDetailPanel final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int PanelWidth = 360;

    HistoryDetailPanel(EngineClient *engine, std::function<void()> onClose, std::function<void()> onReplay,
                       QWidget *parent = nullptr);

    void setRecord(const TrafficRecord &record, bool loading);
    const TrafficRecord &record() const { return m_record; }
    bool loading() const { return m_loading; }

    // What the panel shows (tests).
    CodeTextView *urlView() const { return m_url; }
    CodeTextView *requestBody() const { return m_requestBody.text; }
    CodeTextView *responseBody() const { return m_responseBody.text; }
    CopyButton *requestCopy() const { return m_requestBody.copy; }
    CopyButton *responseCopy() const { return m_responseBody.copy; }
    bool requestBodyEmpty() const;
    bool responseBodyEmpty() const;
    QStringList metaLabels() const;
    QStringList headerNames() const;
    bool headersShown() const;
    PrimaryButton *replayButton() const { return m_replay; }
    bool proxyOffShown() const;
    bool loaderShown() const;
    StatusChip *statusChip() const { return m_status; }
    MethodBadge *methodBadge() const { return m_method; }
    QScrollArea *scrollArea() const { return m_scroll; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    struct BodyBox
    {
        CopyButton *copy = nullptr;
        SnowText *empty = nullptr;
        CodeTextView *text = nullptr;
    };
    BodyBox makeBodyBox(const QString &title, QVBoxLayout *column);
    void fillBody(BodyBox &box, const std::optional<std::string> &body);
    void syncProxy();

    EngineClient *m_engine;
    TrafficRecord m_record;
    bool m_loading = false;

    MethodBadge *m_method;
    StatusChip *m_status;
    SnowLoader *m_loader;
    QScrollArea *m_scroll;
    CodeTextView *m_url;
    SnowText *m_time;
    SnowText *m_latency;
    QWidget *m_source;
    QWidget *m_headersSection;
    QVBoxLayout *m_headerRows;
    QStringList m_headerNames;
    BodyBox m_requestBody;
    BodyBox m_responseBody;
    PrimaryButton *m_replay;
    SnowText *m_proxyOff;
};
