// The control port's request and response values, as the handlers see them, and reading a target.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace standin {

class EventSubscription;

struct ControlRequest {
    std::string method;
    std::string path; // percent-decoded
    std::string target;    // as written: origin form ("/health") or absolute form ("http://127.0.0.1:PORT/health")
    std::string authority; // whom the request is for: the absolute form's host and port, else the Host field
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    std::multimap<std::string, std::string> params; // query parameters, percent-decoded
    std::vector<std::string> matches;               // the pattern's ":name" segments in order; [0] is the whole path

    bool hasParam(const char *name) const;
    std::string paramValue(const char *name) const; // "" when absent
    bool hasHeader(const char *name) const;
    std::string headerValue(const char *name) const; // case-insensitive; "" when absent
    std::size_t headerCount(const char *name) const; // case-insensitive
};

// Payloads of an event stream, sent one "data:" line each as they are published.
struct ControlEventStream {
    std::shared_ptr<EventSubscription> subscription;
    std::vector<std::string> firstLines; // sent as they are, before anything published
    std::function<void()> onEnd;
};

struct ControlResponse {
    int status = 200;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    std::shared_ptr<ControlEventStream> stream;
    // Set by a handler whose answer comes from work done elsewhere: called once, after the handler, with
    // a function that takes the answer (from any thread). The connection waits without holding a worker.
    std::function<void(std::function<void(ControlResponse)>)> later;

    void setContent(std::string content, const std::string &contentType);
    void setHeader(const std::string &name, const std::string &value);
};

// An absolute-form target split into its authority and the origin form it names ("/" when it names no
// path); nothing for any other target, or a scheme other than http.
struct AbsoluteForm {
    std::string authority;
    std::string originForm;
};
std::optional<AbsoluteForm> absoluteForm(std::string_view target);

// Splits "path?query" into its decoded path and parameters ("+" in a value is a space).
void parseControlTarget(const std::string &target, std::string &path, std::multimap<std::string, std::string> &params);
std::string percentDecode(std::string_view text, bool plusIsSpace);

} // namespace standin
