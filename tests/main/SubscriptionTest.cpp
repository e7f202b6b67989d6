#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/PeripheralBench.h"

namespace orbilatch::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class Subscription : public ::testing::Test, public PeripheralBench {
protected:
    void SetUp() override { advertise(); }
};

const char* const watchConnected = R"(out: {"type":"watch_connected"})";
const char* const stateConnected = R"(out: {"type":"ble_state_changed","state":"connected"})";
const char* const watchDisconnected = R"(out: {"type":"watch_disconnected"})";
const char* const stateDisconnected = R"(out: {"type":"ble_state_changed","state":"disconnected"})";
const char* const restartAdvertising[] = {"bt: stopAdvertising",
                                          "bt: startAdvertising OrbiLatch 5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0001"};

TEST_F(Subscription, AnotherCentralIsRefusedOnStandardErrorOnlyAndItsLeavingGoesUnnoticed) {
    subscribe(watch);
    take();
    subscribe(otherCentral);
    EXPECT_THAT(take(), ElementsAre("err: Rejecting additional central BBBBBBBB-BBBB-BBBB-BBBB-BBBBBBBBBBBB; spike "
                                    "allows one watch"));
    unsubscribe(otherCentral);
    EXPECT_THAT(take(), IsEmpty());

    write(watch, "PP1|C|1|N");
    EXPECT_THAT(take(), ElementsAre(::testing::HasSubstr("command_received"), "bt: respond 1 0"));
}

TEST_F(Subscription, TheSameWatchIsRecognisedByItsIdentifierAndAcceptedAgain) {
    subscribe(watch);
    take();
    const auto sameWatchNewRecord = bluetooth::Central{.identifier = watch.identifier, .deviceKey = "again"};
    subscribe(sameWatchNewRecord);
    EXPECT_THAT(take(), ElementsAre("bt: stopAdvertising", watchConnected, stateConnected));

    unsubscribe(watch);
    EXPECT_THAT(take(), ElementsAre(watchDisconnected, stateDisconnected, restartAdvertising[0], restartAdvertising[1]));
}

TEST_F(Subscription, TheWatchLeavingWithAPendingAcknowledgementReportsItAndKeepsIt) {
    subscribe(watch);
    manager->transmitQueueHasRoom = false;
    acknowledge("9");
    queue.advance(std::chrono::milliseconds(50));
    take();

    unsubscribe(watch);
    EXPECT_THAT(take(), ElementsAre(R"(out: {"type":"ack_pending_on_disconnect"})", watchDisconnected,
                                    stateDisconnected, restartAdvertising[0], restartAdvertising[1]));

    manager->transmitQueueHasRoom = true;
    subscribe(otherCentral);
    EXPECT_THAT(take(), ElementsAre("bt: stopAdvertising", watchConnected, stateConnected,
                                    "bt: updateValue OL2|A|9|E on 5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0003 to other",
                                    R"(out: {"type":"ack_notified","frame":"OL2|A|9|E","reason":"subscribe"})"));
}

TEST_F(Subscription, OtherCharacteristicsAreIgnored) {
    subscribe(watch, agent::commandCharacteristicUUID);
    unsubscribe(watch, agent::commandCharacteristicUUID);
    EXPECT_THAT(take(), IsEmpty());

    subscribe(watch);
    take();
    unsubscribe(watch, agent::commandCharacteristicUUID);
    EXPECT_THAT(take(), IsEmpty());
}

TEST_F(Subscription, DuringShutdownTheWatchStillComesAndGoesButAdvertisingIsNotRestarted) {
    peripheral.shutdown();
    take();
    subscribe(watch);
    EXPECT_THAT(take(), ElementsAre("bt: stopAdvertising", watchConnected, stateConnected));
    unsubscribe(watch);
    EXPECT_THAT(take(), ElementsAre(watchDisconnected, stateDisconnected));
}

}  // namespace
}  // namespace orbilatch::testing
