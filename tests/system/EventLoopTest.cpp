#include "system/EventLoop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "system/MonotonicClock.h"

namespace orbilatch {
namespace {

using ::testing::ElementsAre;
using std::chrono::milliseconds;

void stop(EventLoop& loop) { sd_event_exit(loop.handle(), 0); }

TEST(EventLoop, PostedTasksFromAnotherThreadRunInTheOrderPosted) {
    EventLoop loop;
    std::vector<int> order;
    std::thread poster([&] {
        for (int i = 0; i < 1000; ++i) loop.post([&order, i] { order.push_back(i); });
        loop.post([&] { stop(loop); });
    });
    loop.run();
    poster.join();
    ASSERT_EQ(order.size(), 1000u);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(order[i], i);
}

TEST(EventLoop, DelayedTasksRunByDeadlineAndEqualDelaysInTheOrderPosted) {
    EventLoop loop;
    std::vector<std::string> order;
    loop.postAfter(milliseconds(3), [&] { order.push_back("late"); });
    for (int i = 0; i < 3; ++i) loop.postAfter(milliseconds(1), [&order, i] { order.push_back(std::to_string(i)); });
    loop.postAfter(milliseconds(0), [&] {
        order.push_back("first");
        loop.postAfter(milliseconds(1), [&] { order.push_back("nested"); });
    });
    loop.postAfter(milliseconds(5), [&] { stop(loop); });
    loop.run();
    EXPECT_THAT(order, ElementsAre("first", "0", "1", "2", "nested", "late"));
}

TEST(EventLoop, ADelayedTaskDoesNotRunBeforeItsDelay) {
    EventLoop loop;
    const double start = monotonicSeconds();
    double ranAt = 0;
    loop.postAfter(milliseconds(50), [&] {
        ranAt = monotonicSeconds();
        stop(loop);
    });
    loop.run();
    EXPECT_GE(ranAt - start, 0.050);
}

}  // namespace
}  // namespace orbilatch
