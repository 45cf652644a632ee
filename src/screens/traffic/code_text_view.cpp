// Wrapped, selectable code text painted line by line.
#include "screens/traffic/code_text_view.h"

#include "design/palette.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QThread>
#include <QtMath>

#include <algorithm>

CodeTextView::CodeTextView(const QFont &font, ColorRole plainColor, bool json, QWidget *parent)
    : QWidget(parent), m_font(font), m_plainColor(std::move(plainColor)), m_json(json)
{
    setFont(font);
    setFocusPolicy(Qt::ClickFocus);
    setCursor(Qt::IBeamCursor);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

CodeTextView::~CodeTextView() = default;

void CodeTextView::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    ++m_textChanges;
    m_wraps.clear();
    m_anchor = m_cursor = -1;
    m_runs.clear();
    m_runsValid = false;
    m_requestedDark = -1;
    recolor();
    updateGeometry();
    update();
}

bool CodeTextView::colored() const
{
    return !m_json || (m_runsValid && m_runsDark == Palette::of(this).isDark);
}

void CodeTextView::recolor()
{
    if (!m_json || m_text.isEmpty())
        return;
    const bool dark = Palette::of(this).isDark;
    m_requestedDark = int(dark);
    const int generation = ++m_coloringGeneration;
    if (m_text.size() <= SyncColoringLimit) {
        m_runs = JSONHighlighter::attributed(m_text, dark).runs;
        m_runsDark = dark;
        m_runsValid = true;
        return;
    }
    // A long body is coloured on a worker; the result is taken only if it is still the newest.
    auto result = std::make_shared<QList<ColoredRun>>();
    const QString text = m_text;
    QThread *worker = QThread::create([text, dark, result] { *result = JSONHighlighter::attributed(text, dark).runs; });
    connect(worker, &QThread::finished, this, [this, generation, dark, result] {
        if (generation != m_coloringGeneration)
            return;
        m_runs = std::move(*result);
        m_runsDark = dark;
        m_runsValid = true;
        update();
        emit coloringFinished();
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
}

qreal CodeTextView::lineHeight() const
{
    return QFontMetricsF(m_font).lineSpacing();
}

qreal CodeTextView::charWidth() const
{
    return QFontMetricsF(m_font).horizontalAdvance(QLatin1Char('M'));
}

int CodeTextView::columnsFor(int width) const
{
    return std::max(1, int(std::floor(width / charWidth())));
}

const CodeTextView::Wrap &CodeTextView::wrapFor(int width) const
{
    const int columns = columnsFor(width);
    // Layouts ask for a few widths in turn; each is a pass over the whole text, so a few are kept.
    for (const Wrap &wrap : m_wraps)
        if (wrap.columns == columns)
            return wrap;
    if (m_wraps.size() >= 4)
        m_wraps.erase(m_wraps.begin());
    m_wraps.push_back(Wrap{});
    Wrap &wrap = m_wraps.back();
    wrap.width = width;
    wrap.columns = columns;
    const QChar *data = m_text.constData();
    const qsizetype size = m_text.size();
    qsizetype lineStart = 0;
    wrap.starts.push_back(0);
    for (qsizetype i = 0; i < size; ++i) {
        if (data[i] == QLatin1Char('\n')) {
            lineStart = i + 1;
            wrap.starts.push_back(lineStart);
        } else if (i + 1 - lineStart > columns && i > lineStart) {
            lineStart = i;
            wrap.starts.push_back(lineStart);
        }
    }
    return wrap;
}

qsizetype CodeTextView::lineEnd(const Wrap &wrap, std::size_t line) const
{
    qsizetype end = line + 1 < wrap.starts.size() ? wrap.starts[line + 1] : m_text.size();
    if (end > wrap.starts[line] && end <= m_text.size() && m_text.at(end - 1) == QLatin1Char('\n'))
        --end;
    return end;
}

int CodeTextView::lineCount() const
{
    return int(wrapFor(width()).starts.size());
}

int CodeTextView::heightForWidth(int width) const
{
    return qCeil(qreal(wrapFor(width).starts.size()) * lineHeight());
}

QSize CodeTextView::sizeHint() const
{
    const int w = std::max(width(), 120);
    return {w, heightForWidth(w)};
}

QSize CodeTextView::minimumSizeHint() const
{
    return {40, qCeil(lineHeight())};
}

qsizetype CodeTextView::offsetAt(const QPoint &pos) const
{
    const Wrap &wrap = wrapFor(width());
    const qsizetype line = std::clamp<qsizetype>(qsizetype(pos.y() / lineHeight()), 0, qsizetype(wrap.starts.size()) - 1);
    const qsizetype start = wrap.starts[std::size_t(line)];
    const qsizetype end = lineEnd(wrap, std::size_t(line));
    const qsizetype column = qsizetype(std::round(std::max(0, pos.x()) / charWidth()));
    return std::min(start + column, end);
}

QString CodeTextView::selectedText() const
{
    if (m_anchor < 0 || m_cursor < 0 || m_anchor == m_cursor)
        return {};
    const qsizetype from = std::min(m_anchor, m_cursor);
    return m_text.mid(from, std::max(m_anchor, m_cursor) - from);
}

void CodeTextView::selectAll()
{
    m_anchor = 0;
    m_cursor = m_text.size();
    update();
}

void CodeTextView::paintEvent(QPaintEvent *event)
{
    QPainter p(this);
    p.setFont(m_font);
    p.setRenderHint(QPainter::TextAntialiasing);
    const Palette palette = Palette::of(this);
    const QColor plain = m_plainColor ? m_plainColor(palette) : palette.foreground;
    // The scheme in force may differ from the one the colours were asked for (the view was
    // re-parented, or the theme changed).
    if (m_json && !m_text.isEmpty() && m_requestedDark != int(palette.isDark))
        recolor();
    const bool useRuns = m_json && m_runsValid && m_runsDark == palette.isDark;
    const Wrap &wrap = wrapFor(width());
    const qreal lh = lineHeight();
    const qreal cw = charWidth();
    const QFontMetricsF metrics(m_font);
    const std::size_t first = std::size_t(std::max(0.0, event->rect().top() / lh));
    const std::size_t last = std::min(wrap.starts.size(), std::size_t(event->rect().bottom() / lh) + 1);
    const qsizetype selFrom = std::min(m_anchor, m_cursor);
    const qsizetype selTo = std::max(m_anchor, m_cursor);
    const QColor selection = withOpacity(Palette::primary(), palette.isDark ? 0.45 : 0.25);

    // Runs are ordered: find the first one that reaches the first visible line.
    auto run = m_runs.cbegin();
    if (useRuns && first < wrap.starts.size()) {
        const qsizetype from = wrap.starts[first];
        run = std::upper_bound(m_runs.cbegin(), m_runs.cend(), from,
                               [](qsizetype offset, const ColoredRun &r) { return offset < r.start + r.length; });
    }
    for (std::size_t line = first; line < last; ++line) {
        const qsizetype start = wrap.starts[line];
        const qsizetype end = lineEnd(wrap, line);
        const qreal y = qreal(line) * lh;
        if (selFrom >= 0 && selFrom < selTo && selFrom <= end && selTo > start) {
            const qsizetype a = std::max(selFrom, start);
            const qsizetype b = std::min(selTo, end);
            p.fillRect(QRectF((a - start) * cw, y, std::max<qreal>((b - a) * cw, 3), lh), selection);
        }
        const qreal baseline = y + metrics.ascent();
        if (!useRuns) {
            p.setPen(plain);
            p.drawText(QPointF(0, baseline), m_text.mid(start, end - start));
            continue;
        }
        qsizetype at = start;
        while (at < end && run != m_runs.cend()) {
            const qsizetype runEnd = run->start + run->length;
            const qsizetype pieceEnd = std::min(runEnd, end);
            if (pieceEnd > at) {
                p.setPen(run->color);
                p.drawText(QPointF((at - start) * cw, baseline), m_text.mid(at, pieceEnd - at));
                at = pieceEnd;
            }
            if (runEnd <= end)
                ++run;
            else
                break;
        }
    }
}

void CodeTextView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_anchor = m_cursor = offsetAt(event->position().toPoint());
    update();
}

void CodeTextView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton) || m_anchor < 0)
        return QWidget::mouseMoveEvent(event);
    m_cursor = offsetAt(event->position().toPoint());
    update();
}

void CodeTextView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        selectAll();
}

void CodeTextView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        const QString selected = selectedText();
        if (!selected.isEmpty())
            QApplication::clipboard()->setText(selected);
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool CodeTextView::event(QEvent *event)
{
    if (event->type() == PaletteHost::changedEventType())
        update(); // recoloured for the new scheme when painted
    return QWidget::event(event);
}
