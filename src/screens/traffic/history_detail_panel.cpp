// One recorded exchange in full: request line, meta, headers, bodies, replay.
#include "screens/traffic/history_detail_panel.h"

#include "design/badges.h"
#include "design/card_surface.h"
#include "design/code_text_view.h"
#include "design/copy_button.h"
#include "design/fonts.h"
#include "design/indicators.h"
#include "design/ks_button.h"
#include "design/palette.h"
#include "design/shell_widgets.h"
#include "design/snow_text.h"
#include "engine/engine_client.h"
#include "screens/traffic/traffic_logic.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

SnowText::ColorRole muted()
{
    return [](const Palette &p) { return p.mutedForeground; };
}

SnowText::ColorRole ink()
{
    return [](const Palette &p) { return p.foreground; };
}

// A meta item: the label over its value.
QWidget *metaItem(const QString &label, SnowText **value, QWidget *parent)
{
    auto *item = new QWidget(parent);
    auto *column = new QVBoxLayout(item);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    column->addWidget(new SnowText(label, Fonts::inter(11, QFont::Medium), muted(), item));
    *value = new SnowText(QString(), Fonts::ksCode(), ink(), item);
    column->addWidget(*value);
    return item;
}

// A bar pinned above or below the scrolling content, on the palette's background.
QWidget *bar(QWidget *parent)
{
    return new FilledBox([](const Palette &p) { return p.background; }, 0, parent);
}

} // namespace

HistoryDetailPanel::HistoryDetailPanel(EngineClient *engine, std::function<void()> onClose,
                                       std::function<void()> onReplay, QWidget *parent)
    : QWidget(parent)
    , m_engine(engine)
    , m_method(new MethodBadge)
    , m_status(new StatusChip)
    , m_loader(new SnowLoader(14))
    , m_scroll(new QScrollArea(this))
    , m_url(new CodeTextView(Fonts::ksCode(), ink(), false))
    , m_replay(new PrimaryButton(QStringLiteral("Replay request"), QStringLiteral("arrow.clockwise"),
                                 KSButton::Size::md, false, false, std::move(onReplay)))
    , m_proxyOff(new SnowText(QStringLiteral("proxy off"), Fonts::inter(11), muted()))
{
    setFixedWidth(PanelWidth);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    // Header bar
    QWidget *header = bar(this);
    auto *headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(16, 16, 16, 16);
    auto *group = new QHBoxLayout;
    group->setSpacing(8);
    group->addWidget(m_method);
    group->addWidget(m_status);
    group->addWidget(m_loader);
    headerRow->addLayout(group);
    headerRow->addStretch(1);
    headerRow->addWidget(new CircleIconButton(QStringLiteral("xmark"), 30, false, std::nullopt, std::move(onClose)));
    outer->addWidget(header);
    outer->addWidget(new SnowDivider(false, 0, this));

    // Content
    auto *content = new QWidget;
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(16);

    auto *requestLine = new QVBoxLayout;
    requestLine->setSpacing(4);
    requestLine->addWidget(new SnowText(QStringLiteral("Request"), Fonts::inter(11, QFont::Medium), muted(), content));
    requestLine->addWidget(m_url);
    column->addLayout(requestLine);

    auto *meta = new QHBoxLayout;
    meta->setSpacing(16);
    meta->addWidget(metaItem(QStringLiteral("Time"), &m_time, content));
    meta->addWidget(metaItem(QStringLiteral("Latency"), &m_latency, content));
    SnowText *sourceValue = nullptr;
    m_source = metaItem(QStringLiteral("Source"), &sourceValue, content);
    sourceValue->setText(QStringLiteral("injected"));
    meta->addWidget(m_source);
    meta->addStretch(1);
    column->addLayout(meta);

    m_headersSection = new QWidget(content);
    auto *headersColumn = new QVBoxLayout(m_headersSection);
    headersColumn->setContentsMargins(0, 0, 0, 0);
    headersColumn->setSpacing(8);
    headersColumn->addWidget(new SnowText(QStringLiteral("Request Headers"), Fonts::inter(12, QFont::DemiBold), ink(),
                                          m_headersSection));
    auto *headersBlock = new PanelStyle(12, m_headersSection);
    m_headerRows = new QVBoxLayout(headersBlock);
    m_headerRows->setContentsMargins(12, 12, 12, 12);
    m_headerRows->setSpacing(4);
    headersColumn->addWidget(headersBlock);
    column->addWidget(m_headersSection);

    m_requestBody = makeBodyBox(QStringLiteral("Request Body"), column);
    m_responseBody = makeBodyBox(QStringLiteral("Response Body"), column);
    column->addStretch(1);

    m_scroll->setWidget(content);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setFocusPolicy(Qt::NoFocus); // no Tab stop with nothing to show
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
    m_scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    outer->addWidget(m_scroll, 1);

    // Footer bar
    outer->addWidget(new SnowDivider(false, 0, this));
    QWidget *footer = bar(this);
    auto *footerRow = new QHBoxLayout(footer);
    footerRow->setContentsMargins(16, 16, 16, 16);
    footerRow->addWidget(m_replay);
    footerRow->addStretch(1);
    footerRow->addWidget(m_proxyOff);
    outer->addWidget(footer);

    connect(engine, &EngineClient::proxyRunningChanged, this, &HistoryDetailPanel::syncProxy);
    syncProxy();
}

