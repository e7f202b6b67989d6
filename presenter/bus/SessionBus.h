#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <variant>

#include "system/SdPointers.h"

// The session bus, on which the presentation programs that can be driven
// directly are found, on the presenter's own loop: every call is sent without
// waiting, so no program can hold the loop up.
namespace orbilatch::presenter::bus {

// The user's session bus ($DBUS_SESSION_BUS_ADDRESS, else the user's bus in
// $XDG_RUNTIME_DIR), attached to the loop; or why there is none.
std::variant<system::SdBusPtr, std::string> openSessionBus(sd_event* loop);

struct Method {
    const char* destination;
    const char* path;
    const char* interface;
    const char* member;
};

// A method of the bus daemon itself.
Method busDaemon(const char* member);

// Runs the loop until the bus daemon has answered all that was asked of it
// before, as it answers in order, or until `bound` has passed: so that the
// first command finds the programs that run, while a daemon that does not
// answer holds the presenter up no longer.
// Whether it answered.
bool awaitBusDaemon(sd_bus* bus, sd_event* loop, std::chrono::milliseconds bound);

// The answer to a method call: the reply, or the error and nothing.
using Reply = std::function<void(sd_bus_message* reply, const sd_bus_error* error)>;
// Appends the call's arguments; a negative errno when it cannot.
using Arguments = std::function<int(sd_bus_message* call)>;

// Sends the call; `reply` runs on the loop once it is answered, unless the
// slot was dropped first. A call that cannot be sent is answered at once.
system::SdBusSlotPtr call(sd_bus* bus, const Method& method, Reply reply, const Arguments& arguments = {});

// Runs `handler` for each message that matches `rule`, from when the bus
// daemon has taken the rule, until the slot is dropped.
system::SdBusSlotPtr subscribe(sd_bus* bus, const std::string& rule, std::function<void(sd_bus_message*)> handler);

// The error's message, or its name where it has none.
std::string describe(const sd_bus_error* error);

// Whether the error says that whoever was called is not there (any more).
bool isGone(const sd_bus_error* error);

}  // namespace orbilatch::presenter::bus
