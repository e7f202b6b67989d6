#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <systemd/sd-bus.h>

#include "bluetooth/bluez/BluezObjects.h"

// Readers for the message bodies bluetoothd sends. Each returns a negative
// errno-style code when the body does not have the expected shape.
namespace orbilatch::bluetooth::bluez {

// a{sv}
int readProperties(sd_bus_message* message, Properties& properties);
// a{sa{sv}}
int readInterfaceProperties(sd_bus_message* message, InterfaceProperties& interfaces);
// a{oa{sa{sv}}}, the reply of GetManagedObjects
int readManagedObjects(sd_bus_message* message, std::map<std::string, InterfaceProperties>& objects);
// as
int readStrings(sd_bus_message* message, std::vector<std::string>& strings);

// The options bluetoothd passes to WriteValue and AcquireNotify.
struct GattRequestOptions {
    std::string device;
    std::optional<std::uint16_t> mtu;
};
int readRequestOptions(sd_bus_message* message, GattRequestOptions& options);

}  // namespace orbilatch::bluetooth::bluez
