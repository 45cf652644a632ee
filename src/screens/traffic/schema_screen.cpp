// The schema drift screen.
#include "screens/traffic/schema_screen.h"

#include "design/shell_widgets.h"
#include "design/badges.h"
#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/indicators.h"
#include "design/ks_button.h"
#include "design/palette.h"
#include "design/snow_empty_state.h"
#include "design/snow_text.h"
#include "design/tab_bar.h"
#include "screens/traffic/schema_views.h"
#include "screens/traffic/traffic_logic.h"
#include "screens/traffic/traffic_screen_parts.h"

#include <QHBoxLayout>
#include <QListView>
#include <QPainter>
#include <QPointer>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

void makeTransparent(QListView *view)
{
    view->setFrameShape(QFrame::NoFrame);
    view->setSelectionMode(QAbstractItemView::NoSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    useThinScrollBars(view);
    view->viewport()->setAutoFillBackground(false);
    QPalette clear = view->palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    view->setPalette(clear);
}

// The panel style at radius 16 behind a list or a placeholder.
class RoundedPanel final : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        paintPanelStyle(p, QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), Palette::of(this), 16);
    }
};

} // namespace

SchemaScreen::SchemaScreen(const AppContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_tabs(new TabBar(this))
    , m_count(new CountBadge(0, this))
    , m_countLabel(trafficparts::countCaption(QStringLiteral("findings"), this))
    , m_relearnAll(new SecondaryButton(QStringLiteral("Relearn all"), QStringLiteral("arrow.counterclockwise"), false,
                                       KSButton::Size::md, false, false, {}, this))
    , m_stack(new QStackedWidget(this))
    , m_driftModel(new DriftModel(context.engine, this))
    , m_driftList(new QListView(m_stack))
    , m_baselineModel(new BaselineModel(this))
    , m_baselineDelegate(nullptr)
    , m_baselinePanel(new RoundedPanel(m_stack))
    , m_baselineList(new QListView(m_baselinePanel))
    , m_placeholder(new RoundedPanel(m_stack))
{
    EngineClient *engine = context.engine;
    QVBoxLayout *layout = trafficparts::screenColumn(this);
    // The tabs keep room round their labels for the focus ring: the column gives that room back on the
    // left and the cards take it again, so "Drift" lines up with the cards' edge.
    QMargins margins = layout->contentsMargins();
    margins.setLeft(margins.left() - TabBarTab::RingRoomX);
    layout->setContentsMargins(margins);

    QHBoxLayout *toolbar = trafficparts::toolbar();
    m_tabs->setItems({{QVariant::fromValue(int(Tab::drift)), QStringLiteral("Drift")},
                      {QVariant::fromValue(int(Tab::baselines)), QStringLiteral("Baselines")}});
    m_tabs->setSelection(int(Tab::drift));
    connect(m_tabs, &TabBar::selectionEdited, this, [this](const QVariant &value) { setTab(Tab(value.toInt())); });
    toolbar->addWidget(m_tabs);
    toolbar->addWidget(m_count);
    toolbar->addWidget(m_countLabel);
    toolbar->addStretch(1);
    toolbar->addWidget(trafficparts::refreshButton([this] { reload(); }, this));
    m_relearnAll->setAction([this] { relearnAll(); });
    toolbar->addWidget(m_relearnAll);
    toolbar->addWidget(trafficparts::clearButton([this] { clear(); }, this));
    layout->addLayout(toolbar);
    auto *cards = new QHBoxLayout;
    cards->setContentsMargins(TabBarTab::RingRoomX, 0, 0, 0);
    cards->addWidget(m_stack);
    layout->addLayout(cards, 1);

    makeTransparent(m_driftList);
    m_driftList->setModel(m_driftModel);
    m_driftList->setItemDelegate(new DriftCardDelegate(m_driftModel, m_driftList));
    m_driftList->setContentsMargins(2, 2, 2, 2);
    m_stack->addWidget(m_driftList);

    makeTransparent(m_baselineList);
    m_baselineList->setMouseTracking(true);
    m_baselineList->setModel(m_baselineModel);
    m_baselineDelegate = new BaselineRowDelegate(m_baselineModel, m_baselineList,
                                                 [this](const QString &key) { relearn(key); });
    m_baselineList->setItemDelegate(m_baselineDelegate);
    auto *baselineLayout = new QVBoxLayout(m_baselinePanel);
    // Rows keep clear of the rounded corners and the outline.
    baselineLayout->setContentsMargins(1, 8, 1, 8);
    baselineLayout->addWidget(m_baselineList);
    m_stack->addWidget(m_baselinePanel);

    auto *placeholderLayout = new QVBoxLayout(m_placeholder);
    placeholderLayout->setContentsMargins(0, 40, 0, 40);
    m_stack->addWidget(m_placeholder);

    connect(engine, &EngineClient::schemaDriftsChanged, this, &SchemaScreen::refresh);
    connect(engine, &EngineClient::healthChanged, this, &SchemaScreen::refresh);
    refresh();
    reload();
}

void SchemaScreen::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_context.engine->setUnseenDrift(0);
}

