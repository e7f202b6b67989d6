#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bluetooth/PeripheralManager.h"
#include "bluetooth/bluez/AdapterState.h"
#include "bluetooth/bluez/BluetoothdWatcher.h"
#include "bluetooth/bluez/GattApplication.h"
#include "bluetooth/bluez/LeAdvertisement.h"
#include "bluetooth/bluez/NotifySocket.h"
#include "system/FileDescriptor.h"
#include "system/SdPointers.h"
#include "bluetooth/bluez/SubscriptionBook.h"

namespace orbilatch::bluetooth::bluez {

// The peripheral role over bluetoothd's D-Bus API: our service is a GATT
// application, our advertisement an LEAdvertisement1, subscriptions arrive as
// AcquireNotify sockets and writes as WriteValue calls.
class BluezPeripheral final : public PeripheralManager,
                              private BluetoothdWatcher::Listener,
                              private GattApplication::Handler,
                              private NotifySocket::Listener {
public:
    BluezPeripheral(sd_event* loop, PeripheralManagerDelegate& delegate);
    BluezPeripheral(const BluezPeripheral&) = delete;
    BluezPeripheral& operator=(const BluezPeripheral&) = delete;
    ~BluezPeripheral() override;

    ManagerState state() const override { return reporter_.current(); }
    void removeAllServices() override;
    void addService(const MutableService& service) override;
    void startAdvertising(const AdvertisementData& data) override;
    void stopAdvertising() override;
    bool updateValue(std::span<const std::uint8_t> value, const MutableCharacteristic& characteristic,
                     std::span<const Central> centrals) override;
    void respondToRequest(const AttRequest& request, AttError result) override;

private:
    // Something exported and registered with bluetoothd. A registration
    // withdrawn while its call is outstanding keeps only the call, to undo the
    // registration should it succeed; it reports no outcome.
    enum class Stage { pending, registered, released };
    template <typename Exported>
    struct Registration {
        std::string path;
        // The adapter it went to, which is where it must be withdrawn from.
        std::string adapter;
        std::unique_ptr<Exported> exported;
        SdBusSlotPtr call;
        Stage stage = Stage::pending;
    };
    using ServiceRegistration = Registration<GattApplication>;
    using AdvertisementRegistration = Registration<LeAdvertisement>;

    void bluezChanged() override;
    void bluetoothdLeft() override;
    void adapterReplaced() override;
    bool adapterInUse() const override;
    void deviceConnectionChanged(const std::string& device, bool connected) override;
    void deviceRemoved(const std::string& device) override;

    void writeValue(const Uuid& characteristic, sd_bus_message* call) override;
    void acquireNotify(const Uuid& characteristic, sd_bus_message* call) override;

    void notifySocketHungUp(const std::string& device, const Uuid& characteristic) override;
    void notifySocketWritable() override;
    void askWhetherStillConnected(const std::string& device, const Uuid& characteristic);
    void connectionAnswered(const std::string& device, const Uuid& characteristic, sd_bus_message* answer);

    bool bluetoothdReady() const;
    SdBusMessagePtr newManagerCall(const char* interface, const char* member);
    SdBusMessagePtr newRegistrationCall(const char* interface, const char* member, const std::string& objectPath);
    template <typename Exported>
    void unregister(const char* interface, const char* member, const Registration<Exported>& registration);
    void withdrawServices();
    void serviceRegistrationAnswered(ServiceRegistration* registration, sd_bus_message* reply);
    void advertisementRegistrationAnswered(AdvertisementRegistration* registration, sd_bus_message* reply);
    void advertisementReleased(const AdvertisementRegistration* registration);
    bool announce(std::span<const std::uint8_t> value, const Uuid& characteristic);

    Central centralFor(const std::string& devicePath);
    void reportUnsubscribed(const std::string& device, const std::vector<Uuid>& characteristics);
    void closeSocketsOf(const std::string& device);
    void runSoon(std::function<void()> task);
    static int runDeferred(sd_event_source* source, void* userdata);

    sd_event* loop_;
    PeripheralManagerDelegate& delegate_;
    SdBusPtr bus_;
    std::unique_ptr<BluetoothdWatcher> watcher_;
    StateReporter reporter_;

    std::vector<std::unique_ptr<ServiceRegistration>> services_;
    std::vector<std::unique_ptr<AdvertisementRegistration>> advertisements_;
    std::uint64_t nextObjectNumber_ = 0;

    SubscriptionBook subscriptions_;
    std::map<std::pair<std::string, std::string>, std::unique_ptr<NotifySocket>> sockets_;
    std::map<std::pair<std::string, std::string>, SdBusSlotPtr> connectionQuestions_;
    std::map<std::string, Uuid> identifiers_;
    std::map<std::uint64_t, SdBusMessagePtr> pendingWrites_;
    std::uint64_t nextRequestHandle_ = 1;

    struct DeferredTask;
    std::vector<SdEventSourcePtr> deferred_;
};

}  // namespace orbilatch::bluetooth::bluez
