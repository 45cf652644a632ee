// Profile export and import.
#include "imports/profile_document.h"

#include "core/bounded_input.h"
#include "core/engine_support.h"
#include "core/id_checks.h"

namespace standin {

using nlohmann::json;
using nlohmann::ordered_json;

constexpr int kProfileVersion = 1;

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
    const auto document = parseBoundedJson(bytes, maxBytes, error);
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
        ProfileContents contents;
        reader.required("routes", contents.routes);
        reader.optional("chaos", contents.chaos);
        if (contents.routes.size() > StateStore::kMaxRoutes) {
            error = "the profile holds too many routes";
            return std::nullopt;
        }
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
