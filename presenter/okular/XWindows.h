#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>

#include "system/SdPointers.h"

struct _XDisplay;

namespace orbilatch::presenter::okular {

// The top-level windows of the X display, as far as a program's own window
// properties tell what they are. Nothing is watched while nobody waits.
class XWindows {
public:
    // The display on $DISPLAY, on the loop; nothing without one.
    static std::unique_ptr<XWindows> open(sd_event* loop);
    ~XWindows();
    XWindows(const XWindows&) = delete;
    XWindows& operator=(const XWindows&) = delete;

    // Whether the process shows a presentation window (a mapped one that asks
    // to be above everything, as KDE's full-screen presentations do); nothing
    // when it has no window on this display at all, as under Wayland.
    std::optional<bool> presenting(pid_t pid);

    // Calls changed after top-level windows were mapped, unmapped or went,
    // until unwatch(owner): one owner at a time, the last one to ask.
    void watch(const void* owner, std::function<void()> changed);
    void unwatch(const void* owner);

private:
    struct Close {
        void operator()(_XDisplay* display) const;
    };

    XWindows(std::unique_ptr<_XDisplay, Close> display, sd_event* loop);
    static int onReadable(sd_event_source* source, int fd, uint32_t revents, void* self);
    static void onConnectionLost(_XDisplay* display, void* self);
    void dispatch();

    bool lost_ = false;
    std::unique_ptr<_XDisplay, Close> display_;
    system::SdEventSourcePtr source_;
    const void* owner_ = nullptr;
    std::function<void()> changed_;
};

}  // namespace orbilatch::presenter::okular
