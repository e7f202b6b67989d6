#pragma once

#include <cctype>
#include <string>

#include "bluetooth/Uuid.h"

// Every name on the bus the backend uses, in one place.
namespace orbilatch::bluetooth::bluez {

namespace busName {
inline constexpr const char* bluez = "org.bluez";
inline constexpr const char* driver = "org.freedesktop.DBus";
inline constexpr const char* driverPath = "/org/freedesktop/DBus";
// Below this path bluetoothd keeps its adapters and devices.
inline constexpr const char* bluezObjects = "/org/bluez";
// sd-bus's own signals about our connection come from this path.
inline constexpr const char* localPath = "/org/freedesktop/DBus/Local";
// Below this path we export our application and advertisements.
inline constexpr const char* ourObjects = "/org/orbilatch/agent";
}  // namespace busName

namespace interfaceName {
inline constexpr const char* driver = "org.freedesktop.DBus";
inline constexpr const char* objectManager = "org.freedesktop.DBus.ObjectManager";
inline constexpr const char* properties = "org.freedesktop.DBus.Properties";
inline constexpr const char* local = "org.freedesktop.DBus.Local";
inline constexpr const char* adapter = "org.bluez.Adapter1";
inline constexpr const char* device = "org.bluez.Device1";
inline constexpr const char* gattManager = "org.bluez.GattManager1";
inline constexpr const char* advertisingManager = "org.bluez.LEAdvertisingManager1";
inline constexpr const char* gattService = "org.bluez.GattService1";
inline constexpr const char* gattCharacteristic = "org.bluez.GattCharacteristic1";
inline constexpr const char* advertisement = "org.bluez.LEAdvertisement1";
}  // namespace interfaceName

namespace errorName {
inline constexpr const char* failed = "org.bluez.Error.Failed";
inline constexpr const char* notSupported = "org.bluez.Error.NotSupported";
inline constexpr const char* invalidValueLength = "org.bluez.Error.InvalidValueLength";
inline constexpr const char* accessDenied = "org.freedesktop.DBus.Error.AccessDenied";
}  // namespace errorName

// The lower-case text form in which BlueZ writes UUIDs.
inline std::string bluezUuidText(const Uuid& uuid) {
    std::string text = uuid.toString();
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace orbilatch::bluetooth::bluez
