#include "bluetooth/bluez/BluezErrors.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <string>

#include "bluetooth/bluez/BusNames.h"

namespace orbilatch::bluetooth::bluez {
namespace {

struct ErrorAnswer {
    Answer answer;
    const char* name;
    const char* message;
};

// bluetoothd (5.66 to 5.82 at least) passes a numeric Failed message on to the
// central only when it lies in 0x80-0x9F and sends 0x0E otherwise; the exact
// code is asked for anyway, so that a BlueZ that learns to pass it on sends it.
constexpr std::array errorAnswers{
    ErrorAnswer{Answer::requestNotSupported, errorName::notSupported, "Request not supported"},
    ErrorAnswer{Answer::invalidValueLength, errorName::invalidValueLength, "Invalid attribute value length"},
    ErrorAnswer{Answer::unlikelyError, errorName::failed, "0x0e"},
    ErrorAnswer{Answer::insufficientResources, errorName::failed, "0x11"},
    ErrorAnswer{Answer::notFromBluetoothd, errorName::accessDenied, "Only bluetoothd may call this agent"},
    // Failed, unlike other errors, keeps bluetoothd 5.66 from falling back to
    // StartNotify, which we do not offer.
    ErrorAnswer{Answer::noDeviceGiven, errorName::failed, "No device given"},
    ErrorAnswer{Answer::noNotificationSocket, errorName::failed, "Cannot open a notification socket"},
};

}  // namespace

PlatformError platformErrorFrom(const sd_bus_error& error) {
    return {error.message && *error.message ? error.message : error.name};
}

std::string failure(std::string_view what, int errorNumber) {
    return std::string(what) + ": " + std::strerror(errorNumber < 0 ? -errorNumber : errorNumber);
}

bool meansBusIsGone(sd_bus* bus) { return sd_bus_is_open(bus) <= 0; }

bool meansBusIsGone(sd_bus_message* reply) { return meansBusIsGone(sd_bus_message_get_bus(reply)); }

bool isAccessDenied(std::string_view name) { return name == errorName::accessDenied; }

Answer answerFor(AttError result) {
    switch (result) {
        case AttError::success:
            return Answer::success;
        case AttError::requestNotSupported:
            return Answer::requestNotSupported;
        case AttError::invalidAttributeValueLength:
            return Answer::invalidValueLength;
        case AttError::unlikelyError:
            return Answer::unlikelyError;
        case AttError::insufficientResources:
            return Answer::insufficientResources;
    }
    return Answer::unlikelyError;
}

int answer(sd_bus_message* call, Answer answer, std::string_view detail) {
    if (answer == Answer::success) return sd_bus_reply_method_return(call, nullptr);
    for (const ErrorAnswer& entry : errorAnswers) {
        if (entry.answer != answer) continue;
        std::string message = entry.message;
        if (!detail.empty()) message += ": " + std::string(detail);
        return sd_bus_reply_method_errorf(call, entry.name, "%s", message.c_str());
    }
    return -EINVAL;
}

}  // namespace orbilatch::bluetooth::bluez
