#include "presenter/notify/DesktopNotifications.h"

#include <cstring>
#include <string>
#include <utility>

namespace orbilatch::presenter::notify {
namespace {

constexpr const char* service = "org.freedesktop.Notifications";
constexpr const char* path = "/org/freedesktop/Notifications";
constexpr const char* applicationName = "OrbiLatch presenter";
// The desktop entry the package installs: the server takes the icon and the
// program's name from it.
constexpr const char* desktopEntry = "orbilatch-present";
constexpr std::int32_t serverDefaultTimeout = -1;

std::string errnoText(int negativeErrno) { return std::strerror(-negativeErrno); }

int appendHints(sd_bus_message* message, Notice::Urgency urgency) {
    const std::uint8_t level = urgency == Notice::Urgency::critical ? 2 : 1;
    return sd_bus_message_append(message, "a{sv}", 2, "urgency", "y", level, "desktop-entry", "s", desktopEntry);
}

}  // namespace

DesktopNotifications::DesktopNotifications(sd_event* loop, system::Diagnose diagnose)
    : loop_(loop), diagnose_(std::move(diagnose)) {}

void DesktopNotifications::statusChanged(const Status& status) {
    if (auto notice = noticeFor(before_, status)) show(std::move(*notice));
    before_ = status;
}

void DesktopNotifications::show(Notice notice) {
    if (gaveUp_) return;
    if (call_) {
        waiting_ = std::move(notice);
        return;
    }
    if (!bus_ && !connect()) return;
    send(notice);
}

void DesktopNotifications::settle() {
    while (call_) {
        if (sd_event_run(loop_, UINT64_MAX) < 0) return;
    }
}

// Only when there is something to show, so a presenter that never notifies
// never talks to the session bus.
bool DesktopNotifications::connect() {
    sd_bus* bus = nullptr;
    int r = sd_bus_open_user(&bus);
    if (r < 0) {
        giveUp("cannot connect to the session bus: " + errnoText(r));
        return false;
    }
    bus_.reset(bus);
    // sd-bus would otherwise flush the bus when the loop ends, and wait for
    // as long as a session bus that does not answer takes.
    r = sd_bus_set_close_on_exit(bus, 0);
    if (r >= 0) r = sd_bus_attach_event(bus, loop_, SD_EVENT_PRIORITY_NORMAL);
    if (r < 0) {
        giveUp("cannot watch the session bus: " + errnoText(r));
        return false;
    }
    return true;
}

// Auto-start stays on: several desktops start their notification server only
// when it is first asked.
void DesktopNotifications::send(const Notice& notice) {
    sd_bus_message* message = nullptr;
    int r = sd_bus_message_new_method_call(bus_.get(), &message, service, path, service, "Notify");
    system::SdBusMessagePtr owned(message);
    if (r >= 0) {
        r = sd_bus_message_append(message, "susssas", applicationName, shown_, "", notice.summary.c_str(),
                                  notice.body.c_str(), 0);
    }
    if (r >= 0) r = appendHints(message, notice.urgency);
    if (r >= 0) r = sd_bus_message_append(message, "i", serverDefaultTimeout);
    sd_bus_slot* slot = nullptr;
    if (r >= 0) r = sd_bus_call_async(bus_.get(), &slot, message, &DesktopNotifications::onReply, this, 0);
    if (r < 0) return giveUp("cannot send a notification: " + errnoText(r));
    call_.reset(slot);
}

int DesktopNotifications::onReply(sd_bus_message* reply, void* self, sd_bus_error*) {
    auto* notifications = static_cast<DesktopNotifications*>(self);
    notifications->call_.reset();
    if (const sd_bus_error* error = sd_bus_message_get_error(reply)) {
        notifications->giveUp(error->message ? error->message : error->name);
        return 0;
    }
    std::uint32_t id = 0;
    if (sd_bus_message_read(reply, "u", &id) >= 0) notifications->shown_ = id;
    if (auto next = std::exchange(notifications->waiting_, std::nullopt)) notifications->send(*next);
    return 0;
}

// Any failure counts as no server: the desktop may have none, and asking
// again would only repeat the line. The bus stays open until the end, as this
// may run in one of its callbacks.
void DesktopNotifications::giveUp(const std::string& why) {
    gaveUp_ = true;
    waiting_.reset();
    diagnose_("no desktop notifications: " + why);
}

}  // namespace orbilatch::presenter::notify
