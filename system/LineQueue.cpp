#include "system/LineQueue.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace orbilatch::system {

LineQueue::LineQueue(MainQueue& queue, std::size_t batchLines, Handle handle)
    : queue_(queue), batchLines_(batchLines), handle_(std::move(handle)) {}

void LineQueue::push(std::vector<std::string>& lines) {
    {
        const std::lock_guard lock(mutex_);
        queued_.insert(queued_.end(), std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
        if (std::exchange(taskPosted_, true)) return;
    }
    queue_.post([this] { handleBatch(); });
}

// The rest of a backlog goes to the back of the main queue, behind whatever
// else is waiting there.
void LineQueue::handleBatch() {
    std::vector<std::string> batch;
    bool more = false;
    {
        const std::lock_guard lock(mutex_);
        const auto count = std::min(batchLines_, queued_.size());
        batch.assign(std::make_move_iterator(queued_.begin()), std::make_move_iterator(queued_.begin() + count));
        queued_.erase(queued_.begin(), queued_.begin() + count);
        more = !queued_.empty();
        taskPosted_ = more;
    }
    for (const std::string& line : batch) handle_(line);
    if (more) queue_.post([this] { handleBatch(); });
}

}  // namespace orbilatch::system
