#include "bluetooth/bluez/BluezPeripheral.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <cstdlib>

#include "bluetooth/bluez/BluezMessages.h"
#include "fakes/FakeBluetoothd.h"

namespace orbilatch::bluetooth::bluez {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::FakeBluetoothd;
using Strings = std::vector<std::string>;

const Uuid serviceUuid = *Uuid::parse("5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0001");
const MutableCharacteristic command{*Uuid::parse("5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0002"), CharacteristicProperty::write};
const MutableCharacteristic acknowledgement{*Uuid::parse("5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0003"),
                                           CharacteristicProperty::notify};
const MutableService service{serviceUuid, true, {command, acknowledgement}};
const std::string application = "/org/orbilatch/agent/app0";
const std::string commandPath = application + "/service0/char0";
const std::string acknowledgementPath = application + "/service0/char1";
const std::string advertisement = "/org/orbilatch/agent/advertisement1";
const std::vector<std::uint8_t> frame{'O', 'L', '2', '|', 'A', '|', '7', '|', 'E'};

// The agent's backend on a dbus-daemon of the test's own (its system bus, as
// far as the backend knows), with a stand-in bluetoothd, heard through its
// delegate: "state N", "added", "advertising" (with ": error" when refused),
// "subscribed D", "unsubscribed D", "write V from D", "ready".
class BluezPeripheralTest : public ::testing::Test, private PeripheralManagerDelegate {
protected:
    BluezPeripheralTest() { ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1); }
    ~BluezPeripheralTest() override { ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS"); }

    void start() {
        PeripheralManagerDelegate& delegate = *this;
        peripheral = std::make_unique<BluezPeripheral>(
            loop, delegate, [this](std::string_view message) { heard.push_back("diagnostic " + std::string(message)); });
    }
    // What the delegate heard, once it has heard that much.
    Strings hear(std::size_t count) {
        testing::runUntil(loop.handle(), [&] { return heard.size() >= count; });
        return std::exchange(heard, {});
    }
    // Nothing more is heard once bluetoothd's messages so far have been handled.
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
        peripheral->startAdvertising({{serviceUuid}, "OrbiLatch"});
        bluez->answer();
        EXPECT_THAT(hear(2), ElementsAre("added", "advertising"));
        bluez->newMessages();
    }
    // bluetoothd hands the watch's subscription over; its end of the socket.
    FileDescriptor subscribe() {
        SdBusMessagePtr reply = bluez->callAgent(acknowledgementPath, "org.bluez.GattCharacteristic1", "AcquireNotify",
                                                 [](sd_bus_message* m) {
                                                     sd_bus_message_append(m, "a{sv}", 2, "device", "o",
                                                                           FakeBluetoothd::watch, "mtu", "q", 517);
                                                 });
        int fd = -1;
        std::uint16_t mtu = 0;
        EXPECT_GE(sd_bus_message_read(reply.get(), "hq", &fd, &mtu), 0) << testing::errorOf(reply.get());
        EXPECT_EQ(mtu, 517);
        EXPECT_THAT(hear(1), ElementsAre(std::string("subscribed ") + FakeBluetoothd::watch));
        return FileDescriptor(::dup(fd));
    }
    bool notify() { return peripheral->updateValue(frame, acknowledgement, {&watch, 1}); }

    EventLoop loop;
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
        for (const AttRequest& request : requests) {
            heard.push_back("write " + std::string(request.value->begin(), request.value->end()) + " from " +
                            request.central.deviceKey);
            manager.respondToRequest(request, writeResult);
        }
    }
    void isReadyToUpdateSubscribers(PeripheralManager&) override { heard.push_back("ready"); }
};

std::map<std::string, InterfaceProperties> managedObjects(sd_bus_message* reply) {
    std::map<std::string, InterfaceProperties> objects;
    EXPECT_GE(readManagedObjects(reply, objects), 0) << testing::errorOf(reply);
    return objects;
}

