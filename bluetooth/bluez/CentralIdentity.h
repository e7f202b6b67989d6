#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "bluetooth/Uuid.h"
#include "bluetooth/bluez/BluezObjects.h"

namespace orbilatch::bluetooth::bluez {

// What BlueZ tells us about a central, enough to tell it apart from every other.
struct CentralAddress {
    std::string_view adapterAddress;
    std::string_view addressType;
    std::string_view deviceAddress;
};

// The identifier of a central: the same for the same adapter, address type and
// address, so public and bonded centrals keep theirs across connections.
Uuid centralIdentifier(const CentralAddress& address);

// BlueZ names a device object ".../dev_XX_XX_XX_XX_XX_XX" after its address.
std::optional<std::string> deviceAddressFromPath(std::string_view devicePath);

// The identifier of each device path we have met, made once and kept for the
// life of the path: what bluetoothd says of the device, or, for a device it no
// longer lists, its path.
class CentralIdentities {
public:
    Uuid identifierOf(const std::string& devicePath, const BluezObjects& objects);
    void forget(const std::string& devicePath) { identifiers_.erase(devicePath); }
    void clear() { identifiers_.clear(); }

private:
    std::map<std::string, Uuid> identifiers_;
};

}  // namespace orbilatch::bluetooth::bluez
