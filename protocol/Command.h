#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace orbilatch::protocol {

// What the watch asks for.
enum class Command { nextSlide, previousSlide, startPresentation, endPresentation, toggleBlackScreen };

// One value for each command, in the order of Command.
template <typename T>
using PerCommand = std::array<T, 5>;

inline constexpr PerCommand<Command> commands = {Command::nextSlide, Command::previousSlide,
                                                 Command::startPresentation, Command::endPresentation,
                                                 Command::toggleBlackScreen};

constexpr std::size_t indexOf(Command command) { return static_cast<std::size_t>(command); }

// The name that events and messages carry the command by.
constexpr std::string_view commandName(Command command) {
    constexpr PerCommand<std::string_view> names = {"NEXT_SLIDE", "PREVIOUS_SLIDE", "START_PRESENTATION",
                                                    "END_PRESENTATION", "TOGGLE_BLACK_SCREEN"};
    return names[indexOf(command)];
}

// Names are exact: "next_slide" is no command.
constexpr std::optional<Command> commandNamed(std::string_view name) {
    for (const Command command : commands) {
        if (commandName(command) == name) return command;
    }
    return std::nullopt;
}

}  // namespace orbilatch::protocol
