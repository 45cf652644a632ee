// Generators of realistic import files and the routes each should give.
#include "standin-engine/imports/import_corpus.h"

#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include <map>
#include <random>
#include <set>

namespace standintest {

using nlohmann::json;

namespace {

std::string base64(const std::string &bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    out.resize(static_cast<size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()),
                                                   reinterpret_cast<const unsigned char *>(bytes.data()),
                                                   static_cast<int>(bytes.size()))));
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
    const std::string location = status == 301 ? "https" + url.substr(4) : "";
    json responseHeaders = harHeaders({{"content-type", mime}, {"cache-control", "max-age=60"}});
    if (!contentEncoding.empty())
        responseHeaders.push_back({{"name", "content-encoding"}, {"value", contentEncoding}});
    if (!location.empty())
        responseHeaders.push_back({{"name", "location"}, {"value", location}});
    return {
        {"pageref", "page_1"},
        {"startedDateTime", "2026-03-01T10:00:00.000Z"},
        {"time", time},
        {"request",
         {{"method", method}, {"url", url}, {"httpVersion", "HTTP/2"},
          {"headers", harHeaders({{"user-agent", "Mozilla/5.0 (X11; Linux x86_64) Firefox/128.0"},
                                  {"accept", "*/*"}, {"accept-encoding", "gzip, deflate, br"}})},
          {"queryString", json::array()}, {"cookies", json::array()}, {"headersSize", -1}, {"bodySize", 0}}},
        {"response",
         {{"status", status}, {"statusText", location.empty() ? "OK" : "Moved Permanently"},
          {"httpVersion", "HTTP/2"}, {"headers", responseHeaders}, {"cookies", json::array()},
          {"content", content}, {"redirectURL", location}, {"headersSize", -1}, {"bodySize", text.size()}}},
        {"cache", json::object()},
        {"timings", {{"blocked", 0.4}, {"dns", 0}, {"connect", 0}, {"send", 0.1}, {"wait", time - 1}, {"receive", 0.5}}},
    };
}

// Builds a HAR and its expectation together: the first exchange of a method, host and path wins.
class HarBuilder {
public:
    void add(const json &entry)
    {
        if (!m_entries.empty())
            m_entries.push_back(',');
        m_entries += entry.dump();
    }
    // `host` as a route shows it (no default port); `path` without its query.
    void expect(const std::string &method, const std::string &host, const std::string &path, int status,
                bool binary, const std::string &body)
    {
        if (m_seen.insert(method + " " + host + path).second)
            m_corpus.routes.push_back({method, host, path, status, binary, binary ? std::string() : body});
    }
    size_t size() const { return m_entries.size(); }
    Corpus finish()
    {
        m_corpus.bytes = R"({"log":{"version":"1.2","creator":{"name":"Firefox","version":"128.0"},"pages":[)"
                         R"({"id":"page_1","startedDateTime":"2026-03-01T10:00:00.000Z","title":"Shop",)"
                         R"("pageTimings":{}}],"entries":[)"
                         + m_entries + "]}}";
        return std::move(m_corpus);
    }

private:
    Corpus m_corpus;
    std::string m_entries;
    std::set<std::string> m_seen;
};

} // namespace

Corpus browserHar(size_t targetBytes)
{
    std::mt19937 random(7);
    HarBuilder har;
    for (int page = 0; har.size() < targetBytes; ++page) {
        const std::string p = std::to_string(page);
        // A typed http address answered with a redirect, then the page itself over https.
        har.add(harEntry("GET", "http://shop.example.com/p/" + p, 301, "text/html", "", false, 12));
        har.expect("GET", "shop.example.com", "/p/" + p, 301, false, "");
        std::string html = "<!doctype html><html><head><title>Product " + p + "</title></head><body>";
        while (html.size() < 3000)
            html += "<div class=\"card\">Caf\u00e9 cr\u00e8me \u2014 item " + p + "</div>";
        html += "</body></html>";
        har.add(harEntry("GET", "https://shop.example.com/p/" + p + "/", 200, "text/html", html, false, 80));
        // Images come from a small set, so most are repeats.
        const std::string image = "/img/" + std::to_string(page % 40) + ".png";
        har.add(harEntry("GET", "https://cdn.example.com" + image, 200, "image/png",
                         binaryBytes("\x89PNG\r\n\x1a\n", 6000 + (page % 7) * 3000, random), true, 30));
        har.expect("GET", "cdn.example.com", image, 200, true, "");
        const std::string cart = R"({"items":)" + std::to_string(page % 5) + R"(,"total":"€)" + p + R"(.00"})";
        har.add(harEntry("GET", "https://api.example.com/v1/cart", 200, "application/json", cart, false, 40, "gzip"));
        har.expect("GET", "api.example.com", "/v1/cart", 200, false, cart);
        const std::string product = R"({"id":)" + p + R"(,"name":"Widget )" + p + R"(","tags":["a","b"]})";
        har.add(harEntry("GET", "https://api.example.com/v1/products/" + p + "?ref=home&utm=x", 200,
                         "application/json", product, false, 55, "br"));
        har.expect("GET", "api.example.com", "/v1/products/" + p, 200, false, product);
        // A script stored as its compressed bytes.
        const std::string script = "/js/app." + std::to_string(page % 5) + ".js";
        har.add(harEntry("GET", "https://cdn.example.com" + script, 200, "application/javascript",
                         binaryBytes("\x1f\x8b\x08", 2000, random), true, 20));
        har.expect("GET", "cdn.example.com", script, 200, true, "");
        if (page % 7 == 0) {
            const std::string added = R"({"added":)" + p + "}";
            har.add(harEntry("POST", "https://api.example.com/v1/cart/items", 201, "application/json", added, false, 90));
            har.expect("POST", "api.example.com", "/v1/cart/items", 201, false, added);
        }
        har.add(harEntry("GET", "https://shop.example.com:8443/health", 204, "text/plain", "", false, 3));
        har.expect("GET", "shop.example.com:8443", "/health", 204, false, "");
    }
    return har.finish();
}

