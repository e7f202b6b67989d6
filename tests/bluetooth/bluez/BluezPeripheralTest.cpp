#include "bluetooth/bluez/BluezPeripheral.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <cstdlib>

#include "bluetooth/bluez/BluezMessages.h"
#include "fakes/FakeBluetoothd.h"

namespace orbilatch::bluetooth::bluez {
namespace {

using namespace std::string_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::FakeBluetoothd;
using Strings = std::vector<std::string>;

const Uuid serviceUuid = *Uuid::parse("5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0001");
const MutableCharacteristic command{*Uuid::parse("5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0002"), CharacteristicProperty::write};
const MutableCharacteristic acknowledgement{*Uuid::parse("5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0003"),
                                           CharacteristicProperty::notify};
const MutableService service{serviceUuid, true, {command, acknowledgement}};
const AdvertisementData advertised{{serviceUuid}, "OrbiLatch"};
const std::string servicePath = "/org/orbilatch/agent/app0/service0";
const std::string commandPath = servicePath + "/char0";
const std::string acknowledgementPath = servicePath + "/char1";
const std::string characteristicInterface = "org.bluez.GattCharacteristic1";
const std::string subscribed = "subscribed "s + FakeBluetoothd::watch;
const std::string unsubscribed = "un" + subscribed;
const std::vector<std::uint8_t> frame{'O', 'L', '2', '|', 'A', '|', '7', '|', 'E'};

// The backend on a dbus-daemon of the test's own (the system bus, as far as it
// knows) with a stand-in bluetoothd, heard through its delegate: "state N",
// "added", "advertising" (": reason" when refused), "subscribed D",
// "unsubscribed D", "write V from D", "ready".
class BluezPeripheralTest : public ::testing::Test, private PeripheralManagerDelegate {
protected:
    BluezPeripheralTest() { ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1); }
    ~BluezPeripheralTest() override { ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS"); }

    void start(std::chrono::microseconds registrationTimeout = std::chrono::seconds(25)) {
        PeripheralManagerDelegate& delegate = *this;
        peripheral = std::make_unique<BluezPeripheral>(
            loop, delegate, [this](std::string_view message) { heard.push_back("diagnostic " + std::string(message)); },
            registrationTimeout);
    }
    // What the delegate heard, once it has heard that much.
    Strings hear(std::size_t count) {
        testing::runUntil(loop.handle(), [&] { return heard.size() >= count; });
        return std::exchange(heard, {});
    }
    // Once the agent has handled what bluetoothd sent it.
    Strings settle() {
        bluez->settle();
        return std::exchange(heard, {});
    }
    void poweredOn() {
        start();
        EXPECT_THAT(hear(1), ElementsAre("state 5"));
    }
    void publish() {
        peripheral->addService(service);
        bluez->answer();
        peripheral->startAdvertising(advertised);
        bluez->answer();
        EXPECT_THAT(hear(2), ElementsAre("added", "advertising"));
        bluez->messages();
    }
    // bluetoothd hands the watch's subscription over: its end of the socket.
    system::FileDescriptor subscribe() {
        const system::SdBusMessagePtr reply = bluez->callAgent(acknowledgementPath, characteristicInterface.c_str(),
                                                       "AcquireNotify", [](sd_bus_message* m) {
                                                           sd_bus_message_append(m, "a{sv}", 2, "device", "o",
                                                                                 FakeBluetoothd::watch, "mtu", "q", 517);
                                                       });
        int fd = -1;
        std::uint16_t mtu = 0;
        EXPECT_GE(sd_bus_message_read(reply.get(), "hq", &fd, &mtu), 0) << testing::errorOf(reply);
        EXPECT_EQ(mtu, 517);
        EXPECT_THAT(hear(1), ElementsAre(subscribed));
        return system::FileDescriptor(::dup(fd));
    }
    bool notify() { return peripheral->updateValue(frame, acknowledgement, {&watch, 1}); }
    system::SdBusMessagePtr write(sd_bus* from) {
        return testing::callAndWait(from, loop.handle(), bluez->agent(), commandPath, characteristicInterface.c_str(),
                                    "WriteValue", [](sd_bus_message* m) {
                                        sd_bus_message_append_array(m, 'y', "OL2|C|1|N", 9);
                                        sd_bus_message_append(m, "a{sv}", 1, "device", "o", FakeBluetoothd::watch);
                                    });
    }

    system::EventLoop loop;
    testing::PrivateBus bus;
    std::optional<FakeBluetoothd> bluez{std::in_place, bus, loop.handle()};
    Strings heard;
    Central watch;
    AttError writeResult = AttError::success;
    std::unique_ptr<BluezPeripheral> peripheral;

private:
    void peripheralManagerDidUpdateState(PeripheralManager& manager) override {
        heard.push_back("state " + std::to_string(static_cast<int>(manager.state())));
    }
    void didAddService(PeripheralManager&, const MutableService&, const std::optional<PlatformError>& error) override {
        heard.push_back(error ? "added: " + error->description : "added");
    }
    void didStartAdvertising(PeripheralManager&, const std::optional<PlatformError>& error) override {
        heard.push_back(error ? "advertising: " + error->description : "advertising");
    }
    void didSubscribeToCharacteristic(PeripheralManager&, const Central& central, const Uuid& characteristic) override {
        EXPECT_EQ(characteristic, acknowledgement.uuid);
        watch = central;
        heard.push_back("subscribed " + central.deviceKey);
    }
    void didUnsubscribeFromCharacteristic(PeripheralManager&, const Central& central, const Uuid&) override {
        heard.push_back("unsubscribed " + central.deviceKey);
    }
    void didReceiveWriteRequests(PeripheralManager& manager, const std::vector<AttRequest>& requests) override {
        const AttRequest& request = requests.at(0);
        heard.push_back("write " + std::string(request.value->begin(), request.value->end()) + " from " +
                        request.central.deviceKey);
        manager.respondToRequest(request, writeResult);
    }
    void isReadyToUpdateSubscribers(PeripheralManager&) override { heard.push_back("ready"); }
};

// What bluetoothd reads of the service and the advertisement; whose calls
// the agent takes, and how it answers bluetoothd's writes.
TEST_F(BluezPeripheralTest, PublishesAsBluetoothdReadsItAndAnswersOnlyBluetoothdByTheTable) {
    poweredOn();
    peripheral->addService(service);
    EXPECT_THAT(bluez->messages(), ElementsAre("hci0 RegisterApplication app0"));
    std::map<std::string, InterfaceProperties> objects;
    readManagedObjects(
        bluez->callAgent("/org/orbilatch/agent/app0", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects").get(),
        objects);
    EXPECT_THAT(objects, ElementsAre(::testing::Key(servicePath), ::testing::Key(commandPath),
                                     ::testing::Key(acknowledgementPath)));
    EXPECT_EQ(objects[servicePath]["org.bluez.GattService1"],
              (Properties{{"UUID", "5e2a03f1-6c4d-4b8f-9f4e-2e7a7c9a0001"s}, {"Primary", true}}));
    EXPECT_EQ(objects[commandPath][characteristicInterface],
              (Properties{{"UUID", "5e2a03f1-6c4d-4b8f-9f4e-2e7a7c9a0002"s}, {"Service", servicePath},
                          {"Flags", Strings{"write"}}}));
    EXPECT_EQ(objects[acknowledgementPath][characteristicInterface],
              (Properties{{"UUID", "5e2a03f1-6c4d-4b8f-9f4e-2e7a7c9a0003"s}, {"Service", servicePath},
                          {"Flags", Strings{"notify"}}, {"NotifyAcquired", false}}));
    bluez->answer();
    peripheral->startAdvertising(advertised);
    EXPECT_THAT(bluez->messages(), ElementsAre("hci0 RegisterAdvertisement advertisement1"));
    Properties advertisement;
    readProperties(bluez->callAgent("/org/orbilatch/agent/advertisement1", "org.freedesktop.DBus.Properties", "GetAll",
                                    [](sd_bus_message* m) { sd_bus_message_append(m, "s", "org.bluez.LEAdvertisement1"); })
                       .get(),
                   advertisement);
    EXPECT_EQ(advertisement, (Properties{{"Type", "peripheral"s}, {"LocalName", "OrbiLatch"s}, {"Discoverable", true},
                                         {"ServiceUUIDs", Strings{"5e2a03f1-6c4d-4b8f-9f4e-2e7a7c9a0001"}}}));
    bluez->answer("org.bluez.Error.NotPermitted", "Maximum advertisements reached");
    EXPECT_THAT(hear(2), ElementsAre("added", "advertising: Maximum advertisements reached"));

    const system::SdBusPtr stranger = bus.connect(loop.handle());
    EXPECT_EQ(testing::errorOf(write(stranger.get())),
              "org.freedesktop.DBus.Error.AccessDenied: Only bluetoothd may call this agent");
    const std::pair<AttError, std::string> answers[] = {
        {AttError::success, ""},
        {AttError::requestNotSupported, "org.bluez.Error.NotSupported: Request not supported"},
        {AttError::invalidAttributeValueLength, "org.bluez.Error.InvalidValueLength: Invalid attribute value length"},
        {AttError::unlikelyError, "org.bluez.Error.Failed: 0x0e"},
        {AttError::insufficientResources, "org.bluez.Error.Failed: 0x11"},
    };
    for (const auto& [result, expected] : answers) {
        writeResult = result;
        EXPECT_EQ(testing::errorOf(write(bluez->bus())), expected);
        EXPECT_THAT(std::exchange(heard, {}), ElementsAre("write OL2|C|1|N from "s + FakeBluetoothd::watch));
    }
}

// A withdrawal goes out at once (see the notifying test), or once bluetoothd
// has answered (that answer is still the outcome); an advertisement bluetoothd
// released itself is not withdrawn again.
TEST_F(BluezPeripheralTest, WithdrawsWhatBluetoothdHasRegistered) {
    poweredOn();
    peripheral->startAdvertising(advertised);
    peripheral->stopAdvertising();
    EXPECT_THAT(bluez->messages(), ElementsAre("hci0 RegisterAdvertisement advertisement0"));
    bluez->answer();
    EXPECT_THAT(hear(1), ElementsAre("advertising"));
    EXPECT_THAT(bluez->messages(), ElementsAre("hci0 UnregisterAdvertisement advertisement0"));
    peripheral->startAdvertising(advertised);
    bluez->answer();
    EXPECT_THAT(hear(1), ElementsAre("advertising"));
    bluez->callAgent("/org/orbilatch/agent/advertisement1", "org.bluez.LEAdvertisement1", "Release");
    bluez->messages();
    peripheral->stopAdvertising();
    EXPECT_THAT(bluez->messages(), IsEmpty());
}

TEST_F(BluezPeripheralTest, ARequestBluetoothdNeverAnswersIsRefusedInTheBussWords) {
    start(std::chrono::milliseconds(1));
    EXPECT_THAT(hear(1), ElementsAre("state 5"));
    peripheral->addService(service);
    EXPECT_THAT(hear(1), ElementsAre("added: Method call timed out"));
}

// An answer that comes after the adapter left poweredOn is no outcome, nor is
// a request still waiting when our bus goes: the state update stands for it.
TEST_F(BluezPeripheralTest, AnAnswerAfterAStateUpdateIsNoOutcome) {
    poweredOn();
    peripheral->startAdvertising(advertised);
    bluez->setPowered(0);
    EXPECT_THAT(hear(1), ElementsAre("state 4"));
    bluez->setPowered(1);
    EXPECT_THAT(hear(1), ElementsAre("state 5"));
    bluez->answer("org.bluez.Error.Failed", "Failed to register advertisement");
    EXPECT_THAT(settle(), IsEmpty());
    peripheral->startAdvertising(advertised);
    bluez->messages();
    bus.stop();
    EXPECT_THAT(hear(1), ElementsAre("state 2"));
}

// Notifications go through the watch's socket until it hangs up: a full one
// says when it has room again; the hang-up is reported once, whether it is
// seen first or a notification finds the socket closed first. A withdrawn
// service serves on until another is added, so that what falls due before
// the exit still reaches the watch, and a watch leaving then is seen leaving.
TEST_F(BluezPeripheralTest, NotifiesTheWatchThroughItsSocketUntilItHangsUp) {
    poweredOn();
    publish();
    system::FileDescriptor socket = subscribe();
    peripheral->removeAllServices();
    peripheral->stopAdvertising();
    EXPECT_THAT(bluez->messages(), ElementsAre("hci0 UnregisterAdvertisement advertisement1"));
    EXPECT_EQ(watch.identifier.toString(), "CA04E71C-C796-59D2-9AC2-8981C34CE130");
    int sent = 0;
    while (notify()) ++sent;
    EXPECT_THAT(settle(), IsEmpty());
    std::uint8_t received[32];
    EXPECT_EQ(::recv(socket.get(), received, sizeof received, 0), static_cast<ssize_t>(frame.size()));
    for (int i = 1; i < sent; ++i) ::recv(socket.get(), received, sizeof received, 0);
    EXPECT_THAT(hear(1), ElementsAre("ready"));
    socket.reset();
    EXPECT_THAT(hear(1), ElementsAre(unsubscribed));
    EXPECT_FALSE(notify());
    EXPECT_THAT(hear(1), ElementsAre("ready"));

    const system::SdBusPtr outsider = bus.connect(loop.handle());
    subscribe().reset();
    // Without running the agent's loop, until the bus has let its copy of the socket go.
    sd_bus_call_method(outsider.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                       "GetId", nullptr, nullptr, nullptr);
    EXPECT_FALSE(notify());
    EXPECT_THAT(hear(2), ElementsAre(unsubscribed, "ready"));
    EXPECT_THAT(settle(), IsEmpty());
}

// bluetoothd may come after the agent, and leave with the watch subscribed;
// another local program can speak in its name or the bus's, to no effect.
TEST_F(BluezPeripheralTest, FollowsBluetoothdAndNobodyElseSpeakingForIt) {
    bluez.reset();
    start();
    EXPECT_THAT(hear(1), ElementsAre("state 0"));
    bluez.emplace(bus, loop.handle());
    EXPECT_THAT(hear(1), ElementsAre("state 5"));
    publish();
    const system::FileDescriptor socket = subscribe();
    const system::SdBusPtr stranger = bus.connect(loop.handle());
    const char* owner = nullptr;
    sd_bus_get_unique_name(bluez->bus(), &owner);
    const auto sendToTheAgent = [&](const char* path, const char* interface, const char* member, auto... values) {
        sd_bus_message* spoof = nullptr;
        sd_bus_message_new_signal(stranger.get(), &spoof, path, interface, member);
        sd_bus_message_set_destination(spoof, bluez->agent().c_str());
        sd_bus_message_append(spoof, values...);
        sd_bus_send(stranger.get(), system::SdBusMessagePtr(spoof).get(), nullptr);
    };
    sendToTheAgent(FakeBluetoothd::adapter, "org.freedesktop.DBus.Properties", "PropertiesChanged", "sa{sv}as",
                   "org.bluez.Adapter1", 1, "Powered", "b", 0, 0);
    sendToTheAgent("/org/freedesktop/DBus", "org.freedesktop.DBus", "NameOwnerChanged", "sss", "org.bluez", owner, "");
    testing::callAndWait(stranger.get(), loop.handle(), bluez->agent(), "/", "org.freedesktop.DBus.Peer", "Ping");
    EXPECT_THAT(std::exchange(heard, {}), IsEmpty());
    bluez.reset();
    EXPECT_THAT(hear(2), ElementsAre(unsubscribed, "state 1"));
    bluez.emplace(bus, loop.handle());
    EXPECT_THAT(hear(1), ElementsAre("state 5"));
}

TEST_F(BluezPeripheralTest, FollowsTheAdapterAndTheWatchInBluetoothdsSignals) {
    bluez->advertisingManager = false;
    bluez->bonded = 1;
    start();
    EXPECT_THAT(settle(), IsEmpty());
    bluez->signalInterfaces(true, FakeBluetoothd::adapter, "org.bluez.LEAdvertisingManager1");
    EXPECT_THAT(hear(1), ElementsAre("state 5"));
    publish();
    // The bonded watch switches notifications off: it is not back with its next link.
    subscribe().reset();
    EXPECT_THAT(hear(1), ElementsAre(unsubscribed));
    EXPECT_THAT(settle(), IsEmpty());
    bluez->setConnected(0);
    bluez->setConnected(1);
    EXPECT_THAT(settle(), IsEmpty());
    // Its link drops while it is subscribed: it is back with its link, without
    // a socket on newer bluetoothd.
    subscribe().reset();
    bluez->setConnected(0);
    EXPECT_THAT(hear(1), ElementsAre(unsubscribed));
    bluez->setConnected(1);
    EXPECT_THAT(hear(1), ElementsAre(subscribed));
    EXPECT_TRUE(notify());
    EXPECT_THAT(bluez->messages(), ElementsAre("PropertiesChanged char1"));
    bluez->signalInterfaces(false, FakeBluetoothd::watch, "org.bluez.Device1");
    EXPECT_THAT(hear(1), ElementsAre(unsubscribed));
    bluez->setPowered(0);
    EXPECT_THAT(hear(1), ElementsAre("state 4"));
}

// bluetoothd registers its adapters one by one, the highest first. The lowest
// serves, unless a watch is subscribed through another; whatever was
// registered with the adapter left behind is withdrawn from it, also what
// bluetoothd registers only after, and that answer is no outcome.
TEST_F(BluezPeripheralTest, MovesToALowerAdapterLeavingNothingRegisteredWithTheFormerOne) {
    const std::string hci = "/org/bluez/hci";
    bluez->adapters = {hci + "3"};
    poweredOn();
    publish();
    system::FileDescriptor socket = subscribe();
    bluez->addAdapter(hci + "2", true);
    EXPECT_THAT(settle(), IsEmpty());
    socket.reset();
    EXPECT_THAT(hear(1), ElementsAre(unsubscribed));
    bluez->setConnected(0);
    EXPECT_THAT(hear(1), ElementsAre("state 5"));
    EXPECT_THAT(bluez->messages(),
                ElementsAre("hci3 UnregisterApplication app0", "hci3 UnregisterAdvertisement advertisement1"));

    peripheral->addService(service);
    bluez->answer();
    peripheral->startAdvertising(advertised);
    EXPECT_THAT(hear(1), ElementsAre("added"));
    bluez->addAdapter(hci + "1", false);
    bluez->answer();
    EXPECT_THAT(settle(), IsEmpty());
    EXPECT_THAT(bluez->messages(),
                ElementsAre("hci2 RegisterApplication app2", "hci2 RegisterAdvertisement advertisement3",
                            "hci2 UnregisterApplication app2", "hci2 UnregisterAdvertisement advertisement3"));
    bluez->signalInterfaces(true, "/org/bluez/hci1", "org.bluez.LEAdvertisingManager1");
    EXPECT_THAT(hear(1), ElementsAre("state 5"));
}

}  // namespace
}  // namespace orbilatch::bluetooth::bluez
