#include "system/LineQueue.h"

#include <algorithm>

namespace orbilatch {

LineQueue::LineQueue(MainQueue& queue, std::size_t capacity, Handle handle)
    : queue_(queue), capacity_(capacity), handle_(std::move(handle)) {}

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
        // The task takes everything queued when it runs, so one task serves
        // every push until then.
        if (wasIdle) queue_.post([this] { handleQueued(); });
    }
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
