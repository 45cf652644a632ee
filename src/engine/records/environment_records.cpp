// JSON of environments and the conversions between their wire and editable forms.
#include "engine/records/environment_records.h"

#include "engine/records/record_ids.h"

namespace {

template <class Json> void writeVar(Json &j, const WireVar &var)
{
    j = Json::object();
    j["key"] = var.key;
    j["value"] = var.value;
}

template <class Json> void writeEnvironment(Json &j, const WireEnvironment &env)
{
    j = Json::object();
    j["id"] = env.id;
    j["name"] = env.name;
    records::putOptional(j, "vars", env.vars);
}

template <class Json> void writeSet(Json &j, const EnvironmentSet &set)
{
    j = Json::object();
    j["environments"] = set.environments;
    j["activeId"] = set.activeId;
}

} // namespace

KESTRION_RECORD_WRITERS(WireVar, writeVar)
KESTRION_RECORD_WRITERS(WireEnvironment, writeEnvironment)
KESTRION_RECORD_WRITERS(EnvironmentSet, writeSet)

void from_json(const nlohmann::json &j, WireVar &var)
{
    const records::ObjectReader in(j);
    in.required("key", var.key);
    in.required("value", var.value);
}

void from_json(const nlohmann::json &j, WireEnvironment &env)
{
    const records::ObjectReader in(j);
    in.required("id", env.id);
    in.required("name", env.name);
    in.optional("vars", env.vars);
}

void from_json(const nlohmann::json &j, EnvironmentSet &set)
{
    const records::ObjectReader in(j);
    in.required("environments", set.environments);
    in.required("activeId", set.activeId);
}

MockEnvironment MockEnvironment::fromWire(const WireEnvironment &wire)
{
    MockEnvironment env;
    env.id = wire.id;
    env.name = wire.name;
    if (wire.vars) {
        env.vars.reserve(wire.vars->size());
        for (const WireVar &var : *wire.vars)
            env.vars.push_back(EnvVar{makeUuidText(), var.key, var.value});
    }
    return env;
}

WireEnvironment MockEnvironment::wire() const
{
    std::vector<WireVar> wireVars;
    wireVars.reserve(vars.size());
    for (const EnvVar &var : vars)
        wireVars.push_back(WireVar{var.key, var.value});
    return WireEnvironment{id, name, std::move(wireVars)};
}

EnvironmentSet makeEnvironmentSet(const std::vector<MockEnvironment> &environments, const std::string &activeId)
{
    EnvironmentSet set;
    set.environments.reserve(environments.size());
    for (const MockEnvironment &env : environments)
        set.environments.push_back(env.wire());
    set.activeId = activeId;
    return set;
}
