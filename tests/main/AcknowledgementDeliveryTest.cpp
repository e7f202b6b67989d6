#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/PeripheralBench.h"

namespace orbilatch::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using std::chrono::milliseconds;

class AcknowledgementDelivery : public ::testing::Test, public PeripheralBench {};

const char* const notifyFrame42 = "bt: updateValue OL2|A|42|E on 5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0003 to watch";
const char* const received42 = R"(out: {"type":"ack_received_from_controller","commandId":"42","status":"executed"})";

TEST_F(AcknowledgementDelivery, WithoutAWatchTheFrameWaitsFiftyMillisecondsThenUntilTheWatchSubscribes) {
    advertise();
    acknowledge("42");
    EXPECT_THAT(take(), ElementsAre(received42));
    queue.advance(milliseconds(49));
    EXPECT_THAT(take(), IsEmpty());
    queue.advance(milliseconds(1));
    EXPECT_THAT(take(), ElementsAre(R"(out: {"type":"ack_waiting_for_subscriber","reason":"controller_ack"})"));

    subscribe(watch);
    EXPECT_THAT(take(), ElementsAre("bt: stopAdvertising", R"(out: {"type":"watch_connected"})",
                                    R"(out: {"type":"ble_state_changed","state":"connected"})", notifyFrame42,
                                    R"(out: {"type":"ack_notified","frame":"OL2|A|42|E","reason":"subscribe"})"));
}

TEST_F(AcknowledgementDelivery, BackPressureKeepsTheFrameUntilThePlatformIsReady) {
    connectWatch();
    manager->transmitQueueHasRoom = false;
    acknowledge("42");
    queue.advance(milliseconds(50));
    EXPECT_THAT(take(), ElementsAre(received42, std::string(notifyFrame42) + " (queue full)",
                                    R"(out: {"type":"ack_notify_backpressure","reason":"controller_ack"})"));

    manager->transmitQueueHasRoom = true;
    // The second finds nothing pending, and says nothing.
    peripheral.isReadyToUpdateSubscribers(*manager);
    peripheral.isReadyToUpdateSubscribers(*manager);
    EXPECT_THAT(take(), ElementsAre(notifyFrame42,
                                    R"(out: {"type":"ack_notified","frame":"OL2|A|42|E","reason":"peripheral_ready"})"));
}

TEST_F(AcknowledgementDelivery, ANewerAcknowledgementReplacesOneNotYetSent) {
    connectWatch();
    acknowledge("1");
    queue.advance(milliseconds(20));
    acknowledge("2", 1);
    queue.advance(milliseconds(30));
    queue.advance(milliseconds(20));
    EXPECT_THAT(take(),
                ElementsAre(R"(out: {"type":"ack_received_from_controller","commandId":"1","status":"executed"})",
                            R"(out: {"type":"ack_received_from_controller","commandId":"2","status":"executed"})",
                            "bt: updateValue PP1|A|2|E on 5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0003 to watch",
                            R"(out: {"type":"ack_notified","frame":"PP1|A|2|E","reason":"controller_ack"})"));
}

}  // namespace
}  // namespace orbilatch::testing
