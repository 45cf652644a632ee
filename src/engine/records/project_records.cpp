// JSON of projects and the project and OpenAPI import bodies.
#include "engine/records/project_records.h"

namespace {

template <class Json> void writeProject(Json &j, const Project &p)
{
    j = Json::object();
    j["id"] = p.id;
    j["name"] = p.name;
    j["routeCount"] = p.routeCount;
    j["updatedAt"] = p.updatedAt;
}

template <class Json> void writeProjectList(Json &j, const ProjectList &list)
{
    j = Json::object();
    j["activeId"] = list.activeId;
    j["projects"] = list.projects;
}

template <class Json> void writeNameRequest(Json &j, const ProjectNameRequest &request)
{
    j = Json::object();
    j["name"] = request.name;
}

template <class Json> void writeImportResult(Json &j, const OpenAPIImportResult &result)
{
    j = Json::object();
    j["projectId"] = result.projectId;
    j["name"] = result.name;
    j["routeCount"] = result.routeCount;
    records::putOptional(j, "leftOut", result.leftOut);
    records::putOptional(j, "routeLimit", result.routeLimit);
}

template <class Json> void writeImportCounts(Json &j, const ImportCounts &counts)
{
    j = Json::object();
    j["imported"] = counts.imported;
    j["leftOut"] = counts.leftOut;
    j["routeLimit"] = counts.routeLimit;
}

} // namespace

KESTRION_RECORD_WRITERS(Project, writeProject)
KESTRION_RECORD_WRITERS(ProjectList, writeProjectList)
KESTRION_RECORD_WRITERS(ProjectNameRequest, writeNameRequest)
KESTRION_RECORD_WRITERS(OpenAPIImportResult, writeImportResult)
KESTRION_RECORD_WRITERS(ImportCounts, writeImportCounts)

void from_json(const nlohmann::json &j, Project &p)
{
    const records::ObjectReader in(j);
    in.required("id", p.id);
    in.required("name", p.name);
    in.required("routeCount", p.routeCount);
    in.required("updatedAt", p.updatedAt);
}

void from_json(const nlohmann::json &j, ProjectList &list)
{
    const records::ObjectReader in(j);
    in.required("activeId", list.activeId);
    in.required("projects", list.projects);
}

void from_json(const nlohmann::json &j, ProjectNameRequest &request)
{
    const records::ObjectReader in(j);
    in.required("name", request.name);
}

void from_json(const nlohmann::json &j, OpenAPIImportResult &result)
{
    const records::ObjectReader in(j);
    in.required("projectId", result.projectId);
    in.required("name", result.name);
    in.required("routeCount", result.routeCount);
    in.optional("leftOut", result.leftOut);
    in.optional("routeLimit", result.routeLimit);
}

void from_json(const nlohmann::json &j, ImportCounts &counts)
{
    const records::ObjectReader in(j);
    in.required("imported", counts.imported);
    in.required("leftOut", counts.leftOut);
    in.required("routeLimit", counts.routeLimit);
}
