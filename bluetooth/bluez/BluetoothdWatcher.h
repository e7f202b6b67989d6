#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "bluetooth/bluez/AdapterState.h"
#include "bluetooth/bluez/BluezObjects.h"
#include "system/Diagnose.h"
#include "system/SdPointers.h"

namespace orbilatch::bluetooth::bluez {

// Follows bluetoothd on the bus: who owns org.bluez, its objects, the adapter
// in use. Learns of bluetoothd's arrival from NameOwnerChanged, never by
// polling. Also guards our exported objects: only bluetoothd may call them.
class BluetoothdWatcher {
public:
    class Listener {
    public:
        // The link, the objects or the adapter changed.
        virtual void bluezChanged() = 0;
        // bluetoothd or the bus went away, with everything registered with it.
        virtual void bluetoothdLeft() = 0;
        // The adapter in use is about to be replaced by another or by none:
        // withdraw what was registered with it.
        virtual void adapterReplaced() = 0;
        // A central is subscribed through the adapter in use, so a lower
        // adapter appearing must not take its place.
        virtual bool adapterInUse() const = 0;
        virtual void deviceConnectionChanged(const std::string& device, const DeviceFacts& facts) = 0;
        virtual void deviceRemoved(const std::string& device) = 0;

    protected:
        ~Listener() = default;
    };

    using Diagnose = orbilatch::system::Diagnose;

    // Starts watching; the first news arrives from the loop.
    BluetoothdWatcher(sd_bus* bus, Listener& listener, Diagnose diagnose);

    BluezLink link() const { return link_; }
    const BluezObjects& objects() const { return objects_; }
    const std::optional<std::string>& adapter() const { return adapter_; }
    std::optional<AdapterFacts> adapterFacts() const;

private:
    int askForOwner();
    void bluetoothdAppeared(const std::string& owner);
    void ownerGone(BluezLink link);
    void loadObjects();
    void objectsLoaded(sd_bus_message* reply);
    void objectsUnknown(const std::string& why);
    bool fromBluetoothd(sd_bus_message* message) const;

    void onNameOwnerChanged(sd_bus_message* signal);
    void onInterfacesAdded(sd_bus_message* signal);
    void onInterfacesRemoved(sd_bus_message* signal);
    void onPropertiesChanged(sd_bus_message* signal);
    void chooseAdapterAndReport();
    static int admitOnlyBluetoothd(sd_bus_message* message, void* userdata, sd_bus_error* error);

    sd_bus* bus_;
    Listener& listener_;
    Diagnose diagnose_;
    BluezLink link_ = BluezLink::pending;
    std::optional<std::string> owner_;
    BluezObjects objects_;
    std::optional<std::string> adapter_;

    system::SdBusSlotPtr filter_;
    system::SdBusSlotPtr ownerMatch_;
    system::SdBusSlotPtr addedMatch_;
    system::SdBusSlotPtr removedMatch_;
    system::SdBusSlotPtr propertiesMatch_;
    system::SdBusSlotPtr disconnectedMatch_;
    system::SdBusSlotPtr ownerCall_;
    system::SdBusSlotPtr objectsCall_;
};

}  // namespace orbilatch::bluetooth::bluez
