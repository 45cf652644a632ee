// OpenAPI and Swagger import for the stand-in engine.
#include "imports/openapi_import.h"

#include "core/bounded_input.h"
#include "core/engine_support.h"
#include "imports/capture_import.h"
#include "mocks/route_matching.h"

#include "engine/records/output_line_breaks.h"
#include "engine/records/record_ids.h"

#include <algorithm>
#include <array>

namespace standin {

using nlohmann::json;

namespace {

constexpr std::array kMethods = {"get", "post", "put", "delete", "patch"};
constexpr int kMaxRefDepth = 12;

// Why a document can't be imported; caught at the top and answered as a 4xx.
struct ImportRefused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What one import may produce, whatever the document's references multiply.
struct ImportBudget {
    explicit ImportBudget(size_t maxNodes) : maxNodes(maxNodes), nodes(maxNodes) {}

    size_t maxNodes;
    size_t nodes;
    size_t bodyBytes = kMaxImportedBodyBytes;

    void takeNode()
    {
        if (nodes == 0)
            throw ImportRefused("the document's schemas refer to each other too widely to sample (more than "
                                + std::to_string(maxNodes) + " schema nodes)");
        --nodes;
    }
    // Refuses a body past what is left before it is written out.
    void checkRoom(size_t size) const
    {
        if (size > bodyBytes)
            throw ImportRefused("the document's examples expand to more than "
                                + std::to_string(kMaxImportedBodyBytes / (1024 * 1024))
                                + " MB of response bodies; split it or use fewer shared examples");
    }
    void takeBody(size_t size)
    {
        checkRoom(size);
        bodyBytes -= size;
    }
};

// A text member, or `fallback` when absent; any other type is refused, naming the field.
std::string textMember(const json &object, const char *key, const std::string &field, std::string fallback = {})
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return fallback;
    if (!it->is_string())
        throw ImportRefused("\"" + field + "\" must be a string, not " + std::string(it->type_name()));
    return it->get<std::string>();
}

// Follows a local "#/components/schemas/X" style reference; anything else is left as it is.
const json *resolve(const json &root, const json &node, int &depth)
{
    const json *current = &node;
    while (current->is_object() && current->contains("$ref") && (*current)["$ref"].is_string()) {
        if (++depth > kMaxRefDepth)
            return nullptr;
        const std::string ref = (*current)["$ref"].get<std::string>();
        if (ref.rfind("#/", 0) != 0)
            return nullptr;
        try {
            current = &root.at(json::json_pointer(ref.substr(1)));
        } catch (const std::exception &) {
            return nullptr;
        }
    }
    return current;
}

// A plausible value for a schema without an example of its own.
json sampleFromSchema(const json &root, const json &schema, int depth, size_t &budget, ImportBudget &total)
{
    if (budget == 0)
        return nullptr;
    --budget;
    total.takeNode();
    int refs = 0;
    const json *resolved = resolve(root, schema, refs);
    if (!resolved || !resolved->is_object() || depth > 8)
        return nullptr;
    const json &s = *resolved;
    if (s.contains("example"))
        return s["example"];
    if (s.contains("default"))
        return s["default"];
    if (s.contains("enum") && s["enum"].is_array() && !s["enum"].empty())
        return s["enum"].front();
    for (const char *combiner : {"allOf", "oneOf", "anyOf"}) {
        if (s.contains(combiner) && s[combiner].is_array() && !s[combiner].empty()) {
            if (std::string(combiner) != "allOf")
                return sampleFromSchema(root, s[combiner].front(), depth + 1, budget, total);
            json merged = json::object();
            for (const auto &part : s[combiner]) {
                const json sample = sampleFromSchema(root, part, depth + 1, budget, total);
                if (sample.is_object())
                    merged.update(sample);
            }
            return merged;
        }
    }
    const std::string type = textMember(s, "type", "type", s.contains("properties") ? "object" : "");
    if (type == "object") {
        json out = json::object();
        if (s.contains("properties") && s["properties"].is_object()) {
            for (auto it = s["properties"].begin(); it != s["properties"].end(); ++it)
                out[it.key()] = sampleFromSchema(root, it.value(), depth + 1, budget, total);
        }
        return out;
    }
    if (type == "array") {
        json out = json::array();
        if (s.contains("items"))
            out.push_back(sampleFromSchema(root, s["items"], depth + 1, budget, total));
        return out;
    }
    if (type == "string") {
        const std::string format = textMember(s, "format", "format");
        if (format == "date-time")
            return "2026-01-01T00:00:00Z";
        if (format == "date")
            return "2026-01-01";
        if (format == "email")
            return "user@example.com";
        if (format == "uuid")
            return "00000000-0000-4000-8000-000000000000";
        return "string";
    }
    if (type == "integer")
        return 0;
    if (type == "number")
        return 0.0;
    if (type == "boolean")
        return false;
    return nullptr;
}

// The example of one response object, from the media type or its schema.
std::string responseBody(const json &root, const json &responseNode, ImportBudget &total)
{
    // Schemas that refer to each other widely could otherwise make huge samples.
    size_t budget = 2000;
    int refs = 0;
    const json *response = resolve(root, responseNode, refs);
    if (!response || !response->is_object())
        return {};
    const json *example = nullptr;
    json sampled;
    if (response->contains("content") && (*response)["content"].is_object()) { // OpenAPI 3
        const json &content = (*response)["content"];
        const json *media = nullptr;
        for (auto it = content.begin(); it != content.end(); ++it) {
            if (it.key().find("json") != std::string::npos || !media)
                media = &it.value();
            if (it.key() == "application/json")
                break;
        }
        if (media && media->is_object()) {
            if (media->contains("example")) {
                example = &(*media)["example"];
            } else if (media->contains("examples") && (*media)["examples"].is_object()
                       && !(*media)["examples"].empty()) {
                int exampleRefs = 0;
                const json *first = resolve(root, (*media)["examples"].begin().value(), exampleRefs);
                if (first && first->is_object() && first->contains("value"))
                    example = &(*first)["value"];
            } else if (media->contains("schema")) {
                sampled = sampleFromSchema(root, (*media)["schema"], 0, budget, total);
                example = &sampled;
            }
        }
    } else { // Swagger 2
        if (response->contains("examples") && (*response)["examples"].is_object()
            && !(*response)["examples"].empty()) {
            const json &examples = (*response)["examples"];
            example = examples.contains("application/json") ? &examples["application/json"] : &examples.begin().value();
        } else if (response->contains("schema")) {
            sampled = sampleFromSchema(root, (*response)["schema"], 0, budget, total);
            example = &sampled;
        }
    }
    if (!example || example->is_null())
        return {};
    // A shared example is copied into every route that uses it: what it adds up to is what counts. Its
    // size is known before it is written out, which a deeply nested one multiplies.
    if (!example->is_string())
        total.checkRoom(writtenJsonSize(*example, 2, total.bodyBytes));
    std::string body = example->is_string() ? example->get<std::string>()
                                            : example->dump(2, ' ', false, json::error_handler_t::replace);
    total.takeBody(body.size());
    return body;
}

// The document's server: (host, base path).
std::pair<std::string, std::string> serverOf(const json &document)
{
    if (document.contains("servers") && document["servers"].is_array() && !document["servers"].empty()
        && document["servers"].front().is_object()) {
        const std::string url = textMember(document["servers"].front(), "url", "servers[0].url");
        if (const auto target = parseProxyTarget(url, ""))
            return {target->host, target->path == "/" ? "" : target->path};
        if (!url.empty() && url.front() == '/')
            return {"api.example.com", url == "/" ? "" : url};
    }
    if (document.contains("host") && document["host"].is_string()) {
        std::string base = textMember(document, "basePath", "basePath");
        if (base == "/")
            base.clear();
        return {lowerAscii(document["host"].get<std::string>()), base};
    }
    return {"api.example.com", ""};
}

// A title fit to be a project name: valid UTF-8, no control characters or line breaks, not too long.
std::string projectTitle(const std::string &title)
{
    const std::string valid = sanitizeUtf8(title.substr(0, 120));
    std::string clean;
    for (std::size_t i = 0; i < valid.size(); ++i) {
        const auto byte = static_cast<unsigned char>(valid[i]);
        if (const int breakLength = byte >= 0x80 ? outputLineBreakAt(valid, i) : 0) {
            clean += ' ';
            i += breakLength - 1;
        } else {
            clean += byte < 0x20 || byte == 0x7F ? ' ' : valid[i];
        }
    }
    const size_t first = clean.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return clean.substr(first, clean.find_last_not_of(' ') - first + 1);
}

// The status a response key stands for: "404" itself, a range such as "4XX" its first; "default" 200.
int responseStatus(const std::string &code)
{
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (code.size() != 3 || !digit(code[0]))
        return 200;
    if (std::all_of(code.begin(), code.end(), digit))
        return std::stoi(code);
    return (code[1] == 'X' || code[1] == 'x') && (code[2] == 'X' || code[2] == 'x') ? (code[0] - '0') * 100 : 200;
}

// The response a route answers with: the first success, else "default", else the lowest other final
// status the document gives (an operation that only fails answers as it fails); empty when there is none.
std::string chosenResponse(const json &responses)
{
    std::string chosen;
    for (auto it = responses.begin(); it != responses.end(); ++it) {
        if (it.key().size() == 3 && it.key()[0] == '2' && (chosen.empty() || it.key() < chosen))
            chosen = it.key();
    }
    if (chosen.empty() && responses.contains("default"))
        chosen = "default";
    if (!chosen.empty())
        return chosen;
    for (auto it = responses.begin(); it != responses.end(); ++it) {
        const int status = it.key() == "default" ? 0 : responseStatus(it.key());
        if (status >= 300 && status <= 599 && (chosen.empty() || status < responseStatus(chosen)))
            chosen = it.key();
    }
    return chosen;
}

// A document's base path joined to one of its path keys, so "v1/" and "users" still give "/v1/users":
// a route path without its leading slash would never match a request.
std::string joinedRoutePath(std::string base, std::string_view key)
{
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    if (!base.empty() && base.front() != '/')
        base.insert(base.begin(), '/');
    std::string path = openAPIPathToRoute(key);
    if (path.empty() || path.front() != '/')
        path.insert(path.begin(), '/');
    return base + path;
}

} // namespace

