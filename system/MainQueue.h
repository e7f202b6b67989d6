#pragma once

#include <chrono>
#include <functional>

namespace orbilatch::system {

// The one serial queue on which all the agent's work runs.
class MainQueue {
public:
    using Task = std::function<void()>;

    virtual ~MainQueue() = default;

    // Thread-safe; tasks run in the order posted.
    virtual void post(Task task) = 0;
    // Main thread only; tasks with equal delays run in the order posted.
    virtual void postAfter(std::chrono::milliseconds delay, Task task) = 0;
};

}  // namespace orbilatch::system
