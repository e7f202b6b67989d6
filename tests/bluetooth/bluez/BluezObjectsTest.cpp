#include "bluetooth/bluez/BluezObjects.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include "bluetooth/bluez/BluezMessages.h"
#include "system/FileDescriptor.h"
#include "system/SdPointers.h"

namespace orbilatch::bluetooth::bluez {
namespace {

const std::string hci0 = "/org/bluez/hci0";
const std::string device = "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01";

// Message bodies as bluetoothd sends them: built on a bus that reaches no
// daemon, then sealed so that they read back.
class BluezObjectsTest : public ::testing::Test {
protected:
    void SetUp() override {
        int ends[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        peer_ = FileDescriptor(ends[1]);
        sd_bus* bus = nullptr;
        ASSERT_GE(sd_bus_new(&bus), 0);
        bus_.reset(bus);
        ASSERT_GE(sd_bus_set_fd(bus, ends[0], ends[0]), 0);
        ASSERT_GE(sd_bus_start(bus), 0);
    }
    sd_bus_message* message(const char* signature, auto... contents) {
        sd_bus_message* made = nullptr;
        EXPECT_GE(sd_bus_message_new_signal(bus_.get(), &made, "/", "org.example.Test", "Test"), 0);
        messages_.emplace_back(made);
        EXPECT_GE(sd_bus_message_append(made, signature, contents...), 0);
        EXPECT_GE(sd_bus_message_seal(made, 1, 0), 0);
        EXPECT_GE(sd_bus_message_rewind(made, 1), 0);
        return made;
    }

    FileDescriptor peer_;
    SdBusPtr bus_;
    std::vector<SdBusMessagePtr> messages_;
    BluezObjects objects;
};

TEST_F(BluezObjectsTest, AdapterAndDeviceFactsComeFromTheManagedObjectsSkippingUnusedTypes) {
    std::map<std::string, InterfaceProperties> managed;
    ASSERT_GE(readManagedObjects(message("a{oa{sa{sv}}}", 2,
                                         "/org/bluez/hci0", 2,
                                             "org.bluez.Adapter1", 4,
                                                 "Address", "s", "00:AA:01:00:00:00",
                                                 "Powered", "b", 1,
                                                 "Class", "u", 0x6c010c,
                                                 "Roles", "as", 2, "central", "peripheral",
                                             "org.bluez.GattManager1", 0,
                                         "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01", 1,
                                             "org.bluez.Device1", 4,
                                                 "Adapter", "o", "/org/bluez/hci0",
                                                 "AddressType", "s", "random",
                                                 "Extra", "a{sv}", 1, "x", "y", 7,
                                                 "Bonded", "b", 1),
                                 managed),
              0);
    for (const auto& [path, interfaces] : managed) objects.addInterfaces(path, interfaces);

    EXPECT_EQ(objects.adapterPaths(), std::vector<std::string>{hci0});
    EXPECT_EQ(objects.adapterAddress(hci0), "00:AA:01:00:00:00");
    const AdapterFacts adapter = objects.adapterFacts(hci0);
    EXPECT_TRUE(adapter.powered && adapter.peripheralRole && adapter.gattManager && !adapter.advertisingManager);
    const auto facts = objects.device(device);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->adapterPath, hci0);
    EXPECT_EQ(facts->addressType, "random");
    EXPECT_TRUE(facts->bonded);
    EXPECT_FALSE(facts->connected);
}

TEST_F(BluezObjectsTest, ChangesInvalidationsAndRemovalsAreFollowed) {
    objects.addInterfaces(hci0, {{interfaceName::adapter, {{"Powered", true}, {"Roles", std::vector<std::string>{
                                                                                               "peripheral"}}}},
                                 {interfaceName::gattManager, {}}});
    objects.changeProperties(hci0, interfaceName::adapter, {{"Powered", false}}, {"Roles"});
    EXPECT_FALSE(objects.adapterFacts(hci0).powered);
    EXPECT_FALSE(objects.adapterFacts(hci0).peripheralRole);
    objects.changeProperties(device, interfaceName::device, {{"Connected", true}}, {});
    EXPECT_EQ(objects.device(device), std::nullopt);
    objects.removeInterfaces(hci0, {interfaceName::gattManager, interfaceName::adapter});
    EXPECT_TRUE(objects.adapterPaths().empty());
}

TEST_F(BluezObjectsTest, RequestOptionsGiveTheDeviceAndMtuAndRefuseTheWrongShape) {
    GattRequestOptions options;
    ASSERT_GE(readRequestOptions(message("a{sv}", 3, "device", "o", device.c_str(), "link", "s", "LE", "mtu", "q", 517),
                                 options),
              0);
    EXPECT_EQ(options.device, device);
    EXPECT_EQ(options.mtu, 517);
    EXPECT_LT(readRequestOptions(message("a{sv}", 1, "device", "s", "not an object path"), options), 0);
}

}  // namespace
}  // namespace orbilatch::bluetooth::bluez
