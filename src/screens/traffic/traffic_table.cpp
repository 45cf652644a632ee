// Header, row painting and the card panel of the traffic table.
#include "screens/traffic/traffic_table.h"

#include "design/badges.h"
#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/palette.h"
#include "screens/traffic/traffic_logic.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QtMath>

namespace traffictable {

namespace {

QFont hostFont()
{
    return Fonts::inter(12);
}

QFont pathFont()
{
    return Fonts::inter(13);
}

QFont headerFont()
{
    return Fonts::inter(11);
}

} // namespace

AddressText fitAddress(const QString &host, const QString &path, qreal room)
{
    if (room <= 0)
        return {};
    const QFontMetricsF hostMetrics(hostFont());
    const QFontMetricsF pathMetrics(pathFont());
    const qreal pathWidth = pathMetrics.horizontalAdvance(path);
    if (hostMetrics.horizontalAdvance(host) + pathWidth <= room)
        return {host, path};
    // The host gives way first, keeping its end (the domain): the path is what tells one request from
    // the next on the same host.
    const QString ellipsis = QStringLiteral("\u2026");
    const qreal hostLeast = hostMetrics.horizontalAdvance(ellipsis);
    if (room - pathWidth >= hostLeast)
        return {hostMetrics.elidedText(host, Qt::ElideLeft, room - pathWidth), path};
    // Then the path loses its middle, keeping where it starts and the resource at its end.
    if (host.isEmpty())
        return {{}, pathMetrics.elidedText(path, Qt::ElideMiddle, room)};
    return {ellipsis, pathMetrics.elidedText(path, Qt::ElideMiddle, qMax<qreal>(0, room - hostLeast))};
}

int rowHeight()
{
    static const int height = [] {
        const qreal text = qMax(QFontMetricsF(pathFont()).height(), QFontMetricsF(Fonts::ksCodeSm()).height());
        const qreal pills = qMax(MethodBadge::sizeFor(QStringLiteral("DELETE")).height(),
                                 StatusChip::sizeFor(200, true).height());
        return qCeil(qMax(text, pills)) + 2 * InsetY;
    }();
    return height;
}

qreal timeLeast()
{
    // The engine's time texts are at most twelve characters ("23:59:59.999", "Dec 28 23:59"): shown
    // whole or not at all, never cut to a meaningless end.
    static const qreal least =
        qCeil(QFontMetricsF(Fonts::ksCodeSm()).horizontalAdvance(QStringLiteral("00:00:00.000"))) + 4;
    return least;
}

qreal latencyLeast()
{
    static const qreal least = qCeil(qMax(QFontMetricsF(Fonts::ksCodeSm()).horizontalAdvance(QStringLiteral("9999ms")),
                                          QFontMetricsF(headerFont()).horizontalAdvance(QStringLiteral("Latency"))));
    return least;
}

namespace {

qreal methodLeast()
{
    static const qreal least = qCeil(MethodBadge::sizeFor(QStringLiteral("DELETE")).width()) + 6;
    return least;
}

qreal statusLeast()
{
    static const qreal least = qCeil(StatusChip::sizeFor(503, true).width()) + 6;
    return least;
}

// The cell's own padding, the host's ellipsis and the path room.
qreal addressLeast()
{
    static const qreal least =
        qCeil(8 + QFontMetricsF(hostFont()).horizontalAdvance(QStringLiteral("\u2026")) + PathLeast);
    return least;
}

} // namespace

qreal leastInnerWidth()
{
    // Two characters to spare for where the path's middle is cut.
    return methodLeast() + statusLeast() + addressLeast() + qCeil(2 * QFontMetricsF(pathFont()).averageCharWidth());
}

ColumnWidths columnWidths(qreal innerWidth)
{
    ColumnWidths w{TimeWidth, MethodWidth, 0, StatusWidth, LatencyWidth};
    qreal shortfall = qMax<qreal>(0, w.time + w.method + w.status + w.latency + AddressFloor - innerWidth);
    // Each step takes what it can of the shortfall from one column, down to that column's least.
    const auto giveWay = [&shortfall](qreal &width, qreal least) {
        const qreal given = qMin(shortfall, qMax<qreal>(0, width - least));
        width -= given;
        shortfall -= given;
    };
    giveWay(w.time, timeLeast());
    giveWay(w.method, methodLeast());
    giveWay(w.status, statusLeast());
    giveWay(w.latency, latencyLeast());
    giveWay(w.time, 0);
    // Latency goes whole, and only when the path would otherwise get less than its least.
    if (innerWidth - w.time - w.method - w.status - w.latency < addressLeast())
        w.latency = 0;
    w.address = qMax<qreal>(0, innerWidth - w.time - w.method - w.status - w.latency);
    return w;
}

Cells cells(const QRect &rect)
{
    const QRectF inner = QRectF(rect).adjusted(InsetX, InsetY, -InsetX, -InsetY);
    const ColumnWidths w = columnWidths(inner.width());
    Cells c;
    qreal x = inner.left();
    c.time = QRectF(x, inner.top(), w.time, inner.height());
    x += w.time;
    c.method = QRectF(x, inner.top(), w.method, inner.height());
    x += w.method;
    c.address = QRectF(x, inner.top(), w.address, inner.height());
    x += w.address;
    c.status = QRectF(x, inner.top(), w.status, inner.height());
    x += w.status;
    c.latency = QRectF(x, inner.top(), w.latency, inner.height());
    return c;
}

void paintRow(QPainter &p, const QRect &rect, const Row &row, const Palette &palette, const QColor &fill)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    if (fill.alpha() > 0)
        p.fillPath(roundedRectPath(QRectF(rect), RowRadius), fill);
    const Cells c = cells(rect);