Corpus manyRequestsHar(size_t distinct)
{
    HarBuilder har;
    for (int round = 0; round < 2; ++round) {
        for (size_t k = 0; k < distinct; ++k) {
            const std::string path = "/items/" + std::to_string(k);
            const std::string body = R"({"id":)" + std::to_string(k) + "}";
            har.add(harEntry("GET", "https://bulk.example.com" + path, 200, "application/json", body, false, 5));
            har.expect("GET", "bulk.example.com", path, 200, false, body);
        }
    }
    return har.finish();
}

Corpus postmanCollection(int folders, int perFolder)
{
    Corpus corpus;
    json top = json::array();
    for (int f = 0; f < folders; ++f) {
        json outer = json::array();
        json inner = json::array();
        // The even requests sit in the folder, the odd ones in its subfolder, which the import walks after.
        for (int pass : {0, 1}) {
            for (int r = pass; r < perFolder; r += 2) {
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
                corpus.routes.push_back({method, "api.example.com", path, status, false, body});
                (r % 2 == 0 ? outer : inner).push_back(item);
            }
        }
        outer.push_back({{"name", "v2"}, {"item", inner}});
        top.push_back({{"name", "Folder " + std::to_string(f)}, {"item", outer}});
    }
    corpus.bytes = json({{"info",
                          {{"name", "Shop API"},
                           {"schema", "https://schema.getpostman.com/json/collection/v2.1.0/collection.json"}}},
                         {"item", top}})
                       .dump(1, '\t');
    return corpus;
}

Corpus openAPIYaml(int operations)
{
    Corpus corpus;
    const json item = {{"id", 17}, {"name", "Widget"}, {"price", 9.5}, {"tags", {"blue", "large"}}};
    const std::string itemBody = item.dump(2);
    const std::string listBody = json::array({item}).dump(2);
    std::string paths;
    std::map<std::string, ExpectedRoute> routes; // the import walks paths in the order of their keys
    // Four operations on two paths per resource, every response but one a shared component.
    for (int n = 0; n < operations; ++n) {
        const std::string base = "/r" + std::to_string(n / 4) + "/items";
        const auto expect = [&](const char *method, const std::string &path, int status, const std::string &body) {
            routes[path + " " + method] = {method, "big.example.com", "/v2" + path, status, false, body};
        };
        switch (n % 4) {
        case 0:
            paths += "  " + base + ":\n    get:\n      summary: List items\n      responses:\n"
                     "        '200':\n          $ref: '#/components/responses/ItemList'\n";
            expect("GET", base, 200, listBody);
            break;
        case 1:
            paths += "    post:\n      requestBody:\n        content:\n          application/json:\n"
                     "            schema: {$ref: '#/components/schemas/Item'}\n      responses:\n"
                     "        '400': {$ref: '#/components/responses/Problem'}\n"
                     "        '201':\n          description: Created\n          content:\n"
                     "            application/json:\n              schema:\n"
                     "                $ref: '#/components/schemas/Item'\n";
            expect("POST", base, 201, itemBody);
            break;
        case 2:
            paths += "  " + base + "/{itemId}:\n    parameters:\n      - {name: itemId, in: path, required: true, "
                     "schema: {type: string}}\n    get:\n      responses:\n"
                     "        '200': {$ref: '#/components/responses/ItemOk'}\n"
                     "        '404': {$ref: '#/components/responses/Problem'}\n";
            expect("GET", base + "/:itemId", 200, itemBody);
            break;
        default:
            paths += "    delete:\n      responses:\n        '204': {description: Deleted}\n";
            expect("DELETE", base + "/:itemId", 204, "");
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