TEST_F(BluezPeripheralTest, PublishesTheServiceAndTheAdvertisementAsBluetoothdReadsThem) {
    using namespace std::string_literals;
    const std::string servicePath = application + "/service0";
    const std::string characteristic = "org.bluez.GattCharacteristic1";
    poweredOn();
    peripheral->addService(service);
    EXPECT_THAT(bluez->awaitMessages(), ElementsAre("RegisterApplication(" + application + ")"));
    const auto objects = managedObjects(
        bluez->callAgent(application, "org.freedesktop.DBus.ObjectManager", "GetManagedObjects").get());
    EXPECT_THAT(objects, ElementsAre(::testing::Key(servicePath), ::testing::Key(commandPath),
                                     ::testing::Key(acknowledgementPath)));
    EXPECT_EQ(objects.at(servicePath).at("org.bluez.GattService1"),
              (Properties{{"UUID", "5e2a03f1-6c4d-4b8f-9f4e-2e7a7c9a0001"s}, {"Primary", true}}));
    EXPECT_EQ(objects.at(commandPath).at(characteristic),
              (Properties{{"UUID", "5e2a03f1-6c4d-4b8f-9f4e-2e7a7c9a0002"s}, {"Service", servicePath},
                          {"Flags", Strings{"write"}}}));
    EXPECT_EQ(objects.at(acknowledgementPath).at(characteristic),
              (Properties{{"UUID", "5e2a03f1-6c4d-4b8f-9f4e-2e7a7c9a0003"s}, {"Service", servicePath},
                          {"Flags", Strings{"notify"}}, {"NotifyAcquired", false}}));
    bluez->answer();
    EXPECT_THAT(hear(1), ElementsAre("added"));

    peripheral->startAdvertising({{serviceUuid}, "OrbiLatch"});
    EXPECT_THAT(bluez->awaitMessages(), ElementsAre("RegisterAdvertisement(" + advertisement + ")"));
    Properties advertised;
    const SdBusMessagePtr reply =
        bluez->callAgent(advertisement, "org.freedesktop.DBus.Properties", "GetAll",
                         [](sd_bus_message* m) { sd_bus_message_append(m, "s", "org.bluez.LEAdvertisement1"); });
    EXPECT_GE(readProperties(reply.get(), advertised), 0);
    EXPECT_EQ(advertised, (Properties{{"Type", "peripheral"s}, {"ServiceUUIDs", Strings{"5e2a03f1-6c4d-4b8f-9f4e-2e7a7c9a0001"}},
                                      {"LocalName", "OrbiLatch"s}, {"Discoverable", true}}));
    bluez->answer("org.bluez.Error.NotPermitted", "Maximum advertisements reached");
    EXPECT_THAT(hear(1), ElementsAre("advertising: Maximum advertisements reached"));
}

// Only the owner of org.bluez may call the agent; bluetoothd's writes are
// answered as the delegate says.
TEST_F(BluezPeripheralTest, AnswersBluetoothdsWritesByTheTableAndNobodyElses) {
    poweredOn();
    publish();
    const auto write = [](sd_bus_message* m) {
        sd_bus_message_append_array(m, 'y', "OL2|C|1|N", 9);
        sd_bus_message_append(m, "a{sv}", 1, "device", "o", FakeBluetoothd::watch);
    };
    const SdBusPtr stranger = bus.connect(loop.handle());
    EXPECT_EQ(testing::errorOf(testing::callAndWait(stranger.get(), loop.handle(), bluez->agent(), commandPath,
                                                    "org.bluez.GattCharacteristic1", "WriteValue", write).get()),
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
        EXPECT_EQ(testing::errorOf(bluez->callAgent(commandPath, "org.bluez.GattCharacteristic1", "WriteValue", write).get()),
                  expected);
        EXPECT_THAT(std::exchange(heard, {}), ElementsAre(std::string("write OL2|C|1|N from ") + FakeBluetoothd::watch));
    }
}

// An answer that comes after the adapter left poweredOn is no outcome, be it
// a success or a refusal: the state update stands for it.
TEST_F(BluezPeripheralTest, AnAnswerAfterTheAdapterWentOffIsNoOutcome) {
    poweredOn();
    peripheral->addService(service);
    peripheral->startAdvertising({{serviceUuid}, "OrbiLatch"});
    bluez->setPowered(0);
    EXPECT_THAT(hear(1), ElementsAre("state 4"));
    bluez->answer();
    bluez->answer("org.bluez.Error.Failed", "Failed to register advertisement");
    EXPECT_THAT(settle(), IsEmpty());
}

// bluetoothd dropped the advertisement itself: stopping it asks nothing more.
TEST_F(BluezPeripheralTest, AnAdvertisementBluetoothdReleasedIsNotWithdrawnAgain) {
    poweredOn();
    publish();
    EXPECT_EQ(testing::errorOf(bluez->callAgent(advertisement, "org.bluez.LEAdvertisement1", "Release").get()), "");
    peripheral->stopAdvertising();
    bluez->settle();
    EXPECT_THAT(bluez->newMessages(), IsEmpty());
}

TEST_F(BluezPeripheralTest, NotifiesTheWatchThroughItsSocketAndSaysWhenAFullOneHasRoomAgain) {
    poweredOn();
    publish();
    const FileDescriptor socket = subscribe();
    EXPECT_EQ(watch.identifier.toString(), "CA04E71C-C796-59D2-9AC2-8981C34CE130");
    int sent = 0;
    while (notify()) ++sent;
    EXPECT_THAT(settle(), IsEmpty());
    std::uint8_t received[32];
    EXPECT_EQ(::recv(socket.get(), received, sizeof received, 0), static_cast<ssize_t>(frame.size()));
    for (int i = 1; i < sent; ++i) ::recv(socket.get(), received, sizeof received, 0);
    EXPECT_THAT(hear(1), ElementsAre("ready"));
}

