#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "system/MainQueue.h"

namespace orbilatch::system {

// Lines on their way from the reader thread to the main queue. The reader
// never waits for the loop: a controller that writes before it reads would
// otherwise wait for an agent that waits for it in turn. So an unread backlog
// grows here, in memory. The loop handles at most `batchLines` of it a turn,
// so its other sources (signals, bluetoothd, delayed tasks) are never held up
// behind a backlog, however long. Nothing is dropped, reordered or merged.
class LineQueue {
public:
    using Handle = std::function<void(std::string_view line)>;

    LineQueue(MainQueue& queue, std::size_t batchLines, Handle handle);
    LineQueue(const LineQueue&) = delete;
    LineQueue& operator=(const LineQueue&) = delete;

    // Any thread: hands the lines over in order and returns at once.
    void push(std::vector<std::string>& lines);

private:
    void handleBatch();

    MainQueue& queue_;
    const std::size_t batchLines_;
    Handle handle_;

    std::mutex mutex_;
    std::deque<std::string> queued_;
    // A task to handle the queued lines is posted and has not yet taken the last of them.
    bool taskPosted_ = false;
};

}  // namespace orbilatch::system
