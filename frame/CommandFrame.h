#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "protocol/Command.h"

namespace orbilatch::frame {

// Command and acknowledgement frames share the size bound, the version tags
// and the separator. The fixed part of a frame is 8 bytes, so a commandId of
// commandIdMaxBytes fills a frame exactly.
inline constexpr std::int64_t frameMaxBytes = 20;
inline constexpr std::int64_t commandIdMaxBytes = 12;
inline constexpr std::string_view versionOneTag = "PP1";
inline constexpr std::string_view versionTwoTag = "OL2";
inline constexpr char fieldSeparator = '|';

struct DecodedCommandFrame {
    std::int64_t protocolVersion;
    std::string commandId;
    protocol::Command command;

    friend bool operator==(const DecodedCommandFrame&, const DecodedCommandFrame&) = default;
};

// domain is always "OrbiLatchBle"; each code from 1 to 6 has one fixed
// description, which is what the write handler reports.
struct FrameError {
    std::string domain;
    int code;
    std::string description;

    friend bool operator==(const FrameError&, const FrameError&) = default;
};

using CommandFrameResult = std::variant<DecodedCommandFrame, FrameError>;

// Validates one value written to the command characteristic.
CommandFrameResult decodeCommandFrame(std::span<const std::uint8_t> frame);

}  // namespace orbilatch::frame
