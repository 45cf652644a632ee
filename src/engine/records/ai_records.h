// Mock body generation requests and the local model's status and setup progress.
#pragma once

#include "engine/records/json_rules.h"

#include <cstdint>
#include <optional>
#include <string>

// The body of POST "mock/generate"; absent example and key travel as "".
struct MockGenerateRequest {
    std::string key;
    std::string example;
    std::int64_t seed = 0;
    std::int64_t count = 1;

    bool operator==(const MockGenerateRequest &) const = default;
};
KESTRION_RECORD_JSON(MockGenerateRequest);

// The body of POST "mock/ai".
struct MockAIRequest {
    std::string prompt;
    std::string key;
    std::string example;
    std::int64_t seed = 0;
    std::int64_t count = 1;

    bool operator==(const MockAIRequest &) const = default;
};
KESTRION_RECORD_JSON(MockAIRequest);

// The local model's status (GET "ai/status", POST "ai/start" and "ai/stop").
struct AIStatus {
    bool available = false;
    bool running = false;
    std::string serverBin;
    std::string model;
    std::string endpoint;
    std::string detail;

    // What the engine link shows before any reply: not available, "checking".
    static AIStatus initial();

    bool operator==(const AIStatus &) const = default;
};
KESTRION_RECORD_JSON(AIStatus);

// The progress of the local model's automatic setup (GET "ai/setup").
struct AISetupProgress {
    std::string stage; // "done" and "error" end the setup
    std::string message;
    std::int64_t downloaded = 0; // bytes
    std::int64_t total = 0; // bytes expected; below 1 when unknown
    std::int64_t percent = 0;
    std::optional<std::string> err;

    // Stage "idle", nothing downloaded.
    static AISetupProgress initial();

    // "1.5 GB / 4.0 GB", or the downloaded amount alone while the total is unknown.
    std::string bytesText() const;

    bool operator==(const AISetupProgress &) const = default;
};
KESTRION_RECORD_JSON(AISetupProgress);
