// Editing in the line-painting code view: the cursor, the keys, undo and the view following the cursor.
#include "design/code_text_view.h"

#include "design/scroll_into_view.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QInputMethod>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QWheelEvent>

#include <algorithm>
#include <utility>

namespace {

bool isWordCharacter(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// Whether a key's text is something to type: its first character, read whole (an emoji outside the BMP is a
// surrogate pair, neither half of which is printable alone).
bool isTypedText(const QString &text)
{
    if (text.isEmpty())
        return false;
    const char32_t first = text.size() > 1 && text[0].isHighSurrogate() && text[1].isLowSurrogate()
        ? QChar::surrogateToUcs4(text[0], text[1])
        : text[0].unicode();
    return QChar::isPrint(first);
}

// Around the cursor, at most this many UTF-16 units each way of its line are told to an input method: a
// line of minified JSON may run to megabytes.
constexpr qsizetype SurroundingReach = 1024;

// Keys an editor takes for itself, also where the window has a shortcut on them.
bool isEditingKey(const QKeyEvent *event)
{
    static const QKeySequence::StandardKey keys[] = {QKeySequence::Copy, QKeySequence::Cut, QKeySequence::Paste,
                                                     QKeySequence::Undo, QKeySequence::Redo, QKeySequence::SelectAll};
    for (QKeySequence::StandardKey key : keys)
        if (event->matches(key))
            return true;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return true;
    default:
        break;
    }
    return isTypedText(event->text()) && !(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier));
}

} // namespace

void CodeTextView::setEditable(bool editable)
{
    if (editable == m_editable)
        return;
    m_editable = editable;
    setAttribute(Qt::WA_InputMethodEnabled, editable);
    setFocusPolicy(editable ? Qt::StrongFocus : Qt::ClickFocus);
    if (editable && m_cursor < 0)
        m_anchor = m_cursor = 0;
    updateGeometry();
    update();
}

void CodeTextView::setVisibleLines(int min, int max)
{
    m_minLines = std::max(1, min);
    m_maxLines = std::max(0, max);
    setTop(m_top);
    updateGeometry();
}

void CodeTextView::setPlaceholder(const QString &placeholder)
{
    m_placeholder = placeholder;
    update();
}

void CodeTextView::setCursorPosition(qsizetype position, bool keepAnchor)
{
    m_cursor = std::clamp<qsizetype>(position, 0, m_text.size());
    if (!keepAnchor || m_anchor < 0)
        m_anchor = m_cursor;
    m_goalColumn = -1;
    scrollToCursor();
    update();
    updateMicroFocus();
}

void CodeTextView::insertText(const QString &text)
{
    const qsizetype from = std::min(cursorPosition(), std::max<qsizetype>(m_anchor, 0));
    const qsizetype to = std::max(cursorPosition(), std::max<qsizetype>(m_anchor, 0));
    if (from != to || !text.isEmpty())
        replace(from, to, text, false);
}

void CodeTextView::replace(qsizetype from, qsizetype to, const QString &text, bool typed)
{
    Edit edit{from, m_text.mid(from, to - from), text, cursorPosition(), typed};
    m_undo.resize(m_undo.size() - m_undone);
    m_undone = 0;
    // Typing runs on from where it stopped are one step of undo.
    if (typed && edit.removed.isEmpty() && !m_undo.empty() && m_undo.back().typed
        && m_undo.back().at + m_undo.back().inserted.size() == from)
        m_undo.back().inserted += text;
    else
        m_undo.push_back(std::move(edit));
    apply(from, to - from, text, from + text.size());
    emit textEdited();
}

void CodeTextView::apply(qsizetype at, qsizetype removedLength, const QString &inserted, qsizetype cursor)
{
    m_text.replace(at, removedLength, inserted);
    m_anchor = m_cursor = cursor;
    m_goalColumn = -1;
    forgetLayout();
    scrollToCursor();
    updateMicroFocus();
}

void CodeTextView::undo()
{
    if (m_undone >= m_undo.size())
        return;
    ++m_undone;
    const Edit &edit = m_undo[m_undo.size() - m_undone];
    apply(edit.at, edit.inserted.size(), edit.removed, edit.cursorBefore);
    emit textEdited();
}

void CodeTextView::redo()
{
    if (m_undone == 0)
        return;
    const Edit &edit = m_undo[m_undo.size() - m_undone];
    --m_undone;
    apply(edit.at, edit.removed.size(), edit.inserted, edit.at + edit.inserted.size());
    emit textEdited();
}

qsizetype CodeTextView::stepBack(qsizetype position) const
{
    if (position <= 0)
        return 0;
    const qsizetype before = position - 1;
    // A CRLF line end and a surrogate pair are each one step.
    if (before > 0 && ((m_text[before] == QLatin1Char('\n') && m_text[before - 1] == QLatin1Char('\r'))
                       || (m_text[before].isLowSurrogate() && m_text[before - 1].isHighSurrogate())))
        return before - 1;
    return before;
}

