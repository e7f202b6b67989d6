#include "presenter/CommandHandler.h"

#include "presenter/AgentMessage.h"
#include "presenter/Failures.h"

namespace orbilatch::presenter {
namespace {

std::string describeShow(const Program& program) {
    const Show show = program.show();
    std::string text(program.name());
    switch (show.state) {
        case Show::State::stopped: return text + ", no show";
        case Show::State::unknown: return text + ", show unknown";
        case Show::State::running: break;
    }
    if (!show.slides) return text;
    return text + " slide " + (show.slide ? std::to_string(*show.slide) : "?") + "/" + std::to_string(*show.slides);
}

std::string describeWhere(const Route* route) {
    const auto* program = dynamic_cast<const Program*>(route);
    return program ? describeShow(*program) : "";
}

}  // namespace

void CommandHandler::handle(CommandReceived command, std::chrono::steady_clock::time_point arrived) {
    waiting_.push_back({std::move(command), arrived});
    startNext();
}

void CommandHandler::startNext() {
    if (underWay_ || waiting_.empty()) return;
    const std::uint64_t serial = ++serial_;
    underWay_ = serial;
    const auto known = protocol::commandNamed(waiting_.front().command.command);
    if (!known) {
        route_ = nullptr;
        finish(serial, {"", Failure{code::unknownCommand, "no such command: " + waiting_.front().command.command}});
        return;
    }
    route_ = &routes_.choose();
    queue_.postAfter(deadline, [this, serial] {
        finish(serial, {"", Failure{code::noReport, "no report within " + std::to_string(deadline.count()) + " ms"}});
    });
    route_->carryOut(*known, [this, serial](Carried carried) { finish(serial, std::move(carried)); });
}

// Answers the command under way, unless this is the late answer of one
// already answered; the next one starts on a later turn, so that a route that
// answers from inside carryOut is not entered again meanwhile.
void CommandHandler::finish(std::uint64_t serial, Carried carried) {
    if (underWay_ != serial) return;
    underWay_.reset();
    Waiting done = std::move(waiting_.front());
    waiting_.pop_front();
    CommandOutcome outcome{done.command.command, describeWhere(route_), std::move(carried.action),
                           std::move(carried.failure),
                           std::chrono::duration_cast<std::chrono::microseconds>(clock_() - done.arrived)};
    route_ = nullptr;
    answer_({acknowledgementLine(done.command, outcome.failure), std::move(outcome)});
    if (!waiting_.empty()) queue_.post([this] { startNext(); });
}

}  // namespace orbilatch::presenter
