// JSON of the root CA record.
#include "engine/records/ca_info.h"

namespace {

template <class Json> void writeCA(Json &j, const CAInfo &ca)
{
    j = Json::object();
    j["generated"] = ca.generated;
    j["fingerprint"] = ca.fingerprint;
    j["notAfter"] = ca.notAfter;
    j["subject"] = ca.subject;
    j["certPEM"] = ca.certPEM;
    j["path"] = ca.path;
}

} // namespace

KESTRION_RECORD_WRITERS(CAInfo, writeCA)

void from_json(const nlohmann::json &j, CAInfo &ca)
{
    const records::ObjectReader in(j);
    in.required("generated", ca.generated);
    in.required("fingerprint", ca.fingerprint);
    in.required("notAfter", ca.notAfter);
    in.required("subject", ca.subject);
    in.required("certPEM", ca.certPEM);
    in.required("path", ca.path);
}