qsizetype CodeTextView::stepForward(qsizetype position) const
{
    if (position >= m_text.size())
        return m_text.size();
    if (position + 1 < m_text.size()
        && ((m_text[position] == QLatin1Char('\r') && m_text[position + 1] == QLatin1Char('\n'))
            || (m_text[position].isHighSurrogate() && m_text[position + 1].isLowSurrogate())))
        return position + 2;
    return position + 1;
}

qsizetype CodeTextView::wordBoundary(qsizetype position, int direction) const
{
    if (direction < 0) {
        while (position > 0 && isWordCharacter(m_text[position - 1]))
            --position;
    } else {
        while (position < m_text.size() && isWordCharacter(m_text[position]))
            ++position;
    }
    return position;
}

std::pair<qsizetype, qsizetype> CodeTextView::shownPosition(qsizetype position) const
{
    const Wrap &wrap = wrapFor(width());
    const std::vector<qsizetype> &starts = lineStarts();
    const std::size_t line = std::size_t(std::upper_bound(starts.cbegin(), starts.cend(), position) - starts.cbegin() - 1);
    const qsizetype length = lineTextEnd(line) - starts[line];
    const qsizetype column = std::min(position - starts[line], length);
    // A position where a line wraps is drawn at the start of the next shown line, the line's end on its last.
    const qsizetype pieces = std::max<qsizetype>(1, (length + wrap.columns - 1) / wrap.columns);
    const qsizetype piece = std::min(column / wrap.columns, pieces - 1);
    return {wrap.firstShown[line] + piece, column - piece * wrap.columns};
}

qsizetype CodeTextView::verticalMove(qsizetype position, qsizetype shownLines) const
{
    const Wrap &wrap = wrapFor(width());
    const auto [shown, column] = shownPosition(position);
    const qsizetype target = shown + shownLines;
    if (target < 0)
        return 0;
    if (target >= wrap.count())
        return m_text.size();
    const Span span = shownLine(wrap, target);
    const qsizetype goal = m_goalColumn >= 0 ? m_goalColumn : column;
    qsizetype to = span.start + std::min(goal, span.end - span.start);
    // The end of a wrapped piece is the start of the next; stay on the line aimed at.
    if (to > span.start && shownPosition(to).first != target)
        to = stepBack(to);
    return to;
}

QString CodeTextView::lineEndAt(qsizetype position) const
{
    const auto endOf = [this](qsizetype feed) {
        return feed > 0 && m_text[feed - 1] == QLatin1Char('\r') ? QStringLiteral("\r\n") : QStringLiteral("\n");
    };
    const qsizetype own = m_text.indexOf(QLatin1Char('\n'), position);
    if (own >= 0)
        return endOf(own);
    // The last line has no end of its own: it takes that of the line before it.
    const qsizetype previous = position > 0 ? m_text.lastIndexOf(QLatin1Char('\n'), position - 1) : -1;
    return previous >= 0 ? endOf(previous) : QStringLiteral("\n");
}

qsizetype CodeTextView::pageLines() const
{
    const int shown = m_maxLines > 0 ? height() : visibleRegion().boundingRect().height();
    return std::max<qsizetype>(1, qsizetype(shown / lineHeight()) - 1);
}

void CodeTextView::setTop(qsizetype top)
{
    const qsizetype visible = m_maxLines > 0 ? std::max<qsizetype>(1, qsizetype(height() / lineHeight())) : 0;
    const qsizetype most = m_maxLines > 0 ? std::max<qsizetype>(0, wrapFor(width()).count() - visible) : 0;
    top = std::clamp<qsizetype>(top, 0, most);
    if (top != m_top) {
        m_top = top;
        update();
        updateMicroFocus();
    }
}

void CodeTextView::scrollToCursor()
{
    if (m_cursor < 0 || !m_editable)
        return;
    const qreal lh = lineHeight();
    const auto [line, column] = shownPosition(m_cursor);
    if (m_maxLines > 0) {
        const qsizetype visible = std::max<qsizetype>(1, qsizetype(height() / lh));
        if (line < m_top)
            setTop(line);
        else if (line >= m_top + visible)
            setTop(line - visible + 1);
        return;
    }
    // A view as tall as its text is scrolled by the scroll area around it: now, and again once it has been
    // given the height its text now takes (a paste may have made it much taller).
    m_scrollPending = height() != heightForWidth(width());
    scrollIntoView(this, QRect(int(qreal(column) * charWidth()), int(qreal(line) * lh), 2, int(lh)));
}

