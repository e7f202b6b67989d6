#include "system/EventLoop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "fakes/ManualQueue.h"
#include "system/MonotonicClock.h"

namespace orbilatch::system {
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

// Deadlines far enough apart that no slow machine can swap them.
TEST(EventLoop, DelayedTasksRunByDeadlineNotBeforeItAndEqualDelaysInTheOrderPosted) {
    EventLoop loop;
    const double start = monotonicSeconds();
    std::vector<std::string> order;
    double lateRanAt = 0;
    loop.postAfter(milliseconds(200), [&] {
        order.push_back("late");
        lateRanAt = monotonicSeconds();
        stop(loop);
    });
    for (int i = 0; i < 3; ++i) loop.postAfter(milliseconds(50), [&order, i] { order.push_back(std::to_string(i)); });
    loop.postAfter(milliseconds(0), [&] { order.push_back("first"); });
    loop.run();
    EXPECT_THAT(order, ElementsAre("first", "0", "1", "2", "late"));
    EXPECT_GE(lateRanAt - start, 0.200);
}

// The peripheral's tests run on the manual queue: it must order as the loop does.
TEST(EventLoop, RunsTheTasksDueAtOneMomentBeforeWhatTheyPostAndSoDoesTheManualQueue) {
    EventLoop loop;
    testing::ManualQueue manual;
    for (MainQueue* queue : std::initializer_list<MainQueue*>{&loop, &manual}) {
        std::vector<std::string> order;
        queue->postAfter(milliseconds(0), [&] { queue->post([&] { order.push_back("posted"); }); });
        queue->postAfter(milliseconds(0), [&] { order.push_back("due"); });
        manual.advance();
        while (sd_event_run(loop.handle(), 0) > 0) {}
        EXPECT_THAT(order, ElementsAre("due", "posted"));
    }
}

}  // namespace
}  // namespace orbilatch::system
