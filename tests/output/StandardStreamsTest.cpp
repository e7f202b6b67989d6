#include "output/StandardStreams.h"

#include <fcntl.h>
#include <future>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "output/EventLine.h"
#include "support/FdPairs.h"

namespace orbilatch::output {
namespace {

using tests::readAll;

// Each receive on a sequenced-packet socket returns exactly one write.
std::vector<std::string> receiveWrites(int fd) {
    std::vector<std::string> writes;
    char buffer[4096];
    for (ssize_t count; (count = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        writes.emplace_back(buffer, static_cast<std::size_t>(count));
    }
    return writes;
}

TEST(StandardStreams, WritesEachLineWholeInOneWriteToItsOwnStream) {
    auto events = tests::makeSeqPacketPair();
    auto diagnostics = tests::makeSeqPacketPair();
    StandardStreams streams(events.writeEnd.get(), diagnostics.writeEnd.get());

    streams.emit(Event("watch_connected"));
    streams.stderr("Ignoring malformed controller input");
    streams.emit(Event("ble_state_changed").with("state", "advertising"));
    streams.stderr("");
    events.writeEnd.reset();
    diagnostics.writeEnd.reset();

    EXPECT_EQ(receiveWrites(events.readEnd.get()),
              (std::vector<std::string>{"{\"type\":\"watch_connected\"}\n",
                                        "{\"type\":\"ble_state_changed\",\"state\":\"advertising\"}\n"}));
    EXPECT_EQ(receiveWrites(diagnostics.readEnd.get()),
              (std::vector<std::string>{"Ignoring malformed controller input\n", "\n"}));
}

class StandardStreamsLargeLine : public ::testing::TestWithParam<bool> {};

TEST_P(StandardStreamsLargeLine, ArrivesWholeThroughAFullPipe) {
    auto pipe = tests::makePipe();
    if (GetParam()) ::fcntl(pipe.writeEnd.get(), F_SETFL, O_NONBLOCK);
    const Event event = Event("malformed_command").with("message", std::string(1 << 20, 'x'));
    const std::string message(1 << 20, 'y');
    auto received = std::async(std::launch::async, readAll, pipe.readEnd.get());

    StandardStreams streams(pipe.writeEnd.get(), pipe.writeEnd.get());
    streams.emit(event);
    streams.stderr(message);
    pipe.writeEnd.reset();

    EXPECT_EQ(received.get(), formatEventLine(event) + message + "\n");
}

INSTANTIATE_TEST_SUITE_P(, StandardStreamsLargeLine, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "NonBlocking" : "Blocking"; });

}  // namespace
}  // namespace orbilatch::output