HistoryDetailPanel::BodyBox HistoryDetailPanel::makeBodyBox(const QString &title, QVBoxLayout *column)
{
    BodyBox box;
    auto *section = new QVBoxLayout;
    section->setSpacing(8);
    auto *titleRow = new QHBoxLayout;
    titleRow->addWidget(new SnowText(title, Fonts::inter(12, QFont::DemiBold), ink()));
    titleRow->addStretch(1);
    box.copy = new CopyButton(QString(), 12);
    titleRow->addWidget(box.copy);
    section->addLayout(titleRow);
    auto *block = new PanelStyle(12);
    auto *blockLayout = new QVBoxLayout(block);
    blockLayout->setContentsMargins(12, 12, 12, 12);
    box.empty = new SnowText(QStringLiteral("(empty)"), Fonts::ksCode(), muted(), block);
    box.text = new CodeTextView(Fonts::ksCode(), muted(), true, block);
    blockLayout->addWidget(box.empty);
    blockLayout->addWidget(box.text);
    section->addWidget(block);
    column->addLayout(section);
    return box;
}

void HistoryDetailPanel::fillBody(BodyBox &box, const std::optional<std::string> &body)
{
    const bool empty = !body || body->empty();
    box.empty->setVisible(empty);
    box.text->setVisible(!empty);
    box.copy->setVisible(!empty);
    // Converting a long body is only worth it when it differs from what is shown.
    const QString text = empty ? QString() : QString::fromStdString(*body);
    box.text->setText(text);
    box.copy->setText(text);
}

void HistoryDetailPanel::setRecord(const TrafficRecord &record, bool loading)
{
    const bool same = record == m_record;
    m_loading = loading;
    m_loader->setVisible(loading);
    if (same && m_url->textChanges() > 0)
        return;
    m_record = record;
    m_method->setMethod(trafficlogic::badgeMethod(record.method));
    m_status->setStatus(record.status);
    m_status->setInjected(record.injected);
    m_url->setText(QString::fromStdString(record.url()));
    m_time->setText(QString::fromStdString(record.time));
    m_latency->setText(QString::number(record.latencyMs) + QStringLiteral("ms"));
    m_source->setVisible(record.injected);

    const QList<QPair<QString, QString>> headers = trafficlogic::sortedHeaders(record.reqHeaders);
    QStringList names;
    for (const auto &header : headers)
        names.append(header.first + QLatin1Char('\n') + header.second);
    if (names != m_headerNames) {
        m_headerNames = names;
        while (QLayoutItem *item = m_headerRows->takeAt(0)) {
            delete item->widget();
            delete item;
        }
        QWidget *block = m_headerRows->parentWidget();
        for (const auto &[name, value] : headers) {
            auto *row = new QWidget(block);
            auto *line = new QHBoxLayout(row);
            line->setContentsMargins(0, 0, 0, 0);
            line->setSpacing(8);
            auto *nameText = new SnowText(name, Fonts::ksCodeSm(), muted(), row);
            nameText->setElideMode(Qt::ElideNone);
            line->addWidget(nameText, 0, Qt::AlignTop);
            auto *valueText = new CodeTextView(Fonts::ksCodeSm(), ink(), false, row);
            valueText->setText(value);
            line->addWidget(valueText, 1, Qt::AlignTop);
            m_headerRows->addWidget(row);
        }
    }
    m_headersSection->setVisible(!headers.isEmpty());
    fillBody(m_requestBody, record.reqBody);
    fillBody(m_responseBody, record.respBody);
}

bool HistoryDetailPanel::requestBodyEmpty() const
{
    return !m_requestBody.empty->isHidden();
}

bool HistoryDetailPanel::responseBodyEmpty() const
{
    return !m_responseBody.empty->isHidden();
}

QStringList HistoryDetailPanel::metaLabels() const
{
    QStringList labels{QStringLiteral("Time"), QStringLiteral("Latency")};
    if (!m_source->isHidden())
        labels.append(QStringLiteral("Source"));
    return labels;
}

QStringList HistoryDetailPanel::headerNames() const
{
    QStringList names;
    for (const QString &entry : m_headerNames)
        names.append(entry.section(QLatin1Char('\n'), 0, 0));
    return names;
}

bool HistoryDetailPanel::headersShown() const
{
    return !m_headersSection->isHidden();
}

bool HistoryDetailPanel::proxyOffShown() const
{
    return !m_proxyOff->isHidden();
}

bool HistoryDetailPanel::loaderShown() const
{
    return !m_loader->isHidden();
}

void HistoryDetailPanel::syncProxy()
{
    const bool running = m_engine->proxyRunning();
    m_replay->setDisabled(!running);
    m_proxyOff->setVisible(!running);
}

void HistoryDetailPanel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Palette::of(this).background);
}
