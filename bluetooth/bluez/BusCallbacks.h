#pragma once

#include <functional>
#include <string>

#include "system/FileDescriptor.h"
#include "system/SdPointers.h"

namespace orbilatch::bluetooth::bluez {

using MessageHandler = std::function<void(sd_bus_message*)>;

// A method call with the auto-start flag cleared: a call to a bluetoothd that
// is not running must fail, never D-Bus-activate it.
SdBusMessagePtr newCallWithoutAutoStart(sd_bus* bus, const char* destination, const char* path, const char* interface,
                                   const char* member);

// Sends the call; the handler receives its reply or error unless the returned
// slot is dropped first. Null when the call could not be sent.
SdBusSlotPtr callAsync(sd_bus* bus, sd_bus_message* call, MessageHandler onReply);

// Sends the call and lets its reply go unread.
void sendWithoutReply(sd_bus* bus, sd_bus_message* call);

// Watches signals matching the rule while the returned slot lives.
SdBusSlotPtr addMatch(sd_bus* bus, const std::string& rule, MessageHandler onSignal);

}  // namespace orbilatch::bluetooth::bluez