// The socket hanging up ends the subscription, reported once, whether the
// hang-up is seen first or a notification finds the socket closed first.
TEST_F(BluezPeripheralTest, AHangUpIsADepartureReportedOnce) {
    poweredOn();
    publish();
    const std::string unsubscribed = std::string("unsubscribed ") + FakeBluetoothd::watch;
    subscribe().reset();
    EXPECT_THAT(hear(1), ElementsAre(unsubscribed));
    EXPECT_FALSE(notify());
    EXPECT_THAT(hear(1), ElementsAre("ready"));

    const SdBusPtr outsider = bus.connect(loop.handle());
    subscribe().reset();
    // Without running the agent's loop, until the bus has let its copy of the socket go.
    sd_bus_call_method(outsider.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                       "GetId", nullptr, nullptr, nullptr);
    EXPECT_FALSE(notify());
    EXPECT_THAT(hear(2), ElementsAre(unsubscribed, "ready"));
    EXPECT_THAT(settle(), IsEmpty());
}

// bluetoothd may come after the agent, leave with the watch subscribed, and come back.
TEST_F(BluezPeripheralTest, FollowsBluetoothdComingAndGoing) {
    bluez.reset();
    start();
    EXPECT_THAT(hear(1), ElementsAre("state 0"));
    bluez.emplace(bus, loop.handle());
    EXPECT_THAT(hear(1), ElementsAre("state 5"));
    publish();
    const FileDescriptor socket = subscribe();
    bluez.reset();
    EXPECT_THAT(hear(2), ElementsAre(std::string("unsubscribed ") + FakeBluetoothd::watch, "state 1"));
    bluez.emplace(bus, loop.handle());
    EXPECT_THAT(hear(1), ElementsAre("state 5"));
}

TEST_F(BluezPeripheralTest, FollowsTheAdapterAndTheWatchInBluetoothdsSignals) {
    const std::string subscribed = std::string("subscribed ") + FakeBluetoothd::watch;
    const std::string unsubscribed = std::string("un") + subscribed;
    bluez->advertisingManager = false;
    bluez->bonded = 1;
    start();
    EXPECT_THAT(settle(), IsEmpty());
    EXPECT_GE(sd_bus_emit_signal(bluez->bus(), "/", "org.freedesktop.DBus.ObjectManager", "InterfacesAdded",
                                 "oa{sa{sv}}", FakeBluetoothd::adapter, 1, "org.bluez.LEAdvertisingManager1", 0), 0);
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
    EXPECT_THAT(bluez->awaitMessages(), ElementsAre("PropertiesChanged(" + acknowledgementPath + ")"));
    EXPECT_GE(sd_bus_emit_signal(bluez->bus(), "/", "org.freedesktop.DBus.ObjectManager", "InterfacesRemoved", "oas",
                                 FakeBluetoothd::watch, 1, "org.bluez.Device1"), 0);
    EXPECT_THAT(hear(1), ElementsAre(unsubscribed));
    bluez->setPowered(0);
    EXPECT_THAT(hear(1), ElementsAre("state 4"));
}

// Another local program can send signals in bluetoothd's or the bus's name:
// neither reaches the agent's view of bluetoothd.
TEST_F(BluezPeripheralTest, IgnoresSignalsFromStrangers) {
    poweredOn();
    publish();
    const FileDescriptor socket = subscribe();
    const SdBusPtr stranger = bus.connect(loop.handle());
    const char* owner = nullptr;
    sd_bus_get_unique_name(bluez->bus(), &owner);
    const auto sendToTheAgent = [&](const char* path, const char* interface, const char* member, auto... values) {
        sd_bus_message* made = nullptr;
        sd_bus_message_new_signal(stranger.get(), &made, path, interface, member);
        const SdBusMessagePtr spoof(made);
        sd_bus_message_set_destination(made, bluez->agent().c_str());
        sd_bus_message_append(made, values...);
        EXPECT_GE(sd_bus_send(stranger.get(), made, nullptr), 0);
    };
    sendToTheAgent(FakeBluetoothd::adapter, "org.freedesktop.DBus.Properties", "PropertiesChanged", "sa{sv}as",
                   "org.bluez.Adapter1", 1, "Powered", "b", 0, 0);
    sendToTheAgent("/org/freedesktop/DBus", "org.freedesktop.DBus", "NameOwnerChanged", "sss", "org.bluez", owner, "");
    testing::callAndWait(stranger.get(), loop.handle(), bluez->agent(), "/", "org.freedesktop.DBus.Peer", "Ping");
    EXPECT_THAT(std::exchange(heard, {}), IsEmpty());
    EXPECT_EQ(peripheral->state(), ManagerState::poweredOn);
}

}  // namespace
}  // namespace orbilatch::bluetooth::bluez
