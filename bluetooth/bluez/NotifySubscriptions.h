#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "bluetooth/Uuid.h"
#include "bluetooth/bluez/BluezObjects.h"
#include "bluetooth/bluez/SubscriptionBook.h"
#include "system/FileDescriptor.h"
#include "system/MainQueue.h"
#include "system/Diagnose.h"
#include "system/SdPointers.h"

namespace orbilatch::bluetooth::bluez {

// The centrals subscribed to our notifying characteristics, and the way to
// each. bluetoothd hands a subscription over with AcquireNotify: we answer
// with one end of a socket pair, and each datagram we write to our end is one
// notification; it hangs its end up when the subscription ends. A bonded
// central that comes back keeps its subscription but gets no socket, so it is
// reached through a changed Value instead (bluetoothd notifies every device
// subscribed to the characteristic).
class NotifySubscriptions {
public:
    class Listener {
    public:
        virtual void subscribed(const std::string& device, const Uuid& characteristic) = 0;
        virtual void unsubscribed(const std::string& device, const Uuid& characteristic) = 0;
        // A notification that was not taken may now be sent again.
        virtual void readyToSend() = 0;

    protected:
        ~Listener() = default;
    };

    // What the subscriptions ask of bluetoothd.
    class Bluetoothd {
    public:
        // Sets the characteristic's value, which bluetoothd notifies to every
        // device subscribed to it. False when it could not.
        virtual bool announceValue(const Uuid& characteristic, std::span<const std::uint8_t> value) = 0;
        // Calls answer with what bluetoothd says of the device now, its
        // connection among it, unless the slot is dropped first.
        virtual int askWhetherConnected(const std::string& device, std::function<void(const DeviceFacts&)> answer,
                                        system::SdBusSlotPtr& slot) = 0;

    protected:
        ~Bluetoothd() = default;
    };

    using Diagnose = orbilatch::system::Diagnose;

    NotifySubscriptions(sd_event* loop, system::MainQueue& queue, Bluetoothd& bluetoothd, Listener& listener,
                        Diagnose diagnose);
    ~NotifySubscriptions();
    NotifySubscriptions(const NotifySubscriptions&) = delete;
    NotifySubscriptions& operator=(const NotifySubscriptions&) = delete;

    // AcquireNotify: makes the socket pair and hands bluetoothd its end through
    // reply (which answers the call, 0 or a negative errno). Returns 0 or a
    // negative errno when no pair could be made and the call is not answered.
    int acquire(const std::string& device, const Uuid& characteristic, const std::function<int(int fd)>& reply);

    // True when the notification was taken. False when it was not: a full
    // socket calls readyToSend once it has room; an unreachable central is
    // reported unsubscribed, then readyToSend follows, both from the queue.
    bool send(const std::string& device, const Uuid& characteristic, std::span<const std::uint8_t> value);

    void connectionChanged(const std::string& device, const DeviceFacts& facts);
    void deviceRemoved(const std::string& device);
    // bluetoothd left: every subscription ends and is reported.
    void bluetoothdLeft();
    // Our service was withdrawn: its subscriptions end unreported.
    void dropAll();

    // Someone is subscribed through the adapter, or is away with a kept subscription.
    bool any() const { return !book_.empty(); }

private:
    struct Socket;
    using Key = std::pair<std::string, std::string>;
    static Key keyOf(const std::string& device, const Uuid& characteristic);
    static int onSocketEvent(sd_event_source* source, int fd, std::uint32_t events, void* userdata);

    void hungUp(const std::string& device, const Uuid& characteristic);
    bool unreachable(const std::string& device, const Uuid& characteristic);
    void forgetSockets(const std::string& device);

    sd_event* loop_;
    system::MainQueue& queue_;
    Bluetoothd& bluetoothd_;
    Listener& listener_;
    Diagnose diagnose_;
    SubscriptionBook book_;
    std::map<Key, std::unique_ptr<Socket>> sockets_;
    std::map<Key, system::SdBusSlotPtr> connectionQuestions_;
};

}  // namespace orbilatch::bluetooth::bluez
