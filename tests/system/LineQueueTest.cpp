#include "system/LineQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace orbilatch {
namespace {

// A reader faster than the loop: it never gets more than the capacity ahead,
// and every line arrives once, in order.
TEST(LineQueue, KeepsTheReaderNoMoreThanItsCapacityAheadAndLosesNothing) {
    sd_event* event = nullptr;
    ASSERT_GE(sd_event_new(&event), 0);
    const SdEventPtr loop(event);
    constexpr std::size_t capacity = 8;
    constexpr int count = 2000;
    std::atomic<int> accepted = 0;
    std::vector<std::string> handled;
    std::size_t mostAhead = 0;
    LineQueue queue(event, capacity, [&](std::string_view line) {
        mostAhead = std::max<std::size_t>(mostAhead, accepted - handled.size());
        handled.emplace_back(line);
    });

    std::thread reader([&] {
        for (int i = 0; i < count; ++i) {
            std::vector<std::string> line{std::to_string(i)};
            queue.push(line);
            ++accepted;
        }
    });
    while (handled.size() < count) sd_event_run(event, 100'000);
    reader.join();

    ASSERT_EQ(handled.size(), static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) ASSERT_EQ(handled[i], std::to_string(i));
    EXPECT_LE(mostAhead, capacity);
}

}  // namespace
}  // namespace orbilatch
