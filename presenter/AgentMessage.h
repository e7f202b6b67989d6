#pragma once

#include <optional>
#include <string>

#include "presenter/AgentEvent.h"
#include "presenter/Route.h"

namespace orbilatch::presenter {

// The lines this program writes to the agent, each one JSON object without its
// line feed.

// The answer to a command, in the command's own protocol version: executed, or
// failed with the failure's code.
std::string acknowledgementLine(const CommandReceived& command, const std::optional<Failure>& failure);

std::string shutdownLine();

}  // namespace orbilatch::presenter
