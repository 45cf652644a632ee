// The JSON highlighter on any text: every character kept in order, runs covering the text exactly,
// none empty.
#include "fuzz_support.h"

#include "design/json_highlighter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const bool dark : {false, true}) {
        const ColoredText colored = JSONHighlighter::attributed(text, dark);
        fuzz::check(colored.text == text, "the highlighter changed the text");
        qsizetype next = 0;
        for (const ColoredRun &run : colored.runs) {
            fuzz::check(run.start == next && run.length > 0, "runs leave a gap, overlap or are empty");
            next += run.length;
        }
        fuzz::check(next == text.size(), "runs do not cover the text");
    }
    return 0;
}
