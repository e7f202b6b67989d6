#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace orbilatch {

struct MalformedMessage {};
struct UnsupportedMessage {};
struct ShutdownMessage {};
struct AcknowledgementMessage {
    std::string commandId;
    std::string status;
    std::optional<std::string> errorCode;
    std::int64_t protocolVersion = 1;
};

using ControllerMessage = std::variant<MalformedMessage, UnsupportedMessage, ShutdownMessage, AcknowledgementMessage>;

// Reads one controller line. Keys are exact; unknown keys are ignored; a value
// of the wrong JSON type counts as missing.
ControllerMessage parseControllerMessage(std::string_view line);

}  // namespace orbilatch
