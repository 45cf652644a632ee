// The live traffic screen.
#include "screens/traffic/live_traffic_screen.h"

#include "design/badges.h"
#include "design/fonts.h"
#include "design/indicators.h"
#include "design/ks_button.h"
#include "design/palette.h"
#include "design/search_field.h"
#include "design/snow_empty_state.h"
#include "design/snow_text.h"
#include "engine/engine_client.h"
#include "screens/traffic/live_traffic_model.h"
#include "screens/traffic/traffic_list_view.h"
#include "screens/traffic/traffic_logic.h"
#include "screens/traffic/traffic_screen_parts.h"
#include "screens/traffic/traffic_table.h"

#include <QEasingCurve>
#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QVariantAnimation>
#include <QVBoxLayout>

namespace {

class LiveRowDelegate final : public QStyledItemDelegate
{
public:
    LiveRowDelegate(LiveTrafficFilter *filter, LiveTrafficModel *model, QObject *parent)
        : QStyledItemDelegate(parent), m_filter(filter), m_model(model)
    {
    }

    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override
    {
        // No width of its own: the list stretches rows to its viewport and never shrinks them, so a row
        // measured before the scroll bar showed would stay wider than the viewport and scroll sideways.
        return {0, traffictable::rowHeight()};
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const int row = m_filter->mapToSource(index).row();
        if (row < 0)
            return;
        const TrafficEntry &entry = m_model->entry(row);
        const auto *view = qobject_cast<const TrafficListView *>(option.widget);
        const Palette palette = Palette::of(option.widget);
        const qreal hover = view ? view->hoverLevel(index) : 0;
        const QColor freshFill = withOpacity(Palette::bg4(), 0.6);
        const QColor rest = blendColors(withOpacity(palette.subtle, 0), palette.subtle, hover);
        const QColor fill = blendColors(rest, freshFill, m_model->highlight(row));
        const std::string_view method = rawValue(entry.method);
        traffictable::Row shown{QString::fromStdString(entry.timestamp),
                                QString::fromLatin1(method.data(), qsizetype(method.size())),
                                QString::fromStdString(entry.host),
                                QString::fromStdString(entry.path),
                                int(entry.status),
                                entry.injected,
                                int(entry.latency)};
        traffictable::paintRow(*painter, option.rect, shown, palette, fill);
        TrafficListView::paintKeyboardRing(*painter, option, index);
    }

private:
    LiveTrafficFilter *m_filter;
    LiveTrafficModel *m_model;
};

// Holds the pause button at the width of its wider title, so swapping "Pause" and "Resume" moves
// nothing else in the toolbar.
QWidget *steadySlot(SecondaryButton *pause, QWidget *parent)
{
    pause->setTitle(QStringLiteral("Resume"));
    pause->setIcon(QStringLiteral("play.fill"));
    const int resumeWidth = pause->sizeHint().width();
    pause->setTitle(QStringLiteral("Pause"));
    pause->setIcon(QStringLiteral("pause.fill"));
    auto *slot = new QWidget(parent);
    slot->setFixedWidth(qMax(resumeWidth, pause->sizeHint().width()));
    auto *row = new QHBoxLayout(slot);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(pause, 0, Qt::AlignRight);
    return slot;
}

} // namespace

LiveTrafficScreen::LiveTrafficScreen(const AppContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_model(new LiveTrafficModel(context.engine, this))
    , m_filtered(new LiveTrafficFilter(m_model, this))
    , m_search(new SearchField(this))
    , m_dot(new StatusDot(Palette::success(), 8, false, this))
    , m_count(new CountBadge(0, this))
    , m_pauseButton(new SecondaryButton(QStringLiteral("Pause"), QStringLiteral("pause.fill"), false,
                                        KSButton::Size::md, false, false, {}, this))
    , m_panel(new TrafficTablePanel(this))
    , m_list(new TrafficListView(m_panel))
    , m_emptyPage(new QWidget(m_panel))
    , m_follow(new QVariantAnimation(this))
{
    EngineClient *engine = context.engine;

    QVBoxLayout *layout = trafficparts::screenColumn(this);

    auto *toolbar = new TrafficToolbar(m_search, this);
    auto *countGroup = new QHBoxLayout;
    countGroup->setSpacing(8);
    countGroup->addWidget(m_dot);
    countGroup->addWidget(m_count);
    countGroup->addWidget(trafficparts::countCaption(QStringLiteral("entries"), this));
    toolbar->addLeading(countGroup);
    m_pauseButton->setAction([this] { togglePause(); });
    toolbar->addAction(steadySlot(m_pauseButton, this));
    QWidget *clearAction = trafficparts::clearButton([this] { clear(); }, this);
    toolbar->addAction(clearAction);
    layout->addWidget(toolbar);
    // Tab reaches the rows after the toolbar, as they are read, though the list was built first.
    QWidget::setTabOrder(clearAction, m_list);
    layout->addWidget(m_panel, 1);

    m_list->setModel(m_filtered);
    m_list->setItemDelegate(new LiveRowDelegate(m_filtered, m_model, m_list));
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_list->setReplayMenu([](const QModelIndex &row) { return row.data(LiveTrafficModel::IdRole).toString(); },
                          [engine] { return engine->proxyRunning(); },
                          [engine](const QString &id) { engine->replay(id); });
    auto *emptyLayout = new QVBoxLayout(m_emptyPage);
    emptyLayout->setContentsMargins(0, 40, 0, 40);
    m_panel->body()->addWidget(m_list);
    m_panel->setRows(m_list);
    m_panel->body()->addWidget(m_emptyPage);

    m_follow->setDuration(250);
    m_follow->setEasingCurve(QEasingCurve::OutCubic);
    m_follow->setStartValue(0.0);
    m_follow->setEndValue(1.0);
    connect(m_follow, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        // The end is read at every step: the list's extent grows while the animation runs.
        QScrollBar *bar = m_list->verticalScrollBar();
        const int start = m_follow->property("from").toInt();
        bar->setValue(start + qRound((bar->maximum() - start) * value.toReal()));
    });

    connect(m_search, &SearchField::textEdited, this, &LiveTrafficScreen::setFilter);
    connect(engine, &EngineClient::trafficFlushed, this, [this](int appended, int) {
        if (appended > 0 && !m_paused)
            followNewest();
    });
    connect(m_filtered, &QAbstractItemModel::rowsInserted, this, &LiveTrafficScreen::refresh);
    connect(m_filtered, &QAbstractItemModel::rowsRemoved, this, &LiveTrafficScreen::refresh);
    connect(m_filtered, &QAbstractItemModel::modelReset, this, &LiveTrafficScreen::refresh);
    connect(m_filtered, &QAbstractItemModel::layoutChanged, this, &LiveTrafficScreen::refresh);
    connect(engine, &EngineClient::proxyRunningChanged, this, &LiveTrafficScreen::refresh);
    connect(engine, &EngineClient::healthChanged, this, &LiveTrafficScreen::refresh);
    refresh();
}

