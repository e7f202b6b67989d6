#include "bluetooth/bluez/AttErrorReplies.h"

#include <cstdio>

namespace orbilatch::bluetooth::bluez {
namespace {

constexpr const char* failed = "org.bluez.Error.Failed";

std::string hexCode(AttError result) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", static_cast<unsigned>(result));
    return text;
}

}  // namespace

// bluetoothd (5.66 to 5.82 at least) sends a numeric Failed message only when
// it lies in 0x80-0x9F and 0x0E otherwise; the exact code is asked for anyway so
// that a BlueZ that learns to pass it on sends the right one.
WriteReply writeReplyFor(AttError result) {
    switch (result) {
        case AttError::success:
            return {};
        case AttError::requestNotSupported:
            return {false, "org.bluez.Error.NotSupported", "Request not supported"};
        case AttError::invalidAttributeValueLength:
            return {false, "org.bluez.Error.InvalidValueLength", "Invalid attribute value length"};
        case AttError::unlikelyError:
        case AttError::insufficientResources:
            break;
    }
    return {false, failed, hexCode(result)};
}

}  // namespace orbilatch::bluetooth::bluez
