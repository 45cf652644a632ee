// Every wire record decoder on arbitrary text; a record that decodes must survive encode and decode
// unchanged. The first byte picks the record, the rest is the JSON text.
#include "fuzz_support.h"

#include "engine/records/engine_records.h"

#include <cmath>

namespace {

bool hasNonFiniteNumber(const nlohmann::json &j)
{
    if (j.is_number_float())
        return !std::isfinite(j.get<double>());
    if (j.is_structured())
        for (const auto &element : j)
            if (hasNonFiniteNumber(element))
                return true;
    return false;
}

template <class T> void probe(std::string_view text)
{
    const std::optional<T> decoded = decodeRecord<T>(text);
    if (!decoded)
        return;
    const std::string encoded = encodeRecord(*decoded);
    const std::optional<T> again = decodeRecord<T>(encoded);
    if (!again) {
        // JSON has no infinity: a number too large for a double cannot be written back.
        if (hasNonFiniteNumber(nlohmann::json::parse(text, nullptr, false)))
            return;
        fuzz::fail("a decoded record does not decode again from its own encoding");
    }
    fuzz::check(*again == *decoded, "a record changed on its way through encode and decode");
    fuzz::check(encodeRecord(*again) == encoded, "encoding is not stable");
}

using Probe = void (*)(std::string_view);
constexpr Probe kProbes[] = {
    probe<WireStep>, probe<WireRoute>, probe<std::vector<WireRoute>>,
    probe<Project>, probe<ProjectList>, probe<ProjectNameRequest>,
    probe<WireVar>, probe<WireEnvironment>, probe<EnvironmentSet>,
    probe<ChaosFault>, probe<ChaosPreset>, probe<ChaosState>,
    probe<EngineHealth>, probe<EngineEvent>, probe<CAInfo>,
    probe<WireTrafficEvent>, probe<TrafficRecord>, probe<std::vector<TrafficRecord>>,
    probe<SchemaChange>, probe<WireDriftEvent>, probe<SchemaDriftRecord>,
    probe<SchemaField>, probe<SchemaSketch>, probe<SchemaBaseline>, probe<SchemaSnapshot>,
    probe<AIStatus>, probe<AISetupProgress>, probe<MockGenerateRequest>, probe<MockAIRequest>,
    probe<ErrorReply>, probe<OpenAPIImportResult>,
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view text = fuzz::asText(data + 1, size - 1);
    kProbes[data[0] % std::size(kProbes)](text);
    return 0;
}