bool LiveTrafficScreen::event(QEvent *event)
{
    // Tints taken from the palette (the idle dot, the no-match tile) follow a theme change.
    if (event->type() == PaletteHost::changedEventType()) {
        // Later: the palette is still being handed to the widgets that a rebuild would replace.
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_empty.forget();
                refresh();
            },
            Qt::QueuedConnection);
    }
    return QWidget::event(event);
}

int LiveTrafficScreen::shownCount() const
{
    return m_filtered->rowCount();
}

void LiveTrafficScreen::setFilter(const QString &filter)
{
    m_filter = filter;
    if (m_search->text() != filter)
        m_search->setText(filter);
    m_filtered->setFilterText(filter);
    refresh();
}

void LiveTrafficScreen::togglePause()
{
    m_paused = !m_paused;
    if (m_paused) {
        m_follow->stop();
        m_model->freeze();
    } else {
        m_model->thaw();
    }
    m_pauseButton->setTitle(m_paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    m_pauseButton->setIcon(m_paused ? QStringLiteral("play.fill") : QStringLiteral("pause.fill"));
    refresh();
}

void LiveTrafficScreen::clear()
{
    m_context.engine->clearTraffic();
    m_model->clearFrozen();
    refresh();
}

void LiveTrafficScreen::followNewest()
{
    ++m_followCount;
    m_follow->stop();
    m_follow->setProperty("from", m_list->verticalScrollBar()->value());
    m_follow->start();
}

void LiveTrafficScreen::refresh()
{
    EngineClient *engine = m_context.engine;
    const bool running = engine->proxyRunning();
    m_count->setCount(shownCount());
    const bool live = running && !m_paused;
    m_dot->setColor(live ? Palette::success() : Palette::of(this).mutedForeground);
    m_dot->setPulse(live);

    if (shownCount() > 0)
        m_body = Body::list;
    else if (!m_filter.isEmpty())
        m_body = Body::noMatch;
    else if (running)
        m_body = Body::waiting;
    else
        m_body = Body::stopped;

    if (m_body == Body::list) {
        m_panel->body()->setCurrentWidget(m_list);
        return;
    }
    const QString key = QString::number(int(m_body)) + QLatin1Char('|')
                        + (m_body == Body::noMatch ? m_filter : QString::number(engine->proxyPort()));
    m_panel->body()->setCurrentWidget(m_emptyPage);
    if (!m_empty.rebuild(key))
        return;
    QWidget *shown = nullptr;
    if (m_body == Body::noMatch) {
        auto *clearFilter = new SecondaryButton(QStringLiteral("Clear filter"), QStringLiteral("xmark"), false,
                                                KSButton::Size::md, false, false, [this] { setFilter({}); });
        shown = new SnowEmptyState(QStringLiteral("line.3.horizontal.decrease.circle"),
                                   trafficlogic::noMatchTitle(m_filter),
                                   QStringLiteral("Clear the filter to see all captured traffic."),
                                   Palette::of(this).faint, false, clearFilter, m_emptyPage);
    } else if (m_body == Body::waiting) {
        shown = new QWidget(m_emptyPage);
        auto *column = new QVBoxLayout(shown);
        column->setSpacing(12);
        column->addStretch(1);
        column->addWidget(new SnowLoader(20, std::nullopt, shown), 0, Qt::AlignHCenter);
        auto *text = new SnowText(trafficlogic::waitingText(engine->proxyPort()), Fonts::inter(12),
                                  [](const Palette &p) { return p.mutedForeground; }, shown);
        text->setWrap(true);
        text->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        text->setMaximumWidth(340);
        column->addWidget(text, 0, Qt::AlignHCenter);
        column->addStretch(1);
    } else {
        auto *start = new PrimaryButton(QStringLiteral("Start proxy"), QStringLiteral("play.fill"), KSButton::Size::md,
                                        false, false, [engine] { engine->startProxy(); });
        shown = new SnowEmptyState(QStringLiteral("dot.radiowaves.left.and.right"), QStringLiteral("Proxy is stopped"),
                                   QStringLiteral("Start the proxy, then route a request through it to capture live traffic."),
                                   Palette::indigo(), false, start, m_emptyPage);
    }
    m_empty.show(m_emptyPage, shown);
}
