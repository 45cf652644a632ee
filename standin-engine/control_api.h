// The control API of the stand-in engine: every request the app makes, on one httplib server.
#pragma once

#include <string_view>

namespace httplib {
class Server;
}

namespace standin {

class StandinEngine;

// Only "127.0.0.1:<port>" and "localhost:<port>" may name the control API, so a web page can't reach
// it through a rebound DNS name.
bool controlHostAllowed(std::string_view hostHeader, int controlPort);

void registerControlApi(httplib::Server &server, StandinEngine &engine);

} // namespace standin
