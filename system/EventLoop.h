#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>

#include "system/FileDescriptor.h"
#include "system/MainQueue.h"
#include "system/SdPointers.h"
#include "system/TerminationSignals.h"

namespace orbilatch::system {

// The main queue on sd-event. Posted tasks cross threads through a mutex and an
// eventfd; delayed tasks wait in one deadline-ordered FIFO drained by a single
// timer source, so a flood of equal delays costs O(1) each and no timer source
// per task.
class EventLoop final : public MainQueue {
public:
    EventLoop();

    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    sd_event* handle() const { return event_.get(); }

    void post(Task task) override;
    void postAfter(std::chrono::milliseconds delay, Task task) override;

    // Calls onSignal on the main thread once per SIGINT or SIGTERM delivered
    // from now on. Until then both keep their default action, or stay blocked
    // where the caller blocked them. Other threads should keep them blocked
    // (see TerminationSignalsBlocked).
    void onTerminationSignals(std::function<void()> onSignal);

    // Runs until something ends the process.
    int run();

private:
    using Clock = std::chrono::steady_clock;

    static int onWakeup(sd_event_source* source, int fd, uint32_t revents, void* self);
    static int onTimer(sd_event_source* source, uint64_t usec, void* self);
    static int onSignals(sd_event_source* source, int fd, uint32_t revents, void* self);

    void runPostedTasks();
    void runDueTasks();
    void armTimer();

    SdEventPtr event_;
    FileDescriptor wakeupFd_;
    SdEventSourcePtr wakeupSource_;
    SdEventSourcePtr timerSource_;
    std::optional<TerminationSignalCounter> signals_;
    SdEventSourcePtr signalSource_;

    std::mutex postedMutex_;
    std::deque<Task> posted_;

    std::deque<std::pair<Clock::time_point, Task>> delayed_;
    std::function<void()> onTerminationSignal_;
};

}  // namespace orbilatch::system
