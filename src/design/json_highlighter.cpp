// JSON colouring with one regular expression over the whole text.
#include "design/json_highlighter.h"

#include <QAbstractTextDocumentLayout>
#include <QHash>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <vector>

namespace JSONHighlighter {

namespace {

// A hand-written scanner for the token expression
//   ("(?:\\.|[^"\\])*"\s*:?|\b(?:true|false|null)\b|-?\d+(?:\.\d+)?(?:[eE][+\-]?\d+)?)
// with ICU's meaning of ., \s, \d and \b, tried in that order at each position from the left. A regex
// engine spends most of its time building one match object per token; this keeps 1 MB well under 50 ms.
class Scanner
{
public:
    explicit Scanner(const QString &text) : m_text(text.constData()), m_size(text.size()) {}

    // The next token starting at or after `from` and before `limit`: its start and end, or false when none is.
    bool next(qsizetype from, qsizetype limit, qsizetype &start, qsizetype &end)
    {
        for (qsizetype i = from; i < std::min(limit, m_size); ++i) {
            const char16_t c = m_text[i].unicode();
            if (c == u'"') {
                if (matchString(i, end)) {
                    start = i;
                    return true;
                }
            } else if (c == u't' || c == u'f' || c == u'n') {
                if (matchLiteral(i, end)) {
                    start = i;
                    return true;
                }
            } else if (c == u'-' || isDigitAt(i)) {
                if (matchNumber(i, end)) {
                    start = i;
                    return true;
                }
            }
        }
        return false;
    }

private:
    char32_t codePointAt(qsizetype i, int *units = nullptr) const
    {
        const QChar c = m_text[i];
        if (c.isHighSurrogate() && i + 1 < m_size && m_text[i + 1].isLowSurrogate()) {
            if (units)
                *units = 2;
            return QChar::surrogateToUcs4(c, m_text[i + 1]);
        }
        if (units)
            *units = 1;
        return c.unicode();
    }

    static bool isLineTerminator(char32_t c)
    {
        return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
    }

    static bool isSpace(char32_t c)
    {
        if (c == u'\t' || c == u'\n' || c == u'\f' || c == u'\r' || c == u' ')
            return true;
        if (c < 0x80)
            return false;
        const auto category = QChar::category(c);
        return category == QChar::Separator_Space || category == QChar::Separator_Line
            || category == QChar::Separator_Paragraph;
    }

    static bool isDigit(char32_t c)
    {
        if (c < 0x80)
            return c >= u'0' && c <= u'9';
        return QChar::category(c) == QChar::Number_DecimalDigit;
    }

    bool isDigitAt(qsizetype i, int *units = nullptr) const
    {
        return isDigit(codePointAt(i, units));
    }

    static bool isWord(char32_t c)
    {
        if (c < 0x80)
            return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
        if (c == 0x200C || c == 0x200D)
            return true;
        switch (QChar::category(c)) {
        case QChar::Letter_Uppercase:
        case QChar::Letter_Lowercase:
        case QChar::Letter_Titlecase:
        case QChar::Letter_Modifier:
        case QChar::Letter_Other:
        case QChar::Number_Letter:
        case QChar::Mark_NonSpacing:
        case QChar::Mark_SpacingCombining:
        case QChar::Mark_Enclosing:
        case QChar::Number_DecimalDigit:
        case QChar::Punctuation_Connector:
            return true;
        default:
            return false;
        }
    }

    // Combining marks and format characters do not count when looking for a word boundary.
    static bool isIgnoredForBoundary(char32_t c)
    {
        if (c < 0x80)
            return false;
        const auto category = QChar::category(c);
        return category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing || category == QChar::Other_Format;
    }

    bool isWordBoundary(qsizetype p) const
    {
        bool here = false;
        if (p < m_size) {
            const char32_t c = codePointAt(p);
            if (isIgnoredForBoundary(c))
                return false;
            here = isWord(c);
        }
        bool before = false;
        qsizetype q = p;
        while (q > 0) {
            --q;
            char32_t c = m_text[q].unicode();
            if (m_text[q].isLowSurrogate() && q > 0 && m_text[q - 1].isHighSurrogate()) {
                --q;
                c = QChar::surrogateToUcs4(m_text[q], m_text[q + 1]);
            }
            if (!isIgnoredForBoundary(c)) {
                before = isWord(c);
                break;
            }
        }
        return here != before;
    }

