// The control request and response values: field and parameter reading, and splitting a target.
#include "control/control_request.h"

#include "core/engine_support.h"

namespace standin {

namespace {

std::string findParam(const std::multimap<std::string, std::string> &params, const char *name)
{
    const auto found = params.find(name);
    return found == params.end() ? std::string() : found->second;
}

} // namespace

bool ControlRequest::hasParam(const char *name) const
{
    return params.count(name) > 0;
}

std::string ControlRequest::paramValue(const char *name) const
{
    return findParam(params, name);
}

bool ControlRequest::hasHeader(const char *name) const
{
    const std::string wanted = lowerAscii(name);
    for (const auto &[key, value] : headers) {
        if (lowerAscii(key) == wanted)
            return true;
    }
    return false;
}

std::string ControlRequest::headerValue(const char *name) const
{
    const std::string wanted = lowerAscii(name);
    for (const auto &[key, value] : headers) {
        if (lowerAscii(key) == wanted)
            return value;
    }
    return {};
}

std::size_t ControlRequest::headerCount(const char *name) const
{
    const std::string wanted = lowerAscii(name);
    std::size_t count = 0;
    for (const auto &field : headers)
        count += lowerAscii(field.first) == wanted ? 1 : 0;
    return count;
}

void ControlResponse::setContent(std::string content, const std::string &contentType)
{
    body = std::move(content);
    setHeader("Content-Type", contentType);
}

void ControlResponse::setHeader(const std::string &name, const std::string &value)
{
    for (auto &[key, existing] : headers) {
        if (lowerAscii(key) == lowerAscii(name)) {
            existing = value;
            return;
        }
    }
    headers.emplace_back(name, value);
}

std::string percentDecode(std::string_view text, bool plusIsSpace)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size()) {
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.push_back(plusIsSpace && c == '+' ? ' ' : c);
    }
    return out;
}

std::optional<AbsoluteForm> absoluteForm(std::string_view target)
{
    constexpr std::string_view kScheme = "http://";
    if (target.size() < kScheme.size() || lowerAscii(target.substr(0, kScheme.size())) != kScheme)
        return std::nullopt;
    target.remove_prefix(kScheme.size());
    const size_t end = target.find_first_of("/?");
    AbsoluteForm form {std::string(target.substr(0, end)), "/"};
    if (end != std::string_view::npos) {
        form.originForm.resize(target[end] == '/' ? 0 : 1); // "http://host?q" names "/?q"
        form.originForm.append(target.substr(end));
    }
    return form;
}

void parseControlTarget(const std::string &target, std::string &path, std::multimap<std::string, std::string> &params)
{
    const size_t question = target.find('?');
    path = percentDecode(std::string_view(target).substr(0, question), false);
    if (question == std::string::npos)
        return;
    std::string_view query = std::string_view(target).substr(question + 1);
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        if (!pair.empty()) {
            const size_t equals = pair.find('=');
            params.emplace(percentDecode(pair.substr(0, equals), true),
                           equals == std::string_view::npos ? std::string() : percentDecode(pair.substr(equals + 1), true));
        }
        if (amp == std::string_view::npos)
            break;
        query.remove_prefix(amp + 1);
    }
}

} // namespace standin
