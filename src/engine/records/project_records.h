// Projects and the bodies of the project and OpenAPI import requests.
#pragma once

#include "engine/records/json_rules.h"

#include <optional>
#include <string>
#include <vector>

// One project summary; identified by `id`.
struct Project {
    std::string id;
    std::string name;
    std::int64_t routeCount = 0;
    std::string updatedAt; // the engine's text, shown as it is

    bool operator==(const Project &) const = default;
};
KESTRION_RECORD_JSON(Project);

// The reply of GET "/projects" and DELETE "/projects/<id>".
struct ProjectList {
    std::string activeId;
    std::vector<Project> projects;

    bool operator==(const ProjectList &) const = default;
};
KESTRION_RECORD_JSON(ProjectList);

// The {"name": ...} body of POST "/projects" and PATCH "/projects/<id>".
struct ProjectNameRequest {
    std::string name;

    bool operator==(const ProjectNameRequest &) const = default;
};
KESTRION_RECORD_JSON(ProjectNameRequest);

// The engine's answer to POST "/import/openapi". Engines before the route limit of imports leave out
// the last two.
struct OpenAPIImportResult {
    std::string projectId;
    std::string name; // the project that received the routes
    std::int64_t routeCount = 0;
    std::optional<std::int64_t> leftOut;    // operations past the route limit, not imported
    std::optional<std::int64_t> routeLimit; // the routes a project may hold

    bool operator==(const OpenAPIImportResult &) const = default;
};
KESTRION_RECORD_JSON(OpenAPIImportResult);

// How much of a capture or profile came in, beside the route list that answers its import (in the
// header below, as compact JSON).
struct ImportCounts {
    std::int64_t imported = 0;   // routes added or replaced
    std::int64_t leftOut = 0;    // routes of the file past the route limit
    std::int64_t routeLimit = 0; // the routes a project may hold

    bool operator==(const ImportCounts &) const = default;
};
KESTRION_RECORD_JSON(ImportCounts);

inline constexpr const char *kImportCountsHeader = "X-Kestrion-Import-Counts";
