#pragma once

#include <string_view>

#include <systemd/sd-bus.h>

#include "bluetooth/PeripheralManager.h"

// The backend's one vocabulary of failures. A failure is either an outcome for
// the delegate (a PlatformError), an error answer to a call on our objects
// (always from the table in BluezErrors.cpp), or a diagnostic line that says
// what failed and why.
namespace orbilatch::bluetooth::bluez {

// bluetoothd's refusal, in its own words.
PlatformError platformErrorFrom(const sd_bus_error& error);

// What we failed to do, with the system's reason: "cannot export the
// advertisement: Cannot allocate memory". Takes errno values of either sign.
std::string failure(std::string_view what, int errorNumber);

// Our own connection to the bus is ending or has ended, and whatever we
// registered with it: its Disconnected signal follows. A reply then is
// sd-bus's own ("Connection terminated"), not bluetoothd's answer; any other
// reply is, a call that timed out among them. bluetoothd itself is gone only
// once its name has lost its owner, which the bus says before it fails the
// calls that were waiting for it.
bool meansBusIsGone(sd_bus* bus);
bool meansBusIsGone(sd_bus_message* reply);
bool isAccessDenied(std::string_view name);

// How we answer calls on our objects.
enum class Answer {
    success,
    requestNotSupported,
    invalidValueLength,
    unlikelyError,
    insufficientResources,
    // Our own refusals.
    notFromBluetoothd,
    noDeviceGiven,
    noNotificationSocket,
};

Answer answerFor(AttError result);

// Sends the answer; detail, when given, is added to the error's message.
int answer(sd_bus_message* call, Answer answer, std::string_view detail = {});

}  // namespace orbilatch::bluetooth::bluez
