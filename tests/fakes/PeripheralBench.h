#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fakes/FakePeripheralManager.h"
#include "fakes/ManualQueue.h"
#include "fakes/Transcript.h"
#include "main/OrbiLatchBlePeripheral.h"
#include "main/ServiceIdentifiers.h"

namespace orbilatch::testing {

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
    OrbiLatchBlePeripheral peripheral{
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
    void subscribe(const bluetooth::Central& central, const bluetooth::Uuid& uuid = acknowledgementCharacteristicUUID) {
        peripheral.didSubscribeToCharacteristic(*manager, central, uuid);
    }
    void unsubscribe(const bluetooth::Central& central,
                     const bluetooth::Uuid& uuid = acknowledgementCharacteristicUUID) {
        peripheral.didUnsubscribeFromCharacteristic(*manager, central, uuid);
    }
    void connectWatch() {
        advertise();
        subscribe(watch);
        take();
    }

    static bluetooth::AttRequest request(const bluetooth::Central& central, std::optional<std::string> value,
                                         std::uint64_t handle = 1,
                                         const bluetooth::Uuid& uuid = commandCharacteristicUUID) {
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
