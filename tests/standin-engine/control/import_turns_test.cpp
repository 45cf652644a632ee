// Imports of every kind take their turn on one thread, so two large files are never read at once.
#include "control_api_support.h"

#include <gtest/gtest.h>

#include <thread>

TEST(ImportTurns, EveryKindOfImportParsesOnTheSameThread)
{
    // Each call site hands over a lambda of its own type, as the capture, OpenAPI and profile imports do.
    const std::thread::id capture = standin::controlapi::importedInTurn([] { return std::this_thread::get_id(); });
    std::thread::id document;
    std::thread([&] {
        document = standin::controlapi::importedInTurn([] { return std::optional(std::this_thread::get_id()); }).value();
    }).join();
    EXPECT_NE(capture, std::this_thread::get_id());
    EXPECT_EQ(capture, document);
}
