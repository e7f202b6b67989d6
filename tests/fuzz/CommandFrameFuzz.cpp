// Any value a radio can write to the command characteristic. A value that
// decodes is the one frame its command and commandId spell, and its
// acknowledgement is a well-formed frame of at most 20 bytes that no command
// write could pass for; a value that does not decode fails with the first
// check it breaks.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "frame/AckFrame.h"
#include "frame/CommandFrame.h"
#include "fuzz/FuzzSupport.h"
#include "text/Utf8.h"

namespace {

using orbilatch::fuzz::check;
using orbilatch::frame::DecodedCommandFrame;
using orbilatch::frame::FrameError;

constexpr std::array<std::string_view, 6> descriptions{
    "BLE frame is empty",          "BLE frame exceeds maximum size", "BLE frame is not UTF-8",
    "Malformed BLE command frame", "Invalid commandId",              "Unknown BLE command",
};

struct Command {
    char letter;
    std::string_view name;
    bool versionTwoOnly;
};
constexpr std::array<Command, 5> commands{{
    {'N', "NEXT_SLIDE", false},
    {'S', "START_PRESENTATION", true},
    {'P', "PREVIOUS_SLIDE", false},
    {'X', "END_PRESENTATION", false},
    {'B', "TOGGLE_BLACK_SCREEN", true},
}};

bool commandIdCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == ':' || c == '-';
}

std::string_view tagOf(std::int64_t protocolVersion) { return protocolVersion == 2 ? "OL2" : "PP1"; }

std::string textOf(std::span<const std::uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

void checkDecoded(std::string_view input, const DecodedCommandFrame& decoded) {
    check(decoded.protocolVersion == 1 || decoded.protocolVersion == 2, "version is 1 or 2", input);
    check(!decoded.commandId.empty() && decoded.commandId.size() <= 12 &&
              std::ranges::all_of(decoded.commandId, commandIdCharacter),
          "commandId is 1 to 12 allowed characters", input);
    const auto command = std::ranges::find(commands, decoded.command, &Command::name);
    check(command != commands.end(), "command is one of the five names", decoded.command);
    check(!command->versionTwoOnly || decoded.protocolVersion == 2, "version-2 command only in a version-2 frame",
          input);

    const std::string spelled =
        std::string(tagOf(decoded.protocolVersion)) + "|C|" + decoded.commandId + "|" + command->letter;
    check(spelled == input, "the decoded frame spells the written value", spelled);

    const auto acknowledgement = orbilatch::frame::encodeAckFrame(decoded.protocolVersion, decoded.commandId,
                                                                   "executed", std::nullopt);
    check(acknowledgement.has_value(), "a decoded commandId always fits an acknowledgement", input);
    const std::string ackText = textOf(*acknowledgement);
    check(ackText.size() <= 20, "acknowledgement within 20 bytes", ackText);
    check(ackText == std::string(tagOf(decoded.protocolVersion)) + "|A|" + decoded.commandId + "|E",
          "acknowledgement carries the same version and commandId", ackText);
    const auto echoed = orbilatch::frame::decodeCommandFrame(*acknowledgement);
    const auto* echoError = std::get_if<FrameError>(&echoed);
    check(echoError != nullptr && echoError->code == 4, "an acknowledgement never passes as a command", ackText);

    const auto ended = orbilatch::frame::encodeAckFrame(decoded.protocolVersion, decoded.commandId, "failed",
                                                        std::string_view("PRESENTATION_ENDED"));
    check(ended && ended->back() == (decoded.protocolVersion == 2 ? 'X' : 'D'),
          "presentation ended is X in version 2 only", input);
}

void checkRefused(std::string_view input, const FrameError& error) {
    check(error.domain == "OrbiLatchBle", "error domain", error.domain);
    check(error.code >= 1 && error.code <= 6, "error code 1 to 6", input);
    check(error.description == descriptions[static_cast<std::size_t>(error.code - 1)],
          "description belongs to the code", error.description);

    // Each check comes before the next: the size is judged on bytes alone,
    // the text check with a second UTF-8 validator.
    const bool wellFormed = orbilatch::text::repairUtf8(input) == input;
    if (input.empty()) return check(error.code == 1, "empty is code 1", input);
    if (input.size() > 20) return check(error.code == 2, "oversized is code 2", input);
    if (!wellFormed) return check(error.code == 3, "ill-formed UTF-8 is code 3", input);
    check(error.code >= 4, "well-formed text of 1 to 20 bytes fails only on its fields", input);
    if (std::ranges::count(input, '|') != 3) check(error.code == 4, "not four fields is code 4", input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> frame(data, size);
    const std::string input = textOf(frame);
    const auto result = orbilatch::frame::decodeCommandFrame(frame);
    if (const auto* decoded = std::get_if<DecodedCommandFrame>(&result)) {
        checkDecoded(input, *decoded);
    } else {
        checkRefused(input, std::get<FrameError>(result));
    }
    return 0;
}
