// The traffic table shared by live traffic and history: column measures, the header, one row's
// painting, and the card panel that holds header, rule and body.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

class QAbstractScrollArea;
class QPainter;
class QStackedWidget;
struct Palette;

namespace traffictable {

inline constexpr int TimeWidth = 96;
inline constexpr int MethodWidth = 72;
inline constexpr int StatusWidth = 80;
inline constexpr int LatencyWidth = 80;
inline constexpr int InsetX = 12;
inline constexpr int InsetY = 8;
inline constexpr int HeaderHeight = 32;
inline constexpr int RowRadius = 8;
inline constexpr int MenuWidth = 190;

struct Row
{
    QString time;
    QString method; // one of the six names
    QString host;
    QString path;
    int status = 0;
    bool injected = false;
    int latencyMs = 0;
};

// The host and path texts a Host / Path cell of the given width shows. With too little room the host
// is shortened first, down to an ellipsis, and only then the path, in its middle, so the path's end
// stays in view.
struct AddressText
{
    QString host;
    QString path;
};
AddressText fitAddress(const QString &host, const QString &path, qreal room);

// Height of one row: the tallest cell plus the vertical insets.
int rowHeight();

// Paints one row into rect: the fill (when not transparent) behind the whole rect, then the cells.
void paintRow(QPainter &painter, const QRect &rect, const Row &row, const Palette &palette, const QColor &fill);

// The least Host / Path keeps while other columns can still give room: a host and the start of a path.
inline constexpr int AddressFloor = 160;

// How wide each column is in a row whose cells span innerWidth. With room to spare the fixed widths
// hold and Host / Path takes the rest. Short of room, Host / Path keeps AddressFloor while Time,
// then Method, Status and Latency shrink to what their texts and pills need, then Time drops out, then
// Latency when the path would get less than PathLeast (both are in the record's panel beside); only past
// that does Host / Path shrink.
struct ColumnWidths
{
    qreal time, method, address, status, latency;
};
ColumnWidths columnWidths(qreal innerWidth);
// What a whole time text needs; a narrower Time column is not drawn at all.
qreal timeLeast();
// What a whole latency needs; a narrower Latency column is not drawn at all.
qreal latencyLeast();

// The path room a Host / Path cell keeps however narrow the screen: the table beside an open record gets
// at least this, the record's panel giving way.
inline constexpr int PathLeast = 120;
// The narrowest row (inside its insets) that still shows a method, a status and PathLeast of the path
// after a shortened host.
qreal leastInnerWidth();

// Where each cell lies in a row of the given rect (after the insets).
struct Cells
{
    QRectF time, method, address, status, latency;
};
Cells cells(const QRect &rect);

} // namespace traffictable

// The header row: "Time", "Method", "Host / Path", "Status", "Latency".
class TrafficTableHeader final : public QWidget
{
    Q_OBJECT
public:
    explicit TrafficTableHeader(QWidget *parent = nullptr);
    QSize sizeHint() const override;

    // Room kept free at the trailing edge, so the columns end where the rows' do.
    int trailingInset() const { return m_trailingInset; }
    void setTrailingInset(int inset);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_trailingInset = 0;
};

// The table on its card: header, a 1-point rule in borderStrong, then the body pages.
class TrafficTablePanel final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int MarginX = 12;

    explicit TrafficTablePanel(QWidget *parent = nullptr);
    QStackedWidget *body() const { return m_body; }
    TrafficTableHeader *header() const { return m_header; }
    // The list of rows in the body: while its scroll bar takes room, the header gives up the same.
    void setRows(QAbstractScrollArea *rows);

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void alignHeader();

    QStackedWidget *m_body;
    TrafficTableHeader *m_header;
    QAbstractScrollArea *m_rows = nullptr;
};
