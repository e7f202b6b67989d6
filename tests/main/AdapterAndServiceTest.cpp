#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/PeripheralBench.h"

namespace orbilatch::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class AdapterAndService : public ::testing::Test, public PeripheralBench {};

TEST_F(AdapterAndService, NothingIsSaidUntilTheStateAndEveryStateButPoweredOnIsReportedWithItsOwnEvent) {
    EXPECT_THAT(take(), IsEmpty());
    const std::pair<int, const char*> cases[] = {
        {0, R"({"type":"ble_state_changed","state":"unavailable","message":"Bluetooth state unknown"})"},
        {1, R"({"type":"ble_state_changed","state":"disconnected","message":"Bluetooth manager resetting"})"},
        {2, R"({"type":"ble_state_changed","state":"unavailable","message":"Bluetooth LE peripheral mode is unsupported"})"},
        {3, R"({"type":"ble_state_changed","state":"unauthorized"})"},
        {4, R"({"type":"ble_state_changed","state":"powered_off"})"},
        {6, R"({"type":"ble_state_changed","state":"error","message":"Unknown Bluetooth state"})"},
        {-1, R"({"type":"ble_state_changed","state":"error","message":"Unknown Bluetooth state"})"},
    };
    for (const auto& [raw, line] : cases) {
        stateBecomes(static_cast<ManagerState>(raw));
        EXPECT_THAT(take(), ElementsAre(std::string("out: ") + line)) << "raw state " << raw;
    }
}

TEST_F(AdapterAndService, PoweredOnPublishesTheServiceThenAdvertisesOnceItIsAdded) {
    stateBecomes(ManagerState::poweredOn);
    EXPECT_THAT(take(), ElementsAre("bt: removeAllServices",
                                    "bt: addService 5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0001 primary"
                                    " [5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0002 properties=8]"
                                    " [5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0003 properties=16]"));

    peripheral.didAddService(*manager, {}, std::nullopt);
    EXPECT_THAT(take(), ElementsAre("bt: stopAdvertising",
                                    "bt: startAdvertising OrbiLatch 5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0001"));

    peripheral.didStartAdvertising(*manager, std::nullopt);
    EXPECT_THAT(take(), ElementsAre(R"(out: {"type":"ble_state_changed","state":"advertising"})"));

    // Every poweredOn builds the service from scratch.
    stateBecomes(ManagerState::poweredOn);
    EXPECT_THAT(take(), ElementsAre("bt: removeAllServices", ::testing::StartsWith("bt: addService")));
}

TEST_F(AdapterAndService, FailuresAreReportedAsAnEventThenADiagnosticAndNotRetried) {
    stateBecomes(ManagerState::poweredOn);
    take();
    peripheral.didAddService(*manager, {}, bluetooth::PlatformError{"Application \"registration\" failed"});
    EXPECT_THAT(take(), ElementsAre(
                            R"(out: {"type":"ble_state_changed","state":"error","message":"Application \"registration\" failed"})",
                            R"(err: Service add failed: Application "registration" failed)"));

    peripheral.didStartAdvertising(*manager, bluetooth::PlatformError{"Maximum advertisements reached"});
    EXPECT_THAT(take(), ElementsAre(
                            R"(out: {"type":"ble_state_changed","state":"error","message":"Maximum advertisements reached"})",
                            "err: Advertising failed: Maximum advertisements reached"));
}

TEST_F(AdapterAndService, ShuttingDownSilencesStateUpdatesAndTheAddOutcomeButNotTheAdvertisingOutcome) {
    peripheral.shutdown();
    take();

    stateBecomes(ManagerState::poweredOff);
    stateBecomes(ManagerState::poweredOn);
    peripheral.didAddService(*manager, {}, std::nullopt);
    peripheral.didAddService(*manager, {}, bluetooth::PlatformError{"Failed"});
    EXPECT_THAT(take(), IsEmpty());

    peripheral.didStartAdvertising(*manager, bluetooth::PlatformError{"Failed"});
    peripheral.didStartAdvertising(*manager, std::nullopt);
    EXPECT_THAT(take(), ElementsAre(R"(out: {"type":"ble_state_changed","state":"error","message":"Failed"})",
                                    "err: Advertising failed: Failed",
                                    R"(out: {"type":"ble_state_changed","state":"advertising"})"));
}

TEST_F(AdapterAndService, AdapterChangesKeepTheWatchAndThePendingAcknowledgement) {
    connectWatch();
    manager->transmitQueueHasRoom = false;
    acknowledge("7");
    queue.advance(std::chrono::milliseconds(50));
    take();

    stateBecomes(ManagerState::resetting);
    stateBecomes(ManagerState::poweredOff);
    advertise();
    subscribe(otherCentral);
    EXPECT_THAT(take(), ElementsAre("err: Rejecting additional central BBBBBBBB-BBBB-BBBB-BBBB-BBBBBBBBBBBB; spike "
                                    "allows one watch"));

    manager->transmitQueueHasRoom = true;
    peripheral.isReadyToUpdateSubscribers(*manager);
    EXPECT_THAT(take(), ElementsAre("bt: updateValue OL2|A|7|E on 5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0003 to watch",
                                    R"(out: {"type":"ack_notified","frame":"OL2|A|7|E","reason":"peripheral_ready"})"));
}

}  // namespace
}  // namespace orbilatch::testing
