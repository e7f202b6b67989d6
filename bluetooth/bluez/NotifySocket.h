#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "bluetooth/Uuid.h"
#include "system/FileDescriptor.h"
#include "system/SdPointers.h"

namespace orbilatch::bluetooth::bluez {

// Our end of the socket pair handed to bluetoothd in AcquireNotify for one
// central and characteristic. Each datagram written is one notification;
// bluetoothd hangs its end up when the subscription ends.
class NotifySocket {
public:
    class Listener {
    public:
        // The socket may be destroyed from inside both calls.
        virtual void notifySocketHungUp(const std::string& device, const Uuid& characteristic) = 0;
        virtual void notifySocketWritable() = 0;

    protected:
        ~Listener() = default;
    };

    enum class SendResult { taken, full, failed };

    // Watches our end on the loop and hands the other end out in peerEnd.
    // Null, with errno set, when the pair cannot be made.
    static std::unique_ptr<NotifySocket> open(sd_event* loop, Listener& listener, std::string device,
                                              Uuid characteristic, FileDescriptor& peerEnd);

    // On `full` the socket reports once through notifySocketWritable when
    // there is room again.
    SendResult send(std::span<const std::uint8_t> datagram);

private:
    NotifySocket(Listener& listener, std::string device, Uuid characteristic, FileDescriptor fd);
    static int onEvent(sd_event_source* source, int fd, std::uint32_t events, void* userdata);

    Listener& listener_;
    std::string device_;
    Uuid characteristic_;
    FileDescriptor fd_;
    SdEventSourcePtr watch_;
};

}  // namespace orbilatch::bluetooth::bluez
