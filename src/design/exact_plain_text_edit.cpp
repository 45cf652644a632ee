// The plain text editor that keeps its text exactly.
#include "design/exact_plain_text_edit.h"

#include "design/scroll_into_view.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <memory>

namespace {

// What the user typed, in the editor's form: a line break (Return, Shift+Return) is a line feed.
QString typedForm(QString text)
{
    return text.replace(QChar::ParagraphSeparator, QLatin1Char('\n')).replace(QChar::LineSeparator, QLatin1Char('\n'));
}

// The document's characters as they are, a line feed between blocks.
QString documentText(const QTextDocument *document)
{
    QString text;
    text.reserve(document->characterCount());
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (block != document->begin())
            text.append(QLatin1Char('\n'));
        text.append(block.text());
    }
    return text;
}

} // namespace

ExactPlainTextEdit::ExactPlainTextEdit(QWidget *parent) : QPlainTextEdit(parent)
{
    watch(document());
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &ExactPlainTextEdit::followCursor);
    // A wrapping editor shows every line from its start; only trailing blanks could reach past the width.
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this](int across) {
        if (across != 0 && lineWrapMode() != QPlainTextEdit::NoWrap)
            horizontalScrollBar()->setValue(0);
    });
}

void ExactPlainTextEdit::watch(QTextDocument *document)
{
    // The document's own undo would bring back its form of the text; this editor keeps the text's.
    document->setUndoRedoEnabled(false);
    connect(document, &QTextDocument::contentsChange, this, &ExactPlainTextEdit::documentChanged);
}

void ExactPlainTextEdit::setExactText(const QString &text)
{
    if (exactText() == text)
        return;
    auto [shown, ends] = LineEnds::split(text);
    m_quiet = true;
    if (!m_text.isEmpty() && shown.startsWith(m_text)) {
        // Added at the end (a variable): the cursor and what can be undone stay.
        QTextCursor end(document());
        end.movePosition(QTextCursor::End);
        end.insertText(shown.mid(m_text.size()));
        m_undo.resize(m_undo.size() - m_undone);
        m_undone = 0;
    } else {
        setPlainText(shown);
        m_undo.clear();
        m_undone = 0;
    }
    m_quiet = false;
    m_text = std::move(shown);
    m_ends = std::move(ends);
}

void ExactPlainTextEdit::adoptDocument(QTextDocument *document, const QString &text)
{
    auto [shown, ends] = LineEnds::split(text);
    m_quiet = true;
    setDocument(document);
    m_quiet = false;
    watch(document);
    m_text = std::move(shown);
    m_ends = std::move(ends);
    m_undo.clear();
    m_undone = 0;
}

void ExactPlainTextEdit::documentChanged(int position, int removed, int added)
{
    if (m_quiet)
        return;
    if (m_pasting) {
        Edit pasted = std::move(*m_pasting);
        m_pasting.reset();
        // A drop that moves text inside the editor removes it in the same change as the paste: that change is
        // read back from the document instead.
        if (m_text.size() - pasted.removed.size() + pasted.inserted.size() == document()->characterCount() - 1)
            return record(std::move(pasted), true);
    }
    record(typedEdit(position, removed, added), false);
}

ExactPlainTextEdit::Edit ExactPlainTextEdit::typedEdit(int position, int removed, int added) const
{
    const QTextDocument *doc = document();
    const qsizetype size = doc->characterCount() - 1;
    // A kept character as the document shows it: a line feed is a block or line break there.
    const auto same = [](QChar kept, QChar shown) {
        return kept == shown
            || (kept == QLatin1Char('\n') && (shown == QChar::ParagraphSeparator || shown == QChar::LineSeparator));
    };
    QTextCursor range(const_cast<QTextDocument *>(doc));
    range.setPosition(position);
    range.setPosition(std::min<qsizetype>(position + added, size), QTextCursor::KeepAnchor);
    qsizetype at = position;
    qsizetype gone = removed;
    QString shown = range.selectedText();
    // A change over the document's final block end is reported with counts one off: the change is then what
    // lies between the parts the text kept at both ends.
    if (at > m_text.size() || m_text.size() - gone + shown.size() != size) {
        const QString whole = documentText(doc);
        const qsizetype most = std::min(m_text.size(), whole.size());
        at = 0;
        while (at < std::min<qsizetype>(most, position) && same(m_text[at], whole[at]))
            ++at;
        qsizetype tail = 0;
        while (tail < most - at && same(m_text[m_text.size() - 1 - tail], whole[whole.size() - 1 - tail]))
            ++tail;
        gone = m_text.size() - at - tail;
        shown = whole.mid(at, whole.size() - at - tail);
    }
    // A change reported over more than was changed (a drop that moves text inside the editor removes and
    // inserts in one) keeps what it did not change as it was.
    qsizetype head = 0;
    while (head < gone && head < shown.size() && same(m_text[at + head], shown[head]))
        ++head;
    qsizetype tail = 0;
    while (tail < gone - head && tail < shown.size() - head
           && same(m_text[at + gone - 1 - tail], shown[shown.size() - 1 - tail]))
        ++tail;
    Edit edit;
    edit.at = at + head;
    edit.removed = m_text.mid(edit.at, gone - head - tail);
    edit.removedEnds = m_ends.slice(m_text, edit.at, edit.removed.size());
    edit.inserted = typedForm(shown.mid(head, shown.size() - head - tail));
    // One typed character (over a selection, maybe), what typing next to it joins for undo.
    const QString typed = typedForm(shown);
    edit.typed = !typed.isEmpty() && typed.size() <= 2 && !typed.contains(QLatin1Char('\n'));
    return edit;
}

