#pragma once

#include "presenter/Status.h"

namespace orbilatch::presenter {

// Whoever shows the status somewhere other than the presenter's own streams,
// such as the desktop's notifications.
class StatusObserver {
public:
    virtual ~StatusObserver() = default;

    // The whole status, once at the start and after each change.
    virtual void statusChanged(const Status& status) = 0;
};

}  // namespace orbilatch::presenter
