#pragma once

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
    std::string action;              // what it did, such as the key "PageDown"
    std::optional<Failure> failure;  // nothing when it was done
};

// A way to carry the watch's commands out, such as pressing keys.
class Route {
public:
    virtual ~Route() = default;

    virtual Carried carryOut(protocol::Command command) = 0;
    // Where the commands go, for the person at the desktop.
    virtual std::string description() const = 0;
};

}  // namespace orbilatch::presenter
