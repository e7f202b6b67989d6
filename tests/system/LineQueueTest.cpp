#include "system/LineQueue.h"

#include <gtest/gtest.h>

#include "system/EventLoop.h"

namespace orbilatch::system {
namespace {

// The whole backlog is pushed before the loop runs at all: the reader never
// waits for the loop, and each turn of the loop handles one batch.
TEST(LineQueue, TakesABacklogAtOnceAndHandsItOnInOrderABatchATurn) {
    EventLoop loop;
    std::vector<std::string> expected, handled;
    LineQueue queue(loop, 8, [&](std::string_view line) { handled.emplace_back(line); });
    for (int i = 0; i < 2000; i += 5) {
        std::vector<std::string> lines;
        for (int j = i; j < i + 5; ++j) lines.push_back(expected.emplace_back(std::to_string(j)));
        queue.push(lines);
    }
    for (std::size_t before = 0; handled.size() < expected.size(); before = handled.size()) {
        ASSERT_GT(sd_event_run(loop.handle(), 0), 0) << "lines left waiting after " << before;
        ASSERT_EQ(handled.size() - before, 8u);
    }
    EXPECT_EQ(handled, expected);
}

}  // namespace
}  // namespace orbilatch::system
