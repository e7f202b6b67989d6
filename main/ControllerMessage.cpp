#include "main/ControllerMessage.h"

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

namespace orbilatch {
namespace {

using nlohmann::json;

const std::string* stringMember(const json& object, const char* key) {
    const auto member = object.find(key);
    return member != object.end() && member->is_string() ? member->get_ptr<const std::string*>() : nullptr;
}

// An integral number within the signed 64-bit range is taken as it is; anything
// else (absent, a string, a fraction, out of range) means version 1.
std::int64_t protocolVersionOf(const json& object) {
    constexpr std::int64_t fallback = 1;
    const auto member = object.find("protocolVersion");
    if (member == object.end()) return fallback;
    if (member->is_number_unsigned()) {
        const auto value = member->get<std::uint64_t>();
        return value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                   ? static_cast<std::int64_t>(value)
                   : fallback;
    }
    if (member->is_number_integer()) return member->get<std::int64_t>();
    if (member->is_number_float()) {
        // Integer texts within 64 bits never arrive here; a negative integer
        // text below the range does, and may round to exactly -2^63, so the
        // bound itself counts as outside.
        const double value = member->get<double>();
        constexpr double bound = 9223372036854775808.0;  // 2^63, exact in a double
        const bool integral = std::isfinite(value) && std::trunc(value) == value;
        return integral && value > -bound && value < bound ? static_cast<std::int64_t>(value) : fallback;
    }
    return fallback;
}

}  // namespace

ControllerMessage parseControllerMessage(std::string_view line) {
    // The JSON reader takes a NUL for the end of its input, and no JSON text
    // holds one outside a string, where it would have to be escaped.
    if (line.find('\0') != std::string_view::npos) return MalformedMessage{};
    const json message = json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (!message.is_object()) return MalformedMessage{};

    const std::string* type = stringMember(message, "type");
    if (type == nullptr) return MalformedMessage{};
    if (*type == "shutdown") return ShutdownMessage{};
    if (*type != "command_acknowledgement") return UnsupportedMessage{};

    const std::string* commandId = stringMember(message, "commandId");
    const std::string* status = stringMember(message, "status");
    if (commandId == nullptr || status == nullptr) return UnsupportedMessage{};

    const std::string* errorCode = stringMember(message, "errorCode");
    return AcknowledgementMessage{
        .commandId = *commandId,
        .status = *status,
        .errorCode = errorCode ? std::optional<std::string>(*errorCode) : std::nullopt,
        .protocolVersion = protocolVersionOf(message),
    };
}

}  // namespace orbilatch
