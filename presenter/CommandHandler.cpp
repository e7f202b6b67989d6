#include "presenter/CommandHandler.h"

#include "presenter/AgentMessage.h"

namespace orbilatch::presenter {

CommandHandler::Handled CommandHandler::handle(const CommandReceived& command,
                                               std::chrono::steady_clock::time_point arrived) {
    CommandOutcome outcome{command.command, {}, std::nullopt, {}};
    if (const auto known = protocol::commandNamed(command.command)) {
        route_.carryOut(*known, [&outcome](Carried carried) {
            outcome.action = std::move(carried.action);
            outcome.failure = std::move(carried.failure);
        });
    } else {
        outcome.failure = Failure{"UNKNOWN_COMMAND", "no such command: " + command.command};
    }
    outcome.took = std::chrono::duration_cast<std::chrono::microseconds>(clock_() - arrived);
    return {acknowledgementLine(command, outcome.failure), std::move(outcome)};
}

}  // namespace orbilatch::presenter
