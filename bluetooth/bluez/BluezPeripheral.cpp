#include "bluetooth/bluez/BluezPeripheral.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "bluetooth/bluez/AttErrorReplies.h"
#include "bluetooth/bluez/BluezMessages.h"
#include "bluetooth/bluez/BluezObjects.h"
#include "bluetooth/bluez/BusCallbacks.h"
#include "bluetooth/bluez/BusErrors.h"
#include "bluetooth/bluez/CentralIdentity.h"
#include "bluetooth/bluez/GattAttributes.h"

namespace orbilatch::bluetooth::bluez {
namespace {

constexpr const char* bluezName = "org.bluez";
constexpr const char* gattManager = "org.bluez.GattManager1";
constexpr const char* advertisingManager = "org.bluez.LEAdvertisingManager1";
constexpr const char* objectRoot = "/org/orbilatch/agent";
// The ATT minimum, for a bluetoothd that names no MTU.
constexpr std::uint16_t defaultMtu = 23;

std::pair<std::string, std::string> socketKey(const std::string& device, const Uuid& characteristic) {
    return {device, characteristic.toString()};
}

std::string parentPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

PlatformError platformError(const sd_bus_error& error) { return {error.message ? error.message : error.name}; }

void reply(sd_bus_message* call, const WriteReply& answer) {
    if (answer.success)
        sd_bus_reply_method_return(call, nullptr);
    else
        sd_bus_reply_method_errorf(call, answer.errorName.c_str(), "%s", answer.errorMessage.c_str());
}

template <typename Registrations, typename Registration>
auto findRegistration(Registrations& registrations, const Registration* wanted) {
    return std::ranges::find_if(registrations,
                                [wanted](const auto& registration) { return registration.get() == wanted; });
}

}  // namespace

struct BluezPeripheral::DeferredTask {
    BluezPeripheral* owner;
    std::function<void()> task;
};

BluezPeripheral::BluezPeripheral(sd_event* loop, PeripheralManagerDelegate& delegate)
    : loop_(loop), delegate_(delegate) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) >= 0) {
        bus_.reset(bus);
        if (sd_bus_attach_event(bus, loop, SD_EVENT_PRIORITY_NORMAL) >= 0) {
            watcher_ = std::make_unique<BluetoothdWatcher>(bus, static_cast<BluetoothdWatcher::Listener&>(*this));
            if (watcher_->link() != BluezLink::unreachable) return;
        }
    }
    runSoon([this] { bluezChanged(); });
}

BluezPeripheral::~BluezPeripheral() = default;

void BluezPeripheral::removeAllServices() {
    withdrawServices();
    // Subscriptions belong to the withdrawn service: they end with it, silently,
    // rather than as departures reported when bluetoothd hangs up their sockets.
    subscriptions_.forgetAll();
    sockets_.clear();
    connectionQuestions_.clear();
}

void BluezPeripheral::withdrawServices() {
    for (const auto& registration : services_) {
        if (registration->stage == Stage::registered) unregister(gattManager, "UnregisterApplication", *registration);
        registration->exported.reset();
    }
    std::erase_if(services_, [](const auto& registration) { return registration->stage != Stage::pending; });
}

void BluezPeripheral::addService(const MutableService& service) {
    // Without a powered adapter nothing is sent and nothing reported: the next
    // poweredOn has the service added again.
    if (!bluetoothdReady()) return;
    auto registration = std::make_unique<ServiceRegistration>();
    registration->path = std::string(objectRoot) + "/app" + std::to_string(nextObjectNumber_++);
    registration->adapter = *watcher_->adapter();
    registration->exported = GattApplication::exportService(bus_.get(), registration->path, service, *this);
    if (!registration->exported) {
        const PlatformError error{std::string("Could not export the service: ") + std::strerror(errno)};
        runSoon([this, service, error] { delegate_.didAddService(*this, service, error); });
        return;
    }
    SdBusMessagePtr call = newRegistrationCall(gattManager, "RegisterApplication", registration->path);
    if (!call) return;
    ServiceRegistration* pending = registration.get();
    // bluetoothd reads our objects with GetManagedObjects before it answers,
    // so the answer is awaited on the loop, never blocked on.
    registration->call = callAsync(bus_.get(), call.get(), [this, pending](sd_bus_message* answer) {
        serviceRegistrationAnswered(pending, answer);
    });
    if (registration->call) services_.push_back(std::move(registration));
}

