#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bluetooth/Uuid.h"

// The peripheral role as the agent relies on it: publish one service, advertise
// it, learn of subscriptions and writes, answer writes and notify subscribers.
// Every delegate callback is delivered on the main queue.
namespace orbilatch::bluetooth {

enum class ManagerState : std::int64_t {
    unknown = 0,
    resetting = 1,
    unsupported = 2,
    unauthorized = 3,
    poweredOff = 4,
    poweredOn = 5,
};

// Attribute Protocol error codes, as raw values.
enum class AttError : std::uint8_t {
    success = 0x00,
    requestNotSupported = 0x06,
    invalidAttributeValueLength = 0x0D,
    unlikelyError = 0x0E,
    insufficientResources = 0x11,
};

namespace CharacteristicProperty {
inline constexpr std::uint8_t write = 0x08;
inline constexpr std::uint8_t notify = 0x10;
}  // namespace CharacteristicProperty

// A remote device in the central role. Two centrals are the same device when
// their identifiers are equal; `deviceKey` is the backend's own name for the
// device (on BlueZ its object path).
struct Central {
    Uuid identifier;
    std::string deviceKey;
};

struct MutableCharacteristic {
    Uuid uuid;
    std::uint8_t properties = 0;
};

struct MutableService {
    Uuid uuid;
    bool primary = true;
    std::vector<MutableCharacteristic> characteristics;
};

struct AdvertisementData {
    std::vector<Uuid> serviceUuids;
    std::string localName;
};

// One write from a central. `value` is absent when the platform delivered none;
// `replyKey` is the backend's own name for the answer it keeps waiting.
struct AttRequest {
    Uuid characteristicUuid;
    Central central;
    std::optional<std::vector<std::uint8_t>> value;
    std::uint64_t replyKey = 0;
};

struct PlatformError {
    std::string description;
};

class PeripheralManager;

class PeripheralManagerDelegate {
public:
    virtual ~PeripheralManagerDelegate() = default;

    virtual void peripheralManagerDidUpdateState(PeripheralManager& manager) = 0;
    virtual void didAddService(PeripheralManager& manager, const MutableService& service,
                               const std::optional<PlatformError>& error) = 0;
    virtual void didStartAdvertising(PeripheralManager& manager, const std::optional<PlatformError>& error) = 0;
    virtual void didSubscribeToCharacteristic(PeripheralManager& manager, const Central& central,
                                              const Uuid& characteristicUuid) = 0;
    virtual void didUnsubscribeFromCharacteristic(PeripheralManager& manager, const Central& central,
                                                  const Uuid& characteristicUuid) = 0;
    virtual void didReceiveWriteRequests(PeripheralManager& manager, const std::vector<AttRequest>& requests) = 0;
    virtual void isReadyToUpdateSubscribers(PeripheralManager& manager) = 0;
};

// Every request (addService, startAdvertising) gets exactly one outcome
// callback, also when it was withdrawn before the platform answered, with one
// exception: a request made while the state is not poweredOn, or one whose
// answer comes after a later state update (the state left poweredOn, or
// poweredOn was reported anew), gets none, success or failure. The state
// update stands for it, and the next poweredOn asks again.
class PeripheralManager {
public:
    virtual ~PeripheralManager() = default;

    virtual ManagerState state() const = 0;
    // Withdraws our services. A withdrawn service may go on serving the
    // centrals subscribed to it until a service is added again or the process
    // ends, so that notifications already due still reach them; subscriptions
    // that end with the withdrawal are not reported.
    virtual void removeAllServices() = 0;
    // The outcome arrives later in didAddService.
    virtual void addService(const MutableService& service) = 0;
    // The outcome arrives later in didStartAdvertising.
    virtual void startAdvertising(const AdvertisementData& data) = 0;
    // No callback; harmless when not advertising. An advertisement still
    // waiting for its outcome gets it, and is withdrawn then.
    virtual void stopAdvertising() = 0;
    // True when the notification was taken for sending. False when it was not,
    // and then isReadyToUpdateSubscribers follows: once the transmit queue has
    // room again, or at once after the central's unsubscription was reported
    // when the central can no longer be reached.
    virtual bool updateValue(std::span<const std::uint8_t> value, const MutableCharacteristic& characteristic,
                             std::span<const Central> centrals) = 0;
    // Exactly one answer per request.
    virtual void respondToRequest(const AttRequest& request, AttError result) = 0;
};

// Makes the platform's manager with the given delegate. The manager reports its
// first state only once the main queue runs.
using PeripheralManagerFactory = std::function<std::unique_ptr<PeripheralManager>(PeripheralManagerDelegate&)>;

}  // namespace orbilatch::bluetooth
