// Splits a byte stream that arrives in arbitrary chunks into whole lines.
#pragma once

#include "engine/records/output_line_breaks.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstddef>
#include <string_view>

// Recognises every line break the engine may write (engine/records/output_line_breaks.h). A line
// or a multi-byte sequence cut by a chunk boundary is kept until the next chunk completes it. Empty
// lines are dropped.
class LineReader final
{
public:
    enum class Breaks {
        Any, // every break of the engine's output
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
            const int breakLength = m_breaks == Breaks::Any
                                        ? outputLineBreakAt(std::string_view(data, std::size_t(size)), std::size_t(pos),
                                                            TextEnd::MayGrow)
                                        : eventStreamBreakAt(data, size, pos);
            if (breakLength == kLineBreakCutShort)
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
