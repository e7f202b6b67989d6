#include "bluetooth/bluez/Registration.h"

#include <utility>

#include "bluetooth/bluez/BluezErrors.h"
#include "bluetooth/bluez/BusCalls.h"
#include "bluetooth/bluez/BusNames.h"

namespace orbilatch::bluetooth::bluez {

const Registration::Manager Registration::gattManager{interfaceName::gattManager, "RegisterApplication",
                                                      "UnregisterApplication"};
const Registration::Manager Registration::advertisingManager{interfaceName::advertisingManager,
                                                             "RegisterAdvertisement", "UnregisterAdvertisement"};

Registration::Registration(sd_bus* bus, const Manager& manager, std::string adapter, std::string path,
                           std::chrono::microseconds timeout, Diagnose diagnose)
    : bus_(bus), manager_(manager), adapter_(std::move(adapter)), path_(std::move(path)), timeout_(timeout),
      diagnose_(std::move(diagnose)) {}

int Registration::request(OnOutcome onOutcome) {
    system::SdBusMessagePtr call;
    int r = newCall(bus_, busName::bluez, adapter_.c_str(), manager_.interface, manager_.registerMethod, call);
    if (r >= 0) r = sd_bus_message_append(call.get(), "oa{sv}", path_.c_str(), 0);
    // bluetoothd reads our objects before it answers, so the answer is awaited
    // on the loop, never blocked on.
    if (r >= 0) r = callAsync(bus_, call.get(), [this](sd_bus_message* reply) { answered(reply); }, call_, timeout_);
    if (r < 0) {
        stage_ = Stage::withdrawn;
        return r;
    }
    onOutcome_ = std::move(onOutcome);
    stage_ = Stage::requested;
    return 0;
}

void Registration::answered(sd_bus_message* reply) {
    if (meansBusIsGone(reply)) {
        stage_ = Stage::withdrawn;
        return;
    }
    const sd_bus_error* error = sd_bus_message_get_error(reply);
    const std::optional<PlatformError> outcome =
        error ? std::optional<PlatformError>(platformErrorFrom(*error)) : std::nullopt;
    stage_ = error ? Stage::withdrawn : Stage::registered;
    if (registered() && !wanted_) unregister();
    // The outcome may end this registration's life: nothing of it is touched after.
    const OnOutcome onOutcome = std::move(onOutcome_);
    onOutcome(outcome);
}

void Registration::withdraw() {
    wanted_ = false;
    if (stage_ == Stage::registered) unregister();
    if (stage_ == Stage::idle) stage_ = Stage::withdrawn;
}

void Registration::released() {
    if (stage_ == Stage::registered) stage_ = Stage::withdrawn;
}

void Registration::unregister() {
    stage_ = Stage::withdrawn;
    system::SdBusMessagePtr call;
    int r = newCall(bus_, busName::bluez, adapter_.c_str(), manager_.interface, manager_.unregisterMethod, call);
    if (r >= 0) r = sd_bus_message_append(call.get(), "o", path_.c_str());
    if (r >= 0) r = sendWithoutReply(bus_, call.get());
    // bluetoothd drops what we registered when our connection ends, so a
    // broken bus needs no word.
    if (r < 0 && !meansBusIsGone(bus_)) diagnose_(failure(std::string("cannot withdraw ") + path_, r));
}

}  // namespace orbilatch::bluetooth::bluez
