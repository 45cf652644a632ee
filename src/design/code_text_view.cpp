// Wrapped, selectable code text painted line by line.
#include "design/code_text_view.h"

#include "design/palette.h"
#include "platform/background_work.h"

#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QInputMethod>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
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

CodeTextView::~CodeTextView()
{
    if (m_coloringStop)
        m_coloringStop->store(true);
}

void CodeTextView::setText(const QString &text)
{
    setText(text, Lines{});
}

void CodeTextView::setText(const QString &text, Lines lines)
{
    if (text == m_text)
        return;
    // A composition in progress was meant for the text going away: the input method is told to drop it too.
    if (!m_preedit.isEmpty()) {
        if (hasFocus())
            QGuiApplication::inputMethod()->reset();
        dropPreedit();
    }
    m_text = text;
    ++m_textChanges;
    // An editor keeps its cursor where it can (a text appended elsewhere leaves it in place); undo starts over.
    m_anchor = m_cursor = m_editable ? std::min(cursorPosition(), text.size()) : -1;
    m_undo.clear();
    m_undone = 0;
    forgetLayout(std::move(lines));
    if (m_maxLines > 0)
        m_top = std::min(m_top, std::max<qsizetype>(0, shownLineCount(width()) - 1));
    updateMicroFocus();
}

void CodeTextView::forgetLayout()
{
    forgetLayout(Lines{});
}

void CodeTextView::forgetLayout(Lines lines)
{
    m_lineStarts = std::move(lines.starts);
    m_crlf = lines.crlf;
    m_wraps.clear();
    m_shownCounts.clear();
    m_runs.clear();
    m_runsWhole = false;
    m_requestedDark = -1;
    recolor();
    updateGeometry();
    update();
}

bool CodeTextView::colored() const
{
    return !m_json || (m_runsWhole && m_runsDark == Palette::of(this).isDark);
}

void CodeTextView::recolor()
{
    if (!m_json || m_text.isEmpty())
        return;
    const bool dark = Palette::of(this).isDark;
    m_requestedDark = int(dark);
    const int generation = ++m_coloringGeneration;
    // A newer text or scheme ends the pass still colouring the older one.
    if (m_coloringStop)
        m_coloringStop->store(true);
    m_coloringStop.reset();
    if (m_text.size() <= SyncColoringLimit) {
        m_runs = JSONHighlighter::attributed(m_text, dark).runs;
        m_runsDark = dark;
        m_runsWhole = true;
        return;
    }
    // A long text is coloured on workers, from copies that share its characters: the part in view in one job,
    // the whole in another. Each result is taken only while it is still the newest.
    auto stop = std::make_shared<std::atomic<bool>>(false);
    m_coloringStop = stop;
    const auto [from, to] = visibleSpan();
    BackgroundWork::run(
        this, [text = m_text, from, to, dark, stop] { return JSONHighlighter::runs(text, from, to, dark, stop.get()); },
        [this, generation, dark](QList<ColoredRun> runs) {
            if (generation != m_coloringGeneration || m_runsWhole)
                return;
            m_runs = std::move(runs);
            m_runsDark = dark;
            update();
            emit visiblePartColored();
        });
    BackgroundWork::run(
        this, [text = m_text, dark, stop] { return JSONHighlighter::runs(text, 0, text.size(), dark, stop.get()); },
        [this, generation, dark](QList<ColoredRun> runs) {
            if (generation != m_coloringGeneration)
                return;
            m_runs = std::move(runs);
            m_runsDark = dark;
            m_runsWhole = true;
            m_coloringStop.reset();
            update();
            emit coloringFinished();
        });
}

