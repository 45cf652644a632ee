// Splits a byte stream that arrives in arbitrary chunks into whole lines.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstddef>

// Recognises every line break the engine may write: LF, CR, CR LF, VT, FF and the UTF-8
// forms of NEL (U+0085), LS (U+2028) and PS (U+2029). A line or a multi-byte sequence cut by
// a chunk boundary is kept until the next chunk completes it. Empty lines are dropped.
class LineReader final
{
public:
    enum class Breaks {
        Any, // every break above (the engine's output)
        // LF, CR and CR LF only: an event-stream line may carry NEL, LS or PS inside its JSON
        // strings, and splitting there would lose the event.
        EventStream,
    };

    explicit LineReader(Breaks breaks = Breaks::Any) : m_breaks(breaks) {}

    // Calls onLine(QByteArrayView) for each complete, non-empty line in the order written.
    template <typename OnLine>
    void feed(QByteArrayView chunk, OnLine &&onLine)
    {
        m_buffer.append(chunk.data(), chunk.size());
        const char *data = m_buffer.constData();
        const qsizetype size = m_buffer.size();
        qsizetype lineStart = 0;
        qsizetype pos = m_scanFrom;
        while (pos < size) {
            const int breakLength = m_breaks == Breaks::Any ? lineBreakAt(data, size, pos)
                                                            : eventStreamBreakAt(data, size, pos);
            if (breakLength < 0)
                break; // a possible break cut by the chunk boundary; look again with more bytes
            if (breakLength == 0) {
                ++pos;
                continue;
            }
            if (pos > lineStart)
                onLine(QByteArrayView(data + lineStart, pos - lineStart));
            pos += breakLength;
            lineStart = pos;
        }
        m_buffer.remove(0, lineStart);
        m_scanFrom = pos - lineStart;
    }

    // The unfinished last line, handed out at the end of the stream; the reader is then empty.
    QByteArray takeRemainder();

    // Bytes held back waiting for the rest of their line.
    qsizetype pendingSize() const { return m_buffer.size(); }

    void clear();

private:
    // Length of the line break starting at pos, 0 when there is none, -1 when the bytes
    // so far could still become one.
    static int lineBreakAt(const char *data, qsizetype size, qsizetype pos)
    {
        const auto byte = static_cast<unsigned char>(data[pos]);
        switch (byte) {
        case '\n':
        case '\v':
        case '\f':
            return 1;
        case '\r':
            if (pos + 1 >= size)
                return 1; // a following LF would only make an empty line, which is dropped
            return data[pos + 1] == '\n' ? 2 : 1;
        case 0xC2:
            if (pos + 1 >= size)
                return -1;
            return static_cast<unsigned char>(data[pos + 1]) == 0x85 ? 2 : 0;
        case 0xE2:
            if (pos + 1 >= size)
                return -1;
            if (static_cast<unsigned char>(data[pos + 1]) != 0x80)
                return 0;
            if (pos + 2 >= size)
                return -1;
            {
                const auto third = static_cast<unsigned char>(data[pos + 2]);
                return third == 0xA8 || third == 0xA9 ? 3 : 0;
            }
        default:
            return 0;
        }
    }

    static int eventStreamBreakAt(const char *data, qsizetype size, qsizetype pos)
    {
        switch (data[pos]) {
        case '\n':
            return 1;
        case '\r':
            return pos + 1 < size && data[pos + 1] == '\n' ? 2 : 1;
        default:
            return 0;
        }
    }

    Breaks m_breaks = Breaks::Any;
    QByteArray m_buffer;
    qsizetype m_scanFrom = 0;
};
