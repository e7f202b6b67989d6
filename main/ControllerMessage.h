#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace orbilatch::agent {

struct MalformedMessage {
    friend bool operator==(const MalformedMessage&, const MalformedMessage&) = default;
};
struct UnsupportedMessage {
    friend bool operator==(const UnsupportedMessage&, const UnsupportedMessage&) = default;
};
struct ShutdownMessage {
    friend bool operator==(const ShutdownMessage&, const ShutdownMessage&) = default;
};
struct AcknowledgementMessage {
    std::string commandId;
    std::string status;
    std::optional<std::string> errorCode;
    std::int64_t protocolVersion = 1;

    friend bool operator==(const AcknowledgementMessage&, const AcknowledgementMessage&) = default;
};

using ControllerMessage = std::variant<MalformedMessage, UnsupportedMessage, ShutdownMessage, AcknowledgementMessage>;

// Reads one controller line with the JSON library. Keys are exact; unknown
// keys are ignored; a value of the wrong JSON type counts as missing.
ControllerMessage parseControllerMessage(std::string_view line);

}  // namespace orbilatch::agent
