#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "bluetooth/PeripheralManager.h"
#include "system/Diagnose.h"
#include "system/SdPointers.h"

namespace orbilatch::bluetooth::bluez {

// One of our objects registered with a manager of bluetoothd's: the GATT
// application with GattManager1, an advertisement with LEAdvertisingManager1.
// Request, answer, withdraw, and withdraw after a late answer: every request
// gets its outcome, also one withdrawn before bluetoothd answered, and that
// one is unregistered as soon as the answer says it was registered. The object
// itself must stay exported until the registration is settled: bluetoothd
// reads it before it answers.
class Registration {
public:
    struct Manager {
        const char* interface;
        const char* registerMethod;
        const char* unregisterMethod;
    };
    static const Manager gattManager;
    static const Manager advertisingManager;

    // No error: registered; no answer within the timeout is an error. Not
    // called when bluetoothd went away before it answered; the state update
    // that follows stands for the outcome.
    using OnOutcome = std::function<void(const std::optional<PlatformError>& error)>;
    using Diagnose = orbilatch::system::Diagnose;

    Registration(sd_bus* bus, const Manager& manager, std::string adapter, std::string path,
                 std::chrono::microseconds timeout, Diagnose diagnose);
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

    // Asks bluetoothd to register the object; 0, or a negative errno when the
    // request could not go out (then no outcome follows).
    int request(OnOutcome onOutcome);
    // No longer wanted: unregistered now, or once bluetoothd has answered.
    void withdraw();
    // bluetoothd dropped the registration by itself.
    void released();

    bool registered() const { return stage_ == Stage::registered; }
    // Nothing more will happen to it: it may be unexported and forgotten.
    bool settled() const { return stage_ == Stage::withdrawn; }

private:
    enum class Stage { idle, requested, registered, withdrawn };

    void answered(sd_bus_message* reply);
    void unregister();

    sd_bus* bus_;
    const Manager& manager_;
    std::string adapter_;
    std::string path_;
    std::chrono::microseconds timeout_;
    Diagnose diagnose_;
    OnOutcome onOutcome_;
    system::SdBusSlotPtr call_;
    Stage stage_ = Stage::idle;
    bool wanted_ = true;
};

}  // namespace orbilatch::bluetooth::bluez