void BluezPeripheral::serviceRegistrationAnswered(ServiceRegistration* registration, sd_bus_message* answer) {
    const auto found = findRegistration(services_, registration);
    if (found == services_.end()) return;
    const sd_bus_error* error = sd_bus_message_get_error(answer);
    if (!registration->exported) {
        if (!error) unregister(gattManager, "UnregisterApplication", *registration);
        services_.erase(found);
        return;
    }
    const MutableService service = registration->exported->service();
    if (!error) {
        registration->stage = Stage::registered;
        delegate_.didAddService(*this, service, std::nullopt);
        return;
    }
    services_.erase(found);
    if (meansBluetoothdIsGone(error->name)) return;
    delegate_.didAddService(*this, service, platformError(*error));
}

void BluezPeripheral::startAdvertising(const AdvertisementData& data) {
    if (!bluetoothdReady()) return;
    auto registration = std::make_unique<AdvertisementRegistration>();
    AdvertisementRegistration* pending = registration.get();
    registration->path = std::string(objectRoot) + "/advertisement" + std::to_string(nextObjectNumber_++);
    registration->adapter = *watcher_->adapter();
    registration->exported = LeAdvertisement::exportAdvertisement(bus_.get(), registration->path, data,
                                                                  [this, pending] { advertisementReleased(pending); });
    if (!registration->exported) {
        const PlatformError error{std::string("Could not export the advertisement: ") + std::strerror(errno)};
        runSoon([this, error] { delegate_.didStartAdvertising(*this, error); });
        return;
    }
    SdBusMessagePtr call = newRegistrationCall(advertisingManager, "RegisterAdvertisement", registration->path);
    if (!call) return;
    registration->call = callAsync(bus_.get(), call.get(), [this, pending](sd_bus_message* answer) {
        advertisementRegistrationAnswered(pending, answer);
    });
    if (registration->call) advertisements_.push_back(std::move(registration));
}

void BluezPeripheral::advertisementRegistrationAnswered(AdvertisementRegistration* registration,
                                                        sd_bus_message* answer) {
    const auto found = findRegistration(advertisements_, registration);
    if (found == advertisements_.end()) return;
    const sd_bus_error* error = sd_bus_message_get_error(answer);
    if (!registration->exported) {
        if (!error) unregister(advertisingManager, "UnregisterAdvertisement", *registration);
        advertisements_.erase(found);
        return;
    }
    if (!error) {
        registration->stage = Stage::registered;
        delegate_.didStartAdvertising(*this, std::nullopt);
        return;
    }
    advertisements_.erase(found);
    if (meansBluetoothdIsGone(error->name)) return;
    delegate_.didStartAdvertising(*this, platformError(*error));
}

// bluetoothd has dropped the advertisement by itself; the object stays
// exported (we are inside its call) until advertising stops or restarts.
void BluezPeripheral::advertisementReleased(const AdvertisementRegistration* registration) {
    const auto found = findRegistration(advertisements_, registration);
    if (found != advertisements_.end() && (*found)->stage == Stage::registered) (*found)->stage = Stage::released;
}

void BluezPeripheral::stopAdvertising() {
    for (const auto& registration : advertisements_) {
        if (registration->stage == Stage::registered)
            unregister(advertisingManager, "UnregisterAdvertisement", *registration);
        registration->exported.reset();
    }
    std::erase_if(advertisements_, [](const auto& registration) { return registration->stage != Stage::pending; });
}

