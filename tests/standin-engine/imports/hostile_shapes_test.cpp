// Hostile files against the importers: each is refused as soon as its fault is read, saying why, or read.
#include "imports/capture_import.h"
#include "imports/openapi_import.h"

#include <gtest/gtest.h>

using namespace standin;

namespace {

const std::string kApiHead = "openapi: 3.0.0\ninfo:\n  title: Shapes\n  version: '1'\npaths:\n  /a:\n    get:\n"
                             "      responses:\n        '200':\n          description: ok\n";

// Lists opened one past the nesting bound, then a long list never closed and a broken tail: a reader
// that queued a whole flow collection before its first event would only ever see the broken tail.
std::string tooDeepThenUnclosed(const std::string &open = "[", int levels = 65)
{
    std::string text;
    for (int i = 0; i < levels; ++i)
        text += open;
    text += "1";
    for (int i = 0; i < 200000; ++i)
        text += ", 1";
    return text + "\n\t: broken";
}

std::string zerosNested(int depth, int zeros)
{
    std::string text(static_cast<size_t>(depth), '[');
    for (int i = 0; i < zeros; ++i)
        text += i ? ",0" : "0";
    return text + std::string(static_cast<size_t>(depth), ']');
}

struct HostileShape {
    const char *name;
    bool capture; // a capture, else an API document
    std::string file;
    const char *refusal;       // what the message says; nothing when the file is read
    size_t maxBodyBytes = 0;   // for a file that is read: the largest body a route may get from it
};

} // namespace

TEST(HostileImports, EachShapeIsRefusedAsItsFaultIsReadSayingWhyOrRead)
{
    const std::vector<HostileShape> shapes = {
        {"flow list as a block item", false, kApiHead + "x-examples:\n  - " + tooDeepThenUnclosed(), "nested too deeply"},
        {"flow list after a comment", false, "# exported\n" + tooDeepThenUnclosed(), "nested too deeply"},
        {"flow list in a block map", false, kApiHead + "x-a:\n  b:\n    c: " + tooDeepThenUnclosed(), "nested too deeply"},
        {"flow list in a block sequence", false, kApiHead + "x-a:\n  - - " + tooDeepThenUnclosed(), "nested too deeply"},
        {"nested flow maps", false, kApiHead + "x-a: " + tooDeepThenUnclosed("{a: [", 33), "nested too deeply"},
        {"quote inside a plain scalar", false, "- a-'b\n- " + tooDeepThenUnclosed("[", 2000), "nested too deeply"},
        {"bracket glued to a tag", false, "- !a" + tooDeepThenUnclosed("[", 2000), "while scanning a tag"},
        {"bracket after a bare CR", false, "- a\r" + tooDeepThenUnclosed("[", 2000), "while scanning a simple key"},
        {"literal scalar past the value bound", false,
         kApiHead + "x-notes: |\n" + [] {
             std::string lines;
             while (lines.size() < 33 * 1024 * 1024)
                 lines += "  " + std::string(254, 'x') + "\n";
             return lines;
         }(),
         "one of its values is longer than 32 MB"},
        {"example nested deep, past the bodies' bound once written out", false,
         R"({"openapi":"3.0.0","info":{"title":"Deep","version":"1"},"paths":{"/a":{"get":{"responses":)"
         R"({"200":{"description":"ok","content":{"application/json":{"example":)"
             + zerosNested(50, 200000) + "}}}}}}}}",
         "examples expand to more than 16 MB"},
        {"flow collections, anchors and aliases where documents put them", false,
         kApiHead + "x-examples:\n  - [1, 2, {a: [3]}]\n# note\nx-b: {c: &c [d, e]}\nx-c: *c\n", nullptr, 16},
        {"document saved in another 8-bit encoding", false,
         "openapi: 3.0.0\ninfo:\n  title: Caf\xE9\n  version: '1'\npaths:\n  /a:\n    get:\n      responses:\n"
         "        '200':\n          content:\n            application/json:\n              example: na\xEFve\n",
         nullptr, 16},
        {"request body nested deep, written out without its indentation", true,
         R"({"requests":[{"method":"GET","url":"http://shapes.test/deep","body":)" + zerosNested(60, 20000) + "}]}",
         nullptr, 2 * 40200 + 64 * 1024},
    };
    for (const HostileShape &shape : shapes) {
        SCOPED_TRACE(shape.name);
        std::string error;
        std::vector<WireRoute> routes;
        if (shape.capture) {
            if (auto imported = importCapture(shape.file, error))
                routes = std::move(imported->routes);
        } else if (auto imported = importOpenAPI(shape.file, error)) {
            routes = std::move(imported->routes);
        }
        if (shape.refusal) {
            EXPECT_TRUE(routes.empty());
            EXPECT_NE(error.find(shape.refusal), std::string::npos) << error.substr(0, 300);
            continue;
        }
        ASSERT_EQ(routes.size(), 1u) << error.substr(0, 300);
        EXPECT_LE(routes.front().body.size(), shape.maxBodyBytes);
    }
}
