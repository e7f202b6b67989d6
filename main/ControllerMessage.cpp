#include "main/ControllerMessage.h"

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "protocol/Members.h"
#include "protocol/Messages.h"

namespace orbilatch::agent {
namespace {

using nlohmann::json;

// Duplicate keys keep the last, as the library reads them.
const std::string* textMember(const json& message, std::string_view key) {
    const auto member = message.find(key);
    return member != message.end() && member->is_string() ? member->get_ptr<const std::string*>() : nullptr;
}

// An integral number within 64 bits is taken as it is; anything else means version 1.
std::int64_t protocolVersionOf(const json& message) {
    constexpr std::int64_t fallback = 1;
    const auto member = message.find(protocol::member::protocolVersion);
    if (member == message.end()) return fallback;
    if (member->is_number_unsigned()) {
        const auto number = member->get<std::uint64_t>();
        return number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                   ? static_cast<std::int64_t>(number)
                   : fallback;
    }
    if (member->is_number_integer()) return member->get<std::int64_t>();
    if (member->is_number_float()) {
        // Integer texts within 64 bits never arrive here; a negative integer
        // text below the range does, and may round to exactly -2^63, so the
        // bound itself counts as outside.
        const double number = member->get<double>();
        constexpr double bound = 9223372036854775808.0;  // 2^63, exact in a double
        const bool integral = std::isfinite(number) && std::trunc(number) == number;
        return integral && number > -bound && number < bound ? static_cast<std::int64_t>(number) : fallback;
    }
    return fallback;
}

}  // namespace

ControllerMessage parseControllerMessage(std::string_view line) {
    // The JSON library takes a NUL for the end of its input, and no JSON text
    // holds one outside a string, where it would have to be escaped.
    if (line.find('\0') != std::string_view::npos) return MalformedMessage{};
    const json message = json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (!message.is_object()) return MalformedMessage{};

    const std::string* type = textMember(message, protocol::member::type);
    if (type == nullptr) return MalformedMessage{};
    if (*type == protocol::message::shutdown) return ShutdownMessage{};
    if (*type != protocol::message::commandAcknowledgement) return UnsupportedMessage{};

    const std::string* commandId = textMember(message, protocol::member::commandId);
    const std::string* status = textMember(message, protocol::member::status);
    if (commandId == nullptr || status == nullptr) return UnsupportedMessage{};
    const std::string* errorCode = textMember(message, protocol::member::errorCode);
    return AcknowledgementMessage{
        .commandId = *commandId,
        .status = *status,
        .errorCode = errorCode ? std::optional<std::string>(*errorCode) : std::nullopt,
        .protocolVersion = protocolVersionOf(message),
    };
}

}  // namespace orbilatch::agent
