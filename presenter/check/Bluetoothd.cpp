#include "presenter/check/Bluetoothd.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>

#include "system/SdPointers.h"

namespace orbilatch::presenter::check {
namespace {

constexpr const char* bluez = "org.bluez";
constexpr std::string_view adapterInterface = "org.bluez.Adapter1";
constexpr std::string_view gattInterface = "org.bluez.GattManager1";
constexpr std::string_view advertisingInterface = "org.bluez.LEAdvertisingManager1";
constexpr std::uint64_t answerWithin = 5'000'000;  // µs: a hung bluetoothd must not hang the check

struct BusError {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    ~BusError() { sd_bus_error_free(&error); }
    std::string text(int r) const { return error.message ? error.message : std::strerror(-r); }
};

// An adapter as its interfaces and properties describe it.
struct Described {
    Adapter adapter;
    bool isAdapter = false, peripheralRole = false, gatt = false, advertising = false;
};

// BlueZ's device ID "usb:v1D6Bp0246dXXXX" holds its version as 0xMMmm.
std::optional<Version> versionFromModalias(const char* modalias) {
    unsigned code = 0;
    char end = 0;
    if (std::sscanf(modalias, "usb:v1D6Bp0246d%4X%c", &code, &end) != 1) return std::nullopt;
    return Version{code >> 8, code & 0xFF};
}

int readRoles(sd_bus_message* message, Described& described) {
    char** roles = nullptr;
    int r = sd_bus_message_enter_container(message, SD_BUS_TYPE_VARIANT, "as");
    if (r >= 0) r = sd_bus_message_read_strv(message, &roles);
    for (char** role = roles; role && *role; ++role) {
        described.peripheralRole = described.peripheralRole || std::string_view(*role) == "peripheral";
        std::free(*role);
    }
    std::free(roles);
    return r < 0 ? r : sd_bus_message_exit_container(message);
}

// A dictionary with string keys, whose entries are `entry` (such as "sv"):
// readValue gets each key and reads or skips its value.
template <typename ReadValue>
int readDictionary(sd_bus_message* message, const std::string& entry, ReadValue readValue) {
    int r = sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, ("{" + entry + "}").c_str());
    while (r >= 0 && (r = sd_bus_message_enter_container(message, SD_BUS_TYPE_DICT_ENTRY, entry.c_str())) > 0) {
        const char* key = nullptr;
        r = sd_bus_message_read_basic(message, 's', &key);
        if (r < 0) return r;
        r = readValue(std::string_view(key));
        if (r >= 0) r = sd_bus_message_exit_container(message);
    }
    return r < 0 ? r : sd_bus_message_exit_container(message);
}

// a{sv} of Adapter1: Powered, Modalias and Roles; the rest is skipped.
int readAdapterProperties(sd_bus_message* message, Described& described) {
    return readDictionary(message, "sv", [&](std::string_view property) {
        if (property == "Powered") {
            int powered = 0;
            const int r = sd_bus_message_read(message, "v", "b", &powered);
            described.adapter.powered = powered != 0;
            return r;
        }
        if (property == "Modalias") {
            const char* modalias = "";
            const int r = sd_bus_message_read(message, "v", "s", &modalias);
            described.adapter.bluez = versionFromModalias(modalias);
            return r;
        }
        if (property == "Roles") return readRoles(message, described);
        return sd_bus_message_skip(message, "v");
    });
}

// a{sa{sv}}: one object's interfaces.
int readObject(sd_bus_message* message, Described& described) {
    return readDictionary(message, "sa{sv}", [&](std::string_view interface) {
        described.isAdapter = described.isAdapter || interface == adapterInterface;
        described.gatt = described.gatt || interface == gattInterface;
        described.advertising = described.advertising || interface == advertisingInterface;
        return interface == adapterInterface ? readAdapterProperties(message, described)
                                             : sd_bus_message_skip(message, "a{sv}");
    });
}

// Puts hci2 before hci10, as the agent does.
bool pathPrecedes(const std::string& left, const std::string& right) {
    return left.size() != right.size() ? left.size() < right.size() : left < right;
}

// a{oa{sa{sv}}}, the reply of GetManagedObjects: the adapter of the lowest path.
int readFirstAdapter(sd_bus_message* message, std::optional<Adapter>& first) {
    std::optional<std::string> firstPath;
    int r = sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, "{oa{sa{sv}}}");
    while (r >= 0 && (r = sd_bus_message_enter_container(message, SD_BUS_TYPE_DICT_ENTRY, "oa{sa{sv}}")) > 0) {
        const char* objectPath = nullptr;
        r = sd_bus_message_read_basic(message, 'o', &objectPath);
        if (r < 0) return r;
        Described described;
        r = readObject(message, described);
        if (r >= 0 && described.isAdapter && (!firstPath || pathPrecedes(objectPath, *firstPath))) {
            firstPath = objectPath;
            described.adapter.name = firstPath->substr(firstPath->rfind('/') + 1);
            described.adapter.canServeTheWatch = described.peripheralRole && described.gatt && described.advertising;
            first = described.adapter;
        }
        if (r >= 0) r = sd_bus_message_exit_container(message);
    }
    return r < 0 ? r : sd_bus_message_exit_container(message);
}

}  // namespace

BluetoothdFacts askBluetoothd() {
    BluetoothdFacts facts;
    sd_bus* opened = nullptr;
    int r = sd_bus_open_system(&opened);
    system::SdBusPtr bus(opened);
    if (r < 0) {
        facts.unreachable = std::strerror(-r);
        return facts;
    }

    BusError error;
    sd_bus_message* reply = nullptr;
    r = sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", &error.error, &reply, "s", bluez);
    system::SdBusMessagePtr owned(reply);
    int running = 0;
    if (r >= 0) r = sd_bus_message_read(reply, "b", &running);
    if (r < 0) {
        facts.unreachable = error.text(r);
        return facts;
    }
    facts.running = running != 0;
    if (!facts.running) return facts;

    sd_bus_message* call = nullptr;
    r = sd_bus_message_new_method_call(bus.get(), &call, bluez, "/", "org.freedesktop.DBus.ObjectManager",
                                       "GetManagedObjects");
    system::SdBusMessagePtr question(call);
    // bluetoothd may have gone meanwhile; asking must not start it.
    if (r >= 0) r = sd_bus_message_set_auto_start(call, 0);
    sd_bus_message* managed = nullptr;
    if (r >= 0) r = sd_bus_call(bus.get(), call, answerWithin, &error.error, &managed);
    system::SdBusMessagePtr objects(managed);
    if (r >= 0) r = readFirstAdapter(managed, facts.adapter);
    if (r < 0) facts.unreachable = error.text(r);
    return facts;
}

}  // namespace orbilatch::presenter::check
