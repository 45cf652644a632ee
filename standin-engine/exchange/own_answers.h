// What the proxy answers for itself rather than a host: why a request names no host it can go to, and
// the answer of the last recipient an OPTIONS or TRACE may reach.
#pragma once

#include "exchange/exchange_handler.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace standin {

// Why a request whose target (without userinfo) is `target` names no host the proxy can forward to.
std::string whyNoHost(const ProxiedRequest &request, std::string_view target);

// How many Host fields the request has; more than one leaves its host unclear.
std::size_t hostFieldCount(const ProxiedRequest &request);

// How many more recipients an OPTIONS or TRACE may pass, from its Max-Forwards field; none for other
// methods, or when the field is missing or not a count.
std::optional<std::uint64_t> hopsLeft(const ProxiedRequest &request);

// The answer to an OPTIONS or TRACE that may go no further: the proxy is its last recipient. A TRACE
// gets the request reflected as it came, without the fields that carry credentials.
ProxiedResponse lastRecipientAnswer(const ProxiedRequest &request);

} // namespace standin