    bool matchString(qsizetype i, qsizetype &end)
    {
        qsizetype j = i + 1;
        qsizetype closing = -1;
        std::vector<qsizetype> steps;
        while (j < m_size) {
            if (!m_deadSteps.empty() && m_deadSteps[size_t(j)])
                break; // an earlier scan passed here and found no closing quote
            steps.push_back(j);
            const char16_t c = m_text[j].unicode();
            if (c == u'"') {
                closing = j;
                break;
            }
            if (c == u'\\') {
                if (j + 1 >= m_size || isLineTerminator(m_text[j + 1].unicode()))
                    break;
                int units = 1;
                codePointAt(j + 1, &units);
                j += 1 + units;
            } else {
                ++j;
            }
        }
        if (closing < 0) {
            if (m_deadSteps.empty())
                m_deadSteps.assign(size_t(m_size) + 1, false);
            for (qsizetype step : steps)
                m_deadSteps[size_t(step)] = true;
            return false;
        }
        qsizetype k = closing + 1;
        while (k < m_size) {
            int units = 1;
            if (!isSpace(codePointAt(k, &units)))
                break;
            k += units;
        }
        if (k < m_size && m_text[k] == u':')
            ++k;
        end = k;
        return true;
    }

    bool matchLiteral(qsizetype i, qsizetype &end) const
    {
        static const QLatin1String literals[] = {QLatin1String("true"), QLatin1String("false"), QLatin1String("null")};
        if (!isWordBoundary(i))
            return false;
        const QStringView rest(m_text + i, m_size - i);
        for (const QLatin1String &literal : literals) {
            if (rest.startsWith(literal) && isWordBoundary(i + literal.size())) {
                end = i + literal.size();
                return true;
            }
        }
        return false;
    }

    qsizetype skipDigits(qsizetype j) const
    {
        int units = 1;
        while (j < m_size && isDigitAt(j, &units))
            j += units;
        return j;
    }

    bool matchNumber(qsizetype i, qsizetype &end) const
    {
        qsizetype j = i;
        if (m_text[j] == u'-')
            ++j;
        const qsizetype digitsEnd = skipDigits(j);
        if (digitsEnd == j)
            return false;
        j = digitsEnd;
        if (j < m_size && m_text[j] == u'.') {
            const qsizetype fractionEnd = skipDigits(j + 1);
            if (fractionEnd > j + 1)
                j = fractionEnd;
        }
        if (j < m_size && (m_text[j] == u'e' || m_text[j] == u'E')) {
            qsizetype k = j + 1;
            if (k < m_size && (m_text[k] == u'+' || m_text[k] == u'-'))
                ++k;
            const qsizetype exponentEnd = skipDigits(k);
            if (exponentEnd > k)
                j = exponentEnd;
        }
        end = j;
        return true;
    }

