#include "system/LineQueue.h"

#include <gtest/gtest.h>

#include <thread>

#include "system/EventLoop.h"

namespace orbilatch {
namespace {

// A reader faster than the loop, pushing several lines at a time: the loop
// never finds more than the capacity waiting, and every line arrives once, in
// order.
TEST(LineQueue, KeepsTheReaderNoMoreThanItsCapacityAheadAndLosesNothing) {
    EventLoop loop;
    constexpr std::size_t capacity = 8;
    constexpr std::size_t count = 2000;
    std::vector<std::string> handled;
    LineQueue queue(loop, capacity, [&](std::string_view line) { handled.emplace_back(line); });

    std::thread reader([&] {
        for (std::size_t i = 0; i < count; i += 5) {
            std::vector<std::string> lines;
            for (std::size_t j = i; j < i + 5; ++j) lines.push_back(std::to_string(j));
            queue.push(lines);
        }
    });
    std::size_t mostAtOnce = 0;
    while (handled.size() < count) {
        const std::size_t before = handled.size();
        sd_event_run(loop.handle(), 100'000);  // one wake-up handles what was waiting
        mostAtOnce = std::max(mostAtOnce, handled.size() - before);
    }
    reader.join();

    ASSERT_EQ(handled.size(), count);
    for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(handled[i], std::to_string(i));
    EXPECT_LE(mostAtOnce, capacity);
}

}  // namespace
}  // namespace orbilatch
