#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace orbilatch::presenter {

struct CommandReceived {
    std::string commandId;
    std::int64_t protocolVersion;
    std::string command;
};

struct BluetoothStateChanged {
    std::string state;
    std::string message;
};

struct WatchChanged {
    bool connected;
};

// The events of the agent that the presenter acts on; any other line is
// monostate.
using AgentEvent = std::variant<std::monostate, CommandReceived, BluetoothStateChanged, WatchChanged>;

AgentEvent parseAgentEvent(std::string_view line);

}  // namespace orbilatch::presenter
