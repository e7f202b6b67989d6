#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "fakes/FakePeripheralManager.h"
#include "fakes/ManualQueue.h"
#include "fakes/RecordingOutput.h"
#include "fakes/Transcript.h"
#include "main/OrbiLatchBlePeripheral.h"
#include "main/ServiceIdentifiers.h"

namespace orbilatch::fuzz {

// A broken property ends the run the way a sanitizer does, so libFuzzer keeps
// the input that broke it.
[[noreturn]] inline void fail(std::string_view property, std::string_view detail) {
    std::fprintf(stderr, "property broken: %.*s\n  %.*s\n", static_cast<int>(property.size()), property.data(),
                 static_cast<int>(detail.size()), detail.data());
    std::abort();
}

// `detail` is text, or a function that makes it, called only when the property
// is broken: most checks pass, and building their detail would cost more than
// the check.
template <typename Detail = std::string_view>
void check(bool holds, std::string_view property, Detail&& detail = {}) {
    if (holds) return;
    if constexpr (std::is_invocable_v<Detail>) {
        fail(property, std::string(detail()));
    } else {
        fail(property, std::string_view(detail));
    }
}

// Says what happened, for the report of a broken property.
using Context = std::function<std::string()>;

inline std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += "\n    " + line;
    return text;
}

inline bluetooth::Central centralWithTag(std::uint8_t tag, std::string handle) {
    bluetooth::Uuid::Bytes bytes{};
    bytes.fill(tag);
    return {.identifier = bluetooth::Uuid(bytes), .deviceKey = std::move(handle)};
}

// The peripheral on the scripted platform of the unit tests: a manual queue on
// virtual time, a clock the harness sets, and one transcript of everything.
struct Bench {
    testing::Transcript transcript;
    testing::ManualQueue queue;
    testing::RecordingOutput output{transcript};
    double clockSeconds = 1000.0;
    bool exited = false;
    testing::FakePeripheralManager* manager = nullptr;
    OrbiLatchBlePeripheral peripheral{
        {
            .queue = queue,
            .output = output,
            .monotonicSeconds = [this] { return clockSeconds; },
            .exitProcess =
                [this] {
                    exited = true;
                    transcript.add("exit");
                },
        },
        [this](bluetooth::PeripheralManagerDelegate&) {
            auto fake = std::make_unique<testing::FakePeripheralManager>(transcript);
            manager = fake.get();
            return fake;
        }};

    const bluetooth::Central watch = centralWithTag(0xAA, "watch");
    const bluetooth::Central otherCentral = centralWithTag(0xBB, "other");

    // Powered on, service added, advertising started.
    void advertise() {
        manager->currentState = bluetooth::ManagerState::poweredOn;
        peripheral.peripheralManagerDidUpdateState(*manager);
        peripheral.didAddService(*manager, {}, std::nullopt);
        peripheral.didStartAdvertising(*manager, std::nullopt);
    }
    void subscribe(const bluetooth::Central& central) {
        peripheral.didSubscribeToCharacteristic(*manager, central, acknowledgementCharacteristicUUID);
    }
    void unsubscribe(const bluetooth::Central& central) {
        peripheral.didUnsubscribeFromCharacteristic(*manager, central, acknowledgementCharacteristicUUID);
    }
    std::vector<std::string> take() { return transcript.take(); }
};

}  // namespace orbilatch::fuzz
