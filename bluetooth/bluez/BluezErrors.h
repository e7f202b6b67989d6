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

// The bus answered for a bluetoothd that has gone or never was there: no
// outcome of bluetoothd's; the change of owner follows.
bool meansBluetoothdIsGone(std::string_view name);
// Our own connection to the bus is broken; its Disconnected signal follows.
bool meansBusIsGone(int errorNumber);
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
