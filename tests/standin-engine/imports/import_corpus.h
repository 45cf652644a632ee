// Large captures and API documents shaped like real ones, generated with the routes they should give.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace standintest {

// A route an import should make, worked out independently of the engine's import code.
struct ExpectedRoute {
    std::string method;
    std::string host;
    std::string path;
    int status = 200;
    bool passThrough = false; // the captured body is bytes, not text
    std::string body;         // when not passed through
};

struct Corpus {
    std::string bytes;
    std::vector<ExpectedRoute> routes; // in the order the import keeps them
};

// A browser's HAR of a shopping visit: page loads behind http→https redirects, the same API calls repeated,
// base64 images, gzip-encoded text, a few POSTs and query strings; grown page by page to `targetBytes`.
Corpus browserHar(std::size_t targetBytes);
// A HAR of `distinct` different GET requests, each captured twice.
Corpus manyRequestsHar(std::size_t distinct);
// A Postman collection of `folders` nested folders holding `perFolder` requests each, some with saved responses.
Corpus postmanCollection(int folders, int perFolder);
// An OpenAPI 3 YAML document of `operations` operations whose responses reuse shared components through "$ref".
Corpus openAPIYaml(int operations);

} // namespace standintest
