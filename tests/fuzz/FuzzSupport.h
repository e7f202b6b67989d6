#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fakes/FakePeripheralManager.h"
#include "fakes/ManualQueue.h"
#include "fakes/RecordingOutput.h"
#include "main/OrbiLatchBlePeripheral.h"
#include "main/ServiceIdentifiers.h"

namespace orbilatch::fuzz {

// A broken property ends the run the way a sanitizer does, so libFuzzer keeps
// the input that broke it.
inline void check(bool holds, std::string_view property, const std::vector<std::string>& what = {}) {
    if (holds) return;
    std::fprintf(stderr, "property broken: %.*s\n", static_cast<int>(property.size()), property.data());
    for (const auto& line : what) std::fprintf(stderr, "    %s\n", line.c_str());
    std::abort();
}

// The peripheral on the scripted platform of the unit tests, advertising,
// with the watch subscribed: a manual queue on virtual time, a clock the
// harness sets, and one transcript of everything.
struct Bench {
    testing::Transcript transcript;
    testing::ManualQueue queue;
    testing::RecordingOutput output{transcript};
    double clockSeconds = 1000.0;
    testing::FakePeripheralManager* manager = nullptr;
    OrbiLatchBlePeripheral peripheral{
        {
            .queue = queue,
            .output = output,
            .monotonicSeconds = [this] { return clockSeconds; },
            .exitProcess = [this] { transcript.add("exit"); },
        },
        [this](bluetooth::PeripheralManagerDelegate&) {
            auto fake = std::make_unique<testing::FakePeripheralManager>(transcript);
            manager = fake.get();
            return fake;
        }};
    const bluetooth::Central watch{.identifier = bluetooth::Uuid({0xAA}), .deviceKey = "watch"};
    const bluetooth::Central otherCentral{.identifier = bluetooth::Uuid({0xBB}), .deviceKey = "other"};

    Bench() {
        manager->currentState = bluetooth::ManagerState::poweredOn;
        peripheral.peripheralManagerDidUpdateState(*manager);
        peripheral.didAddService(*manager, {}, std::nullopt);
        peripheral.didStartAdvertising(*manager, std::nullopt);
        subscribe(true);
        transcript.take();
    }
    void subscribe(bool on) {
        if (on) peripheral.didSubscribeToCharacteristic(*manager, watch, acknowledgementCharacteristicUUID);
        else peripheral.didUnsubscribeFromCharacteristic(*manager, watch, acknowledgementCharacteristicUUID);
    }
};

}  // namespace orbilatch::fuzz
