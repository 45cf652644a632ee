// The sixteen-byte scans recording leans on, against a byte at a time: every kind of byte that ends a
// run, at every place around the steps.
#include "core/text_runs.h"

#include <gtest/gtest.h>

#include <string>

using namespace standin;

namespace {

std::size_t asciiRunByBytes(const std::string &text)
{
    std::size_t at = 0;
    while (at < text.size() && static_cast<unsigned char>(text[at]) < 0x80)
        ++at;
    return at;
}

std::size_t plainJsonRunByBytes(const std::string &text)
{
    std::size_t at = 0;
    for (; at < text.size(); ++at) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\')
            break;
    }
    return at;
}

} // namespace

TEST(TextRuns, EndWhereAByteAtATimeEnds)
{
    for (int odd = 0; odd < 256; ++odd) {
        for (std::size_t at = 0; at < 40; ++at) {
            // Bytes that keep a run going on both sides, DEL and '~' among them.
            const std::string text = std::string(at, '~') + static_cast<char>(odd) + std::string(19, '\x7f');
            ASSERT_EQ(asciiRun(text.data(), text.size()), asciiRunByBytes(text)) << odd << " at " << at;
            ASSERT_EQ(plainJsonRun(text.data(), text.size()), plainJsonRunByBytes(text)) << odd << " at " << at;
            // Cut just before the odd byte: the whole text is one run.
            ASSERT_EQ(asciiRun(text.data(), at), at);
            ASSERT_EQ(plainJsonRun(text.data(), at), at);
        }
    }
}
