#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "presenter/AgentEvent.h"
#include "presenter/Route.h"

namespace orbilatch::presenter {

// What became of one command, for the status line.
struct CommandOutcome {
    std::string command;
    std::string action;                  // what carried it out; empty for a command this program does not know
    std::optional<Failure> failure;      // nothing when it was done
    std::chrono::microseconds took{};    // from the command's arrival until it was carried out
};

// Carries commands out one at a time, each along the route and then answered
// by exactly one acknowledgement line for the agent.
class CommandHandler {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit CommandHandler(Route& route, Clock clock = std::chrono::steady_clock::now)
        : route_(route), clock_(std::move(clock)) {}

    struct Handled {
        std::string acknowledgement;  // one JSON line, without its line feed
        CommandOutcome outcome;
    };
    Handled handle(const CommandReceived& command, std::chrono::steady_clock::time_point arrived);

private:
    Route& route_;
    Clock clock_;
};

}  // namespace orbilatch::presenter
