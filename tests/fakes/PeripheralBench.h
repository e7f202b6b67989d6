#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bluetooth/PeripheralManager.h"
#include "fakes/ManualQueue.h"
#include "main/OrbiLatchBlePeripheral.h"
#include "main/ServiceIdentifiers.h"
#include "output/EventLine.h"
#include "output/Output.h"

namespace orbilatch::testing {

// What the agent did, in order: platform calls, event lines and diagnostics in
// one list, so tests see their interleaving.
class Transcript {
public:
    void add(std::string line) { lines_.push_back(std::move(line)); }
    std::vector<std::string> take() { return std::exchange(lines_, {}); }

private:
    std::vector<std::string> lines_;
};

// Records event lines as "out: <line>" and diagnostics as "err: <message>".
class RecordingOutput final : public output::Output {
public:
    explicit RecordingOutput(Transcript& transcript) : transcript_(transcript) {}

    void emit(const output::Event& event) override {
        const std::string line = output::formatEventLine(event);
        transcript_.add("out: " + line.substr(0, line.size() - 1));
    }
    void stderr(std::string_view message) override { transcript_.add("err: " + std::string(message)); }

private:
    Transcript& transcript_;
};

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

inline bluetooth::Central makeCentral(std::uint8_t tag, std::string handle) {
    bluetooth::Uuid::Bytes bytes{};
    bytes.fill(tag);
    return {.identifier = bluetooth::Uuid(bytes), .deviceKey = std::move(handle)};
}

// The peripheral wired to a scripted platform, a recording output, a manual
// queue and a clock the test sets. Everything it does lands in one transcript.
// The transcript tests and the fuzz targets share it.
struct PeripheralBench {
    using ManagerState = bluetooth::ManagerState;
    using Lines = std::vector<std::string>;

    Transcript transcript;
    ManualQueue queue;
    RecordingOutput output{transcript};
    double clockSeconds = 5000.0;
    FakePeripheralManager* manager = nullptr;
    agent::OrbiLatchBlePeripheral peripheral{
        {
            .queue = queue,
            .output = output,
            .monotonicSeconds = [this] { return clockSeconds; },
            .exitProcess = [this] { transcript.add("exit"); },
        },
        [this](bluetooth::PeripheralManagerDelegate&) {
            auto fake = std::make_unique<FakePeripheralManager>(transcript);
            manager = fake.get();
            return fake;
        }};

    const bluetooth::Central watch = makeCentral(0xAA, "watch");
    const bluetooth::Central otherCentral = makeCentral(0xBB, "other");

    Lines take() { return transcript.take(); }

    void stateBecomes(ManagerState state) {
        manager->currentState = state;
        peripheral.peripheralManagerDidUpdateState(*manager);
    }
    // Powered on, service added, advertising: the transcript starts empty after.
    void advertise() {
        stateBecomes(ManagerState::poweredOn);
        peripheral.didAddService(*manager, {}, std::nullopt);
        peripheral.didStartAdvertising(*manager, std::nullopt);
        take();
    }
    void subscribe(const bluetooth::Central& central, const bluetooth::Uuid& uuid = agent::acknowledgementCharacteristicUUID) {
        peripheral.didSubscribeToCharacteristic(*manager, central, uuid);
    }
    void unsubscribe(const bluetooth::Central& central,
                     const bluetooth::Uuid& uuid = agent::acknowledgementCharacteristicUUID) {
        peripheral.didUnsubscribeFromCharacteristic(*manager, central, uuid);
    }
    void connectWatch() {
        advertise();
        subscribe(watch);
        take();
    }

    static bluetooth::AttRequest request(const bluetooth::Central& central, std::optional<std::string> value,
                                         std::uint64_t handle = 1,
                                         const bluetooth::Uuid& uuid = agent::commandCharacteristicUUID) {
        bluetooth::AttRequest request{.characteristicUuid = uuid, .central = central, .value = {}, .replyKey = handle};
        if (value) request.value = std::vector<std::uint8_t>(value->begin(), value->end());
        return request;
    }
    void write(std::vector<bluetooth::AttRequest> requests) {
        peripheral.didReceiveWriteRequests(*manager, requests);
    }
    void write(const bluetooth::Central& central, std::string value, std::uint64_t handle = 1) {
        write({request(central, std::move(value), handle)});
    }
    void acknowledge(const std::string& commandId, int protocolVersion = 2) {
        peripheral.handleInputLine(R"({"type":"command_acknowledgement","commandId":")" + commandId +
                                   R"(","status":"executed","protocolVersion":)" + std::to_string(protocolVersion) +
                                   "}");
    }
};

}  // namespace orbilatch::testing
