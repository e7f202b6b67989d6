#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bluetooth/Uuid.h"

namespace orbilatch::bluetooth::bluez {

// Which centrals are subscribed to which characteristic, from the signals
// bluetoothd gives: an acquired notification socket, its hang-up, and the
// central's connection. Every method answers what is to be reported, so that a
// departure seen twice (hang-up and disconnection, in either order) is
// reported once.
class SubscriptionBook {
public:
    void subscribed(const std::string& device, const Uuid& characteristic);
    // True when a standing subscription ends with the hang-up: to be reported.
    // Either the central switched notifications off, or its link dropped (a
    // bonded central's socket hangs up then on bluetoothd 5.8x, which keeps its
    // subscription): bluetoothd is to be asked about the central, and its
    // answer decides whether a reconnection resubscribes it.
    bool hungUp(const std::string& device, const Uuid& characteristic);
    void connectionAnswered(const std::string& device, const Uuid& characteristic, bool connected, bool bonded);
    // The characteristics whose subscriptions this ends.
    std::vector<Uuid> disconnected(const std::string& device, bool bonded);
    // The characteristics a returning bonded central is subscribed to again.
    std::vector<Uuid> reconnected(const std::string& device);
    // The device is gone for good; the subscriptions this ends.
    std::vector<Uuid> forget(const std::string& device);
    std::vector<std::pair<std::string, Uuid>> forgetAll();
    // One subscription is over, whatever its phase.
    void forget(const std::string& device, const Uuid& characteristic) { erase(device, characteristic); }

    bool isSubscribed(const std::string& device, const Uuid& characteristic) const;
    // No central is subscribed, nor is a bonded one away with its subscription kept.
    bool empty() const { return devices_.empty(); }

private:
    enum class Phase {
        subscribed,
        // Reported as ended; waiting for bluetoothd to say whether it is
        // connected and bonded.
        hangingUp,
        // A bonded central left while subscribed; bluetoothd keeps its
        // subscription and will not ask again when it returns.
        away,
    };
    struct Entry {
        Uuid characteristic;
        Phase phase;
    };

    Entry* find(const std::string& device, const Uuid& characteristic);
    void erase(const std::string& device, const Uuid& characteristic);

    std::map<std::string, std::vector<Entry>> devices_;
};

}  // namespace orbilatch::bluetooth::bluez
