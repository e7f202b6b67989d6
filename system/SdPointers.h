#pragma once

#include <memory>

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

namespace orbilatch::system {

struct SdEventUnref {
    void operator()(sd_event* event) const { sd_event_unref(event); }
};
struct SdEventSourceUnref {
    void operator()(sd_event_source* source) const { sd_event_source_disable_unref(source); }
};
// No flush: it could block on a bus that stopped reading, and bluetoothd drops
// a departed client's registrations by itself.
struct SdBusClose {
    void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
struct SdBusSlotUnref {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
struct SdBusMessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};

using SdEventPtr = std::unique_ptr<sd_event, SdEventUnref>;
using SdEventSourcePtr = std::unique_ptr<sd_event_source, SdEventSourceUnref>;
using SdBusPtr = std::unique_ptr<sd_bus, SdBusClose>;
using SdBusSlotPtr = std::unique_ptr<sd_bus_slot, SdBusSlotUnref>;
using SdBusMessagePtr = std::unique_ptr<sd_bus_message, SdBusMessageUnref>;

}  // namespace orbilatch::system