bool BluezPeripheral::updateValue(std::span<const std::uint8_t> value, const MutableCharacteristic& characteristic,
                                  std::span<const Central> centrals) {
    bool allTaken = true;
    for (const Central& central : centrals) {
        const std::string& device = central.backendHandle;
        if (!subscriptions_.isSubscribed(device, characteristic.uuid)) {
            allTaken = false;
            continue;
        }
        const auto socket = sockets_.find(socketKey(device, characteristic.uuid));
        if (socket == sockets_.end()) {
            // A bonded central back without a socket (bluetoothd 5.8x closes it
            // at the disconnection and never asks again): a changed Value
            // reaches it, as every other subscriber of the characteristic.
            allTaken = announce(value, characteristic.uuid) && allTaken;
            continue;
        }
        // A failed send means bluetoothd has closed its end: the hang-up and
        // with it the unsubscription follow.
        if (socket->second->send(value) != NotifySocket::SendResult::taken) allTaken = false;
    }
    return allTaken;
}

bool BluezPeripheral::announce(std::span<const std::uint8_t> value, const Uuid& characteristic) {
    for (auto registration = services_.rbegin(); registration != services_.rend(); ++registration) {
        const auto& application = (*registration)->exported;
        if ((*registration)->stage != Stage::registered || !application) continue;
        if (application->hasCharacteristic(characteristic)) return application->announceValue(characteristic, value);
    }
    return false;
}

void BluezPeripheral::respondToRequest(const AttRequest& request, AttError result) {
    auto pending = pendingWrites_.extract(request.backendHandle);
    if (pending.empty()) return;
    reply(pending.mapped().get(), writeReplyFor(result));
}

void BluezPeripheral::bluezChanged() {
    const BluezLink link = watcher_ ? watcher_->link() : BluezLink::unreachable;
    const std::optional<AdapterFacts> adapter = watcher_ ? watcher_->adapterFacts() : std::nullopt;
    if (reporter_.report(deriveState(link, adapter))) delegate_.peripheralManagerDidUpdateState(*this);
}

void BluezPeripheral::bluetoothdLeft() {
    std::vector<std::pair<Central, Uuid>> ended;
    for (const auto& [device, characteristic] : subscriptions_.forgetAll())
        ended.emplace_back(centralFor(device), characteristic);
    services_.clear();
    advertisements_.clear();
    sockets_.clear();
    connectionQuestions_.clear();
    identifiers_.clear();
    for (const auto& [central, characteristic] : ended)
        delegate_.didUnsubscribeFromCharacteristic(*this, central, characteristic);
}

// What we registered went with the former adapter: the next state goes out
// even when it is poweredOn again, so that everything is registered anew.
void BluezPeripheral::adapterReplaced() {
    withdrawServices();
    stopAdvertising();
    reporter_.restart();
}

bool BluezPeripheral::adapterInUse() const { return !subscriptions_.empty(); }

void BluezPeripheral::deviceConnectionChanged(const std::string& device, bool connected) {
    if (connected) {
        const std::vector<Uuid> resumed = subscriptions_.reconnected(device);
        if (resumed.empty()) return;
        const Central central = centralFor(device);
        for (const Uuid& characteristic : resumed)
            delegate_.didSubscribeToCharacteristic(*this, central, characteristic);
        return;
    }
    const auto facts = watcher_->objects().device(device);
    reportUnsubscribed(device, subscriptions_.disconnected(device, facts && facts->bonded));
}

void BluezPeripheral::deviceRemoved(const std::string& device) {
    const Central central = centralFor(device);
    const std::vector<Uuid> ended = subscriptions_.forget(device);
    closeSocketsOf(device);
    identifiers_.erase(device);
    for (const Uuid& characteristic : ended) delegate_.didUnsubscribeFromCharacteristic(*this, central, characteristic);
}

