#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "system/MainQueue.h"

namespace orbilatch {

// Lines on their way from the reader thread to the main queue. While
// `capacity` of them are unhandled the reader waits, so a controller that
// writes faster than the agent handles its lines blocks in its own write(2),
// and the backlog stays in the pipe rather than in the agent. Nothing is
// dropped, reordered or merged. One task is posted per batch, and the loop's
// other sources (signals, bluetoothd) never wait behind this bound.
class LineQueue {
public:
    using Handle = std::function<void(std::string_view line)>;

    LineQueue(MainQueue& queue, std::size_t capacity, Handle handle);
    LineQueue(const LineQueue&) = delete;
    LineQueue& operator=(const LineQueue&) = delete;

    // Any thread: hands the lines over in order, waiting for room as needed.
    void push(std::vector<std::string>& lines);

private:
    void handleQueued();

    MainQueue& queue_;
    const std::size_t capacity_;
    Handle handle_;

    std::mutex mutex_;
    std::condition_variable room_;
    std::vector<std::string> queued_;
    // Queued, or taken by the loop and not yet handled.
    std::size_t unhandled_ = 0;
};

}  // namespace orbilatch
