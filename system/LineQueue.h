#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "system/FileDescriptor.h"
#include "system/SdPointers.h"

namespace orbilatch {

// Lines on their way from the reader thread to the main loop. While
// `capacity` of them are unhandled the reader waits, so a controller that
// writes faster than the agent handles its lines blocks in its own write(2),
// and the backlog stays in the pipe rather than in the agent. Nothing is
// dropped, reordered or merged. The loop is woken once per batch, and its
// other sources (signals, bluetoothd) never wait behind this bound.
class LineQueue {
public:
    using Handle = std::function<void(std::string_view line)>;

    LineQueue(sd_event* loop, std::size_t capacity, Handle handle);
    LineQueue(const LineQueue&) = delete;
    LineQueue& operator=(const LineQueue&) = delete;

    // Any thread: hands the lines over in order, waiting for room as needed.
    void push(std::vector<std::string>& lines);

private:
    static int onWakeup(sd_event_source* source, int fd, std::uint32_t events, void* self);
    void handleQueued();

    const std::size_t capacity_;
    Handle handle_;
    FileDescriptor wakeup_;
    SdEventSourcePtr source_;

    std::mutex mutex_;
    std::condition_variable room_;
    std::vector<std::string> queued_;
    // Queued, or taken by the loop and not yet handled.
    std::size_t unhandled_ = 0;
};

}  // namespace orbilatch