void SchemaScreen::setTab(Tab tab)
{
    m_tab = tab;
    m_tabs->setSelection(int(tab));
    refresh();
}

void SchemaScreen::reload()
{
    const int serial = ++m_reloadSerial;
    m_loading = true;
    refresh();
    m_context.engine->fetchSchema(this, [this, serial](const std::vector<SchemaBaseline> &baselines) {
        if (serial != m_reloadSerial)
            return; // a newer reload owns the list
        m_baselines = baselines;
        m_baselineModel->setBaselines(baselines);
        m_loading = false;
        refresh();
    });
}

void SchemaScreen::reloadAfter(const std::function<void(EngineClient::Done)> &change)
{
    auto waiting = std::make_shared<int>(2);
    QPointer<SchemaScreen> self(this);
    const auto arrived = [self, waiting] {
        if (--*waiting == 0 && self)
            self->reload();
    };
    // Both the timer and the answer are tied to this screen: leaving it ends them quietly.
    QTimer::singleShot(m_reloadDelayMs, this, arrived);
    change(arrived);
}

void SchemaScreen::relearnAll()
{
    EngineClient *engine = m_context.engine;
    reloadAfter([engine](EngineClient::Done done) { engine->relearnSchema(std::nullopt, std::move(done)); });
}

void SchemaScreen::relearn(const QString &key)
{
    EngineClient *engine = m_context.engine;
    reloadAfter([engine, key](EngineClient::Done done) { engine->relearnSchema(key, std::move(done)); });
}

void SchemaScreen::clear()
{
    EngineClient *engine = m_context.engine;
    reloadAfter([engine](EngineClient::Done done) { engine->clearSchema(std::move(done)); });
}

void SchemaScreen::toggle(const QString &key)
{
    m_baselineModel->toggle(key);
}

void SchemaScreen::refresh()
{
    EngineClient *engine = m_context.engine;
    const bool drift = m_tab == Tab::drift;
    m_relearnAll->setVisible(!drift);
    m_count->setCount(drift ? engine->schemaDrifts().size() : qint64(m_baselines.size()));
    m_countLabel->setText(drift ? QStringLiteral("findings") : QStringLiteral("routes"));

    if (drift)
        m_content = !engine->schemaDrifts().isEmpty() ? Content::driftList
                    : m_loading                       ? Content::loading
                                                      : Content::driftEmpty;
    else
        m_content = !m_baselines.empty() ? Content::baselineList
                    : m_loading          ? Content::loading
                                         : Content::baselinesEmpty;
    if (m_content == Content::driftList) {
        m_stack->setCurrentWidget(m_driftList);
        return;
    }
    if (m_content == Content::baselineList) {
        m_stack->setCurrentWidget(m_baselinePanel);
        return;
    }
    m_stack->setCurrentWidget(m_placeholder);
    const QString key = QString::number(int(m_content)) + QLatin1Char('|') + QString::number(int(m_tab)) + QLatin1Char('|')
                        + QString::number(engine->proxyPort());
    if (!m_placeholderContent.rebuild(key))
        return;
    QWidget *shown = nullptr;
    if (m_content == Content::loading) {
        shown = new QWidget(m_placeholder);
        auto *column = new QVBoxLayout(shown);
        column->setSpacing(12);
        column->addStretch(1);
        column->addWidget(new SnowLoader(22, std::nullopt, shown), 0, Qt::AlignHCenter);
        column->addWidget(new SnowText(drift ? QStringLiteral("Loading drift findings\u2026")
                                             : QStringLiteral("Loading baselines\u2026"),
                                       Fonts::ksMeta(), [](const Palette &p) { return p.mutedForeground; },
                                       shown),
                          0, Qt::AlignHCenter);
        column->addStretch(1);
    } else {
        SecondaryButton *refreshButton = trafficparts::refreshButton([this] { reload(); }, nullptr);
        if (m_content == Content::driftEmpty)
            shown = new SnowEmptyState(QStringLiteral("arrow.triangle.branch"), QStringLiteral("No drift detected"),
                                       trafficlogic::driftEmptyMessage(), Palette::green(), false, refreshButton,
                                       m_placeholder);
        else
            shown = new SnowEmptyState(QStringLiteral("arrow.triangle.branch"), QStringLiteral("No baselines yet"),
                                       trafficlogic::baselinesEmptyMessage(engine->proxyPort()),
                                       Palette::indigo(), false, refreshButton, m_placeholder);
    }
    m_placeholderContent.show(m_placeholder, shown);
}
