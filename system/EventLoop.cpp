#include "system/EventLoop.h"

#include <sys/eventfd.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <system_error>

#include "system/Check.h"

namespace orbilatch::system {
namespace {

std::uint64_t toMicroseconds(std::chrono::steady_clock::time_point when) {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count());
}

}  // namespace

EventLoop::EventLoop() {
    sd_event* event = nullptr;
    check(sd_event_new(&event), "sd_event_new");
    event_.reset(event);

    wakeupFd_.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wakeupFd_) throw std::system_error(errno, std::generic_category(), "eventfd");

    sd_event_source* source = nullptr;
    check(sd_event_add_io(handle(), &source, wakeupFd_.get(), EPOLLIN, &EventLoop::onWakeup, this),
          "sd_event_add_io");
    wakeupSource_.reset(source);

    // steady_clock is CLOCK_MONOTONIC on Linux, so deadlines compare directly.
    check(sd_event_add_time(handle(), &source, CLOCK_MONOTONIC, 0, 1, &EventLoop::onTimer, this),
          "sd_event_add_time");
    timerSource_.reset(source);
    check(sd_event_source_set_enabled(source, SD_EVENT_OFF), "sd_event_source_set_enabled");
}

void EventLoop::post(Task task) {
    {
        std::lock_guard lock(postedMutex_);
        posted_.push_back(std::move(task));
    }
    const std::uint64_t one = 1;
    // The counter cannot overflow in practice; a failed write would only mean
    // the loop is already due to wake.
    [[maybe_unused]] auto written = ::write(wakeupFd_.get(), &one, sizeof one);
}

void EventLoop::postAfter(std::chrono::milliseconds delay, Task task) {
    const auto deadline = Clock::now() + delay;
    // Equal delays arrive in deadline order, so this almost always appends.
    auto position = std::upper_bound(delayed_.begin(), delayed_.end(), deadline,
                                     [](auto when, const auto& entry) { return when < entry.first; });
    const bool newFront = position == delayed_.begin();
    delayed_.emplace(position, deadline, std::move(task));
    if (newFront) armTimer();
}

void EventLoop::onTerminationSignals(std::function<void()> onSignal) {
    onTerminationSignal_ = std::move(onSignal);
    signals_.emplace();
    sd_event_source* source = nullptr;
    check(sd_event_add_io(handle(), &source, signals_->fd(), EPOLLIN, &EventLoop::onSignals, this),
          "sd_event_add_io");
    signalSource_.reset(source);
}

int EventLoop::run() { return sd_event_loop(handle()); }

int EventLoop::onWakeup(sd_event_source*, int fd, uint32_t, void* self) {
    std::uint64_t count = 0;
    [[maybe_unused]] auto consumed = ::read(fd, &count, sizeof count);
    static_cast<EventLoop*>(self)->runPostedTasks();
    return 0;
}

int EventLoop::onTimer(sd_event_source*, uint64_t, void* self) {
    static_cast<EventLoop*>(self)->runDueTasks();
    return 0;
}

int EventLoop::onSignals(sd_event_source*, int, uint32_t, void* self) {
    auto* loop = static_cast<EventLoop*>(self);
    for (auto count = loop->signals_->take(); count > 0; --count) loop->onTerminationSignal_();
    return 0;
}

void EventLoop::runPostedTasks() {
    std::deque<Task> batch;
    {
        std::lock_guard lock(postedMutex_);
        batch.swap(posted_);
    }
    for (auto& task : batch) task();
}

void EventLoop::runDueTasks() {
    const auto now = Clock::now();
    while (!delayed_.empty() && delayed_.front().first <= now) {
        auto task = std::move(delayed_.front().second);
        delayed_.pop_front();
        task();
    }
    armTimer();
}

void EventLoop::armTimer() {
    if (delayed_.empty()) {
        sd_event_source_set_enabled(timerSource_.get(), SD_EVENT_OFF);
        return;
    }
    sd_event_source_set_time(timerSource_.get(), toMicroseconds(delayed_.front().first));
    sd_event_source_set_enabled(timerSource_.get(), SD_EVENT_ONESHOT);
}

}  // namespace orbilatch::system