void ExactPlainTextEdit::record(Edit edit, bool ownEnds)
{
    // A typed line break takes the end of the line it splits; a paste brings its own.
    if (ownEnds)
        m_ends.edit(m_text, edit.at, edit.removed.size(), edit.inserted, edit.insertedEnds);
    else
        m_ends.edit(m_text, edit.at, edit.removed.size(), edit.inserted);
    m_text.replace(edit.at, edit.removed.size(), edit.inserted);
    if (!ownEnds)
        edit.insertedEnds = m_ends.slice(m_text, edit.at, edit.inserted.size());
    m_undo.resize(m_undo.size() - m_undone);
    m_undone = 0;
    Edit *last = m_undo.empty() ? nullptr : &m_undo.back();
    // Typing runs on from where it stopped are one step of undo.
    if (edit.typed && edit.removed.isEmpty() && last && last->typed && last->at + last->inserted.size() == edit.at)
        last->inserted += edit.inserted;
    else
        m_undo.push_back(std::move(edit));
    emit exactTextEdited();
}

void ExactPlainTextEdit::apply(qsizetype at, qsizetype removedLength, const QString &inserted, const LineEnds &ends)
{
    QTextCursor cursor(document());
    cursor.setPosition(int(at));
    cursor.setPosition(int(at + removedLength), QTextCursor::KeepAnchor);
    m_quiet = true;
    cursor.insertText(inserted);
    m_quiet = false;
    m_ends.edit(m_text, at, removedLength, inserted, ends);
    m_text.replace(at, removedLength, inserted);
    setTextCursor(cursor);
    emit exactTextEdited();
}

void ExactPlainTextEdit::undoEdit()
{
    if (isReadOnly() || !canUndoEdit())
        return;
    ++m_undone;
    const Edit edit = m_undo[m_undo.size() - m_undone];
    apply(edit.at, edit.inserted.size(), edit.removed, edit.removedEnds);
}

void ExactPlainTextEdit::redoEdit()
{
    if (isReadOnly() || !canRedoEdit())
        return;
    const Edit edit = m_undo[m_undo.size() - m_undone];
    --m_undone;
    apply(edit.at, edit.removed.size(), edit.inserted, edit.insertedEnds);
}

QMimeData *ExactPlainTextEdit::createMimeDataFromSelection() const
{
    const QTextCursor cursor = textCursor();
    auto *data = new QMimeData;
    const qsizetype from = cursor.selectionStart();
    data->setText(m_ends.join(m_text, from, cursor.selectionEnd() - from));
    return data;
}

void ExactPlainTextEdit::insertFromMimeData(const QMimeData *source)
{
    if (isReadOnly() || !source || !source->hasText())
        return;
    const QString text = source->text();
    QTextCursor cursor = textCursor();
    const qsizetype from = cursor.selectionStart();
    const qsizetype to = cursor.selectionEnd();
    if (m_handOver && m_handOver(text)) {
        emit pasteHandedOver(m_ends.bodyPosition(m_text, from), m_ends.bodyPosition(m_text, to), text);
        return;
    }
    auto [shown, ends] = LineEnds::split(text);
    Edit edit;
    edit.at = from;
    edit.removed = m_text.mid(from, to - from);
    edit.removedEnds = m_ends.slice(m_text, from, to - from);
    edit.inserted = shown;
    edit.insertedEnds = std::move(ends);
    m_pasting = std::move(edit);
    cursor.insertText(shown);
    m_pasting.reset();
    setTextCursor(cursor);
    ensureCursorVisible();
}

void ExactPlainTextEdit::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Undo))
        return undoEdit();
    if (event->matches(QKeySequence::Redo))
        return redoEdit();
    // An editor that takes Tab as text lets the keyboard out as Qt's own do: Ctrl+Tab and Ctrl+Shift+Tab go
    // to the next and previous control, Shift+Tab to the one before; none of them types anything.
    if (!tabChangesFocus() && (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab)) {
        const bool back = event->key() == Qt::Key_Backtab || event->modifiers().testFlag(Qt::ShiftModifier);
        if (back || event->modifiers().testFlag(Qt::ControlModifier)) {
            QWidget::focusNextPrevChild(!back);
            return;
        }
    }
    QPlainTextEdit::keyPressEvent(event);
}

bool ExactPlainTextEdit::event(QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->matches(QKeySequence::Undo) || key->matches(QKeySequence::Redo)) {
            event->accept();
            return true;
        }
    }
    return QPlainTextEdit::event(event);
}

void ExactPlainTextEdit::contextMenuEvent(QContextMenuEvent *event)
{
    std::unique_ptr<QMenu> menu(createStandardContextMenu(event->pos()));
    for (QAction *action : menu->actions()) {
        const bool undo = action->objectName() == QLatin1String("edit-undo");
        if (!undo && action->objectName() != QLatin1String("edit-redo"))
            continue;
        disconnect(action, &QAction::triggered, nullptr, nullptr);
        action->setEnabled(!isReadOnly() && (undo ? canUndoEdit() : canRedoEdit()));
        connect(action, &QAction::triggered, this, undo ? &ExactPlainTextEdit::undoEdit : &ExactPlainTextEdit::redoEdit);
    }
    menu->exec(event->globalPos());
}

void ExactPlainTextEdit::followCursor()
{
    if (hasFocus())
        scrollIntoView(viewport(), cursorRect());
}
