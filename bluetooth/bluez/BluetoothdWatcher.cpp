#include "bluetooth/bluez/BluetoothdWatcher.h"

#include <algorithm>
#include <cstring>

#include "bluetooth/bluez/BluezErrors.h"
#include "bluetooth/bluez/BluezMessages.h"
#include "bluetooth/bluez/BusCalls.h"
#include "bluetooth/bluez/BusNames.h"

namespace orbilatch::bluetooth::bluez {
namespace {

std::string signalRule(const std::string& interface, const std::string& member, const std::string& more) {
    return "type='signal',interface='" + interface + "',member='" + member + "'," + more;
}

const std::string bluetoothdSends = std::string("sender='") + busName::bluez + "'";
const std::string ownerRule = signalRule(interfaceName::driver, "NameOwnerChanged",
                                         std::string("sender='") + busName::driver + "',path='" + busName::driverPath +
                                             "',arg0='" + busName::bluez + "'");
const std::string interfacesAddedRule = signalRule(interfaceName::objectManager, "InterfacesAdded", bluetoothdSends);
const std::string interfacesRemovedRule = signalRule(interfaceName::objectManager, "InterfacesRemoved", bluetoothdSends);
const std::string propertiesRule = signalRule(interfaceName::properties, "PropertiesChanged",
                                              bluetoothdSends + ",path_namespace='" + busName::bluezObjects + "'");
// sd-bus raises this one itself when the connection ends; it never reaches the bus.
const std::string disconnectedRule =
    signalRule(interfaceName::local, "Disconnected", std::string("path='") + busName::localPath + "'");

bool sentBy(sd_bus_message* message, const char* name) {
    const char* sender = sd_bus_message_get_sender(message);
    return sender && std::strcmp(sender, name) == 0;
}

}  // namespace

BluetoothdWatcher::BluetoothdWatcher(sd_bus* bus, Listener& listener, Diagnose diagnose)
    : bus_(bus), listener_(listener), diagnose_(std::move(diagnose)) {
    sd_bus_slot* filter = nullptr;
    int r = sd_bus_add_filter(bus_, &filter, admitOnlyBluetoothd, this);
    if (r >= 0) filter_.reset(filter);
    if (r >= 0) r = addMatch(bus_, ownerRule, [this](sd_bus_message* m) { onNameOwnerChanged(m); }, ownerMatch_);
    if (r >= 0) r = addMatch(bus_, interfacesAddedRule, [this](sd_bus_message* m) { onInterfacesAdded(m); }, addedMatch_);
    if (r >= 0)
        r = addMatch(bus_, interfacesRemovedRule, [this](sd_bus_message* m) { onInterfacesRemoved(m); }, removedMatch_);
    if (r >= 0)
        r = addMatch(bus_, propertiesRule, [this](sd_bus_message* m) { onPropertiesChanged(m); }, propertiesMatch_);
    if (r >= 0)
        r = addMatch(bus_, disconnectedRule, [this](sd_bus_message*) { ownerGone(BluezLink::unreachable); },
                     disconnectedMatch_);
    if (r >= 0) r = askForOwner();
    if (r < 0) {
        diagnose_(failure("cannot follow bluetoothd on the system bus", r));
        link_ = BluezLink::unreachable;
    }
}

std::optional<AdapterFacts> BluetoothdWatcher::adapterFacts() const {
    if (!adapter_) return std::nullopt;
    return objects_.adapterFacts(*adapter_);
}

// The matches went out first, so no owner change after this answer is missed.
int BluetoothdWatcher::askForOwner() {
    system::SdBusMessagePtr call;
    int r = newCall(bus_, busName::driver, busName::driverPath, interfaceName::driver, "GetNameOwner", call);
    if (r >= 0) r = sd_bus_message_append(call.get(), "s", busName::bluez);
    if (r < 0) return r;
    return callAsync(
        bus_, call.get(),
        [this](sd_bus_message* reply) {
            if (const sd_bus_error* error = sd_bus_message_get_error(reply)) {
                if (meansBusIsGone(bus_) || owner_) return;
                link_ = isAccessDenied(error->name) ? BluezLink::accessDenied : BluezLink::noOwner;
                listener_.bluezChanged();
                return;
            }
            const char* owner = nullptr;
            if (sd_bus_message_read(reply, "s", &owner) >= 0 && owner) bluetoothdAppeared(owner);
        },
        ownerCall_);
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
    system::SdBusMessagePtr call;
    int r = newCall(bus_, busName::bluez, "/", interfaceName::objectManager, "GetManagedObjects", call);
    if (r >= 0) r = callAsync(bus_, call.get(), [this](sd_bus_message* reply) { objectsLoaded(reply); }, objectsCall_);
    if (r < 0 && !meansBusIsGone(bus_)) objectsUnknown(failure("cannot ask bluetoothd for its objects", r));
}

void BluetoothdWatcher::objectsLoaded(sd_bus_message* reply) {
    if (meansBusIsGone(reply)) return;
    if (const sd_bus_error* error = sd_bus_message_get_error(reply)) {
        if (isAccessDenied(error->name)) {
            link_ = BluezLink::accessDenied;
            listener_.bluezChanged();
            return;
        }
        objectsUnknown("bluetoothd did not list its objects: " + platformErrorFrom(*error).description);
        return;
    }
    std::map<std::string, InterfaceProperties> objects;
    if (const int r = readManagedObjects(reply, objects); r < 0) {
        objectsUnknown(failure("cannot read bluetoothd's objects", r));
        return;
    }
    objects_.clear();
    for (const auto& [path, interfaces] : objects) objects_.addInterfaces(path, interfaces);
    link_ = BluezLink::loaded;
    chooseAdapterAndReport();
}

// Without its objects we know of no adapter: unsupported, until bluetoothd
// comes again.
void BluetoothdWatcher::objectsUnknown(const std::string& why) {
    diagnose_(why);
    link_ = BluezLink::loaded;
    listener_.bluezChanged();
}

// Until the objects are loaded, signals are left out: the loaded objects
// already include everything signalled before them.
bool BluetoothdWatcher::fromBluetoothd(sd_bus_message* message) const {
    return owner_ && sentBy(message, owner_->c_str());
}

void BluetoothdWatcher::onNameOwnerChanged(sd_bus_message* signal) {
    // A unicast signal from anyone reaches us whatever our match rules say.
    if (!sentBy(signal, busName::driver)) return;
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (sd_bus_message_read(signal, "sss", &name, &oldOwner, &newOwner) < 0 || std::strcmp(name, busName::bluez) != 0)
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
        listener_.deviceConnectionChanged(path, *after);
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
    answer(message, Answer::notFromBluetoothd);
    return 1;
}

}  // namespace orbilatch::bluetooth::bluez
