#include "system/LineQueue.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>

namespace orbilatch {

LineQueue::LineQueue(sd_event* loop, std::size_t capacity, Handle handle)
    : capacity_(capacity), handle_(std::move(handle)), wakeup_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!wakeup_) throw std::system_error(errno, std::generic_category(), "eventfd");
    sd_event_source* source = nullptr;
    const int r = sd_event_add_io(loop, &source, wakeup_.get(), EPOLLIN, &LineQueue::onWakeup, this);
    if (r < 0) throw std::system_error(-r, std::generic_category(), "sd_event_add_io");
    source_.reset(source);
}

void LineQueue::push(std::vector<std::string>& lines) {
    for (auto next = lines.begin(); next != lines.end();) {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [this] { return unhandled_ < capacity_; });
        const auto count = std::min<std::size_t>(capacity_ - unhandled_, lines.end() - next);
        const bool wasIdle = queued_.empty();
        queued_.insert(queued_.end(), std::make_move_iterator(next), std::make_move_iterator(next + count));
        unhandled_ += count;
        next += count;
        lock.unlock();
        // The loop takes everything queued when it wakes, so one wake-up
        // serves every push until then.
        const std::uint64_t one = 1;
        if (wasIdle) [[maybe_unused]] auto written = ::write(wakeup_.get(), &one, sizeof one);
    }
}

int LineQueue::onWakeup(sd_event_source*, int fd, std::uint32_t, void* self) {
    std::uint64_t count = 0;
    [[maybe_unused]] auto consumed = ::read(fd, &count, sizeof count);
    static_cast<LineQueue*>(self)->handleQueued();
    return 0;
}

void LineQueue::handleQueued() {
    std::vector<std::string> batch;
    {
        const std::lock_guard lock(mutex_);
        batch.swap(queued_);
    }
    for (const std::string& line : batch) handle_(line);
    {
        const std::lock_guard lock(mutex_);
        unhandled_ -= batch.size();
    }
    room_.notify_one();
}

}  // namespace orbilatch
