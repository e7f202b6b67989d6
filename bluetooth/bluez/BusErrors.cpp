#include "bluetooth/bluez/BusErrors.h"

namespace orbilatch::bluetooth::bluez {

bool meansBluetoothdIsGone(std::string_view errorName) {
    return errorName == "org.freedesktop.DBus.Error.ServiceUnknown" ||
           errorName == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
           errorName == "org.freedesktop.DBus.Error.NoReply" ||
           errorName == "org.freedesktop.DBus.Error.Disconnected" ||
           errorName.starts_with("org.freedesktop.DBus.Error.Spawn.");
}

bool isAccessDenied(std::string_view errorName) {
    return errorName == "org.freedesktop.DBus.Error.AccessDenied";
}

}  // namespace orbilatch::bluetooth::bluez
