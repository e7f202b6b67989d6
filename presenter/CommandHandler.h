#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "presenter/AgentEvent.h"
#include "presenter/KeyMap.h"
#include "presenter/Keyboard.h"

namespace orbilatch::presenter {

// What became of one command, for the status line.
struct CommandOutcome {
    std::string command;
    std::string key;                       // empty for a command without a key
    std::optional<KeyFailure> failure;     // nothing when the key went out
    std::chrono::microseconds took{};      // from the command's arrival to its key going out
};

// Carries commands out one at a time: each becomes its key chord on the
// keyboard and then exactly one acknowledgement line for the agent.
class CommandHandler {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    CommandHandler(Keyboard& keyboard, KeyMap keys, Clock clock = std::chrono::steady_clock::now)
        : keyboard_(keyboard), keys_(std::move(keys)), clock_(std::move(clock)) {}

    struct Handled {
        std::string acknowledgement;  // one JSON line, without its line feed
        CommandOutcome outcome;
    };
    Handled handle(const CommandReceived& command, std::chrono::steady_clock::time_point arrived);

private:
    Keyboard& keyboard_;
    KeyMap keys_;
    Clock clock_;
};

// The controller's answer to a command: executed, or failed with the code.
std::string acknowledgementLine(const CommandReceived& command, const std::optional<KeyFailure>& failure);

}  // namespace orbilatch::presenter
