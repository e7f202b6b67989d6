#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bluetooth/PeripheralManager.h"
#include "bluetooth/bluez/BluetoothdWatcher.h"
#include "bluetooth/bluez/CentralIdentity.h"
#include "bluetooth/bluez/GattApplication.h"
#include "bluetooth/bluez/LeAdvertisement.h"
#include "bluetooth/bluez/NotifySubscriptions.h"
#include "bluetooth/bluez/Registration.h"
#include "system/EventLoop.h"
#include "system/Diagnose.h"
#include "system/SdPointers.h"

namespace orbilatch::bluetooth::bluez {

// The peripheral role over bluetoothd's D-Bus API: our service is a GATT
// application, our advertisement an LEAdvertisement1, subscriptions arrive as
// AcquireNotify sockets and writes as WriteValue calls.
//
// A withdrawn application stays registered until the next one is added or
// the process ends (bluetoothd drops a client's registrations when its bus
// connection closes): an acknowledgement due in the moments before the exit
// still reaches the watch, and a watch that leaves then is still seen leaving.
class BluezPeripheral final : public PeripheralManager,
                              private BluetoothdWatcher::Listener,
                              private GattApplication::Handler,
                              private NotifySubscriptions::Listener,
                              private NotifySubscriptions::Bluetoothd {
public:
    // For a human: what failed and why.
    using Diagnose = orbilatch::system::Diagnose;

    // bluetoothd reads our objects before it answers a registration: an
    // answer may take a while, and none at all within the timeout is a refusal.
    BluezPeripheral(system::EventLoop& loop, PeripheralManagerDelegate& delegate, Diagnose diagnose,
                    std::chrono::microseconds registrationTimeout = std::chrono::seconds(25));
    BluezPeripheral(const BluezPeripheral&) = delete;
    BluezPeripheral& operator=(const BluezPeripheral&) = delete;
    ~BluezPeripheral() override;

    ManagerState state() const override { return stateChanges_.current(); }
    void removeAllServices() override;
    void addService(const MutableService& service) override;
    void startAdvertising(const AdvertisementData& data) override;
    void stopAdvertising() override;
    bool updateValue(std::span<const std::uint8_t> value, const MutableCharacteristic& characteristic,
                     std::span<const Central> centrals) override;
    void respondToRequest(const AttRequest& request, AttError result) override;

private:
    // An exported object and its registration, which decides when the object
    // may go.
    template <typename Exported>
    struct Published {
        std::unique_ptr<Registration> registration;
        std::unique_ptr<Exported> object;
        // Withdrawn, but serving until the next application is added.
        bool retired = false;
    };

    void bluezChanged() override;
    void bluetoothdLeft() override;
    void adapterReplaced() override;
    bool adapterInUse() const override;
    void deviceConnectionChanged(const std::string& device, const DeviceFacts& facts) override;
    void deviceRemoved(const std::string& device) override;

    void writeValue(const Uuid& characteristic, sd_bus_message* call) override;
    void acquireNotify(const Uuid& characteristic, sd_bus_message* call) override;

    void subscribed(const std::string& device, const Uuid& characteristic) override;
    void unsubscribed(const std::string& device, const Uuid& characteristic) override;
    void readyToSend() override;

    bool announceValue(const Uuid& characteristic, std::span<const std::uint8_t> value) override;
    int askWhetherConnected(const std::string& device, std::function<void(const DeviceFacts&)> answer,
                            system::SdBusSlotPtr& slot) override;

    using Report = std::function<void(const std::optional<PlatformError>& error)>;

    void connect();
    std::optional<ManagerState> derivedState() const;
    bool bluetoothdReady() const;
    template <typename Exported, typename Export>
    void publish(std::vector<Published<Exported>>& published, const Registration::Manager& manager,
                 std::string_view kind, const std::string& what, Export exportAt, Report report);
    std::unique_ptr<Registration> newRegistration(const Registration::Manager& manager, const std::string& path);
    std::string newObjectPath(std::string_view kind);
    void withdrawApplications(bool onlyRetired);
    void forgetSettled();
    Central centralFor(const std::string& devicePath);

    system::EventLoop& loop_;
    PeripheralManagerDelegate& delegate_;
    Diagnose diagnose_;
    std::chrono::microseconds registrationTimeout_;
    system::SdBusPtr bus_;
    std::unique_ptr<BluetoothdWatcher> watcher_;
    StateChangeFilter stateChanges_;
    // Answers to requests made before the latest state update or change of
    // adapter are no outcomes.
    std::uint64_t adapterChanges_ = 0;
    NotifySubscriptions subscriptions_;
    CentralIdentities identities_;

    std::vector<Published<GattApplication>> applications_;
    std::vector<Published<LeAdvertisement>> advertisements_;
    std::uint64_t nextObjectNumber_ = 0;

    std::map<std::uint64_t, system::SdBusMessagePtr> pendingWrites_;
    std::uint64_t nextReplyKey_ = 1;
};

// Managers that talk to bluetoothd over the system bus (DBUS_SYSTEM_BUS_ADDRESS
// when set), attached to the loop: every delegate callback runs there.
PeripheralManagerFactory bluezPeripheralManagers(system::EventLoop& loop, BluezPeripheral::Diagnose diagnose);

}  // namespace orbilatch::bluetooth::bluez
