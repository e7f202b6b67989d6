#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <utility>

#include "system/MainQueue.h"

namespace orbilatch::testing {

// A main queue on virtual time: nothing runs until the test says so.
class ManualQueue final : public system::MainQueue {
public:
    using Duration = std::chrono::milliseconds;

    void post(Task task) override { ready_.push_back(std::move(task)); }
    void postAfter(Duration delay, Task task) override {
        delayed_.emplace(std::make_pair(now_ + delay, sequence_++), std::move(task));
    }

    // Runs posted tasks, then moves time forward by `elapsed`. At each deadline
    // it runs every delayed task due then, in the order posted, and only then
    // what they posted, as EventLoop's timer does.
    void advance(Duration elapsed = Duration(0)) {
        runReady();
        const Duration end = now_ + elapsed;
        while (!delayed_.empty() && delayed_.begin()->first.first <= end) {
            now_ = delayed_.begin()->first.first;
            runDue();
            runReady();
        }
        now_ = end;
    }

private:
    void runDue() {
        while (!delayed_.empty() && delayed_.begin()->first.first <= now_) delayed_.extract(delayed_.begin()).mapped()();
    }
    void runReady() {
        while (!ready_.empty()) {
            auto task = std::move(ready_.front());
            ready_.pop_front();
            task();
        }
    }

    Duration now_{0};
    unsigned long sequence_ = 0;
    std::deque<Task> ready_;
    std::map<std::pair<Duration, unsigned long>, Task> delayed_;
};

}  // namespace orbilatch::testing
