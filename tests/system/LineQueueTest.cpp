#include "system/LineQueue.h"

#include <gtest/gtest.h>

#include "system/EventLoop.h"

namespace orbilatch {
namespace {

// The whole backlog is pushed before the loop runs at all: the reader never
// waits for the loop, and one turn of the loop handles no more than a batch.
TEST(LineQueue, TakesABacklogAtOnceAndHandsItOnInOrderABatchATurn) {
    EventLoop loop;
    constexpr std::size_t batch = 8;
    constexpr std::size_t count = 2000;
    std::vector<std::string> handled;
    LineQueue queue(loop, batch, [&](std::string_view line) { handled.emplace_back(line); });

    for (std::size_t i = 0; i < count; i += 5) {
        std::vector<std::string> lines;
        for (std::size_t j = i; j < i + 5; ++j) lines.push_back(std::to_string(j));
        queue.push(lines);
    }
    std::size_t mostAtOnce = 0;
    while (handled.size() < count) {
        const std::size_t before = handled.size();
        ASSERT_GT(sd_event_run(loop.handle(), 0), 0) << "lines left waiting after " << before;
        mostAtOnce = std::max(mostAtOnce, handled.size() - before);
    }

    for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(handled[i], std::to_string(i));
    EXPECT_EQ(mostAtOnce, batch);
}

}  // namespace
}  // namespace orbilatch
