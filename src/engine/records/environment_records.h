// Environments: the wire form of "/environments" and the application's editable form.
#pragma once

#include "engine/records/json_rules.h"

#include <optional>
#include <string>
#include <vector>

// One variable on the wire.
struct WireVar {
    std::string key;
    std::string value;

    bool operator==(const WireVar &) const = default;
};
KESTRION_RECORD_JSON(WireVar);

// One environment on the wire; "vars" may be missing (counts as none).
struct WireEnvironment {
    std::string id;
    std::string name;
    std::optional<std::vector<WireVar>> vars;

    bool operator==(const WireEnvironment &) const = default;
};
KESTRION_RECORD_JSON(WireEnvironment);

// The body of GET and POST "/environments"; `activeId` is "" when none is active.
struct EnvironmentSet {
    std::vector<WireEnvironment> environments;
    std::string activeId;

    bool operator==(const EnvironmentSet &) const = default;
};
KESTRION_RECORD_JSON(EnvironmentSet);

// One variable as the application edits it; `id` exists only so views can tell rows apart.
struct EnvVar {
    std::string id;
    std::string key;
    std::string value;

    bool operator==(const EnvVar &) const = default;
};

// One environment as the application edits it.
struct MockEnvironment {
    std::string id; // engine-made, or "env-" and 8 characters
    std::string name;
    std::vector<EnvVar> vars;

    // Every variable gets a fresh id; a missing "vars" gives none.
    static MockEnvironment fromWire(const WireEnvironment &wire);
    // "vars" is always sent as a list, empty for an environment without variables.
    WireEnvironment wire() const;

    bool operator==(const MockEnvironment &) const = default;
};

// The set the application pushes: every environment in order and the active id.
EnvironmentSet makeEnvironmentSet(const std::vector<MockEnvironment> &environments, const std::string &activeId);
