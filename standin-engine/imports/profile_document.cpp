// Profile export and import.
#include "imports/profile_document.h"

#include "core/bounded_input.h"
#include "core/engine_support.h"
#include "core/id_checks.h"

namespace standin {

using nlohmann::json;
using nlohmann::ordered_json;

constexpr int kProfileVersion = 1;

namespace {

// The route an element of "routes" holds, its body moved out of the element rather than copied: a
// body may be tens of megabytes.
std::optional<WireRoute> routeOf(json &element)
{
    std::string body;
    const auto field = element.is_object() ? element.find("body") : element.end();
    if (field != element.end() && field->is_string()) {
        body = std::move(field->get_ref<std::string &>());
        field->get_ref<std::string &>().clear();
    }
    auto route = decodeJson<WireRoute>(element);
    if (route)
        route->body = std::move(body);
    return route;
}

} // namespace

std::string exportProfile(const ProjectState &project, const std::string &name)
{
    ordered_json document;
    document["kestrionProfile"] = kProfileVersion;
    document["name"] = name.empty() ? project.name : name;
    document["project"] = project.name;
    document["exportedAt"] = nowIso();
    document["routes"] = project.routes;
    document["chaos"] = project.chaos;
    return document.dump(2, ' ', false, ordered_json::error_handler_t::replace);
}

std::optional<ProfileContents> readProfile(std::string_view bytes, std::string &error, size_t maxBytes)
{
    ProfileContents contents;
    bool routesRead = true;
    const ElementStream stream {
        [](const DocumentPath &path) { return path.size() == 1 && path[0] == std::optional<std::string>("routes"); },
        [&](const DocumentPath &, json &&element, std::string &) {
            auto route = routeOf(element);
            if (!route)
                routesRead = false;
            else if (contents.routes.size() < StateStore::kMaxRoutes)
                contents.routes.push_back(std::move(*route));
            else
                ++contents.leftOut;
            return routesRead;
        }};
    const auto document = parseBoundedJson(bytes, ParseBounds {maxBytes, kMaxHeldBytes}, error, &stream);
    if (!document && !routesRead) {
        error = "not a valid Kestrion profile: a route is not in the engine's route form";
        return std::nullopt;
    }
    if (!document) {
        error = "not a Kestrion profile: " + error;
        return std::nullopt;
    }
    if (!document->is_object() || !document->contains("kestrionProfile")) {
        error = "not a Kestrion profile: \"kestrionProfile\" is missing";
        return std::nullopt;
    }
    try {
        const records::ObjectReader reader(*document);
        int version = 0;
        reader.required("kestrionProfile", version);
        if (version < 1 || version > kProfileVersion) {
            error = "profile version " + std::to_string(version) + " is not supported";
            return std::nullopt;
        }
        const auto routes = document->find("routes");
        if (routes == document->end() || !routes->is_array()) {
            error = "not a valid Kestrion profile: \"routes\" is missing";
            return std::nullopt;
        }
        reader.optional("chaos", contents.chaos);
        auto refusal = refusedIds(contents.routes);
        if (!refusal && contents.chaos)
            refusal = refusedIds(*contents.chaos);
        if (refusal) {
            error = "not a valid Kestrion profile: " + *refusal;
            return std::nullopt;
        }
        return contents;
    } catch (const std::exception &e) {
        error = std::string("not a valid Kestrion profile: ") + e.what();
        return std::nullopt;
    }
}

} // namespace standin
