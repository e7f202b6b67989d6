#include "frame/CommandFrame.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <optional>
#include <string_view>

#include "text/Utf8.h"

namespace orbilatch::frame {
namespace {

enum ErrorCode : int {
    emptyFrame = 1,
    oversizedFrame,
    notUtf8,
    malformedFrame,
    invalidCommandId,
    unknownCommand,
};

FrameError frameError(ErrorCode code) {
    static constexpr std::array<std::string_view, 6> descriptions{
        "BLE frame is empty",
        "BLE frame exceeds maximum size",
        "BLE frame is not UTF-8",
        "Malformed BLE command frame",
        "Invalid commandId",
        "Unknown BLE command",
    };
    return FrameError{"OrbiLatchBle", code, std::string(descriptions[code - 1])};
}

struct Fields {
    std::string_view versionTag;
    std::string_view kind;
    std::string_view commandId;
    std::string_view commandLetter;
};

// Every separator splits, so empty fields count; anything but four is absent.
std::optional<Fields> splitIntoFourFields(std::string_view text) {
    std::array<std::string_view, 4> fields;
    for (std::size_t i = 0; i < fields.size() - 1; ++i) {
        const std::size_t separator = text.find(fieldSeparator);
        if (separator == std::string_view::npos) return std::nullopt;
        fields[i] = text.substr(0, separator);
        text.remove_prefix(separator + 1);
    }
    if (text.find(fieldSeparator) != std::string_view::npos) return std::nullopt;
    fields[3] = text;
    return Fields{fields[0], fields[1], fields[2], fields[3]};
}

bool isCommandIdCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '.' || c == '_' || c == ':' || c == '-';
}

bool isValidCommandId(std::string_view commandId) {
    return !commandId.empty() && std::ssize(commandId) <= commandIdMaxBytes &&
           std::ranges::all_of(commandId, isCommandIdCharacter);
}

using protocol::Command;

// A version-1 watch knows no start and no black screen.
struct CommandLetter {
    Command command;
    std::string_view letter;
    bool versionTwoOnly;
};

constexpr protocol::PerCommand<CommandLetter> commandLetters{{
    {Command::nextSlide, "N", false},
    {Command::startPresentation, "S", true},
    {Command::previousSlide, "P", false},
    {Command::endPresentation, "X", false},
    {Command::toggleBlackScreen, "B", true},
}};

std::optional<Command> commandFor(std::string_view letter, std::int64_t protocolVersion) {
    for (const CommandLetter& entry : commandLetters) {
        if (entry.letter == letter && (!entry.versionTwoOnly || protocolVersion == 2)) return entry.command;
    }
    return std::nullopt;
}

}  // namespace

CommandFrameResult decodeCommandFrame(std::span<const std::uint8_t> frame) {
    if (frame.empty()) return frameError(emptyFrame);
    if (std::ssize(frame) > frameMaxBytes) return frameError(oversizedFrame);

    const std::string_view text(reinterpret_cast<const char*>(frame.data()), frame.size());
    if (!text::isWellFormedUtf8(text)) return frameError(notUtf8);

    const std::optional<Fields> fields = splitIntoFourFields(text);
    if (!fields || (fields->versionTag != versionOneTag && fields->versionTag != versionTwoTag) ||
        fields->kind != "C") {
        return frameError(malformedFrame);
    }
    const std::int64_t protocolVersion = fields->versionTag == versionOneTag ? 1 : 2;

    if (!isValidCommandId(fields->commandId)) return frameError(invalidCommandId);

    const std::optional<Command> command = commandFor(fields->commandLetter, protocolVersion);
    if (!command) return frameError(unknownCommand);

    return DecodedCommandFrame{protocolVersion, std::string(fields->commandId), *command};
}

}  // namespace orbilatch::frame
