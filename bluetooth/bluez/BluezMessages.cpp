#include "bluetooth/bluez/BluezMessages.h"

#include <cstdlib>
#include <cstring>

namespace orbilatch::bluetooth::bluez {
namespace {

// Reads a variant of type b, s, o or as; any other variant is skipped.
int readVariant(sd_bus_message* message, std::optional<PropertyValue>& value) {
    char type = 0;
    const char* contents = nullptr;
    int r = sd_bus_message_peek_type(message, &type, &contents);
    if (r < 0) return r;
    if (type != SD_BUS_TYPE_VARIANT || !contents) return -EINVAL;

    const std::string signature = contents;
    if (signature != "b" && signature != "s" && signature != "o" && signature != "as")
        return sd_bus_message_skip(message, "v");

    r = sd_bus_message_enter_container(message, SD_BUS_TYPE_VARIANT, contents);
    if (r < 0) return r;
    if (signature == "b") {
        int flag = 0;
        r = sd_bus_message_read_basic(message, 'b', &flag);
        value = flag != 0;
    } else if (signature == "as") {
        std::vector<std::string> strings;
        r = readStrings(message, strings);
        value = std::move(strings);
    } else {
        const char* text = nullptr;
        r = sd_bus_message_read_basic(message, signature[0], &text);
        value = std::string(text ? text : "");
    }
    if (r < 0) return r;
    return sd_bus_message_exit_container(message);
}

// Calls readEntry(key) for each entry of a dictionary with string-like keys;
// readEntry reads the value.
template <typename ReadEntry>
int forEachEntry(sd_bus_message* message, const char* entrySignature, ReadEntry readEntry) {
    int r = sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, entrySignature);
    if (r < 0) return r;
    const char keyType = entrySignature[1];
    const std::string entryContents(entrySignature + 1, std::strlen(entrySignature) - 2);
    while ((r = sd_bus_message_enter_container(message, SD_BUS_TYPE_DICT_ENTRY, entryContents.c_str())) > 0) {
        const char* key = nullptr;
        r = sd_bus_message_read_basic(message, keyType, &key);
        if (r < 0) return r;
        r = readEntry(std::string(key));
        if (r < 0) return r;
        r = sd_bus_message_exit_container(message);
        if (r < 0) return r;
    }
    if (r < 0) return r;
    return sd_bus_message_exit_container(message);
}

}  // namespace

int readStrings(sd_bus_message* message, std::vector<std::string>& strings) {
    char** list = nullptr;
    const int r = sd_bus_message_read_strv(message, &list);
    if (r < 0) return r;
    for (char** item = list; item && *item; ++item) {
        strings.emplace_back(*item);
        free(*item);
    }
    free(list);
    return r;
}

int readProperties(sd_bus_message* message, Properties& properties) {
    return forEachEntry(message, "{sv}", [&](const std::string& name) {
        std::optional<PropertyValue> value;
        const int r = readVariant(message, value);
        if (r >= 0 && value) properties[name] = std::move(*value);
        return r;
    });
}

int readInterfaceProperties(sd_bus_message* message, InterfaceProperties& interfaces) {
    return forEachEntry(message, "{sa{sv}}",
                        [&](const std::string& interface) { return readProperties(message, interfaces[interface]); });
}

int readManagedObjects(sd_bus_message* message, std::map<std::string, InterfaceProperties>& objects) {
    return forEachEntry(message, "{oa{sa{sv}}}",
                        [&](const std::string& path) { return readInterfaceProperties(message, objects[path]); });
}

int readRequestOptions(sd_bus_message* message, GattRequestOptions& options) {
    return forEachEntry(message, "{sv}", [&](const std::string& name) {
        if (name == "device") {
            const char* path = nullptr;
            const int r = sd_bus_message_read(message, "v", "o", &path);
            if (r >= 0 && path) options.device = path;
            return r;
        }
        if (name == "mtu") {
            std::uint16_t mtu = 0;
            const int r = sd_bus_message_read(message, "v", "q", &mtu);
            if (r >= 0) options.mtu = mtu;
            return r;
        }
        return sd_bus_message_skip(message, "v");
    });
}

}  // namespace orbilatch::bluetooth::bluez
