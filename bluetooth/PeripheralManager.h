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

namespace AttributePermission {
inline constexpr std::uint8_t none = 0x00;
inline constexpr std::uint8_t writeable = 0x02;
}  // namespace AttributePermission

// A remote device in the central role. Two centrals are the same device when
// their identifiers are equal; `backendHandle` is the backend's own key for it.
struct Central {
    Uuid identifier;
    std::string backendHandle;
};

struct MutableCharacteristic {
    Uuid uuid;
    std::uint8_t properties = 0;
    std::uint8_t permissions = 0;
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
// `backendHandle` lets the backend find the pending answer again.
struct AttRequest {
    Uuid characteristicUuid;
    Central central;
    std::optional<std::vector<std::uint8_t>> value;
    std::uint64_t backendHandle = 0;
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

class PeripheralManager {
public:
    virtual ~PeripheralManager() = default;

    virtual ManagerState state() const = 0;
    virtual void removeAllServices() = 0;
    // The outcome arrives later in didAddService.
    virtual void addService(const MutableService& service) = 0;
    // The outcome arrives later in didStartAdvertising.
    virtual void startAdvertising(const AdvertisementData& data) = 0;
    // No callback; harmless when not advertising.
    virtual void stopAdvertising() = 0;
    // True when the notification was taken for sending; false when the transmit
    // queue is full, in which case isReadyToUpdateSubscribers follows.
    virtual bool updateValue(std::span<const std::uint8_t> value, const MutableCharacteristic& characteristic,
                             std::span<const Central> centrals) = 0;
    // Exactly one answer per request.
    virtual void respondToRequest(const AttRequest& request, AttError result) = 0;
};

// Makes the platform's manager with the given delegate. The manager reports its
// first state only once the main queue runs.
using PeripheralManagerFactory = std::function<std::unique_ptr<PeripheralManager>(PeripheralManagerDelegate&)>;

}  // namespace orbilatch::bluetooth
