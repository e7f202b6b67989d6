#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>

namespace orbilatch::frame {

struct DecodedCommandFrame {
    std::int64_t protocolVersion;
    std::string commandId;
    std::string command;

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
