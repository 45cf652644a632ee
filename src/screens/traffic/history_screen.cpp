// The history screen.
#include "screens/traffic/history_screen.h"

#include "design/badges.h"
#include "design/fonts.h"
#include "design/indicators.h"
#include "design/ks_button.h"
#include "design/palette.h"
#include "design/search_field.h"
#include "design/shell_widgets.h"
#include "design/snow_empty_state.h"
#include "design/snow_text.h"
#include "engine/engine_client.h"
#include "screens/traffic/history_detail_panel.h"
#include "screens/traffic/history_model.h"
#include "screens/traffic/traffic_list_view.h"
#include "screens/traffic/traffic_logic.h"
#include "screens/traffic/traffic_screen_parts.h"
#include "screens/traffic/traffic_table.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPointer>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVariantAnimation>
#include <QEasingCurve>
#include <QVBoxLayout>
#include <QtMath>

namespace {

constexpr int MoreRowHeight = 18 + 2 * 16;
constexpr int MainInsetX = 24;
constexpr int SearchMinimumWidth = 160;
// The record's panel never gets narrower than the info panel.
constexpr int DetailLeastWidth = 280;

class HistoryRowDelegate final : public QStyledItemDelegate
{
public:
    HistoryRowDelegate(HistoryModel *model, std::function<std::optional<QString>()> selected, QObject *parent)
        : QStyledItemDelegate(parent), m_model(model), m_selected(std::move(selected))
    {
    }

    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &index) const override
    {
        // No width of its own: the list stretches rows to its viewport (and never shrinks them).
        return {0, m_model->record(index.row()) ? traffictable::rowHeight() : MoreRowHeight};
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const Palette palette = Palette::of(qobject_cast<const QWidget *>(option.widget));
        const TrafficRecord *rec = m_model->record(index.row());
        if (!rec) {
            paintMoreRow(*painter, option.rect, palette);
            return;
        }
        const bool selected = m_selected() == QString::fromStdString(rec->id);
        const auto *view = qobject_cast<const TrafficListView *>(option.widget);
        const qreal hover = view ? view->hoverLevel(index) : 0;
        const QColor fill = selected ? palette.mutedStrong
                                     : blendColors(withOpacity(palette.subtle, 0), palette.subtle, hover);
        traffictable::Row row{QString::fromStdString(rec->time), trafficlogic::badgeMethod(rec->method),
                              QString::fromStdString(rec->host), QString::fromStdString(rec->path),
                              int(rec->status), rec->injected, int(rec->latencyMs)};
        traffictable::paintRow(*painter, option.rect, row, palette, fill);
        TrafficListView::paintKeyboardRing(*painter, option, index);
    }

private:
    void paintMoreRow(QPainter &p, const QRect &rect, const Palette &palette) const
    {
        if (m_model->moreFailed()) {
            p.save();
            p.setFont(Fonts::ksMeta());
            p.setPen(palette.mutedForeground);
            p.drawText(rect, Qt::AlignCenter, QStringLiteral("Couldn't load more records \u2014 click to retry"));
            p.restore();
            return;
        }
        const QRectF arc(rect.center().x() - 9, rect.top() + 16, 18, 18);
        SnowLoader::paintArc(p, arc, 18, palette.brand, SnowLoader::currentAngle());
    }

    HistoryModel *m_model;
    std::function<std::optional<QString>()> m_selected;
};

} // namespace

