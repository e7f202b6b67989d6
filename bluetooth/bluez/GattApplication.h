#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "bluetooth/PeripheralManager.h"
#include "system/SdPointers.h"

namespace orbilatch::bluetooth::bluez {

// One service exported as a BlueZ GATT application: an ObjectManager at the
// root, the GattService1 below it and a GattCharacteristic1 per characteristic.
// No 0x2902 descriptor: bluetoothd adds the CCC of a notifying characteristic.
class GattApplication {
public:
    class Handler {
    public:
        // Each must answer the call, now or later.
        virtual void writeValue(const Uuid& characteristic, sd_bus_message* call) = 0;
        virtual void acquireNotify(const Uuid& characteristic, sd_bus_message* call) = 0;

    protected:
        ~Handler() = default;
    };

    // 0, or the negative errno with which sd-bus refused an object.
    static int exportService(sd_bus* bus, std::string root, const MutableService& service, Handler& handler,
                             std::unique_ptr<GattApplication>& application);

    bool hasCharacteristic(const Uuid& uuid) const;

    // Sets the characteristic's Value and signals it: bluetoothd notifies
    // every device subscribed to it. 0 or a negative errno.
    int announceValue(const Uuid& characteristic, std::span<const std::uint8_t> value);

    struct Characteristic {
        GattApplication* application = nullptr;
        std::string path;
        Uuid uuid;
        std::vector<std::string> flags;
        std::vector<std::uint8_t> value;
        std::vector<system::SdBusSlotPtr> slots;
    };

private:
    GattApplication(sd_bus* bus, std::string root, const MutableService& service, Handler& handler);
    int exportObjects();
    Characteristic* find(const Uuid& uuid) const;

    friend struct GattVtables;

    sd_bus* bus_;
    std::string root_;
    std::string servicePath_;
    MutableService service_;
    Handler& handler_;
    system::SdBusSlotPtr objectManager_;
    system::SdBusSlotPtr serviceSlot_;
    std::vector<std::unique_ptr<Characteristic>> characteristics_;
};

}  // namespace orbilatch::bluetooth::bluez
