#pragma once

#include <cstdint>
#include <optional>

#include "presenter/StatusObserver.h"
#include "presenter/notify/Notice.h"
#include "system/Diagnose.h"
#include "system/SdPointers.h"

namespace orbilatch::presenter::notify {

// Notifications through org.freedesktop.Notifications on the session bus,
// each one replacing the one before. A desktop without a notification server
// (or without a session bus) is told once through diagnose, then left alone.
class DesktopNotifications final : public StatusObserver {
public:
    DesktopNotifications(sd_event* loop, system::Diagnose diagnose);

    DesktopNotifications(const DesktopNotifications&) = delete;
    DesktopNotifications& operator=(const DesktopNotifications&) = delete;

    void statusChanged(const Status& status) override;

    // Sends the notice without waiting for the server; one that comes while
    // the server has not answered the last waits for its answer, which names
    // the notification to replace, and a later one takes its place.
    void show(Notice notice);

    // Runs the loop until the server has answered, for a presenter that is
    // about to end.
    void settle();

private:
    static int onReply(sd_bus_message* reply, void* self, sd_bus_error* error);

    bool connect();
    void send(const Notice& notice);
    void giveUp(const std::string& why);

    sd_event* loop_;
    system::Diagnose diagnose_;
    system::SdBusPtr bus_;
    system::SdBusSlotPtr call_;
    std::optional<Notice> waiting_;
    // The server's name for the notification on the screen; 0 for none yet.
    std::uint32_t shown_ = 0;
    bool gaveUp_ = false;
    Status before_;
};

}  // namespace orbilatch::presenter::notify