HistoryScreen::HistoryScreen(const AppContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_model(new HistoryModel(context.engine, this))
    , m_debounce(new QTimer(this))
    , m_spinner(new QTimer(this))
    , m_search(new SearchField(this))
    , m_count(new CountBadge(0, this))
    , m_table(new TrafficTablePanel(this))
    , m_list(new TrafficListView(m_table))
    , m_emptyPage(new QWidget(m_table))
    , m_panel(nullptr)
    , m_slide(new QVariantAnimation(this))
{
    EngineClient *engine = context.engine;
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    // The toolbar stays in the visible column, so its actions are never scrolled away; beside an open
    // record it gives them a row of their own.
    auto *column = new QVBoxLayout;
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_toolbar = new TrafficToolbar(m_search, this);
    m_toolbar->setContentsMargins(MainInsetX, 8, MainInsetX, 0);
    m_search->setMinimumWidth(SearchMinimumWidth);
    auto *countGroup = new QHBoxLayout;
    countGroup->setSpacing(4);
    countGroup->addWidget(m_count);
    countGroup->addWidget(trafficparts::countCaption(QStringLiteral("records"), this));
    m_toolbar->addLeading(countGroup);
    m_toolbar->addAction(trafficparts::refreshButton([this] { reload(); }, this));
    QWidget *clearAction = trafficparts::clearButton([this] { clear(); }, this);
    m_toolbar->addAction(clearAction);
    column->addWidget(m_toolbar);

    // The table takes the column's whole width, however narrow beside an open record: its Host / Path
    // column gives way first, and nothing scrolls sideways.
    auto *mainBox = new QWidget(this);
    QVBoxLayout *main = trafficparts::screenColumn(mainBox);
    main->setContentsMargins(MainInsetX, 16, MainInsetX, 24);
    main->addWidget(m_table, 1);
    column->addWidget(mainBox, 1);
    row->addLayout(column, 1);

    m_panel = new HistoryDetailPanel(
        engine, [this] { close(); },
        [this, engine] {
            if (m_detail)
                engine->replay(QString::fromStdString(m_detail->id));
        },
        this);
    m_panel->hide();
    row->addWidget(m_panel);
    m_slide->setDuration(200);
    m_slide->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_slide, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { m_panel->setFixedWidth(value.toInt()); });
    connect(m_slide, &QVariantAnimation::finished, this, [this] {
        if (!m_panelOpen)
            m_panel->hide();
    });

    m_list->setModel(m_model);
    m_list->setUniformItemSizes(false);
    m_list->setItemDelegate(new HistoryRowDelegate(m_model, [this] { return m_selectedID; }, m_list));
    m_list->setReplayMenu([](const QModelIndex &index) { return index.data(HistoryModel::IdRole).toString(); },
                          [engine] { return engine->proxyRunning(); },
                          [engine](const QString &id) { engine->replay(id); });
    const auto open = [this](const QModelIndex &index) {
        if (index.data(HistoryModel::MoreRowRole).toBool()) {
            if (m_model->moreFailed())
                m_model->loadMore();
            return;
        }
        select(index.data(HistoryModel::IdRole).toString());
    };
    connect(m_list, &QAbstractItemView::clicked, this, open);
    m_list->setOpenAction(open);
    auto *emptyLayout = new QVBoxLayout(m_emptyPage);
    emptyLayout->setContentsMargins(0, 0, 0, 0);
    m_table->body()->addWidget(m_list);
    // Tab reaches the rows after the toolbar, as they are read, though the list was built first.
    QWidget::setTabOrder(clearAction, m_list);
    m_table->setRows(m_list);
    m_table->body()->addWidget(m_emptyPage);

    // Only the last of a burst of keystrokes, after a quiet spell, reaches the engine.
    m_debounce->setSingleShot(true);
    m_debounce->setInterval(trafficlogic::FilterDebounceMs);
    connect(m_debounce, &QTimer::timeout, this, &HistoryScreen::reload);
    connect(m_search, &SearchField::textEdited, this, &HistoryScreen::setFilter);

    // The more row's loader turns while it is in view.
    m_spinner->setInterval(33);
    connect(m_spinner, &QTimer::timeout, this, [this] {
        if (!m_model->hasMoreRow())
            return;
        const QRect more = m_list->visualRect(m_model->index(m_model->rowCount() - 1));
        if (more.intersects(m_list->viewport()->rect()))
            m_list->viewport()->update(more);
    });
    m_spinner->start();

    connect(m_model, &HistoryModel::stateChanged, this, &HistoryScreen::refresh);
    connect(m_model, &QAbstractItemModel::modelReset, this, &HistoryScreen::refresh);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &HistoryScreen::refresh);
    connect(engine, &EngineClient::proxyRunningChanged, this, &HistoryScreen::refresh);
    connect(engine, &EngineClient::healthChanged, this, &HistoryScreen::refresh);
    reload();
}

int HistoryScreen::filterDebounce() const
{
    return m_debounce->interval();
}

void HistoryScreen::setFilterDebounce(int ms)
{
    m_debounce->setInterval(ms);
}

void HistoryScreen::setFilter(const QString &filter)
{
    if (filter == m_filter)
        return;
    m_filter = filter;
    if (m_search->text() != filter)
        m_search->setText(filter);
    m_model->setFilter(filter);
    m_debounce->start();
}

void HistoryScreen::reload()
{
    m_debounce->stop();
    m_model->setFilter(m_filter);
    m_model->reload();
}

