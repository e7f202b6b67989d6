#include "bluetooth/bluez/LeAdvertisement.h"

#include "bluetooth/bluez/BusNames.h"

namespace orbilatch::bluetooth::bluez {

struct AdvertisementVtable {
    static const LeAdvertisement& advertisementOf(void* userdata) {
        return *static_cast<const LeAdvertisement*>(userdata);
    }

    // Without "peripheral" bluetoothd advertises as not connectable.
    static int type(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
        return sd_bus_message_append(reply, "s", "peripheral");
    }

    static int serviceUuids(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                            sd_bus_error*) {
        int r = sd_bus_message_open_container(reply, SD_BUS_TYPE_ARRAY, "s");
        for (const Uuid& uuid : advertisementOf(userdata).data_.serviceUuids)
            if (r >= 0) r = sd_bus_message_append(reply, "s", bluezUuidText(uuid).c_str());
        return r < 0 ? r : sd_bus_message_close_container(reply);
    }

    static int localName(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                         sd_bus_error*) {
        return sd_bus_message_append(reply, "s", advertisementOf(userdata).data_.localName.c_str());
    }

    static int discoverable(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*,
                            sd_bus_error*) {
        return sd_bus_message_append(reply, "b", 1);
    }

    static int release(sd_bus_message* call, void* userdata, sd_bus_error*) {
        const std::function<void()> onRelease = advertisementOf(userdata).onRelease_;
        const int r = sd_bus_reply_method_return(call, nullptr);
        onRelease();
        return r;
    }

    // Unprivileged for sd-bus: the bus filter admits bluetoothd alone.
    static constexpr sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_PROPERTY("Type", "s", type, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("ServiceUUIDs", "as", serviceUuids, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("LocalName", "s", localName, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("Discoverable", "b", discoverable, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_METHOD("Release", "", "", release, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END,
    };
};

int LeAdvertisement::exportAdvertisement(sd_bus* bus, std::string path, const AdvertisementData& data,
                                         std::function<void()> onRelease,
                                         std::unique_ptr<LeAdvertisement>& advertisement) {
    std::unique_ptr<LeAdvertisement> made(new LeAdvertisement(std::move(path), data, std::move(onRelease)));
    sd_bus_slot* slot = nullptr;
    const int r = sd_bus_add_object_vtable(bus, &slot, made->path_.c_str(), interfaceName::advertisement,
                                           AdvertisementVtable::vtable, made.get());
    if (r < 0) return r;
    made->slot_.reset(slot);
    advertisement = std::move(made);
    return 0;
}

LeAdvertisement::LeAdvertisement(std::string path, const AdvertisementData& data, std::function<void()> onRelease)
    : path_(std::move(path)), data_(data), onRelease_(std::move(onRelease)) {}

}  // namespace orbilatch::bluetooth::bluez
