#include "presenter/AgentEvent.h"

#include <nlohmann/json.hpp>

#include "protocol/Events.h"
#include "protocol/Members.h"

namespace orbilatch::presenter {
namespace {

namespace event = protocol::event;
namespace member = protocol::member;

std::string text(const nlohmann::json& object, std::string_view key) {
    const auto value = object.find(key);
    return value != object.end() && value->is_string() ? value->get<std::string>() : std::string();
}

}  // namespace

AgentEvent parseAgentEvent(std::string_view line) {
    const auto object = nlohmann::json::parse(line, nullptr, false);
    if (!object.is_object()) return {};
    const std::string type = text(object, member::type);
    if (type == event::commandReceived) {
        const auto version = object.find(member::protocolVersion);
        const bool versioned = version != object.end() && version->is_number_integer();
        return CommandReceived{text(object, member::commandId), versioned ? version->get<std::int64_t>() : 1,
                               text(object, member::command)};
    }
    if (type == event::bleStateChanged) {
        return BluetoothStateChanged{text(object, member::state), text(object, member::message)};
    }
    if (type == event::watchConnected) return WatchChanged{true};
    if (type == event::watchDisconnected) return WatchChanged{false};
    return {};
}

}  // namespace orbilatch::presenter
