#pragma once

#include <string>

#include "bluetooth/PeripheralManager.h"
#include "fakes/Transcript.h"

namespace orbilatch::testing {

// A scripted platform: it records every call as "bt: ..." and never calls
// back; tests deliver the platform's callbacks themselves.
class FakePeripheralManager final : public bluetooth::PeripheralManager {
public:
    explicit FakePeripheralManager(Transcript& transcript) : transcript_(transcript) {}

    bluetooth::ManagerState currentState = bluetooth::ManagerState::unknown;
    bool transmitQueueHasRoom = true;

    bluetooth::ManagerState state() const override { return currentState; }
    void removeAllServices() override { transcript_.add("bt: removeAllServices"); }
    void addService(const bluetooth::MutableService& service) override {
        std::string line = "bt: addService " + service.uuid.toString() + (service.primary ? " primary" : "");
        for (const auto& characteristic : service.characteristics) {
            line += " [" + characteristic.uuid.toString() + " properties=" + std::to_string(characteristic.properties) + "]";
        }
        transcript_.add(line);
    }
    void startAdvertising(const bluetooth::AdvertisementData& data) override {
        std::string line = "bt: startAdvertising " + data.localName;
        for (const auto& uuid : data.serviceUuids) line += " " + uuid.toString();
        transcript_.add(line);
    }
    void stopAdvertising() override { transcript_.add("bt: stopAdvertising"); }
    bool updateValue(std::span<const std::uint8_t> value, const bluetooth::MutableCharacteristic& characteristic,
                     std::span<const bluetooth::Central> centrals) override {
        std::string line = "bt: updateValue " + std::string(value.begin(), value.end()) + " on " +
                           characteristic.uuid.toString() + " to";
        for (const auto& central : centrals) line += " " + central.deviceKey;
        transcript_.add(line + (transmitQueueHasRoom ? "" : " (queue full)"));
        return transmitQueueHasRoom;
    }
    void respondToRequest(const bluetooth::AttRequest& request, bluetooth::AttError result) override {
        transcript_.add("bt: respond " + std::to_string(request.replyKey) + " " +
                        std::to_string(static_cast<int>(result)));
    }

private:
    Transcript& transcript_;
};

}  // namespace orbilatch::testing
