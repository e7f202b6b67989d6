#include "bluetooth/bluez/BluezObjects.h"

#include <algorithm>

namespace orbilatch::bluetooth::bluez {
namespace {

template <typename T>
T valueOr(const Properties* properties, const std::string& name, T fallback) {
    if (!properties) return fallback;
    const auto found = properties->find(name);
    if (found == properties->end()) return fallback;
    const T* value = std::get_if<T>(&found->second);
    return value ? *value : fallback;
}

}  // namespace

void BluezObjects::addInterfaces(const std::string& path, const InterfaceProperties& interfaces) {
    Object& object = objects_[path];
    for (const auto& [interface, properties] : interfaces) {
        object.interfaces.insert(interface);
        object.properties[interface] = properties;
    }
}

void BluezObjects::removeInterfaces(const std::string& path, const std::vector<std::string>& interfaces) {
    const auto found = objects_.find(path);
    if (found == objects_.end()) return;
    for (const std::string& interface : interfaces) {
        found->second.interfaces.erase(interface);
        found->second.properties.erase(interface);
    }
    if (found->second.interfaces.empty()) objects_.erase(found);
}

void BluezObjects::changeProperties(const std::string& path, const std::string& interface, const Properties& changed,
                                    const std::vector<std::string>& invalidated) {
    if (!has(path, interface)) return;
    Properties& properties = objects_[path].properties[interface];
    for (const auto& [name, value] : changed) properties[name] = value;
    for (const std::string& name : invalidated) properties.erase(name);
}

bool BluezObjects::has(const std::string& path, const std::string& interface) const {
    const auto found = objects_.find(path);
    return found != objects_.end() && found->second.interfaces.contains(interface);
}

std::vector<std::string> BluezObjects::adapterPaths() const {
    std::vector<std::string> paths;
    for (const auto& [path, object] : objects_)
        if (object.interfaces.contains(interfaceName::adapter)) paths.push_back(path);
    return paths;
}

AdapterFacts BluezObjects::adapterFacts(const std::string& path) const {
    const Properties* adapter = propertiesOf(path, interfaceName::adapter);
    const auto roles = valueOr(adapter, "Roles", std::vector<std::string>{});
    return {
        .powered = valueOr(adapter, "Powered", false),
        .peripheralRole = std::ranges::find(roles, "peripheral") != roles.end(),
        .gattManager = has(path, interfaceName::gattManager),
        .advertisingManager = has(path, interfaceName::advertisingManager),
    };
}

std::string BluezObjects::adapterAddress(const std::string& path) const {
    return valueOr(propertiesOf(path, interfaceName::adapter), "Address", std::string{});
}

DeviceFacts deviceFactsFrom(const Properties& device) {
    return {
        .adapterPath = valueOr(&device, "Adapter", std::string{}),
        .address = valueOr(&device, "Address", std::string{}),
        .addressType = valueOr(&device, "AddressType", std::string{}),
        .connected = valueOr(&device, "Connected", false),
        .bonded = valueOr(&device, "Bonded", false),
    };
}

std::optional<DeviceFacts> BluezObjects::device(const std::string& path) const {
    const Properties* device = propertiesOf(path, interfaceName::device);
    if (!device) return std::nullopt;
    return deviceFactsFrom(*device);
}

const Properties* BluezObjects::propertiesOf(const std::string& path, const std::string& interface) const {
    const auto object = objects_.find(path);
    if (object == objects_.end()) return nullptr;
    const auto properties = object->second.properties.find(interface);
    return properties == object->second.properties.end() ? nullptr : &properties->second;
}

}  // namespace orbilatch::bluetooth::bluez
