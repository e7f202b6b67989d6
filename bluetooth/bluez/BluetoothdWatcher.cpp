#include "bluetooth/bluez/BluetoothdWatcher.h"

#include <algorithm>
#include <cstring>

#include "bluetooth/bluez/BluezMessages.h"
#include "bluetooth/bluez/BusCallbacks.h"
#include "bluetooth/bluez/BusErrors.h"

namespace orbilatch::bluetooth::bluez {
namespace {

constexpr const char* bluezName = "org.bluez";
constexpr const char* busDriver = "org.freedesktop.DBus";

const std::string ownerRule =
    "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
    "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='org.bluez'";
const std::string interfacesAddedRule =
    "type='signal',sender='org.bluez',interface='org.freedesktop.DBus.ObjectManager',member='InterfacesAdded'";
const std::string interfacesRemovedRule =
    "type='signal',sender='org.bluez',interface='org.freedesktop.DBus.ObjectManager',member='InterfacesRemoved'";
const std::string propertiesRule =
    "type='signal',sender='org.bluez',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',"
    "path_namespace='/org/bluez'";
// sd-bus raises this one itself when the connection ends; it never reaches the bus.
const std::string disconnectedRule =
    "type='signal',path='/org/freedesktop/DBus/Local',interface='org.freedesktop.DBus.Local',member='Disconnected'";

bool sentBy(sd_bus_message* message, const char* name) {
    const char* sender = sd_bus_message_get_sender(message);
    return sender && std::strcmp(sender, name) == 0;
}

}  // namespace

BluetoothdWatcher::BluetoothdWatcher(sd_bus* bus, Listener& listener) : bus_(bus), listener_(listener) {
    sd_bus_slot* filter = nullptr;
    if (sd_bus_add_filter(bus_, &filter, admitOnlyBluetoothd, this) < 0) {
        link_ = BluezLink::unreachable;
        return;
    }
    filter_.reset(filter);
    ownerMatch_ = addMatch(bus_, ownerRule, [this](sd_bus_message* m) { onNameOwnerChanged(m); });
    addedMatch_ = addMatch(bus_, interfacesAddedRule, [this](sd_bus_message* m) { onInterfacesAdded(m); });
    removedMatch_ = addMatch(bus_, interfacesRemovedRule, [this](sd_bus_message* m) { onInterfacesRemoved(m); });
    propertiesMatch_ = addMatch(bus_, propertiesRule, [this](sd_bus_message* m) { onPropertiesChanged(m); });
    disconnectedMatch_ =
        addMatch(bus_, disconnectedRule, [this](sd_bus_message*) { ownerGone(BluezLink::unreachable); });
    askForOwner();
}

std::optional<AdapterFacts> BluetoothdWatcher::adapterFacts() const {
    if (!adapter_) return std::nullopt;
    return objects_.adapterFacts(*adapter_);
}

// The matches went out first, so no owner change after this answer is missed.
void BluetoothdWatcher::askForOwner() {
    SdBusMessagePtr call = newCallWithoutAutoStart(bus_, busDriver, "/org/freedesktop/DBus", busDriver, "GetNameOwner");
    if (!call || sd_bus_message_append(call.get(), "s", bluezName) < 0) return;
    ownerCall_ = callAsync(bus_, call.get(), [this](sd_bus_message* reply) {
        if (const sd_bus_error* error = sd_bus_message_get_error(reply)) {
            if (sd_bus_error_has_name(error, SD_BUS_ERROR_DISCONNECTED)) return;
            if (owner_) return;
            link_ = isAccessDenied(error->name) ? BluezLink::accessDenied : BluezLink::noOwner;
            listener_.bluezChanged();
            return;
        }
        const char* owner = nullptr;
        if (sd_bus_message_read(reply, "s", &owner) >= 0 && owner) bluetoothdAppeared(owner);
    });
}

void BluetoothdWatcher::bluetoothdAppeared(const std::string& owner) {
    if (owner_ == owner) return;
    owner_ = owner;
    link_ = BluezLink::pending;
    objects_.clear();
    loadObjects();
}

void BluetoothdWatcher::ownerGone(BluezLink link) {
    owner_.reset();
    objectsCall_.reset();
    objects_.clear();
    adapter_.reset();
    link_ = link;
    listener_.bluetoothdLeft();
    listener_.bluezChanged();
}

void BluetoothdWatcher::loadObjects() {
    SdBusMessagePtr call =
        newCallWithoutAutoStart(bus_, bluezName, "/", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects");
    if (!call) return;
    objectsCall_ = callAsync(bus_, call.get(), [this](sd_bus_message* reply) { objectsLoaded(reply); });
}

void BluetoothdWatcher::objectsLoaded(sd_bus_message* reply) {
    if (const sd_bus_error* error = sd_bus_message_get_error(reply)) {
        if (meansBluetoothdIsGone(error->name)) return;
        // Any other failure leaves us without an adapter: unsupported.
        link_ = isAccessDenied(error->name) ? BluezLink::accessDenied : BluezLink::loaded;
        listener_.bluezChanged();
        return;
    }
    std::map<std::string, InterfaceProperties> objects;
    readManagedObjects(reply, objects);
    objects_.clear();
    for (const auto& [path, interfaces] : objects) objects_.addInterfaces(path, interfaces);
    link_ = BluezLink::loaded;
    chooseAdapterAndReport();
}

// Until the objects are loaded, signals are left out: the loaded objects
// already include everything signalled before them.
bool BluetoothdWatcher::fromBluetoothd(sd_bus_message* message) const {
    return owner_ && sentBy(message, owner_->c_str());
}

void BluetoothdWatcher::onNameOwnerChanged(sd_bus_message* signal) {
    // A unicast signal from anyone reaches us whatever our match rules say.
    if (!sentBy(signal, busDriver)) return;
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (sd_bus_message_read(signal, "sss", &name, &oldOwner, &newOwner) < 0 || std::strcmp(name, bluezName) != 0)
        return;
    if (*oldOwner) ownerGone(BluezLink::ownerLost);
    if (*newOwner) bluetoothdAppeared(newOwner);
}

void BluetoothdWatcher::onInterfacesAdded(sd_bus_message* signal) {
    if (!fromBluetoothd(signal) || link_ != BluezLink::loaded) return;
    const char* path = nullptr;
    InterfaceProperties interfaces;
    if (sd_bus_message_read(signal, "o", &path) < 0 || readInterfaceProperties(signal, interfaces) < 0) return;
    objects_.addInterfaces(path, interfaces);
    chooseAdapterAndReport();
}

void BluetoothdWatcher::onInterfacesRemoved(sd_bus_message* signal) {
    if (!fromBluetoothd(signal) || link_ != BluezLink::loaded) return;
    const char* path = nullptr;
    std::vector<std::string> interfaces;
    if (sd_bus_message_read(signal, "o", &path) < 0 || readStrings(signal, interfaces) < 0) return;
    const std::string objectPath = path;
    objects_.removeInterfaces(objectPath, interfaces);
    if (std::ranges::find(interfaces, interfaceName::device) != interfaces.end()) listener_.deviceRemoved(objectPath);
    chooseAdapterAndReport();
}

void BluetoothdWatcher::onPropertiesChanged(sd_bus_message* signal) {
    if (!fromBluetoothd(signal) || link_ != BluezLink::loaded) return;
    const std::string path = sd_bus_message_get_path(signal);
    const char* interface = nullptr;
    Properties changed;
    std::vector<std::string> invalidated;
    if (sd_bus_message_read(signal, "s", &interface) < 0 || readProperties(signal, changed) < 0 ||
        readStrings(signal, invalidated) < 0)
        return;

    const auto before = objects_.device(path);
    objects_.changeProperties(path, interface, changed, invalidated);
    const auto after = objects_.device(path);
    if (before && after && before->connected != after->connected)
        listener_.deviceConnectionChanged(path, after->connected);
    chooseAdapterAndReport();
}

void BluetoothdWatcher::chooseAdapterAndReport() {
    const std::optional<std::string> chosen =
        chooseAdapter(objects_.adapterPaths(), adapter_, adapter_ && listener_.adapterInUse());
    if (adapter_ && chosen != adapter_) listener_.adapterReplaced();
    adapter_ = chosen;
    listener_.bluezChanged();
}

int BluetoothdWatcher::admitOnlyBluetoothd(sd_bus_message* message, void* userdata, sd_bus_error*) {
    const auto& watcher = *static_cast<BluetoothdWatcher*>(userdata);
    if (sd_bus_message_is_method_call(message, nullptr, nullptr) <= 0 || watcher.fromBluetoothd(message)) return 0;
    sd_bus_reply_method_errorf(message, SD_BUS_ERROR_ACCESS_DENIED, "Only bluetoothd may call this agent");
    return 1;
}

}  // namespace orbilatch::bluetooth::bluez
