// "{{key}}" substitution: first line "key=value" pairs separated by ';', the rest is the body.
// Without variables the body is unchanged; with them it grows by at most one value per placeholder.
#include "fuzz_support.h"

#include "mocks/route_matching.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto parts = fuzz::fields(fuzz::asText(data, size), 2);
    std::vector<WireVar> variables;
    std::string_view spec = parts[0];
    while (!spec.empty()) {
        const auto end = std::min(spec.find(';'), spec.size());
        const std::string_view pair = spec.substr(0, end);
        const auto equals = pair.find('=');
        WireVar variable;
        variable.key = std::string(pair.substr(0, equals));
        variable.value = equals == std::string_view::npos ? std::string() : std::string(pair.substr(equals + 1));
        variables.push_back(std::move(variable));
        spec.remove_prefix(std::min(end + 1, spec.size()));
    }
    const std::string_view body = parts[1];
    fuzz::check(standin::substituteVariables(body, std::vector<WireVar> {}) == body,
                "substitution without variables changed the text");
    const std::string substituted = standin::substituteVariables(body, variables);
    fuzz::check(standin::substituteVariables(body, standin::VariableSnapshot(variables)) == substituted,
                "the shared snapshot substituted otherwise than the list");
    std::size_t longestValue = 0;
    for (const WireVar &variable : variables)
        longestValue = std::max(longestValue, variable.value.size());
    // Each placeholder takes at least four bytes, so the text grows by at most one value per four bytes.
    fuzz::check(substituted.size() <= body.size() + (body.size() / 4 + 1) * longestValue,
                "substitution grew the text more than its placeholders allow");
    return 0;
}
