#pragma once

#include <string>

#include "bluetooth/PeripheralManager.h"

namespace orbilatch::bluetooth::bluez {

// How a WriteValue call is answered for an ATT result: an empty method return
// for success, otherwise a D-Bus error that bluetoothd turns into that code.
struct WriteReply {
    bool success = true;
    std::string errorName;
    std::string errorMessage;
};

WriteReply writeReplyFor(AttError result);

}  // namespace orbilatch::bluetooth::bluez
