// The control API of the stand-in engine: every request the app makes, on one router.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace standin {

struct ControlRequest;
class ControlRouter;
class StandinEngine;

// Only "127.0.0.1:<port>" and "localhost:<port>" may name the control API, so a web page can't reach
// it through a rebound DNS name.
bool controlHostAllowed(std::string_view hostHeader, int controlPort);

// Why a control request is refused before it reaches a handler, when it looks like it came from a
// web page: any Origin header, or a body type a browser may send without asking first (so the page
// would have to ask, and the engine never grants that). Nothing when the request may go on.
std::optional<std::string> browserRequestRefusal(bool hasOrigin, std::string_view contentType);

// The header in which every control request shows the token the engine printed for the app, and
// the scheme a refusal names in its WWW-Authenticate field.
constexpr const char *kControlTokenHeader = "X-Kestrion-Token";
constexpr const char *kControlTokenScheme = "Kestrion-Token";

// Whether the request holds exactly one token field, equal to `token`; compared in constant time.
bool controlTokenShown(const ControlRequest &request, std::string_view token);

// On the answer to a capture import: how many of its routes pass through to the real host because
// their captured bodies are not text (the body is the route list the app reads).
constexpr const char *kImportPassThroughHeader = "X-Kestrion-Imported-Pass-Through";

void registerControlApi(ControlRouter &server, StandinEngine &engine);

} // namespace standin
