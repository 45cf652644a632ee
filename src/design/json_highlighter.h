// Syntax colouring of JSON text for display: keys, strings, true/false, null and numbers.
#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QObject>
#include <QPointer>

#include <atomic>

class QTextDocument;

// One coloured stretch of the text; start and length count UTF-16 code units.
struct ColoredRun
{
    qsizetype start = 0;
    qsizetype length = 0;
    QColor color;
    bool operator==(const ColoredRun &other) const = default;
};

// The text with its runs; the runs cover the text exactly, in order, none empty.
struct ColoredText
{
    QString text;
    QList<ColoredRun> runs;
};

namespace JSONHighlighter {

enum class TokenClass { key, string, boolean, null, number, other };

QColor color(TokenClass token, bool dark);

// The coloured copy of text: every character kept, in order; only the colours are added.
ColoredText attributed(const QString &text, bool dark);

// The runs of text from `from` on, scanned as if the text began there, up to `to` or the end of the token that
// straddles it; from 0 to the text's size they are those of attributed(). A string that opened before `from`
// is misread, so a part is a first look at a long text, before its whole pass. Once `stop` is set the scan
// ends early with what it has.
QList<ColoredRun> runs(const QString &text, qsizetype from, qsizetype to, bool dark,
                       const std::atomic<bool> *stop = nullptr);

} // namespace JSONHighlighter

// Colours a text document (a body viewer or editor) and keeps it coloured as it is edited. The colours
// go into each line's layout formats rather than into document fragments, and only lines whose colours
// changed are marked for relayout, so a 1 MB body loads about as fast as plain text.
class JSONSyntaxHighlighter final : public QObject
{
    Q_OBJECT
public:
    JSONSyntaxHighlighter(QTextDocument *document, bool dark);

    bool dark() const { return m_dark; }
    void setDark(bool dark);
    // Recolours the whole document now (also done on every change of its text).
    void rehighlight();

private:
    QPointer<QTextDocument> m_document;
    bool m_dark;
    bool m_applying = false;
};
