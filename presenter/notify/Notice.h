#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "presenter/Status.h"

namespace orbilatch::presenter::notify {

// One desktop notification.
struct Notice {
    // Critical ones wait to be read: a trouble stays up until it is mended or
    // dismissed, good news goes by itself.
    enum class Urgency { normal, critical };

    std::string summary;
    std::string body;
    Urgency urgency = Urgency::normal;

    bool operator==(const Notice&) const = default;
};

// What the person at the desktop is told of the change from before to now:
// the watch came or left; Bluetooth went off or away, or came back; a command
// failed, keys that could not be pressed above all. Nothing for anything else.
std::optional<Notice> noticeFor(const Status& before, const Status& now);

// No key can be pressed at all, so the presenter cannot start.
Notice keysCannotBePressed(std::string_view reason);

}  // namespace orbilatch::presenter::notify