void BluezPeripheral::writeValue(const Uuid& characteristic, sd_bus_message* call) {
    const void* data = nullptr;
    std::size_t size = 0;
    GattRequestOptions options;
    if (sd_bus_message_read_array(call, 'y', &data, &size) < 0 || readRequestOptions(call, options) < 0 ||
        options.device.empty()) {
        reply(call, writeReplyFor(AttError::unlikelyError));
        return;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const AttRequest request{
        .characteristicUuid = characteristic,
        .central = centralFor(options.device),
        .value = std::vector<std::uint8_t>(bytes, bytes + size),
        .backendHandle = nextRequestHandle_++,
    };
    pendingWrites_.emplace(request.backendHandle, SdBusMessagePtr(sd_bus_message_ref(call)));
    delegate_.didReceiveWriteRequests(*this, {request});
}

void BluezPeripheral::acquireNotify(const Uuid& characteristic, sd_bus_message* call) {
    // Failed, unlike other errors, keeps bluetoothd 5.66 from falling back to
    // StartNotify, which we do not offer.
    GattRequestOptions options;
    if (readRequestOptions(call, options) < 0 || options.device.empty()) {
        sd_bus_reply_method_errorf(call, "org.bluez.Error.Failed", "No device given");
        return;
    }
    FileDescriptor peerEnd;
    auto socket = NotifySocket::open(loop_, *this, options.device, characteristic, peerEnd);
    if (!socket) {
        sd_bus_reply_method_errorf(call, "org.bluez.Error.Failed", "%s", std::strerror(errno));
        return;
    }
    if (sd_bus_reply_method_return(call, "hq", peerEnd.get(), options.mtu.value_or(defaultMtu)) < 0) return;
    sockets_[socketKey(options.device, characteristic)] = std::move(socket);
    subscriptions_.subscribed(options.device, characteristic);
    delegate_.didSubscribeToCharacteristic(*this, centralFor(options.device), characteristic);
}

void BluezPeripheral::notifySocketHungUp(const std::string& device, const Uuid& characteristic) {
    sockets_.erase(socketKey(device, characteristic));
    const auto facts = watcher_ ? watcher_->objects().device(device) : std::nullopt;
    const bool bondedAndConnected = facts && facts->bonded && facts->connected;
    switch (subscriptions_.hungUp(device, characteristic, bondedAndConnected)) {
        case SubscriptionBook::HangUp::ignore:
            return;
        case SubscriptionBook::HangUp::report:
            delegate_.didUnsubscribeFromCharacteristic(*this, centralFor(device), characteristic);
            return;
        case SubscriptionBook::HangUp::askWhetherConnected:
            askWhetherStillConnected(device, characteristic);
            return;
    }
}

// bluetoothd has handled the disconnection, if there is one, by the time it
// answers: the hang-up came out of the same link loss.
void BluezPeripheral::askWhetherStillConnected(const std::string& device, const Uuid& characteristic) {
    SdBusMessagePtr call =
        newCallWithoutAutoStart(bus_.get(), bluezName, device.c_str(), "org.freedesktop.DBus.Properties", "Get");
    if (!call || sd_bus_message_append(call.get(), "ss", interfaceName::device, "Connected") < 0) return;
    connectionQuestions_[socketKey(device, characteristic)] =
        callAsync(bus_.get(), call.get(), [this, device, characteristic](sd_bus_message* answer) {
            connectionAnswered(device, characteristic, answer);
        });
}

void BluezPeripheral::connectionAnswered(const std::string& device, const Uuid& characteristic,
                                         sd_bus_message* answer) {
    int connected = 0;
    if (sd_bus_message_is_method_error(answer, nullptr) || sd_bus_message_read(answer, "v", "b", &connected) < 0)
        return;
    // A disconnected central is reported when its Connected=false arrives.
    if (connected && subscriptions_.stillConnected(device, characteristic))
        delegate_.didUnsubscribeFromCharacteristic(*this, centralFor(device), characteristic);
}

void BluezPeripheral::notifySocketWritable() { delegate_.isReadyToUpdateSubscribers(*this); }

bool BluezPeripheral::bluetoothdReady() const {
    return watcher_ && deriveState(watcher_->link(), watcher_->adapterFacts()) == ManagerState::poweredOn;
}

SdBusMessagePtr BluezPeripheral::newManagerCall(const char* interface, const char* member) {
    if (!watcher_ || !watcher_->adapter()) return nullptr;
    return newCallWithoutAutoStart(bus_.get(), bluezName, watcher_->adapter()->c_str(), interface, member);
}

SdBusMessagePtr BluezPeripheral::newRegistrationCall(const char* interface, const char* member,
                                                const std::string& objectPath) {
    SdBusMessagePtr call = newManagerCall(interface, member);
    if (!call || sd_bus_message_append(call.get(), "oa{sv}", objectPath.c_str(), 0) < 0) return nullptr;
    return call;
}

template <typename Exported>
void BluezPeripheral::unregister(const char* interface, const char* member,
                                 const Registration<Exported>& registration) {
    if (!watcher_) return;
    SdBusMessagePtr call = newCallWithoutAutoStart(bus_.get(), bluezName, registration.adapter.c_str(), interface, member);
    if (call && sd_bus_message_append(call.get(), "o", registration.path.c_str()) >= 0)
        sendWithoutReply(bus_.get(), call.get());
}

Central BluezPeripheral::centralFor(const std::string& devicePath) {
    if (const auto found = identifiers_.find(devicePath); found != identifiers_.end())
        return {found->second, devicePath};
    const std::optional<DeviceFacts> facts = watcher_ ? watcher_->objects().device(devicePath) : std::nullopt;
    const std::string address = facts && !facts->address.empty()
                                    ? facts->address
                                    : deviceAddressFromPath(devicePath).value_or(devicePath);
    const std::string adapterPath = facts && !facts->adapterPath.empty() ? facts->adapterPath : parentPath(devicePath);
    const std::string adapterAddress = watcher_ ? watcher_->objects().adapterAddress(adapterPath) : std::string{};
    const Uuid identifier = centralIdentifier({adapterAddress, facts ? facts->addressType : "", address});
    identifiers_.emplace(devicePath, identifier);
    return {identifier, devicePath};
}

void BluezPeripheral::reportUnsubscribed(const std::string& device, const std::vector<Uuid>& characteristics) {
    if (characteristics.empty()) return;
    const Central central = centralFor(device);
    for (const Uuid& characteristic : characteristics)
        delegate_.didUnsubscribeFromCharacteristic(*this, central, characteristic);
}

void BluezPeripheral::closeSocketsOf(const std::string& device) {
    std::erase_if(sockets_, [&](const auto& entry) { return entry.first.first == device; });
}

void BluezPeripheral::runSoon(std::function<void()> task) {
    auto deferred = std::make_unique<DeferredTask>(DeferredTask{this, std::move(task)});
    sd_event_source* source = nullptr;
    if (sd_event_add_defer(loop_, &source, runDeferred, deferred.get()) < 0) return;
    sd_event_source_set_destroy_callback(source, [](void* userdata) { delete static_cast<DeferredTask*>(userdata); });
    deferred.release();
    deferred_.emplace_back(source);
}

int BluezPeripheral::runDeferred(sd_event_source* source, void* userdata) {
    auto* deferred = static_cast<DeferredTask*>(userdata);
    BluezPeripheral& owner = *deferred->owner;
    const std::function<void()> task = std::move(deferred->task);
    std::erase_if(owner.deferred_, [source](const SdEventSourcePtr& entry) { return entry.get() == source; });
    task();
    return 0;
}

}  // namespace orbilatch::bluetooth::bluez
