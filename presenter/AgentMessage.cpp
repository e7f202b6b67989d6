#include "presenter/AgentMessage.h"

#include <nlohmann/json.hpp>

#include "protocol/Members.h"
#include "protocol/Messages.h"

namespace orbilatch::presenter {

namespace member = protocol::member;

std::string acknowledgementLine(const CommandReceived& command, const std::optional<Failure>& failure) {
    nlohmann::json message = {
        {member::type, protocol::message::commandAcknowledgement},
        {member::commandId, command.commandId},
        {member::status, failure ? protocol::status::failed : protocol::status::executed},
        // Answering in the command's own version gets the watch a frame it reads.
        {member::protocolVersion, command.protocolVersion},
    };
    if (failure) message[member::errorCode] = failure->code;
    return message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string shutdownLine() { return nlohmann::json{{member::type, protocol::message::shutdown}}.dump(); }

}  // namespace orbilatch::presenter
