#pragma once

#include <memory>
#include <utility>

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <unistd.h>

namespace orbilatch::bluetooth::bluez {

// No flush: it could block on a bus that stopped reading, and bluetoothd drops
// a departed client's registrations by itself.
struct BusCloser {
    void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
struct SlotReleaser {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
struct MessageReleaser {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
struct EventSourceReleaser {
    void operator()(sd_event_source* source) const { sd_event_source_disable_unref(source); }
};

using BusPtr = std::unique_ptr<sd_bus, BusCloser>;
using SlotPtr = std::unique_ptr<sd_bus_slot, SlotReleaser>;
using MessagePtr = std::unique_ptr<sd_bus_message, MessageReleaser>;
using EventSourcePtr = std::unique_ptr<sd_event_source, EventSourceReleaser>;

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

}  // namespace orbilatch::bluetooth::bluez
