#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/PeripheralBench.h"

namespace orbilatch::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class CommandWrite : public ::testing::Test, public PeripheralBench {
protected:
    void SetUp() override { connectWatch(); }

    // Ten accepted writes at the given times; the transcript is empty after.
    void burst(std::initializer_list<double> times) {
        std::uint64_t handle = 100;
        for (double time : times) {
            clockSeconds = time;
            write(watch, "PP1|C|1|N", handle++);
        }
        take();
    }
};

const char* const rateLimited = R"(out: {"type":"malformed_command","message":"BLE command rate limit exceeded"})";

TEST_F(CommandWrite, ADecodedFrameIsReportedThenAnsweredWithSuccess) {
    write(watch, "OL2|C|42|N", 7);
    EXPECT_THAT(take(), ElementsAre(
                            R"(out: {"type":"command_received","protocolVersion":2,"commandId":"42","command":"NEXT_SLIDE"})",
                            "bt: respond 7 0"));
}

TEST_F(CommandWrite, RefusedWritesGetTheirAttErrorsAndOnlyDecodingFailuresAreReported) {
    write({request(watch, "PP1|C|1|N", 1, agent::acknowledgementCharacteristicUUID),
           request(otherCentral, "PP1|C|1|N", 2),
           request(watch, std::nullopt, 3),
           request(watch, "", 4),
           request(watch, "OL2|C|abcdefghijklm|N", 5),
           request(watch, "PP1|C|7|B", 6)});
    EXPECT_THAT(take(), ElementsAre("bt: respond 1 6", "bt: respond 2 14", "bt: respond 3 13",
                                    R"(out: {"type":"malformed_command","message":"BLE frame is empty"})",
                                    "bt: respond 4 13",
                                    R"(out: {"type":"malformed_command","message":"BLE frame exceeds maximum size"})",
                                    "bt: respond 5 13",
                                    R"(out: {"type":"malformed_command","message":"Unknown BLE command"})",
                                    "bt: respond 6 13"));
}

TEST_F(CommandWrite, WithoutAWatchEveryCommandWriteIsAnsweredUnlikelyErrorSilently) {
    unsubscribe(watch);
    take();
    for (int i = 0; i < 12; ++i) write(watch, "PP1|C|1|N", 1);
    EXPECT_THAT(take(), ElementsAreArray(std::vector<std::string>(12, "bt: respond 1 14")));
}

// The eleventh within a second is refused, answered before it is reported,
// also when the watch came back meanwhile.
TEST_F(CommandWrite, TheEleventhWriteWithinASecondIsRefusedWhateverTheWatchDidMeanwhile) {
    burst({10.0, 10.5, 10.5, 10.5, 10.5, 10.5, 10.5, 10.5, 10.5, 10.5});
    unsubscribe(watch);
    subscribe(watch);
    take();
    clockSeconds = 10.999;
    write(watch, "PP1|C|1|N", 1);
    clockSeconds = 11.0;
    write(watch, "PP1|C|2|N", 2);
    EXPECT_THAT(take(), ElementsAre("bt: respond 1 17", rateLimited, ::testing::HasSubstr(R"("commandId":"2")"),
                                    "bt: respond 2 0"));
}

TEST_F(CommandWrite, RefusedWritesAreNotCountedButUndecodableAndEmptyOnesAre) {
    clockSeconds = 20.0;
    write({request(watch, std::nullopt, 1), request(watch, "garbage", 2)});
    burst({20.1, 20.2, 20.3, 20.4, 20.5, 20.6, 20.7, 20.8});
    for (double time : {20.9, 20.95, 20.99}) {
        clockSeconds = time;
        write(watch, "PP1|C|1|N", 3);
    }
    EXPECT_THAT(take(), ElementsAre("bt: respond 3 17", rateLimited, "bt: respond 3 17", rateLimited,
                                    "bt: respond 3 17", rateLimited));
    // Only the two early writes have aged out; the refused ones left no trace.
    clockSeconds = 21.0;
    write(watch, "PP1|C|1|N", 4);
    EXPECT_THAT(take(), ElementsAre(::testing::HasSubstr("command_received"), "bt: respond 4 0"));
}

TEST_F(CommandWrite, OneCallbackHittingTheLimitAnswersEveryRequestInOrder) {
    clockSeconds = 30.0;
    std::vector<bluetooth::AttRequest> requests;
    for (std::uint64_t handle = 1; handle <= 12; ++handle) requests.push_back(request(watch, "PP1|C|1|P", handle));
    write(requests);
    const auto lines = take();
    ASSERT_EQ(lines.size(), 24u);
    EXPECT_EQ(lines[19], "bt: respond 10 0");
    EXPECT_THAT(std::vector(lines.begin() + 20, lines.end()),
                ElementsAre("bt: respond 11 17", rateLimited, "bt: respond 12 17", rateLimited));
}

}  // namespace
}  // namespace orbilatch::testing
