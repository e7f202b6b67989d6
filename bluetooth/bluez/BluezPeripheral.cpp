#include "bluetooth/bluez/BluezPeripheral.h"

#include <algorithm>

#include "bluetooth/bluez/BluezErrors.h"
#include "bluetooth/bluez/BluezMessages.h"
#include "bluetooth/bluez/BusCalls.h"
#include "bluetooth/bluez/BusNames.h"

namespace orbilatch::bluetooth::bluez {
namespace {

// The ATT minimum, for a bluetoothd that names no MTU.
constexpr std::uint16_t defaultMtu = 23;

template <typename Published>
void withdrawAll(std::vector<Published>& published) {
    for (auto& entry : published) entry.registration->withdraw();
}

}  // namespace

BluezPeripheral::BluezPeripheral(system::EventLoop& loop, PeripheralManagerDelegate& delegate, Diagnose diagnose,
                                 std::chrono::microseconds registrationTimeout)
    : loop_(loop), delegate_(delegate), diagnose_(std::move(diagnose)), registrationTimeout_(registrationTimeout),
      subscriptions_(loop.handle(), loop, *this, *this, diagnose_) {
    // Nothing is said before the loop runs, not even why the bus is out of reach.
    loop_.post([this] { connect(); });
}

void BluezPeripheral::connect() {
    sd_bus* bus = nullptr;
    int r = sd_bus_open_system(&bus);
    if (r >= 0) {
        bus_.reset(bus);
        // bluetoothd's news comes before queued work, so that no controller
        // line or due task waits for a link that is already gone.
        r = sd_bus_attach_event(bus, loop_.handle(), SD_EVENT_PRIORITY_IMPORTANT);
    }
    if (r < 0) {
        bus_.reset();
        diagnose_(failure("cannot connect to the system bus", r));
        bluezChanged();
        return;
    }
    watcher_ = std::make_unique<BluetoothdWatcher>(bus_.get(), static_cast<BluetoothdWatcher::Listener&>(*this),
                                                   diagnose_);
    if (watcher_->link() == BluezLink::unreachable) bluezChanged();
}

BluezPeripheral::~BluezPeripheral() = default;

// Requests

void BluezPeripheral::removeAllServices() {
    for (auto& application : applications_) application.retired = true;
}

void BluezPeripheral::addService(const MutableService& service) {
    forgetSettled();
    // Without a powered adapter nothing is sent and nothing reported: the next
    // poweredOn has the service added again.
    if (!bluetoothdReady()) return;
    withdrawApplications(/*onlyRetired=*/true);
    publish(
        applications_, Registration::gattManager, "app", "service",
        [&](const std::string& path, Registration&, std::unique_ptr<GattApplication>& application) {
            return GattApplication::exportService(bus_.get(), path, service, *this, application);
        },
        [this, service](const std::optional<PlatformError>& error) { delegate_.didAddService(*this, service, error); });
}

void BluezPeripheral::startAdvertising(const AdvertisementData& data) {
    forgetSettled();
    if (!bluetoothdReady()) return;
    publish(
        advertisements_, Registration::advertisingManager, "advertisement", "advertisement",
        [&](const std::string& path, Registration& registration, std::unique_ptr<LeAdvertisement>& advertisement) {
            return LeAdvertisement::exportAdvertisement(
                bus_.get(), path, data, [&registration] { registration.released(); }, advertisement);
        },
        [this](const std::optional<PlatformError>& error) { delegate_.didStartAdvertising(*this, error); });
}

void BluezPeripheral::stopAdvertising() {
    withdrawAll(advertisements_);
    forgetSettled();
}

bool BluezPeripheral::updateValue(std::span<const std::uint8_t> value, const MutableCharacteristic& characteristic,
                                  std::span<const Central> centrals) {
    bool allTaken = true;
    for (const Central& central : centrals)
        allTaken = subscriptions_.send(central.deviceKey, characteristic.uuid, value) && allTaken;
    return allTaken;
}

void BluezPeripheral::respondToRequest(const AttRequest& request, AttError result) {
    auto pending = pendingWrites_.extract(request.replyKey);
    if (pending.empty()) return;
    const int r = answer(pending.mapped().get(), answerFor(result));
    if (r < 0 && !meansBusIsGone(bus_.get())) diagnose_(failure("cannot answer a write", r));
}

// bluetoothd and its adapter

void BluezPeripheral::bluezChanged() {
    if (!stateChanges_.pass(derivedState())) return;
    ++adapterChanges_;
    delegate_.peripheralManagerDidUpdateState(*this);
}

// Whatever was registered went with bluetoothd; the requests it never answered
// get no outcome.
void BluezPeripheral::bluetoothdLeft() {
    applications_.clear();
    advertisements_.clear();
    // Reported while the identifiers are still known: bluetoothd's objects,
    // which they were made from, are gone.
    subscriptions_.bluetoothdLeft();
    identities_.clear();
}

// What we registered with the former adapter is withdrawn from it, and its
// answers still to come are no outcomes: the next state goes out even when it
// is poweredOn again, so that everything is registered anew.
void BluezPeripheral::adapterReplaced() {
    withdrawApplications(/*onlyRetired=*/false);
    withdrawAll(advertisements_);
    forgetSettled();
    ++adapterChanges_;
    stateChanges_.letNextThrough();
}

bool BluezPeripheral::adapterInUse() const { return subscriptions_.any(); }

void BluezPeripheral::deviceConnectionChanged(const std::string& device, const DeviceFacts& facts) {
    subscriptions_.connectionChanged(device, facts);
}

void BluezPeripheral::deviceRemoved(const std::string& device) {
    subscriptions_.deviceRemoved(device);
    identities_.forget(device);
}

bool BluezPeripheral::bluetoothdReady() const { return derivedState() == ManagerState::poweredOn; }

std::optional<ManagerState> BluezPeripheral::derivedState() const {
    if (!watcher_) return deriveState(BluezLink::unreachable, std::nullopt);
    return deriveState(watcher_->link(), watcher_->adapterFacts());
}

// Calls from bluetoothd on our application

void BluezPeripheral::writeValue(const Uuid& characteristic, sd_bus_message* call) {
    const void* data = nullptr;
    std::size_t size = 0;
    GattRequestOptions options;
    if (sd_bus_message_read_array(call, 'y', &data, &size) < 0 || readRequestOptions(call, options) < 0 ||
        options.device.empty()) {
        answer(call, Answer::unlikelyError);
        return;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const AttRequest request{
        .characteristicUuid = characteristic,
        .central = centralFor(options.device),
        .value = std::vector<std::uint8_t>(bytes, bytes + size),
        .replyKey = nextReplyKey_++,
    };
    pendingWrites_.emplace(request.replyKey, system::SdBusMessagePtr(sd_bus_message_ref(call)));
    delegate_.didReceiveWriteRequests(*this, {request});
}

void BluezPeripheral::acquireNotify(const Uuid& characteristic, sd_bus_message* call) {
    GattRequestOptions options;
    if (readRequestOptions(call, options) < 0 || options.device.empty()) {
        answer(call, Answer::noDeviceGiven);
        return;
    }
    const int r = subscriptions_.acquire(options.device, characteristic, [&](int fd) {
        return sd_bus_reply_method_return(call, "hq", fd, options.mtu.value_or(defaultMtu));
    });
    if (r < 0) {
        diagnose_(failure("cannot open a notification socket for " + options.device, r));
        answer(call, Answer::noNotificationSocket, failure("socketpair", r));
    }
}

// Subscriptions

void BluezPeripheral::subscribed(const std::string& device, const Uuid& characteristic) {
    delegate_.didSubscribeToCharacteristic(*this, centralFor(device), characteristic);
}

void BluezPeripheral::unsubscribed(const std::string& device, const Uuid& characteristic) {
    delegate_.didUnsubscribeFromCharacteristic(*this, centralFor(device), characteristic);
}

void BluezPeripheral::readyToSend() { delegate_.isReadyToUpdateSubscribers(*this); }

int BluezPeripheral::askWhetherConnected(const std::string& device, std::function<void(const DeviceFacts&)> answer,
                                         system::SdBusSlotPtr& slot) {
    system::SdBusMessagePtr call;
    int r = newCall(bus_.get(), busName::bluez, device.c_str(), interfaceName::properties, "GetAll", call);
    if (r >= 0) r = sd_bus_message_append(call.get(), "s", interfaceName::device);
    if (r < 0) return r;
    return callAsync(
        bus_.get(), call.get(),
        [this, device, answer = std::move(answer)](sd_bus_message* reply) {
            Properties properties;
            if (const sd_bus_error* error = sd_bus_message_get_error(reply)) {
                if (!meansBusIsGone(reply))
                    diagnose_("bluetoothd did not say whether " + device + " is connected: " +
                              platformErrorFrom(*error).description);
                return;
            }
            if (const int read = readProperties(reply, properties); read < 0) {
                diagnose_(failure("cannot read whether " + device + " is connected", read));
                return;
            }
            answer(deviceFactsFrom(properties));
        },
        slot);
}

// The newest application that is registered serves; a withdrawn one still
// serves until a new one is registered.
bool BluezPeripheral::announceValue(const Uuid& characteristic, std::span<const std::uint8_t> value) {
    for (auto application = applications_.rbegin(); application != applications_.rend(); ++application) {
        if (!application->registration->registered() || !application->object->hasCharacteristic(characteristic))
            continue;
        const int r = application->object->announceValue(characteristic, value);
        if (r < 0) diagnose_(failure("cannot announce the new value", r));
        return r >= 0;
    }
    return false;
}

// Our registrations

// Exports the object, then asks bluetoothd to register it. Its outcome goes to
// report: bluetoothd's answer, or our own failure, from the loop, when the
// request could not go out.
template <typename Exported, typename Export>
void BluezPeripheral::publish(std::vector<Published<Exported>>& published, const Registration::Manager& manager,
                              std::string_view kind, const std::string& what, Export exportAt, Report report) {
    const std::string path = newObjectPath(kind);
    Published<Exported> entry{newRegistration(manager, path), nullptr};
    const auto reportSoon = [this, report](const PlatformError& error) {
        loop_.post([report, error] { report(error); });
    };
    int r = exportAt(path, *entry.registration, entry.object);
    if (r < 0) return reportSoon({failure("cannot export the " + what, r)});
    // An answer that comes after the adapter left poweredOn, or after we left
    // the adapter, is no outcome (an adapter powered off under a request
    // refuses it: "Failed to register advertisement"): the state update stands
    // for it, and the next poweredOn asks again.
    r = entry.registration->request([this, report, asked = adapterChanges_](const std::optional<PlatformError>& error) {
        if (adapterChanges_ == asked) report(error);
    });
    if (r < 0) {
        if (!meansBusIsGone(bus_.get())) reportSoon({failure("cannot register the " + what, r)});
        return;
    }
    published.push_back(std::move(entry));
}

std::unique_ptr<Registration> BluezPeripheral::newRegistration(const Registration::Manager& manager,
                                                               const std::string& path) {
    return std::make_unique<Registration>(bus_.get(), manager, *watcher_->adapter(), path, registrationTimeout_,
                                          diagnose_);
}

std::string BluezPeripheral::newObjectPath(std::string_view kind) {
    return std::string(busName::ourObjects) + "/" + std::string(kind) + std::to_string(nextObjectNumber_++);
}

// The subscriptions of a withdrawn application end with it, unreported: they
// are not departures of the watch.
void BluezPeripheral::withdrawApplications(bool onlyRetired) {
    bool withdrawn = false;
    for (auto& application : applications_) {
        if (onlyRetired && !application.retired) continue;
        application.registration->withdraw();
        withdrawn = true;
    }
    if (withdrawn) subscriptions_.dropAll();
    forgetSettled();
}

void BluezPeripheral::forgetSettled() {
    const auto settled = [](const auto& published) { return published.registration->settled(); };
    std::erase_if(applications_, settled);
    std::erase_if(advertisements_, settled);
}

Central BluezPeripheral::centralFor(const std::string& devicePath) {
    static const BluezObjects noObjects;
    return {identities_.identifierOf(devicePath, watcher_ ? watcher_->objects() : noObjects), devicePath};
}

PeripheralManagerFactory bluezPeripheralManagers(system::EventLoop& loop, BluezPeripheral::Diagnose diagnose) {
    return [&loop, diagnose = std::move(diagnose)](PeripheralManagerDelegate& delegate) {
        return std::make_unique<BluezPeripheral>(loop, delegate, diagnose);
    };
}

}  // namespace orbilatch::bluetooth::bluez