std::string openAPIPathToRoute(std::string_view path)
{
    std::string out;
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '{') {
            const size_t close = path.find('}', i);
            if (close != std::string_view::npos) {
                out += ':';
                out.append(path.substr(i + 1, close - i - 1));
                i = close;
                continue;
            }
        }
        out.push_back(path[i]);
    }
    return out;
}

std::optional<OpenAPIImport> importOpenAPIDocument(const json &document, std::string &error, size_t maxSchemaNodes)
{
    if (!document.is_object() || !(document.contains("openapi") || document.contains("swagger"))
        || !document.contains("paths") || !document["paths"].is_object()) {
        error = "not an OpenAPI or Swagger document: it needs \"openapi\" (or \"swagger\") and \"paths\"";
        return std::nullopt;
    }
    // Everything is checked and built before anything is stored, so a refused document leaves no trace.
    try {
        OpenAPIImport result;
        result.title = "Imported API";
        if (document.contains("info") && document["info"].is_object()) {
            const std::string title = projectTitle(textMember(document["info"], "title", "info.title"));
            if (!title.empty())
                result.title = title;
        }
        const auto [host, basePath] = serverOf(document);
        ImportBudget total(maxSchemaNodes);

        for (auto pathIt = document["paths"].begin(); pathIt != document["paths"].end(); ++pathIt) {
            int refs = 0;
            const json *operations = resolve(document, pathIt.value(), refs);
            if (!operations || !operations->is_object())
                continue;
            for (const char *method : kMethods) {
                if (!operations->contains(method) || !(*operations)[method].is_object())
                    continue;
                if (result.routes.size() >= kMaxImportedRoutes) {
                    ++result.leftOut;
                    continue;
                }
                const json &operation = (*operations)[method];
                WireRoute route;
                route.id = makeRouteId();
                route.method = method;
                std::transform(route.method.begin(), route.method.end(), route.method.begin(),
                               [](char c) { return static_cast<char>(std::toupper(c)); });
                route.host = sanitizeUtf8(host);
                route.path = sanitizeUtf8(joinedRoutePath(basePath, pathIt.key()));
                route.status = 200;
                route.active = true;
                if (operation.contains("responses") && operation["responses"].is_object()) {
                    const json &responses = operation["responses"];
                    if (const std::string chosen = chosenResponse(responses); !chosen.empty()) {
                        route.status = responseStatus(chosen);
                        route.body = responseBody(document, responses[chosen], total);
                        if (!isValidUtf8(route.body))
                            route.body = sanitizeUtf8(route.body);
                    }
                }
                if (route.status == 204)
                    route.body.clear();
                result.routes.push_back(std::move(route));
            }
        }
        if (result.routes.empty()) {
            error = "the document describes no operations (get, post, put, delete or patch under \"paths\"), "
                    "so there is nothing to import";
            return std::nullopt;
        }
        return result;
    } catch (const ImportRefused &refused) {
        error = refused.what();
    } catch (const std::exception &e) {
        error = std::string("the document could not be read: ") + e.what();
    }
    return std::nullopt;
}

std::optional<OpenAPIImport> importOpenAPI(std::string_view bytes, std::string &error, size_t maxSchemaNodes)
{
    const size_t first = bytes.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    const bool looksJson = first != std::string_view::npos && (bytes[first] == '{' || bytes[first] == '[');
    const ParseBounds bounds {kMaxImportBytes, kMaxHeldBytes};
    auto document = looksJson ? parseBoundedJson(bytes, bounds, error) : parseBoundedYaml(bytes, error, bounds);
    if (!document) {
        error = "the document could not be read: " + error;
        return std::nullopt;
    }
    const ReleasedAtExit released(*document);
    return importOpenAPIDocument(*document, error, maxSchemaNodes);
}

} // namespace standin
