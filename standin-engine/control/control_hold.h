// A test-only switch that holds one control write whole at the engine, before it is applied, until the
// test lets it go: the engine link's tests use it to have a write still unanswered while newer edits are made.
#pragma once

#include "net/net_limits.h"

#include <atomic>
#include <string>

namespace standin {

struct ControlRequest;

// The switch is "METHOD PATH DIR", for example "POST /routes /tmp/hold". Never set by the app. The first
// request with that method and path waits, its body read whole, until DIR/release exists; DIR/held
// appears when it starts waiting. A release file that reads "cut" closes the connection instead, with
// nothing applied or answered.
class ControlHold final {
public:
    // The process's hold, made from its test switch.
    static ControlHold &instance();

    // True once, for the first request the switch names.
    bool takes(const ControlRequest &request);
    // Waits for the release; false when the test asked for the connection to be cut.
    net::asio::awaitable<bool> wait() const;

private:
    ControlHold();

    std::string m_method;
    std::string m_path;
    std::string m_dir;
    std::atomic<bool> m_taken {false};
};

} // namespace standin
