#include "output/StandardStreams.h"

#include <fcntl.h>
#include <sys/socket.h>

#include <future>

#include <gtest/gtest.h>

#include "output/EventLine.h"
#include "support/FdPairs.h"

namespace orbilatch::output {
namespace {

std::vector<std::string> receiveWrites(int fd) {
    std::vector<std::string> writes;
    char buffer[4096];
    for (ssize_t count; (count = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) writes.emplace_back(buffer, count);
    return writes;
}

TEST(StandardStreams, WritesEachLineWholeInOneWriteToItsOwnStream) {
    auto events = tests::makePair(true);
    auto diagnostics = tests::makePair(true);
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

// Whoever started us may have left our end of the pipe non-blocking.
TEST(StandardStreams, ALineLargerThanThePipeArrivesWholeThroughANonBlockingDescriptor) {
    auto pipe = tests::makePair(false);
    ::fcntl(pipe.writeEnd.get(), F_SETFL, O_NONBLOCK);
    const Event event = Event("malformed_command").with("message", std::string(1 << 20, 'x'));
    auto received = std::async(std::launch::async, tests::readAll, pipe.readEnd.get());
    StandardStreams(pipe.writeEnd.get(), pipe.writeEnd.get()).emit(event);
    pipe.writeEnd.reset();
    EXPECT_EQ(received.get(), formatEventLine(event));
}

}  // namespace
}  // namespace orbilatch::output
