// A plain text editor that keeps its text exactly as it was given and typed.
#pragma once

#include "design/line_ends.h"

#include <QPlainTextEdit>

#include <functional>
#include <optional>
#include <vector>

// The document under a text editor changes what it holds: CRLF and a lone CR become a line break, and so do
// U+2028 and U+2029, and its plain text turns a no-break space into a space. This editor keeps the text
// itself beside the document, and only what the user types, pastes or drops changes it: copy and cut give
// the text's own characters and line ends, a paste puts in the clipboard's, and undo and redo bring back
// exactly what was there. Typing keeps the cursor in view in the scroll area around the editor.
class ExactPlainTextEdit final : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit ExactPlainTextEdit(QWidget *parent = nullptr);

    QString exactText() const { return m_ends.join(m_text); }
    // Fills the editor without emitting exactTextEdited. Text added at the end goes in there, leaving the
    // cursor and undo as they were; any other text starts undo over.
    void setExactText(const QString &text);
    // Takes a document built elsewhere for `text`, one block or line separator for each of its line ends.
    void adoptDocument(QTextDocument *document, const QString &text);

    void undoEdit();
    void redoEdit();
    bool canUndoEdit() const { return m_undone < m_undo.size(); }
    bool canRedoEdit() const { return m_undone > 0; }

    // A paste or drop of a text for which `test` holds is left to another editor: pasteHandedOver is
    // emitted instead.
    void setPasteHandOver(std::function<bool(const QString &)> test) { m_handOver = std::move(test); }

signals:
    void exactTextEdited();
    // A paste of `text` over `from`...`to` of the exact text, not made here.
    void pasteHandedOver(qsizetype from, qsizetype to, const QString &text);

protected:
    QMimeData *createMimeDataFromSelection() const override;
    void insertFromMimeData(const QMimeData *source) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    bool event(QEvent *event) override;

private:
    // One change of the text, in the editor's form (one line feed per line end) with the ends it took away
    // and brought.
    struct Edit
    {
        qsizetype at = 0;
        QString removed;
        LineEnds removedEnds;
        QString inserted;
        LineEnds insertedEnds;
        bool typed = false; // a typed character, joined with the typing next to it for undo
    };
    void watch(QTextDocument *document);
    void documentChanged(int position, int removed, int added);
    // The change the document reports, read back from it where the user typed.
    Edit typedEdit(int position, int removed, int added) const;
    void record(Edit edit, bool ownEnds);
    // Changes the document and the text together, without recording.
    void apply(qsizetype at, qsizetype removedLength, const QString &inserted, const LineEnds &ends);
    void followCursor();

    QString m_text; // one line feed per line end, each unit where the document has its own
    LineEnds m_ends;
    std::vector<Edit> m_undo;
    std::size_t m_undone = 0; // edits at the end of m_undo that were undone
    bool m_quiet = false;     // the document is changed by this editor, not the user
    std::optional<Edit> m_pasting;
    std::function<bool(const QString &)> m_handOver;
};
