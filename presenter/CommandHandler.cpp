#include "presenter/CommandHandler.h"

#include <memory>

#include "presenter/AgentMessage.h"

namespace orbilatch::presenter {

CommandHandler::Handled CommandHandler::handle(const CommandReceived& command,
                                               std::chrono::steady_clock::time_point arrived) {
    CommandOutcome outcome{command.command, {}, std::nullopt, {}};
    if (const auto known = protocol::commandNamed(command.command)) {
        // Until the core waits for routes, only an answer given at once counts.
        auto carried = std::make_shared<std::optional<Carried>>();
        route_.carryOut(*known, [carried](Carried answer) { *carried = std::move(answer); });
        if (*carried) {
            outcome.action = std::move((*carried)->action);
            outcome.failure = std::move((*carried)->failure);
        } else {
            outcome.failure = Failure{"NO_REPORT", "the route gave no answer at once"};
        }
    } else {
        outcome.failure = Failure{"UNKNOWN_COMMAND", "no such command: " + command.command};
    }
    outcome.took = std::chrono::duration_cast<std::chrono::microseconds>(clock_() - arrived);
    return {acknowledgementLine(command, outcome.failure), std::move(outcome)};
}

}  // namespace orbilatch::presenter