    const QChar *m_text;
    qsizetype m_size;
    std::vector<bool> m_deadSteps; // step positions of string scans that ran off without a closing quote
};

TokenClass classify(QStringView token)
{
    if (token.startsWith(QLatin1Char('"'))) {
        qsizetype end = token.size();
        while (end > 0 && (token[end - 1] == QLatin1Char(' ') || token[end - 1] == QLatin1Char('\t')))
            --end;
        return end > 0 && token[end - 1] == QLatin1Char(':') ? TokenClass::key : TokenClass::string;
    }
    if (token == QLatin1String("true") || token == QLatin1String("false"))
        return TokenClass::boolean;
    if (token == QLatin1String("null"))
        return TokenClass::null;
    return TokenClass::number;
}

void append(QList<ColoredRun> &runs, qsizetype start, qsizetype length, const QColor &color)
{
    if (length > 0)
        runs.append({start, length, color});
}

} // namespace

QColor color(TokenClass token, bool dark)
{
    switch (token) {
    case TokenClass::key:
        return dark ? QColor(0x92, 0xBF, 0xFF) : QColor(0x35, 0x63, 0xE9);
    case TokenClass::string:
        return dark ? QColor(0x94, 0xE9, 0xB8) : QColor(0x1F, 0x8A, 0x50);
    case TokenClass::boolean:
        return dark ? QColor(0xC9, 0xB3, 0xED) : QColor(0x7C, 0x3A, 0xED);
    case TokenClass::null:
    case TokenClass::number:
        return dark ? QColor(0xFF, 0xB5, 0x5B) : QColor(0xC2, 0x70, 0x1C);
    case TokenClass::other:
        break;
    }
    return dark ? QColor::fromRgbF(1, 1, 1, 0.45f) : QColor::fromRgbF(0, 0, 0, 0.45f);
}

ColoredText attributed(const QString &text, bool dark)
{
    return {text, runs(text, 0, text.size(), dark)};
}

QList<ColoredRun> runs(const QString &text, qsizetype from, qsizetype to, bool dark, const std::atomic<bool> *stop)
{
    QList<ColoredRun> result;
    from = std::clamp<qsizetype>(from, 0, text.size());
    to = std::clamp<qsizetype>(to, from, text.size());
    const QColor other = color(TokenClass::other, dark);
    const QColor colors[] = {color(TokenClass::key, dark),  color(TokenClass::string, dark),
                             color(TokenClass::boolean, dark), color(TokenClass::null, dark),
                             color(TokenClass::number, dark)};
    // How often a long scan looks whether it is still wanted.
    constexpr qsizetype StopCheck = 64 * 1024;
    qsizetype nextCheck = from + StopCheck;
    Scanner scanner(text);
    qsizetype cursor = from;
    qsizetype start = 0;
    qsizetype end = 0;
    while (scanner.next(cursor, to, start, end)) {
        if (cursor < start)
            append(result, cursor, start - cursor, other);
        const auto token = classify(QStringView(text).sliced(start, end - start));
        append(result, start, end - start, colors[int(token)]);
        cursor = end;
        if (stop && cursor >= nextCheck) {
            if (stop->load(std::memory_order_relaxed))
                return result;
            nextCheck = cursor + StopCheck;
        }
    }
    if (cursor < to)
        append(result, cursor, to - cursor, other);
    return result;
}

} // namespace JSONHighlighter

JSONSyntaxHighlighter::JSONSyntaxHighlighter(QTextDocument *document, bool dark)
    : QObject(document), m_document(document), m_dark(dark)
{
    if (!document)
        return;
    // The document tells of changes only once it has a layout; an editor gives it one anyway.
    document->documentLayout();
    connect(document, &QTextDocument::contentsChange, this, [this](int, int removed, int added) {
        if (!m_applying && (removed > 0 || added > 0))
            rehighlight();
    });
    rehighlight();
}

void JSONSyntaxHighlighter::setDark(bool dark)
{
    if (dark == m_dark)
        return;
    m_dark = dark;
    rehighlight();
}

void JSONSyntaxHighlighter::rehighlight()
{
    if (!m_document)
        return;
    const ColoredText colored = JSONHighlighter::attributed(m_document->toPlainText(), m_dark);
    // One shared format per colour keeps the per-range cost to a reference count.
    QHash<QRgb, QTextCharFormat> formats;
    const auto formatFor = [&formats](const QColor &color) {
        auto it = formats.find(color.rgba());
        if (it == formats.end()) {
            QTextCharFormat format;
            format.setForeground(color);
            it = formats.insert(color.rgba(), format);
        }
        return *it;
    };
    m_applying = true;
    // Marking each changed line dirty on its own relays the document out once per line; mark one span.
    qsizetype dirtyFrom = -1;
    qsizetype dirtyTo = -1;
    qsizetype run = 0;
    const QList<ColoredRun> &runs = colored.runs;
    for (QTextBlock block = m_document->begin(); block.isValid(); block = block.next()) {
        const qsizetype start = block.position();
        const qsizetype end = start + block.length() - 1; // without the paragraph separator
        while (run < runs.size() && runs[run].start + runs[run].length <= start)
            ++run;
        QList<QTextLayout::FormatRange> ranges;
        for (qsizetype i = run; i < runs.size() && runs[i].start < end; ++i) {
            const qsizetype from = qMax(runs[i].start, start);
            const qsizetype to = qMin(runs[i].start + runs[i].length, end);
            if (to > from)
                ranges.append({int(from - start), int(to - from), formatFor(runs[i].color)});
        }
        QTextLayout *layout = block.layout();
        if (layout && layout->formats() != ranges) {
            layout->setFormats(ranges);
            if (dirtyFrom < 0)
                dirtyFrom = start;
            dirtyTo = start + block.length();
        }
    }
    if (dirtyFrom >= 0)
        m_document->markContentsDirty(int(dirtyFrom), int(dirtyTo - dirtyFrom));
    m_applying = false;
}
