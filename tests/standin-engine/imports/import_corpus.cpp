// Generators of realistic import files and the routes each should give.
#include "standin-engine/imports/import_corpus.h"

#include <nlohmann/json.hpp>

#include <map>
#include <random>
#include <set>

namespace standintest {

using nlohmann::json;

namespace {

std::string base64(const std::string &bytes)
{
    static const char *kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8)
                           | static_cast<unsigned char>(bytes[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6)
            out.push_back(kAlphabet[(v >> shift) & 63]);
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

// Bytes that start like a real file of the kind and go on as noise, so they are never text.
std::string binaryBytes(std::string_view magic, size_t size, std::mt19937 &random)
{
    std::string bytes(magic);
    while (bytes.size() < size)
        bytes.push_back(static_cast<char>(random() & 0xFF));
    return bytes;
}

// Builds the capture and its expectation together: the first exchange of a method, host and path wins.
class CaptureBuilder {
public:
    // `host` as a route shows it (no default port); `path` without its query.
    void expect(const std::string &method, const std::string &host, const std::string &path, int status,
                bool binary, const std::string &body)
    {
        if (!m_seen.insert(method + " " + host + path).second)
            return;
        m_corpus.routes.push_back({method, host, path, status, binary, binary ? std::string() : body});
    }
    Corpus &corpus() { return m_corpus; }

private:
    Corpus m_corpus;
    std::set<std::string> m_seen;
};

json harHeaders(std::initializer_list<std::pair<const char *, std::string>> headers)
{
    json list = json::array();
    for (const auto &[name, value] : headers)
        list.push_back({{"name", name}, {"value", value}});
    return list;
}

json harEntry(const std::string &method, const std::string &url, int status, const std::string &mime,
              const std::string &text, bool base64Body, double time, const std::string &contentEncoding = {})
{
    json content = {{"size", text.size()}, {"mimeType", mime}, {"text", base64Body ? base64(text) : text}};
    if (base64Body)
        content["encoding"] = "base64";
    json responseHeaders = harHeaders({{"content-type", mime}, {"cache-control", "max-age=60"}});
    if (!contentEncoding.empty())
        responseHeaders.push_back({{"name", "content-encoding"}, {"value", contentEncoding}});
    if (status == 301)
        responseHeaders.push_back({{"name", "location"}, {"value", "https" + url.substr(4)}});
    return {
        {"pageref", "page_1"},
        {"startedDateTime", "2026-03-01T10:00:00.000Z"},
        {"time", time},
        {"request",
         {{"method", method},
          {"url", url},
          {"httpVersion", "HTTP/2"},
          {"headers", harHeaders({{"user-agent", "Mozilla/5.0 (X11; Linux x86_64) Firefox/128.0"},
                                  {"accept", "*/*"},
                                  {"accept-encoding", "gzip, deflate, br"}})},
          {"queryString", json::array()},
          {"cookies", json::array()},
          {"headersSize", -1},
          {"bodySize", 0}}},
        {"response",
         {{"status", status},
          {"statusText", status == 301 ? "Moved Permanently" : "OK"},
          {"httpVersion", "HTTP/2"},
          {"headers", responseHeaders},
          {"cookies", json::array()},
          {"content", content},
          {"redirectURL", status == 301 ? "https" + url.substr(4) : ""},
          {"headersSize", -1},
          {"bodySize", text.size()}}},
        {"cache", json::object()},
        {"timings", {{"blocked", 0.4}, {"dns", 0}, {"connect", 0}, {"send", 0.1}, {"wait", time - 1}, {"receive", 0.5}}},
    };
}

std::string harDocument(const std::string &entries)
{
    return R"({"log":{"version":"1.2","creator":{"name":"Firefox","version":"128.0"},"pages":[{"id":"page_1",)"
           R"("startedDateTime":"2026-03-01T10:00:00.000Z","title":"Shop","pageTimings":{}}],"entries":[)"
           + entries + "]}}";
}

} // namespace

Corpus browserHar(size_t targetBytes)
{
    std::mt19937 random(7);
    CaptureBuilder builder;
    std::string entries;
    const auto add = [&](const json &entry) {
        if (!entries.empty())
            entries.push_back(',');
        entries += entry.dump();
    };
    for (int page = 0; entries.size() < targetBytes; ++page) {
        const std::string p = std::to_string(page);
        // A typed http address answered with a redirect, then the page itself over https.
        add(harEntry("GET", "http://shop.example.com/p/" + p, 301, "text/html", "", false, 12));
        builder.expect("GET", "shop.example.com", "/p/" + p, 301, false, "");
        std::string html = "<!doctype html><html><head><title>Product " + p + "</title></head><body>";
        while (html.size() < 3000)
            html += "<div class=\"card\">Caf\u00e9 cr\u00e8me \u2014 item " + p + "</div>";
        html += "</body></html>";
        add(harEntry("GET", "https://shop.example.com/p/" + p + "/", 200, "text/html", html, false, 80));
        // Images come from a small set, so most are repeats.
        const std::string image = "https://cdn.example.com/img/" + std::to_string(page % 40) + ".png";
        add(harEntry("GET", image, 200, "image/png",
                     binaryBytes("\x89PNG\r\n\x1a\n", 6000 + (page % 7) * 3000, random), true, 30));
        builder.expect("GET", "cdn.example.com", "/img/" + std::to_string(page % 40) + ".png", 200, true, "");
        const std::string cart = R"({"items":)" + std::to_string(page % 5) + R"(,"total":"€)" + p + R"(.00"})";
        add(harEntry("GET", "https://api.example.com/v1/cart", 200, "application/json", cart, false, 40, "gzip"));
        builder.expect("GET", "api.example.com", "/v1/cart", 200, false, cart);
        const std::string product = R"({"id":)" + p + R"(,"name":"Widget )" + p + R"(","tags":["a","b"]})";
        add(harEntry("GET", "https://api.example.com/v1/products/" + p + "?ref=home&utm=x", 200, "application/json",
                     product, false, 55, "br"));
        builder.expect("GET", "api.example.com", "/v1/products/" + p, 200, false, product);
        // A script stored as its compressed bytes.
        const std::string script = "https://cdn.example.com/js/app." + std::to_string(page % 5) + ".js";
        add(harEntry("GET", script, 200, "application/javascript", binaryBytes("\x1f\x8b\x08", 2000, random), true,
                     20));
        builder.expect("GET", "cdn.example.com", "/js/app." + std::to_string(page % 5) + ".js", 200, true, "");
        if (page % 7 == 0) {
            const std::string added = R"({"added":)" + p + "}";
            add(harEntry("POST", "https://api.example.com/v1/cart/items", 201, "application/json", added, false, 90));
            builder.expect("POST", "api.example.com", "/v1/cart/items", 201, false, added);
        }
        add(harEntry("GET", "https://shop.example.com:8443/health", 204, "text/plain", "", false, 3));
        builder.expect("GET", "shop.example.com:8443", "/health", 204, false, "");
    }
    builder.corpus().bytes = harDocument(entries);
    return std::move(builder.corpus());
}

Corpus manyRequestsHar(size_t distinct)
{
    CaptureBuilder builder;
    std::string entries;
    for (int round = 0; round < 2; ++round) {
        for (size_t k = 0; k < distinct; ++k) {
            const std::string body = R"({"id":)" + std::to_string(k) + "}";
            if (!entries.empty())
                entries.push_back(',');
            entries += harEntry("GET", "https://bulk.example.com/items/" + std::to_string(k), 200,
                                "application/json", body, false, 5)
                           .dump();
            builder.expect("GET", "bulk.example.com", "/items/" + std::to_string(k), 200, false, body);
        }
    }
    builder.corpus().bytes = harDocument(entries);
    return std::move(builder.corpus());
}

Corpus postmanCollection(int folders, int perFolder)
{
    CaptureBuilder builder;
    json top = json::array();
    for (int f = 0; f < folders; ++f) {
        json outer = json::array();
        json inner = json::array();
        for (int r = 0; r < perFolder; ++r) {
            const std::string method = r % 4 == 3 ? "POST" : "GET";
            std::string folder = std::to_string(f);
            folder.insert(folder.begin(), 'f');
            std::string request = std::to_string(r);
            request.insert(request.begin(), 'r');
            const std::string path = "/" + folder + "/" + request;
            json item = {{"name", "Request " + std::to_string(r)},
                         {"request",
                          {{"method", method},
                           {"header", json::array({{{"key", "Accept"}, {"value", "application/json"}}})},
                           {"url",
                            {{"raw", "https://api.example.com" + path + "?page=1"},
                             {"protocol", "https"},
                             {"host", {"api", "example", "com"}},
                             {"path", {folder, request}}}}}}};
            int status = 200;
            std::string body;
            if (r % 3 != 2) {
                status = method == "POST" ? 201 : 200;
                body = R"({"folder":)" + std::to_string(f) + R"(,"request":)" + std::to_string(r) + "}";
                item["response"] = json::array({{{"name", "saved"}, {"code", status}, {"body", body}}});
            }
            builder.expect(method, "api.example.com", path, status, false, body);
            (r % 2 == 0 ? outer : inner).push_back(item);
        }
        outer.push_back({{"name", "v2"}, {"item", inner}});
        top.push_back({{"name", "Folder " + std::to_string(f)}, {"item", outer}});
    }
    // The expectation above lists each folder's requests in creation order; the import walks the
    // folder's own requests before its subfolder's.
    std::vector<ExpectedRoute> ordered;
    for (int f = 0; f < folders; ++f) {
        for (int pass = 0; pass < 2; ++pass) {
            for (int r = pass; r < perFolder; r += 2)
                ordered.push_back(builder.corpus().routes[static_cast<size_t>(f * perFolder + r)]);
        }
    }
    builder.corpus().routes = ordered;
    builder.corpus().bytes
        = json({{"info",
                 {{"name", "Shop API"},
                  {"schema", "https://schema.getpostman.com/json/collection/v2.1.0/collection.json"}}},
                {"item", top}})
              .dump(1, '\t');
    return std::move(builder.corpus());
}

Corpus openAPIYaml(int operations)
{
    Corpus corpus;
    const json item = {{"id", 17}, {"name", "Widget"}, {"price", 9.5}, {"tags", {"blue", "large"}}};
    const std::string itemBody = item.dump(2);
    const std::string listBody = json::array({item}).dump(2);
    std::string paths;
    std::map<std::string, ExpectedRoute> routes; // the import walks paths in the order of their keys
    for (int k = 0; 4 * k < operations; ++k) {
        const std::string base = "/r" + std::to_string(k) + "/items";
        const auto expect = [&](int op, const char *method, const std::string &path, int status,
                                const std::string &body) {
            if (4 * k + op < operations)
                routes[path + " " + method] = {method, "big.example.com", "/v2" + path, status, false, body};
        };
        paths += "  " + base + ":\n    get:\n      summary: List items\n      responses:\n"
                 "        '200':\n          $ref: '#/components/responses/ItemList'\n";
        expect(0, "GET", base, 200, listBody);
        if (4 * k + 1 < operations) {
            paths += "    post:\n      requestBody:\n        content:\n          application/json:\n"
                     "            schema: {$ref: '#/components/schemas/Item'}\n      responses:\n"
                     "        '400': {$ref: '#/components/responses/Problem'}\n"
                     "        '201':\n          description: Created\n          content:\n"
                     "            application/json:\n              schema:\n"
                     "                $ref: '#/components/schemas/Item'\n";
            expect(1, "POST", base, 201, itemBody);
        }
        if (4 * k + 2 < operations) {
            paths += "  " + base + "/{itemId}:\n    parameters:\n      - {name: itemId, in: path, required: true, "
                     "schema: {type: string}}\n    get:\n      responses:\n"
                     "        '200': {$ref: '#/components/responses/ItemOk'}\n"
                     "        '404': {$ref: '#/components/responses/Problem'}\n";
            expect(2, "GET", base + "/:itemId", 200, itemBody);
        }
        if (4 * k + 3 < operations) {
            paths += "    delete:\n      responses:\n        '204': {description: Deleted}\n";
            expect(3, "DELETE", base + "/:itemId", 204, "");
        }
    }
    corpus.bytes = "openapi: 3.0.3\ninfo:\n  title: Big Shop API\n  version: '2.4'\n"
                   "servers:\n  - url: https://big.example.com/v2\n    description: production\n"
                   "paths:\n" + paths
                   + "components:\n  schemas:\n    Item:\n      type: object\n"
                     "      required: [id, name]\n      properties:\n        id: {type: integer}\n"
                     "        name: {type: string}\n        price: {type: number}\n"
                     "        tags: {type: array, items: {type: string}}\n"
                     "      example: &item\n        id: 17\n        name: Widget\n        price: 9.5\n"
                     "        tags: [blue, large]\n"
                     "    Items:\n      type: array\n      items: {$ref: '#/components/schemas/Item'}\n"
                     "  responses:\n    ItemOk:\n      description: One item\n      content:\n"
                     "        application/json:\n          schema: {$ref: '#/components/schemas/Item'}\n"
                     "    ItemList:\n      description: Items\n      content:\n        application/json:\n"
                     "          schema: {$ref: '#/components/schemas/Items'}\n"
                     "    Problem:\n      description: Problem\n      content:\n        application/problem+json:\n"
                     "          example: {title: Not found, status: 404}\n";
    for (auto &[key, route] : routes)
        corpus.routes.push_back(std::move(route));
    return corpus;
}

} // namespace standintest