void HistoryScreen::select(const QString &id)
{
    const auto &records = m_model->records();
    const auto found = std::find_if(records.begin(), records.end(),
                                    [&](const TrafficRecord &r) { return QString::fromStdString(r.id) == id; });
    if (found == records.end())
        return;
    m_selectedID = id;
    // Selecting the record shown again keeps its full form while it is fetched anew.
    if (!m_detail || QString::fromStdString(m_detail->id) != id)
        m_detail = *found;
    m_loadingDetail = true;
    showDetail();
    const TrafficRecord listCopy = *found;
    m_context.engine->fetchRecord(id, this, [this, id, listCopy](const std::optional<TrafficRecord> &full) {
        if (m_selectedID != id)
            return; // another row was selected, or the panel closed
        m_detail = full.value_or(listCopy);
        m_loadingDetail = false;
        showDetail();
    });
}

void HistoryScreen::close()
{
    m_selectedID.reset();
    m_detail.reset();
    m_loadingDetail = false;
    showDetail();
}

void HistoryScreen::clear()
{
    close();
    // The first page is asked for once the engine has answered the delete, so it can't come back
    // with the rows just deleted.
    QPointer<HistoryScreen> self(this);
    m_context.engine->clearTraffic([self] {
        if (self)
            self->reload();
    });
}

void HistoryScreen::showDetail()
{
    const bool open = m_detail.has_value();
    if (open)
        m_panel->setRecord(*m_detail, m_loadingDetail);
    // The panel slides in and out at its edge.
    if (open != m_panelOpen) {
        m_panelOpen = open;
        m_slide->stop();
        m_slide->setStartValue(m_panel->isVisible() ? m_panel->width() : 0);
        m_slide->setEndValue(open ? detailWidth() : 0);
        if (open) {
            m_panel->setFixedWidth(m_slide->startValue().toInt());
            m_panel->show();
        }
        m_slide->start();
    }
    m_list->viewport()->update();
}

int HistoryScreen::detailWidth() const
{
    // Beside the table's insets and its scroll bar's share, the rows keep a method, a status and the path.
    const int scrollBar = m_list->width() - m_list->viewport()->width();
    const int table = 2 * MainInsetX + 2 * TrafficTablePanel::MarginX + 2 * traffictable::InsetX + scrollBar
                      + qCeil(traffictable::leastInnerWidth());
    return qBound(DetailLeastWidth, width() - table, int(HistoryDetailPanel::PanelWidth));
}

void HistoryScreen::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_panelOpen && m_slide->state() != QAbstractAnimation::Running && m_panel->width() != detailWidth())
        m_panel->setFixedWidth(detailWidth());
}

void HistoryScreen::refresh()
{
    EngineClient *engine = m_context.engine;
    m_count->setCount(qint64(m_model->records().size()));
    if (m_model->loadFailed())
        m_body = Body::error;
    else if (!m_model->records().empty())
        m_body = Body::list;
    else if (m_model->loading())
        m_body = Body::loading;
    else
        m_body = Body::empty;

    if (m_body == Body::list) {
        m_table->body()->setCurrentWidget(m_list);
        return;
    }
    m_table->body()->setCurrentWidget(m_emptyPage);
    const QString key = QString::number(int(m_body)) + QLatin1Char('|') + QString::number(engine->proxyPort())
                        + QLatin1Char('|') + QString::number(engine->proxyRunning());
    if (!m_empty.rebuild(key))
        return;
    QWidget *shown = nullptr;
    if (m_body == Body::error) {
        auto *retry = new SecondaryButton(QStringLiteral("Retry"), QStringLiteral("arrow.clockwise"), false,
                                          KSButton::Size::sm, false, false, [this] { reload(); });
        shown = new SnowEmptyState(QStringLiteral("exclamationmark.triangle"), QStringLiteral("Couldn't load history"),
                                   QStringLiteral("The engine didn't respond. Check that it's running and try again."),
                                   Palette::red(), false, retry, m_emptyPage);
    } else if (m_body == Body::loading) {
        shown = new QWidget(m_emptyPage);
        auto *column = new QVBoxLayout(shown);
        column->setContentsMargins(0, 40, 0, 40);
        column->addWidget(new SnowLoader(18, std::nullopt, shown), 0, Qt::AlignHCenter | Qt::AlignTop);
        column->addStretch(1);
    } else {
        QWidget *start = nullptr;
        if (!engine->proxyRunning())
            start = new PrimaryButton(QStringLiteral("Start proxy"), QStringLiteral("play.fill"), KSButton::Size::sm,
                                      false, false, [engine] { engine->startProxy(); });
        shown = new SnowEmptyState(QStringLiteral("clock.arrow.circlepath"), QStringLiteral("No recorded traffic"),
                                   trafficlogic::historyEmptyMessage(engine->proxyPort()), Palette::primary(), false,
                                   start, m_emptyPage);
    }
    m_empty.show(m_emptyPage, shown);
}
