#include "presenter/AgentEvent.h"

#include <nlohmann/json.hpp>

namespace orbilatch::presenter {
namespace {

std::string text(const nlohmann::json& event, const char* key) {
    const auto member = event.find(key);
    return member != event.end() && member->is_string() ? member->get<std::string>() : std::string();
}

}  // namespace

AgentEvent parseAgentEvent(std::string_view line) {
    const auto event = nlohmann::json::parse(line, nullptr, false);
    if (!event.is_object()) return {};
    const std::string type = text(event, "type");
    if (type == "command_received") {
        const auto version = event.find("protocolVersion");
        return CommandReceived{text(event, "commandId"),
                               version != event.end() && version->is_number_integer() ? version->get<std::int64_t>() : 1,
                               text(event, "command")};
    }
    if (type == "ble_state_changed") return BluetoothStateChanged{text(event, "state"), text(event, "message")};
    if (type == "watch_connected") return WatchChanged{true};
    if (type == "watch_disconnected") return WatchChanged{false};
    return {};
}

}  // namespace orbilatch::presenter
