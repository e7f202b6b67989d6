#pragma once

#include <memory>

#include <systemd/sd-event.h>

namespace orbilatch {

struct SdEventUnref {
    void operator()(sd_event* event) const { sd_event_unref(event); }
};
struct SdEventSourceUnref {
    void operator()(sd_event_source* source) const { sd_event_source_disable_unref(source); }
};

using SdEventPtr = std::unique_ptr<sd_event, SdEventUnref>;
using SdEventSourcePtr = std::unique_ptr<sd_event_source, SdEventSourceUnref>;

}  // namespace orbilatch