std::pair<qsizetype, qsizetype> CodeTextView::visibleSpan() const
{
    const std::vector<qsizetype> &starts = lineStarts();
    qsizetype from = 0;
    qsizetype to = m_text.size();
    const QRect shown = visibleRegion().boundingRect();
    if (!shown.isEmpty() && width() >= charWidth()) {
        const Wrap &wrap = wrapFor(width());
        const qreal lh = lineHeight();
        const qsizetype first = std::clamp<qsizetype>(qsizetype(shown.top() / lh), 0, wrap.count() - 1);
        const qsizetype last = std::clamp<qsizetype>(qsizetype(shown.bottom() / lh), first, wrap.count() - 1);
        from = shownLine(wrap, first).start;
        to = shownLine(wrap, last).end;
    } else {
        // Not on screen yet: what the first screenful will show.
        to = starts.size() > 100 ? starts[100] : m_text.size();
    }
    // Scanning starts at the start of a line, where a token cannot be half way, unless that is far back.
    const auto line = std::upper_bound(starts.cbegin(), starts.cend(), from) - 1;
    if (from - *line <= VisiblePartLimit / 4)
        from = *line;
    return {from, std::min(to, from + VisiblePartLimit)};
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

const std::vector<qsizetype> &CodeTextView::lineStarts() const
{
    if (m_lineStarts.empty()) {
        Lines lines = linesOf(m_text);
        m_lineStarts = std::move(lines.starts);
        m_crlf = lines.crlf;
    }
    return m_lineStarts;
}

CodeTextView::Lines CodeTextView::linesOf(const QString &text)
{
    // One plain pass: lines are short, so a search call per line would cost more than the scan.
    Lines lines;
    const char16_t *data = reinterpret_cast<const char16_t *>(text.constData());
    const qsizetype size = text.size();
    lines.starts.reserve(std::size_t(size / 24 + 1));
    lines.starts.push_back(0);
    for (qsizetype i = 0; i < size; ++i) {
        if (data[i] == u'\n') {
            lines.starts.push_back(i + 1);
            lines.crlf = lines.crlf || (i > 0 && data[i - 1] == u'\r');
        }
    }
    return lines;
}

qsizetype CodeTextView::lineTextEnd(std::size_t line) const
{
    const std::vector<qsizetype> &starts = lineStarts();
    if (line + 1 >= starts.size())
        return m_text.size();
    // A carriage return before the line feed is part of the line end, not of the line.
    const qsizetype end = starts[line + 1] - 1;
    return m_crlf && end > starts[line] && m_text[end - 1] == QLatin1Char('\r') ? end - 1 : end;
}

qsizetype CodeTextView::shownLineCount(int width) const
{
    const int columns = columnsFor(width);
    for (const Wrap &wrap : m_wraps)
        if (wrap.columns == columns)
            return wrap.count();
    for (const auto &[known, count] : m_shownCounts)
        if (known == columns)
            return count;
    const std::vector<qsizetype> &starts = lineStarts();
    qsizetype count = 0;
    for (std::size_t line = 0; line < starts.size(); ++line)
        count += std::max<qsizetype>(1, (lineTextEnd(line) - starts[line] + columns - 1) / columns);
    if (m_shownCounts.size() >= 8)
        m_shownCounts.erase(m_shownCounts.begin());
    m_shownCounts.emplace_back(columns, count);
    return count;
}

const CodeTextView::Wrap &CodeTextView::wrapFor(int width) const
{
    const int columns = columnsFor(width);
    // Built for the widths the view is painted at, which change seldom.
    for (const Wrap &wrap : m_wraps)
        if (wrap.columns == columns)
            return wrap;
    if (m_wraps.size() >= 2)
        m_wraps.erase(m_wraps.begin());
    m_wraps.push_back(Wrap{});
    Wrap &wrap = m_wraps.back();
    wrap.columns = columns;
    const std::vector<qsizetype> &starts = lineStarts();
    wrap.firstShown.reserve(starts.size() + 1);
    qsizetype shown = 0;
    for (std::size_t line = 0; line < starts.size(); ++line) {
        wrap.firstShown.push_back(shown);
        const qsizetype length = lineTextEnd(line) - starts[line];
        shown += std::max<qsizetype>(1, (length + columns - 1) / columns);
    }
    wrap.firstShown.push_back(shown);
    return wrap;
}

CodeTextView::Span CodeTextView::shownLine(const Wrap &wrap, qsizetype shown) const
{
    // The line of the text that holds this shown line, then the piece of it.
    const auto after = std::upper_bound(wrap.firstShown.cbegin(), wrap.firstShown.cend() - 1, shown);
    const std::size_t line = std::size_t(std::distance(wrap.firstShown.cbegin(), after) - 1);
    const qsizetype start = lineStarts()[line] + (shown - wrap.firstShown[line]) * wrap.columns;
    return {start, std::min(start + wrap.columns, lineTextEnd(line))};
}

int CodeTextView::lineCount() const
{
    return int(wrapFor(width()).count());
}

int CodeTextView::heightForWidth(int width) const
{
    qsizetype lines = shownLineCount(width);
    if (m_editable) {
        lines = std::max<qsizetype>(lines, m_minLines);
        if (m_maxLines > 0)
            lines = std::min<qsizetype>(lines, m_maxLines);
    }
    // A widget can be no taller than this; a text with more lines is cut off at the end.
    return int(std::min<qreal>(qCeil(qreal(lines) * lineHeight()), QWIDGETSIZE_MAX));
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
    const qsizetype shown
        = std::clamp<qsizetype>(qsizetype(std::floor(pos.y() / lineHeight())) + m_top, 0, wrap.count() - 1);
    const Span span = shownLine(wrap, shown);
    const qsizetype column = qsizetype(std::round(std::max(0, pos.x()) / charWidth()));
    return std::min(span.start + column, span.end);
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
    updateMicroFocus();
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
    const bool useRuns = m_json && !m_runs.isEmpty() && m_runsDark == palette.isDark;
    const Wrap &wrap = wrapFor(width());
    const qreal lh = lineHeight();
    const qreal cw = charWidth();
    const QFontMetricsF metrics(m_font);
    // A view that scrolls inside draws its lines from m_top at the top edge.
    p.translate(0, -qreal(m_top) * lh);
    const qsizetype first = qsizetype(std::max(0.0, event->rect().top() / lh)) + m_top;
    const qsizetype last = std::min(wrap.count(), qsizetype(event->rect().bottom() / lh) + 1 + m_top);
    if (m_editable && m_text.isEmpty() && !m_placeholder.isEmpty()) {
        p.setPen(palette.faint);
        p.drawText(QPointF(0, metrics.ascent()), m_placeholder);
    }
    // A composition in progress shows at the cursor, underlined, the rest of the cursor's line moved on past it.
    qsizetype composingLine = -1;
    qsizetype composingAt = -1;
    if (m_editable && m_cursor >= 0 && (hasFocus() || !m_preedit.isEmpty())) {
        const auto [line, column] = shownPosition(m_cursor);
        const qreal x = qreal(column) * cw;
        if (!m_preedit.isEmpty()) {
            composingLine = line;
            composingAt = m_cursor;
            const qreal baseline = qreal(line) * lh + metrics.ascent();
            p.setPen(plain);
            p.drawText(QPointF(x, baseline), m_preedit);
            p.fillRect(QRectF(x, baseline + 2, qreal(m_preedit.size()) * cw, 1), plain);
        }
        if (hasFocus())
            p.fillRect(QRectF(x + qreal(m_preeditCursor) * cw, qreal(line) * lh, 1.5, lh), plain);
    }
    const qsizetype selFrom = std::min(m_anchor, m_cursor);
    const qsizetype selTo = std::max(m_anchor, m_cursor);
    const QColor selection = withOpacity(Palette::primary(), palette.isDark ? 0.45 : 0.25);

    // Runs are ordered: find the first one that reaches the first visible line.
    auto run = m_runs.cbegin();
    if (useRuns && first < last) {
        const qsizetype from = shownLine(wrap, first).start;
        run = std::upper_bound(m_runs.cbegin(), m_runs.cend(), from,
                               [](qsizetype offset, const ColoredRun &r) { return offset < r.start + r.length; });
    }
    for (qsizetype line = first; line < last; ++line) {
        const auto [start, end] = shownLine(wrap, line);
        const qreal y = qreal(line) * lh;
        if (selFrom >= 0 && selFrom < selTo && selFrom <= end && selTo > start) {
            const qsizetype a = std::max(selFrom, start);
            const qsizetype b = std::min(selTo, end);
            p.fillRect(QRectF((a - start) * cw, y, std::max<qreal>((b - a) * cw, 3), lh), selection);
        }
        const qreal baseline = y + metrics.ascent();
        const qreal composed = line == composingLine ? qreal(m_preedit.size()) * cw : 0;
        const auto drawPiece = [&](qsizetype from, qsizetype to, const QColor &color) {
            const qreal x = (from - start) * cw + (composed > 0 && from >= composingAt ? composed : 0);
            p.setPen(color);
            p.drawText(QPointF(x, baseline), m_text.mid(from, to - from));
        };
        const auto draw = [&](qsizetype from, qsizetype to, const QColor &color) {
            if (composed > 0 && from < composingAt && composingAt < to) {
                drawPiece(from, composingAt, color);
                drawPiece(composingAt, to, color);
            } else {
                drawPiece(from, to, color);
            }
        };
        if (!useRuns) {
            draw(start, end, plain);
            continue;
        }
        // What no run covers (outside the part coloured so far) is drawn plain.
        qsizetype at = start;
        while (at < end) {
            if (run == m_runs.cend() || run->start >= end) {
                draw(at, end, plain);
                break;
            }
            if (run->start > at) {
                draw(at, run->start, plain);
                at = run->start;
            }
            const qsizetype runEnd = run->start + run->length;
            const qsizetype pieceEnd = std::min(runEnd, end);
            if (pieceEnd > at) {
                draw(at, pieceEnd, run->color);
                at = pieceEnd;
            }
            if (runEnd > end)
                break;
            ++run;
        }
    }
}

void CodeTextView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    // A click ends the composition in progress, as in Qt's editors, before it places the cursor.
    commitPreedit();
    m_cursor = offsetAt(event->position().toPoint());
    if (!(m_editable && (event->modifiers() & Qt::ShiftModifier) && m_anchor >= 0))
        m_anchor = m_cursor;
    m_goalColumn = -1;
    update();
    updateMicroFocus();
}

