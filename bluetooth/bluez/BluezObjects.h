#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "bluetooth/bluez/AdapterState.h"
#include "bluetooth/bluez/BusNames.h"

namespace orbilatch::bluetooth::bluez {

// The property types the backend reads; others are skipped when read.
using PropertyValue = std::variant<bool, std::string, std::vector<std::string>>;
using Properties = std::map<std::string, PropertyValue>;
using InterfaceProperties = std::map<std::string, Properties>;

struct DeviceFacts {
    std::string adapterPath;
    std::string address;
    std::string addressType;
    bool connected = false;
    bool bonded = false;
};

// A Device1's facts, from its properties.
DeviceFacts deviceFactsFrom(const Properties& device);

// bluetoothd's objects as its ObjectManager and PropertiesChanged report them.
class BluezObjects {
public:
    void clear() { objects_.clear(); }
    void addInterfaces(const std::string& path, const InterfaceProperties& interfaces);
    void removeInterfaces(const std::string& path, const std::vector<std::string>& interfaces);
    void changeProperties(const std::string& path, const std::string& interface, const Properties& changed,
                          const std::vector<std::string>& invalidated);

    bool has(const std::string& path, const std::string& interface) const;
    std::vector<std::string> adapterPaths() const;
    AdapterFacts adapterFacts(const std::string& path) const;
    std::string adapterAddress(const std::string& path) const;
    std::optional<DeviceFacts> device(const std::string& path) const;

private:
    struct Object {
        std::set<std::string> interfaces;
        std::map<std::string, Properties> properties;
    };

    const Properties* propertiesOf(const std::string& path, const std::string& interface) const;

    std::map<std::string, Object> objects_;
};

}  // namespace orbilatch::bluetooth::bluez
