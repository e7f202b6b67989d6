#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "system/SdPointers.h"

// Calls and signals on the bus, the sd-bus way: each returns 0 or a negative
// errno, and hands what it made back through its last parameter.
namespace orbilatch::bluetooth::bluez {

using MessageHandler = std::function<void(sd_bus_message*)>;

// A method call with the auto-start flag cleared: a call to a bluetoothd that
// is not running must fail, never D-Bus-activate it.
int newCall(sd_bus* bus, const char* destination, const char* path, const char* interface, const char* member,
            system::SdBusMessagePtr& call);

// Sends the call; the handler receives its reply or error unless the slot is
// dropped first. No reply within the timeout (zero: the bus's own) is an error.
int callAsync(sd_bus* bus, sd_bus_message* call, MessageHandler onReply, system::SdBusSlotPtr& slot,
              std::chrono::microseconds timeout = {});

// Sends the call and lets its reply go unread.
int sendWithoutReply(sd_bus* bus, sd_bus_message* call);

// Watches signals matching the rule while the slot lives.
int addMatch(sd_bus* bus, const std::string& rule, MessageHandler onSignal, system::SdBusSlotPtr& slot);

}  // namespace orbilatch::bluetooth::bluez
