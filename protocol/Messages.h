#pragma once

#include <string_view>

// What the controller tells the agent, one message per line on its standard input.
namespace orbilatch::protocol {

// The "type" of each message.
namespace message {
inline constexpr std::string_view commandAcknowledgement = "command_acknowledgement";
inline constexpr std::string_view shutdown = "shutdown";
}  // namespace message

// The "status" of an acknowledgement: executed, or anything else for not done.
namespace status {
inline constexpr std::string_view executed = "executed";
inline constexpr std::string_view failed = "failed";
}  // namespace status

// The one "errorCode" a version-2 watch is told apart: no presentation is running.
inline constexpr std::string_view presentationEnded = "PRESENTATION_ENDED";

}  // namespace orbilatch::protocol
