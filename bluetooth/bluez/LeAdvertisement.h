#pragma once

#include <functional>
#include <memory>
#include <string>

#include "bluetooth/PeripheralManager.h"
#include "system/SdPointers.h"

namespace orbilatch::bluetooth::bluez {

// An org.bluez.LEAdvertisement1 object: connectable ("peripheral"),
// discoverable, with the service UUIDs and local name. Its properties never
// change once exported, so it never emits PropertiesChanged.
class LeAdvertisement {
public:
    // 0, or the negative errno with which sd-bus refused the object. onRelease
    // runs when bluetoothd drops the advertisement by itself.
    static int exportAdvertisement(sd_bus* bus, std::string path, const AdvertisementData& data,
                                   std::function<void()> onRelease, std::unique_ptr<LeAdvertisement>& advertisement);

private:
    LeAdvertisement(std::string path, const AdvertisementData& data, std::function<void()> onRelease);

    friend struct AdvertisementVtable;

    std::string path_;
    AdvertisementData data_;
    std::function<void()> onRelease_;
    system::SdBusSlotPtr slot_;
};

}  // namespace orbilatch::bluetooth::bluez
