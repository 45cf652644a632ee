// The JSON highlighter on any text: every character kept in order, runs covering the text exactly,
// none empty; a part's runs cover the part from its start, past its end at most to the text's.
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

        const qsizetype from = text.size() / 3;
        const qsizetype to = text.size() - text.size() / 3;
        next = from;
        for (const ColoredRun &run : JSONHighlighter::runs(text, from, to, dark)) {
            fuzz::check(run.start == next && run.length > 0, "a part's runs leave a gap, overlap or are empty");
            next += run.length;
        }
        fuzz::check(next >= to && next <= text.size(), "a part's runs do not cover the part");
    }
    return 0;
}