    const QFont code = Fonts::ksCodeSm();
    p.setFont(code);
    p.setPen(palette.mutedForeground);
    const QFontMetricsF codeMetrics(code);
    // A long time text keeps its end, where the clock time is.
    if (c.time.width() >= timeLeast())
        p.drawText(c.time, Qt::AlignLeft | Qt::AlignVCenter,
                   codeMetrics.elidedText(row.time, Qt::ElideLeft, c.time.width() - 4));

    const QSizeF badge = MethodBadge::sizeFor(row.method);
    MethodBadge::paint(p, QRectF(c.method.left(), c.method.center().y() - badge.height() / 2, badge.width(), badge.height()),
                       row.method);

    // Host and path share one baseline.
    const QFontMetricsF hostMetrics(hostFont());
    const QFontMetricsF pathMetrics(pathFont());
    const qreal ascent = qMax(hostMetrics.ascent(), pathMetrics.ascent());
    const qreal descent = qMax(hostMetrics.descent(), pathMetrics.descent());
    const qreal baseline = c.address.center().y() + (ascent - descent) / 2;
    const AddressText shown = fitAddress(row.host, row.path, c.address.width() - 8);
    p.setFont(hostFont());
    p.setPen(palette.mutedForeground);
    p.drawText(QPointF(c.address.left(), baseline), shown.host);
    p.setFont(pathFont());
    p.setPen(palette.foreground);
    p.drawText(QPointF(c.address.left() + hostMetrics.horizontalAdvance(shown.host), baseline), shown.path);

    const QSizeF chip = StatusChip::sizeFor(row.status, row.injected);
    StatusChip::paint(p, QRectF(c.status.left(), c.status.center().y() - chip.height() / 2, chip.width(), chip.height()),
                      row.status, row.injected, palette);

    if (c.latency.width() >= latencyLeast()) {
        p.setFont(code);
        p.setPen(trafficlogic::latencyColor(row.latencyMs, palette));
        p.drawText(c.latency, Qt::AlignRight | Qt::AlignVCenter, QString::number(row.latencyMs) + QStringLiteral("ms"));
    }
    p.restore();
}

} // namespace traffictable

TrafficTableHeader::TrafficTableHeader(QWidget *parent) : QWidget(parent)
{
    setFixedHeight(traffictable::HeaderHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize TrafficTableHeader::sizeHint() const
{
    return {400, traffictable::HeaderHeight};
}

void TrafficTableHeader::setTrailingInset(int inset)
{
    if (m_trailingInset == inset)
        return;
    m_trailingInset = inset;
    update();
}

void TrafficTableHeader::paintEvent(QPaintEvent *)
{
    using namespace traffictable;
    QPainter p(this);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setFont(headerFont());
    p.setPen(Palette::of(this).mutedForeground);
    // The header has no vertical insets: its cells are the row's cells over the full height.
    const Cells c = cells(rect().adjusted(0, -InsetY, -m_trailingInset, InsetY));
    if (c.time.width() >= timeLeast())
        p.drawText(c.time, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Time"));
    p.drawText(c.method, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Method"));
    p.drawText(c.address, Qt::AlignLeft | Qt::AlignVCenter,
               p.fontMetrics().elidedText(QStringLiteral("Host / Path"), Qt::ElideRight, int(c.address.width()) - 4));
    p.drawText(c.status, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Status"));
    if (c.latency.width() >= latencyLeast())
        p.drawText(c.latency, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Latency"));
}

namespace {

class StrongRule final : public QWidget
{
public:
    explicit StrongRule(QWidget *parent) : QWidget(parent)
    {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), Palette::of(this).borderStrong);
    }
};

} // namespace

TrafficTablePanel::TrafficTablePanel(QWidget *parent)
    : QWidget(parent), m_body(new QStackedWidget(this)), m_header(new TrafficTableHeader(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(MarginX, 12, MarginX, 12);
    layout->setSpacing(0);
    layout->addWidget(m_header);
    layout->addWidget(new StrongRule(this));
    layout->addWidget(m_body, 1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void TrafficTablePanel::setRows(QAbstractScrollArea *rows)
{
    m_rows = rows;
    rows->installEventFilter(this);
    rows->viewport()->installEventFilter(this);
    alignHeader();
}

bool TrafficTablePanel::eventFilter(QObject *watched, QEvent *event)
{
    if (m_rows && (watched == m_rows || watched == m_rows->viewport())) {
        switch (event->type()) {
        case QEvent::Resize:
        case QEvent::Move:
        case QEvent::Show:
        case QEvent::Hide:
            alignHeader();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TrafficTablePanel::alignHeader()
{
    // Rows are laid out across the viewport; what the list keeps beside it (the scroll bar) the header
    // keeps free too. A list the body does not show leaves the header whole.
    const QWidget *viewport = m_rows->viewport();
    const int beside = m_rows->isHidden() ? 0 : qMax(0, m_rows->width() - viewport->geometry().right() - 1);
    m_header->setTrailingInset(beside);
}

void TrafficTablePanel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    paintCardSurface(p, QRectF(rect()), Palette::of(this), 16);
}
