#include "bluetooth/bluez/GattApplication.h"

#include <algorithm>
#include <cerrno>

#include "bluetooth/bluez/BusNames.h"

namespace orbilatch::bluetooth::bluez {

namespace {

bool notifies(std::uint8_t properties) { return (properties & CharacteristicProperty::notify) != 0; }

// The Flags for the properties we publish. Write is "write" alone: with
// "write-without-response" bluetoothd would acknowledge every write itself.
std::vector<std::string> characteristicFlags(std::uint8_t properties) {
    std::vector<std::string> flags;
    if (properties & CharacteristicProperty::write) flags.emplace_back("write");
    if (notifies(properties)) flags.emplace_back("notify");
    return flags;
}

int appendStrings(sd_bus_message* reply, const std::vector<std::string>& strings) {
    int r = sd_bus_message_open_container(reply, SD_BUS_TYPE_ARRAY, "s");
    for (const std::string& text : strings)
        if (r >= 0) r = sd_bus_message_append_basic(reply, SD_BUS_TYPE_STRING, text.c_str());
    return r < 0 ? r : sd_bus_message_close_container(reply);
}

}  // namespace

struct GattVtables {
    using Characteristic = GattApplication::Characteristic;

    static Characteristic& characteristicOf(void* userdata) { return *static_cast<Characteristic*>(userdata); }

    static int serviceUuid(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                           sd_bus_error*) {
        const auto& application = *static_cast<GattApplication*>(userdata);
        return sd_bus_message_append(reply, "s", bluezUuidText(application.service_.uuid).c_str());
    }

    static int servicePrimary(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                              sd_bus_error*) {
        const auto& application = *static_cast<GattApplication*>(userdata);
        return sd_bus_message_append(reply, "b", static_cast<int>(application.service_.primary));
    }

    static int characteristicUuid(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                                  void* userdata, sd_bus_error*) {
        return sd_bus_message_append(reply, "s", bluezUuidText(characteristicOf(userdata).uuid).c_str());
    }

    static int characteristicService(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                                     void* userdata, sd_bus_error*) {
        return sd_bus_message_append(reply, "o", characteristicOf(userdata).application->servicePath_.c_str());
    }

    static int characteristicFlagList(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                                      void* userdata, sd_bus_error*) {
        return appendStrings(reply, characteristicOf(userdata).flags);
    }

    // bluetoothd only looks at whether the property exists: then it hands
    // subscriptions over with AcquireNotify.
    static int notifyAcquired(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*,
                              sd_bus_error*) {
        return sd_bus_message_append(reply, "b", 0);
    }

    static int value(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                     sd_bus_error*) {
        const auto& bytes = characteristicOf(userdata).value;
        return sd_bus_message_append_array(reply, 'y', bytes.data(), bytes.size());
    }

    static int writeValue(sd_bus_message* call, void* userdata, sd_bus_error*) {
        Characteristic& characteristic = characteristicOf(userdata);
        characteristic.application->handler_.writeValue(characteristic.uuid, call);
        return 1;
    }

    static int acquireNotify(sd_bus_message* call, void* userdata, sd_bus_error*) {
        Characteristic& characteristic = characteristicOf(userdata);
        characteristic.application->handler_.acquireNotify(characteristic.uuid, call);
        return 1;
    }

    // Methods are unprivileged for sd-bus, which would otherwise demand our
    // uid or CAP_SYS_ADMIN of bluetoothd; the bus filter admits bluetoothd alone.
    static constexpr sd_bus_vtable service[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_PROPERTY("UUID", "s", serviceUuid, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("Primary", "b", servicePrimary, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_VTABLE_END,
    };

    static constexpr sd_bus_vtable characteristic[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_PROPERTY("UUID", "s", characteristicUuid, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("Service", "o", characteristicService, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("Flags", "as", characteristicFlagList, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_METHOD("WriteValue", "aya{sv}", "", writeValue, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END,
    };

    // Added beside `characteristic`, under the same interface, to one that notifies.
    static constexpr sd_bus_vtable notifications[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_PROPERTY("NotifyAcquired", "b", notifyAcquired, 0, 0),
        SD_BUS_PROPERTY("Value", "ay", value, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
        SD_BUS_METHOD("AcquireNotify", "a{sv}", "hq", acquireNotify, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END,
    };
};

int GattApplication::exportService(sd_bus* bus, std::string root, const MutableService& service, Handler& handler,
                                   std::unique_ptr<GattApplication>& application) {
    std::unique_ptr<GattApplication> made(new GattApplication(bus, std::move(root), service, handler));
    const int r = made->exportObjects();
    if (r >= 0) application = std::move(made);
    return r;
}

GattApplication::GattApplication(sd_bus* bus, std::string root, const MutableService& service, Handler& handler)
    : bus_(bus), root_(std::move(root)), servicePath_(root_ + "/service0"), service_(service), handler_(handler) {}

int GattApplication::exportObjects() {
    sd_bus_slot* slot = nullptr;
    int r = sd_bus_add_object_manager(bus_, &slot, root_.c_str());
    if (r < 0) return r;
    objectManager_.reset(slot);

    r = sd_bus_add_object_vtable(bus_, &slot, servicePath_.c_str(), interfaceName::gattService, GattVtables::service, this);
    if (r < 0) return r;
    serviceSlot_.reset(slot);

    for (const MutableCharacteristic& definition : service_.characteristics) {
        auto characteristic = std::make_unique<Characteristic>();
        characteristic->application = this;
        characteristic->path = servicePath_ + "/char" + std::to_string(characteristics_.size());
        characteristic->uuid = definition.uuid;
        characteristic->flags = characteristicFlags(definition.properties);
        std::vector<const sd_bus_vtable*> vtables{GattVtables::characteristic};
        if (notifies(definition.properties)) vtables.push_back(GattVtables::notifications);
        for (const sd_bus_vtable* vtable : vtables) {
            r = sd_bus_add_object_vtable(bus_, &slot, characteristic->path.c_str(), interfaceName::gattCharacteristic,
                                         vtable, characteristic.get());
            if (r < 0) return r;
            characteristic->slots.emplace_back(slot);
        }
        characteristics_.push_back(std::move(characteristic));
    }
    return 0;
}

GattApplication::Characteristic* GattApplication::find(const Uuid& uuid) const {
    const auto found = std::ranges::find_if(characteristics_, [&](const auto& entry) { return entry->uuid == uuid; });
    return found == characteristics_.end() ? nullptr : found->get();
}

bool GattApplication::hasCharacteristic(const Uuid& uuid) const { return find(uuid) != nullptr; }

int GattApplication::announceValue(const Uuid& uuid, std::span<const std::uint8_t> value) {
    Characteristic* characteristic = find(uuid);
    if (!characteristic) return -ENOENT;
    characteristic->value.assign(value.begin(), value.end());
    return sd_bus_emit_properties_changed(bus_, characteristic->path.c_str(), interfaceName::gattCharacteristic,
                                          "Value", nullptr);
}

}  // namespace orbilatch::bluetooth::bluez
