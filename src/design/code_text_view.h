// A selectable text in a monospaced font that wraps at any character (long URLs and minified JSON included)
// and paints only the lines in view; optionally JSON-coloured, optionally editable as plain text.
#pragma once

#include "design/json_highlighter.h"

#include <QFont>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

struct Palette;

class CodeTextView final : public QWidget
{
    Q_OBJECT
public:
    using ColorRole = std::function<QColor(const Palette &)>;
    // Texts up to this many UTF-16 units are coloured at once; longer ones off the GUI thread, the part in
    // view first, drawn in the plain colour meanwhile.
    static constexpr qsizetype SyncColoringLimit = 256 * 1024;
    // The most of a long text that the first look at the part in view scans.
    static constexpr qsizetype VisiblePartLimit = 64 * 1024;

    CodeTextView(const QFont &font, ColorRole plainColor, bool json, QWidget *parent = nullptr);
    ~CodeTextView() override;

    // Where the lines of a text start, and whether one ends in CRLF: for a long text, worked out off the
    // GUI thread by its owner and handed in with it.
    struct Lines
    {
        std::vector<qsizetype> starts;
        bool crlf = false;
    };
    static Lines linesOf(const QString &text);

    // Setting the text it already shows changes nothing (no relayout, no recolouring).
    void setText(const QString &text);
    void setText(const QString &text, Lines lines);
    QString text() const { return m_text; }
    // How many times the shown text really changed (tests).
    int textChanges() const { return m_textChanges; }
    // Whether the colours for the whole current text and scheme are in place.
    bool colored() const;
    // The colours in place: those of the part in view while the whole text's are on their way (tests).
    const QList<ColoredRun> &coloredRuns() const { return m_runs; }
    // The part of the text whose colours are worked out first: what is in view, from the start of its first line.
    std::pair<qsizetype, qsizetype> visibleSpan() const;
    // Lines at the current width.
    int lineCount() const;
    QString selectedText() const;
    void selectAll();

    // Editing. The text is kept exactly as typed: line ends stay CRLF or LF as they came, Return gives the new
    // line the line end of the line it splits. Each change the user makes is reported by textEdited.
    void setEditable(bool editable);
    bool isEditable() const { return m_editable; }
    // Shown lines of an editable view: at least `min`; at most `max`, the rest scrolled inside (0: every line).
    void setVisibleLines(int min, int max);
    void setPlaceholder(const QString &placeholder);
    QString placeholder() const { return m_placeholder; }
    qsizetype cursorPosition() const { return std::max<qsizetype>(m_cursor, 0); }
    void setCursorPosition(qsizetype position, bool keepAnchor = false);
    // Selects from `anchor` to `cursor` (either way round).
    void setSelection(qsizetype anchor, qsizetype cursor);
    // The input method's composition in progress, drawn at the cursor; not part of the text.
    QString preedit() const { return m_preedit; }
    // Replaces the selection with `text` at the cursor, as a paste would.
    void insertText(const QString &text);
    void undo();
    void redo();
    // The first shown line in view of a view that scrolls inside.
    qsizetype topLine() const { return m_top; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

signals:
    void textEdited();
    // The colours of the part of a long text in view arrived, ahead of the whole.
    void visiblePartColored();
    // The colours of a long text arrived.
    void coloringFinished();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    bool event(QEvent *event) override;

private:
    // The shown lines at one width: each line of the text takes ceil(length / columns) shown lines, at least
    // one. Kept as running totals per line of the text, so a long text is not walked again for each width.
    struct Wrap
    {
        int columns = 1;
        std::vector<qsizetype> firstShown; // per line of the text, then the total
        qsizetype count() const { return firstShown.back(); }
    };
    // A shown line: where it starts and ends in the text (the line break left out).
    struct Span
    {
        qsizetype start = 0;
        qsizetype end = 0;
    };
    const Wrap &wrapFor(int width) const;
    // How many shown lines the text takes at a width; cheaper than the whole wrap, for layouts trying widths.
    qsizetype shownLineCount(int width) const;
    const std::vector<qsizetype> &lineStarts() const;
    qsizetype lineTextEnd(std::size_t line) const;
    Span shownLine(const Wrap &wrap, qsizetype shown) const;
    int columnsFor(int width) const;
    qreal lineHeight() const;
    qreal charWidth() const;
    qsizetype offsetAt(const QPoint &pos) const;
    void recolor();
    // Where the text changed: line and wrap tables are made again, colours dropped.
    void forgetLayout();
    void forgetLayout(Lines lines);

    // Editing (code_text_view_editing.cpp).
    struct Edit
    {
        qsizetype at = 0;
        QString removed;
        QString inserted;
        qsizetype cursorBefore = 0;
        bool typed = false; // one typed character, joined with the typing next to it for undo
    };
    bool editKey(QKeyEvent *event);
    // Whether a shortcut of the window should leave this key to the editor.
    bool takesKey(const QKeyEvent *event) const;
    void replace(qsizetype from, qsizetype to, const QString &text, bool typed);
    void apply(qsizetype at, qsizetype removedLength, const QString &inserted, qsizetype cursor);
    qsizetype stepBack(qsizetype position) const;
    qsizetype stepForward(qsizetype position) const;
    qsizetype wordBoundary(qsizetype position, int direction) const;
    qsizetype verticalMove(qsizetype position, qsizetype shownLines) const;
    QString lineEndAt(qsizetype position) const;
    // Where a position is drawn: its shown line and column.
    std::pair<qsizetype, qsizetype> shownPosition(qsizetype position) const;
    qsizetype pageLines() const;
    // What an input method is told of the text: the cursor's line, cut to a reach each way. Positions it is
    // told or sends are counted from the start of this.
    std::pair<qsizetype, qsizetype> surroundingSpan() const;
    // Ends the composition in progress: the input method is asked to put in what it has, and whatever it
    // leaves is dropped.
    void commitPreedit();
    void dropPreedit();
    void scrollToCursor();
    void setTop(qsizetype top);

    QFont m_font;
    ColorRole m_plainColor;
    bool m_json;
    QString m_text;
    int m_textChanges = 0;
    // The runs for m_text in the scheme m_runsDark, in order, with gaps drawn plain: those of the part in view
    // until the whole text's arrive (m_runsWhole); empty while none apply.
    QList<ColoredRun> m_runs;
    bool m_runsDark = false;
    bool m_runsWhole = false;
    int m_coloringGeneration = 0;
    // Set to end the pass still colouring an older text or scheme.
    std::shared_ptr<std::atomic<bool>> m_coloringStop;
    int m_requestedDark = -1; // the scheme last asked of the highlighter: -1 none, 0 light, 1 dark
    mutable std::vector<qsizetype> m_lineStarts; // first UTF-16 unit of each line of the text; empty until asked
    mutable bool m_crlf = false; // some line ends in CRLF (found with the line starts)
    mutable std::vector<Wrap> m_wraps;
    mutable std::vector<std::pair<int, qsizetype>> m_shownCounts; // columns, shown lines
    qsizetype m_anchor = -1;
    qsizetype m_cursor = -1;
    bool m_editable = false;
    int m_minLines = 1;
    int m_maxLines = 0;
    qsizetype m_top = 0;
    qsizetype m_goalColumn = -1; // the column kept over Up and Down
    bool m_scrollPending = false; // the cursor is brought into view once the view has its new height
    QString m_placeholder;
    std::vector<Edit> m_undo;
    std::size_t m_undone = 0; // edits at the end of m_undo that were undone
    QString m_preedit;
    qsizetype m_preeditCursor = 0; // the input method's cursor within the composition
};
