// Ids taken from requests and files, checked before they are kept.
#include "core/id_checks.h"

#include "core/engine_support.h"

namespace standin {

namespace {

std::optional<std::string> refusedId(const char *what, const std::string &id)
{
    if (!hasControlCharacter(id))
        return std::nullopt;
    return std::string(what) + " id \"" + escapedLogLine(loggedName(id)) + "\" must not contain control characters or line breaks";
}

} // namespace

std::optional<std::string> refusedIds(const std::vector<WireRoute> &routes)
{
    for (const auto &route : routes) {
        if (auto refusal = refusedId("route", route.id))
            return refusal;
    }
    return std::nullopt;
}

std::optional<std::string> refusedIds(const ChaosState &chaos)
{
    for (const auto &preset : chaos.presets) {
        if (auto refusal = refusedId("chaos preset", preset.id))
            return refusal;
    }
    return refusedId("chaos preset", chaos.activeId);
}

std::optional<std::string> refusedIds(const EnvironmentSet &environments)
{
    for (const auto &environment : environments.environments) {
        if (auto refusal = refusedId("environment", environment.id))
            return refusal;
    }
    return refusedId("environment", environments.activeId);
}

} // namespace standin
