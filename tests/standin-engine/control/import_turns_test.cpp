// Imports of every kind take their turn on one thread, so two large files are never read at once.
#include "control_api_support.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>

TEST(ImportTurns, EveryKindOfImportParsesOnTheSameThread)
{
    // Each call site hands over a lambda of its own type, as the capture, OpenAPI and profile imports do.
    std::thread::id capture;
    standin::controlapi::runImportInTurn([&] { capture = std::this_thread::get_id(); });
    std::optional<std::thread::id> document;
    std::thread([&] { standin::controlapi::runImportInTurn([&document] { document = std::this_thread::get_id(); }); })
        .join();
    EXPECT_NE(capture, std::this_thread::get_id());
    EXPECT_EQ(capture, document.value());
}