void CodeTextView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The scroll area around may still be taking the new height in: the cursor is looked for a turn later.
    if (m_scrollPending)
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (std::exchange(m_scrollPending, false))
                    scrollToCursor();
            },
            Qt::QueuedConnection);
}

bool CodeTextView::editKey(QKeyEvent *event)
{
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool control = event->modifiers() & Qt::ControlModifier;
    const qsizetype cursor = cursorPosition();
    const qsizetype anchor = std::max<qsizetype>(m_anchor, 0);
    const qsizetype from = std::min(cursor, anchor);
    const qsizetype to = std::max(cursor, anchor);
    const auto moveTo = [&](qsizetype position, bool keepGoal = false) {
        const qsizetype goal = keepGoal ? (m_goalColumn >= 0 ? m_goalColumn : shownPosition(cursor).second) : -1;
        setCursorPosition(position, shift);
        m_goalColumn = goal;
        return true;
    };
    const auto removeOr = [&](qsizetype a, qsizetype b) {
        if (from != to)
            replace(from, to, {}, false);
        else if (a != b)
            replace(a, b, {}, false);
        return true;
    };

    if (event->matches(QKeySequence::Undo)) {
        undo();
        return true;
    }
    if (event->matches(QKeySequence::Redo)) {
        redo();
        return true;
    }
    if (event->matches(QKeySequence::Cut)) {
        if (from != to) {
            QApplication::clipboard()->setText(m_text.mid(from, to - from));
            replace(from, to, {}, false);
        }
        return true;
    }
    if (event->matches(QKeySequence::Paste)) {
        insertText(QApplication::clipboard()->text());
        return true;
    }
    const std::vector<qsizetype> &starts = lineStarts();
    const std::size_t line = std::size_t(std::upper_bound(starts.cbegin(), starts.cend(), cursor) - starts.cbegin() - 1);
    switch (event->key()) {
    case Qt::Key_Left:
        if (control)
            return moveTo(wordBoundary(std::max<qsizetype>(0, stepBack(cursor)), -1));
        return moveTo(from != to && !shift ? from : stepBack(cursor));
    case Qt::Key_Right:
        if (control)
            return moveTo(wordBoundary(stepForward(cursor), 1));
        return moveTo(from != to && !shift ? to : stepForward(cursor));
    case Qt::Key_Up:
        return moveTo(verticalMove(cursor, -1), true);
    case Qt::Key_Down:
        return moveTo(verticalMove(cursor, 1), true);
    case Qt::Key_PageUp:
        return moveTo(verticalMove(cursor, -pageLines()), true);
    case Qt::Key_PageDown:
        return moveTo(verticalMove(cursor, pageLines()), true);
    case Qt::Key_Home:
        return moveTo(control ? 0 : starts[line]);
    case Qt::Key_End:
        return moveTo(control ? m_text.size() : lineTextEnd(line));
    case Qt::Key_Backspace:
        return removeOr(control ? wordBoundary(stepBack(cursor), -1) : stepBack(cursor), cursor);
    case Qt::Key_Delete:
        return removeOr(cursor, control ? wordBoundary(stepForward(cursor), 1) : stepForward(cursor));
    case Qt::Key_Return:
    case Qt::Key_Enter:
        replace(from, to, lineEndAt(from), false);
        return true;
    default:
        break;
    }
    const QString text = event->text();
    if (!isTypedText(text) || (event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)))
        return false;
    replace(from, to, text, true);
    return true;
}

void CodeTextView::wheelEvent(QWheelEvent *event)
{
    const qsizetype before = m_top;
    if (m_maxLines > 0)
        setTop(m_top - event->angleDelta().y() / 40);
    // At an end, or as tall as its text, the view leaves the wheel to the page around it.
    if (m_top == before)
        event->ignore();
}

