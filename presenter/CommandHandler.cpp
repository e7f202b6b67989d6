#include "presenter/CommandHandler.h"

#include <nlohmann/json.hpp>

namespace orbilatch::presenter {

std::string acknowledgementLine(const CommandReceived& command, const std::optional<KeyFailure>& failure) {
    nlohmann::json message = {
        {"type", "command_acknowledgement"},
        {"commandId", command.commandId},
        {"status", failure ? "failed" : "executed"},
        // Answering in the command's own version gets the watch a frame it reads.
        {"protocolVersion", command.protocolVersion},
    };
    if (failure) message["errorCode"] = failure->code;
    return message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

CommandHandler::Handled CommandHandler::handle(const CommandReceived& command,
                                               std::chrono::steady_clock::time_point arrived) {
    CommandOutcome outcome{command.command, {}, std::nullopt, {}};
    if (const KeyChord* chord = keys_.find(command.command)) {
        outcome.key = chord->name();
        outcome.failure = keyboard_.press(*chord);
    } else {
        outcome.failure = KeyFailure{"UNKNOWN_COMMAND", "no key for the command " + command.command};
    }
    outcome.took = std::chrono::duration_cast<std::chrono::microseconds>(clock_() - arrived);
    return {acknowledgementLine(command, outcome.failure), std::move(outcome)};
}

}  // namespace orbilatch::presenter