void CodeTextView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton) || m_anchor < 0)
        return QWidget::mouseMoveEvent(event);
    m_cursor = offsetAt(event->position().toPoint());
    update();
    updateMicroFocus();
}

void CodeTextView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (!m_editable)
        return selectAll();
    commitPreedit();
    // An editor selects the word under the pointer.
    const qsizetype at = offsetAt(event->position().toPoint());
    m_anchor = wordBoundary(at, -1);
    m_cursor = wordBoundary(at, 1);
    update();
    updateMicroFocus();
}

void CodeTextView::keyPressEvent(QKeyEvent *event)
{
    if (m_editable && editKey(event))
        return;
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
    // Tab already moves on; Ctrl+Tab and Ctrl+Shift+Tab do too, as in the editors that take Tab as text.
    if ((event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab)
        && event->modifiers().testFlag(Qt::ControlModifier)) {
        focusNextPrevChild(event->key() == Qt::Key_Tab && !event->modifiers().testFlag(Qt::ShiftModifier));
        return;
    }
    QWidget::keyPressEvent(event);
}

bool CodeTextView::event(QEvent *event)
{
    if (event->type() == PaletteHost::changedEventType())
        update(); // recoloured for the new scheme when painted
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
        update(); // the cursor shows only with the focus
    // The application has asked the input method to commit as the focus left; what it did not take is dropped.
    // A popup (a context menu) leaves the composition be.
    if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::PopupFocusReason && reason != Qt::MenuBarFocusReason)
            dropPreedit();
    }
    if (event->type() == QEvent::ShortcutOverride && takesKey(static_cast<QKeyEvent *>(event))) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}
