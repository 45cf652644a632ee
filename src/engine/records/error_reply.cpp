// JSON of the engine's error body.
#include "engine/records/error_reply.h"

namespace {

template <class Json> void writeError(Json &j, const ErrorReply &reply)
{
    j = Json::object();
    j["error"] = reply.error;
}

} // namespace

KESTRION_RECORD_WRITERS(ErrorReply, writeError)

void from_json(const nlohmann::json &j, ErrorReply &reply)
{
    const records::ObjectReader in(j);
    in.required("error", reply.error);
}
