// presenter/Route.h
#pragma once
#include <functional>
#include <optional>
#include <string>
#include "protocol/Command.h"
namespace orbilatch::presenter {
// Why a command was not carried out: an error code in upper snake case for the
// watch and a sentence for the person at the desktop.
struct Failure {
    std::string code;
    std::string reason;
};
// What a route did with one command.
struct Carried {
    std::string action;              // what it did, such as "PageDown" or "next page"
    std::optional<Failure> failure;  // nothing when it was done
};
// A way to carry the watch's commands out.
class Route {
public:
    using Done = std::function<void(Carried carried)>;
    virtual ~Route() = default;
    // Carries the command out and calls done exactly once, on the loop's thread
    // (possibly before returning), once the program has reported the change or
    // the route knows it failed. A route that never hears back is ended by the
    // core's deadline; a done after it is ignored, so a route need not cancel.
    virtual void carryOut(protocol::Command command, Done done) = 0;
    // Where the commands go, for the person at the desktop.
    virtual std::string description() const = 0;
};
}  // namespace orbilatch::presenter
