// Projects and the bodies of the project and OpenAPI import requests.
#pragma once

#include "engine/records/json_rules.h"

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

// The engine's answer to POST "/import/openapi".
struct OpenAPIImportResult {
    std::string projectId;
    std::string name; // the project that received the routes
    std::int64_t routeCount = 0;

    bool operator==(const OpenAPIImportResult &) const = default;
};
KESTRION_RECORD_JSON(OpenAPIImportResult);
