// The shape of a body's lines: their ends while an editor that keeps one line feed per line end holds it,
// and whether one is too long for an editor that lays out whole lines.
#pragma once

#include <QString>

#include <utility>
#include <vector>

// Whether some line of `text` is longer than `limit` UTF-16 units.
bool hasLineLongerThan(const QString &text, qsizetype limit);

// The editor sees every CRLF, LF and lone CR as a line feed; these remember which each was, follow the
// edits made in the editor, and give the body back with each line end as it came. A new line takes the end
// of the line it splits.
class LineEnds final
{
public:
    // The editor's text for `body` (every line end a line feed) and the ends it had.
    static std::pair<QString, LineEnds> split(const QString &body);

    // Follows an edit of the editor's text `before`: `removed` units at `position` replaced by `inserted`.
    void edit(const QString &before, qsizetype position, qsizetype removed, const QString &inserted);
    // Follows an edit whose new lines bring their own ends: `insertedEnds` as split from the inserted text.
    void edit(const QString &before, qsizetype position, qsizetype removed, const QString &inserted,
              const LineEnds &insertedEnds);
    // The ends of the line feeds in `length` units of the editor's text from `position`.
    LineEnds slice(const QString &editorText, qsizetype position, qsizetype length) const;
    // The body for the editor's text: each line feed with its own end.
    QString join(const QString &editorText) const;
    // The body for a part of the editor's text.
    QString join(const QString &editorText, qsizetype position, qsizetype length) const;
    // Where a position of the editor's text is in the body.
    qsizetype bodyPosition(const QString &editorText, qsizetype position) const;

private:
    // Each line feed of `text` given an end of its own, so that others can be put beside them.
    void spellOut(const QString &text);

    enum class End : char { lf, crlf, cr };
    // One per line feed of the editor's text; empty while every end is a line feed, as most bodies' are.
    std::vector<End> m_ends;
    qsizetype m_notLf = 0;
};
