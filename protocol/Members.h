#pragma once

#include <string_view>

// The keys of the JSON objects of events and messages.
namespace orbilatch::protocol::member {

inline constexpr std::string_view type = "type";
inline constexpr std::string_view state = "state";
inline constexpr std::string_view message = "message";
inline constexpr std::string_view protocolVersion = "protocolVersion";
inline constexpr std::string_view commandId = "commandId";
inline constexpr std::string_view command = "command";
inline constexpr std::string_view status = "status";
inline constexpr std::string_view errorCode = "errorCode";
inline constexpr std::string_view frame = "frame";
inline constexpr std::string_view reason = "reason";

}  // namespace orbilatch::protocol::member
