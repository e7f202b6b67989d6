#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/PeripheralBench.h"

namespace orbilatch::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using std::chrono::milliseconds;

class Shutdown : public ::testing::Test, public PeripheralBench {};

const char* const shutdownEvent = R"(out: {"type":"ble_state_changed","state":"disconnected","message":"shutdown"})";

// A shutdown line means shutdown, whatever else it holds.
TEST_F(Shutdown, WithdrawsFromTheAirReportsOnceAndExitsFiftyMillisecondsLaterOrAtASecondRequest) {
    peripheral.handleInputLine(R"({"commandId":42,"type":"shutdown","protocolVersion":"x"})");
    EXPECT_THAT(take(), ElementsAre("bt: stopAdvertising", "bt: removeAllServices", shutdownEvent));
    queue.advance(milliseconds(49));
    EXPECT_THAT(take(), IsEmpty());
    queue.advance(milliseconds(1));
    EXPECT_THAT(take(), ElementsAre("exit"));
    peripheral.shutdown();
    EXPECT_THAT(take(), ElementsAre("exit"));
}

TEST_F(Shutdown, WorkArrivingWhileStoppingIsStillHandledAndOnlyFlushesDueBeforeTheExitComeFirst) {
    connectWatch();
    acknowledge("1");
    queue.advance(milliseconds(10));
    peripheral.shutdown();
    write(watch, "PP1|C|2|X", 3);
    queue.advance(milliseconds(45));
    acknowledge("3");
    queue.advance(milliseconds(100));
    EXPECT_THAT(take(), ElementsAre(::testing::HasSubstr(R"("commandId":"1")"), "bt: stopAdvertising",
                                    "bt: removeAllServices", shutdownEvent, ::testing::HasSubstr("END_PRESENTATION"),
                                    "bt: respond 3 0", ::testing::HasSubstr("updateValue OL2|A|1|E"),
                                    ::testing::HasSubstr("ack_notified"), ::testing::HasSubstr(R"("commandId":"3")"),
                                    "exit", ::testing::HasSubstr("updateValue OL2|A|3|E"),
                                    ::testing::HasSubstr("ack_notified")));
}

}  // namespace
}  // namespace orbilatch::testing
