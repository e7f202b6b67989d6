#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bluetooth/Uuid.h"

namespace orbilatch::bluetooth::bluez {

// The GattCharacteristic1 Flags for the characteristic properties we publish.
// Write is "write" alone: with "write-without-response" bluetoothd would
// acknowledge every write itself.
std::vector<std::string> characteristicFlags(std::uint8_t properties);

bool notifies(std::uint8_t properties);

// The lower-case text form BlueZ itself uses.
std::string bluezUuidText(const Uuid& uuid);

// BlueZ names a device object ".../dev_XX_XX_XX_XX_XX_XX" after its address.
std::optional<std::string> deviceAddressFromPath(std::string_view devicePath);

}  // namespace orbilatch::bluetooth::bluez
