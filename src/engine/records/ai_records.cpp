// JSON of mock generation requests and the local model's records, and the setup byte text.
#include "engine/records/ai_records.h"

#include <charconv>

namespace {

// "%.1f GB" of a byte count, always with a decimal point whatever the process locale.
std::string gigabytes(std::int64_t bytes)
{
    const double value = static_cast<double>(bytes) / 1073741824.0;
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
    return std::string(buffer, result.ptr) + " GB";
}

template <class Json> void writeGenerate(Json &j, const MockGenerateRequest &r)
{
    j = Json::object();
    j["key"] = r.key;
    j["example"] = r.example;
    j["seed"] = r.seed;
    j["count"] = r.count;
}

template <class Json> void writeAIRequest(Json &j, const MockAIRequest &r)
{
    j = Json::object();
    j["prompt"] = r.prompt;
    j["key"] = r.key;
    j["example"] = r.example;
    j["seed"] = r.seed;
    j["count"] = r.count;
}

template <class Json> void writeStatus(Json &j, const AIStatus &s)
{
    j = Json::object();
    j["available"] = s.available;
    j["running"] = s.running;
    j["serverBin"] = s.serverBin;
    j["model"] = s.model;
    j["endpoint"] = s.endpoint;
    j["detail"] = s.detail;
}

template <class Json> void writeProgress(Json &j, const AISetupProgress &p)
{
    j = Json::object();
    j["stage"] = p.stage;
    j["message"] = p.message;
    j["downloaded"] = p.downloaded;
    j["total"] = p.total;
    j["percent"] = p.percent;
    records::putOptional(j, "err", p.err);
}

} // namespace

AIStatus AIStatus::initial()
{
    AIStatus status;
    status.detail = "checking";
    return status;
}

AISetupProgress AISetupProgress::initial()
{
    AISetupProgress progress;
    progress.stage = "idle";
    return progress;
}

std::string AISetupProgress::bytesText() const
{
    if (total < 1)
        return gigabytes(downloaded);
    return gigabytes(downloaded) + " / " + gigabytes(total);
}

KESTRION_RECORD_WRITERS(MockGenerateRequest, writeGenerate)
KESTRION_RECORD_WRITERS(MockAIRequest, writeAIRequest)
KESTRION_RECORD_WRITERS(AIStatus, writeStatus)
KESTRION_RECORD_WRITERS(AISetupProgress, writeProgress)

void from_json(const nlohmann::json &j, MockGenerateRequest &r)
{
    const records::ObjectReader in(j);
    in.required("key", r.key);
    in.required("example", r.example);
    in.required("seed", r.seed);
    in.required("count", r.count);
}

void from_json(const nlohmann::json &j, MockAIRequest &r)
{
    const records::ObjectReader in(j);
    in.required("prompt", r.prompt);
    in.required("key", r.key);
    in.required("example", r.example);
    in.required("seed", r.seed);
    in.required("count", r.count);
}

void from_json(const nlohmann::json &j, AIStatus &s)
{
    const records::ObjectReader in(j);
    in.required("available", s.available);
    in.required("running", s.running);
    in.required("serverBin", s.serverBin);
    in.required("model", s.model);
    in.required("endpoint", s.endpoint);
    in.required("detail", s.detail);
}

void from_json(const nlohmann::json &j, AISetupProgress &p)
{
    const records::ObjectReader in(j);
    in.required("stage", p.stage);
    in.required("message", p.message);
    in.required("downloaded", p.downloaded);
    in.required("total", p.total);
    in.required("percent", p.percent);
    in.optional("err", p.err);
}
