// The demo route set seeded by the header's actions, onboarding and the snapshot mode.
#pragma once

#include "engine/records/route_records.h"

#include <string_view>
#include <vector>

struct MockData final {
    MockData() = delete;

    // Nine demo routes, built once on first use.
    static const std::vector<Endpoint> &endpoints();

    static constexpr std::string_view apiHost = "api.acme-demo.dev";
    static constexpr std::string_view cdnHost = "cdn.acme-demo.dev";
};