void CodeTextView::inputMethodEvent(QInputMethodEvent *event)
{
    if (!m_editable)
        return event->ignore();
    // A selection is counted from where the text told to the input method started before this event,
    // not from where a commit has since moved it.
    const qsizetype origin = surroundingSpan().first;
    // As Qt's editors do: a commit or a replacement takes the selection's place, and the range it names,
    // relative to the cursor, is replaced by the commit.
    const QString &commit = event->commitString();
    if (!commit.isEmpty() || event->replacementLength() > 0) {
        qsizetype from = std::min(cursorPosition(), std::max<qsizetype>(m_anchor, 0));
        qsizetype to = std::max(cursorPosition(), std::max<qsizetype>(m_anchor, 0));
        if (event->replacementStart() != 0 || event->replacementLength() > 0) {
            from = std::clamp<qsizetype>(from + event->replacementStart(), 0, m_text.size());
            to = std::clamp<qsizetype>(from + event->replacementLength(), from, m_text.size());
            if (m_anchor != m_cursor) {
                // The selection goes first, then the range, which is counted from where the cursor then is.
                const qsizetype selFrom = std::min(cursorPosition(), m_anchor);
                const qsizetype selTo = std::max(cursorPosition(), m_anchor);
                replace(selFrom, selTo, {}, false);
                from = std::clamp<qsizetype>(selFrom + event->replacementStart(), 0, m_text.size());
                to = std::clamp<qsizetype>(from + event->replacementLength(), from, m_text.size());
            }
        }
        if (from != to || !commit.isEmpty())
            replace(from, to, commit, commit.size() <= 2);
    }
    m_preedit = event->preeditString();
    m_preeditCursor = m_preedit.size();
    for (const QInputMethodEvent::Attribute &attribute : event->attributes()) {
        if (attribute.type == QInputMethodEvent::Cursor)
            m_preeditCursor = std::clamp<qsizetype>(attribute.start, 0, m_preedit.size());
        else if (attribute.type == QInputMethodEvent::Selection && m_preedit.isEmpty()) {
            setSelection(origin + attribute.start, origin + attribute.start + attribute.length);
        }
    }
    update();
    updateMicroFocus();
    event->accept();
}

void CodeTextView::commitPreedit()
{
    if (m_preedit.isEmpty())
        return;
    QGuiApplication::inputMethod()->commit();
    dropPreedit();
}

void CodeTextView::dropPreedit()
{
    if (m_preedit.isEmpty())
        return;
    m_preedit.clear();
    m_preeditCursor = 0;
    update();
    updateMicroFocus();
}

void CodeTextView::setSelection(qsizetype anchor, qsizetype cursor)
{
    m_anchor = std::clamp<qsizetype>(anchor, 0, m_text.size());
    m_cursor = std::clamp<qsizetype>(cursor, 0, m_text.size());
    m_goalColumn = -1;
    scrollToCursor();
    update();
    updateMicroFocus();
}

std::pair<qsizetype, qsizetype> CodeTextView::surroundingSpan() const
{
    const std::vector<qsizetype> &starts = lineStarts();
    const qsizetype cursor = cursorPosition();
    const auto line = std::size_t(std::upper_bound(starts.cbegin(), starts.cend(), cursor) - starts.cbegin() - 1);
    const qsizetype anchor = std::clamp<qsizetype>(m_anchor, starts[line], lineTextEnd(line));
    qsizetype from = std::max(starts[line], std::min(cursor, anchor) - SurroundingReach);
    qsizetype to = std::min(lineTextEnd(line), std::max(cursor, anchor) + SurroundingReach);
    // Never half a surrogate pair at either end.
    if (from > starts[line] && m_text[from].isLowSurrogate())
        --from;
    if (to < lineTextEnd(line) && m_text[to].isLowSurrogate())
        ++to;
    return {from, to};
}

QVariant CodeTextView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    switch (query) {
    case Qt::ImEnabled:
        return m_editable;
    case Qt::ImCursorRectangle: {
        const auto [line, column] = shownPosition(cursorPosition());
        const qreal lh = lineHeight();
        return QRectF(qreal(column + m_preeditCursor) * charWidth(), qreal(line - m_top) * lh, 1, lh).toRect();
    }
    case Qt::ImHints:
        return int(Qt::ImhMultiLine);
    case Qt::ImFont:
        return m_font;
    case Qt::ImSurroundingText: {
        const auto [from, to] = surroundingSpan();
        return m_text.mid(from, to - from);
    }
    case Qt::ImCursorPosition:
        return int(cursorPosition() - surroundingSpan().first);
    case Qt::ImAnchorPosition:
        // An anchor on another line lies outside the surrounding text, as in Qt's editors.
        return int(std::max<qsizetype>(m_anchor, 0) - surroundingSpan().first);
    case Qt::ImCurrentSelection:
        return selectedText();
    case Qt::ImTextBeforeCursor: {
        // Across lines, as far as the reach.
        qsizetype from = std::max<qsizetype>(0, cursorPosition() - SurroundingReach);
        if (from > 0 && m_text[from].isLowSurrogate())
            --from;
        return m_text.mid(from, cursorPosition() - from);
    }
    case Qt::ImTextAfterCursor: {
        qsizetype to = std::min(m_text.size(), cursorPosition() + SurroundingReach);
        if (to < m_text.size() && m_text[to].isLowSurrogate())
            ++to;
        return m_text.mid(cursorPosition(), to - cursorPosition());
    }
    case Qt::ImMaximumTextLength:
        return QVariant(); // no limit
    default:
        return QWidget::inputMethodQuery(query);
    }
}

bool CodeTextView::takesKey(const QKeyEvent *event) const
{
    return m_editable && isEditingKey(event);
}
