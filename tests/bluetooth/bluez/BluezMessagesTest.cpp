#include "bluetooth/bluez/BluezMessages.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include "system/FileDescriptor.h"
#include "system/SdPointers.h"

namespace orbilatch::bluetooth::bluez {
namespace {

// Builds messages on a bus that never reaches a daemon and seals them, so
// they read back as if bluetoothd had sent them.
class BluezMessagesTest : public ::testing::Test {
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
        sd_bus_message* message = nullptr;
        ASSERT_GE(sd_bus_message_new_signal(bus, &message, "/", "org.example.Test", "Test"), 0);
        message_.reset(message);
    }

    sd_bus_message* sealed() {
        EXPECT_GE(sd_bus_message_seal(message_.get(), 1, 0), 0);
        EXPECT_GE(sd_bus_message_rewind(message_.get(), 1), 0);
        return message_.get();
    }

    FileDescriptor peer_;
    SdBusPtr bus_;
    SdBusMessagePtr message_;
};

TEST_F(BluezMessagesTest, ReadManagedObjectsKeepingTheTypesTheBackendUsesAndSkippingTheRest) {
    ASSERT_GE(sd_bus_message_append(message_.get(), "a{oa{sa{sv}}}", 2,
                                    "/org/bluez/hci0", 2,
                                        "org.bluez.Adapter1", 5,
                                            "Address", "s", "00:AA:01:00:00:00",
                                            "Powered", "b", 1,
                                            "Class", "u", 0x6c010c,
                                            "Roles", "as", 2, "central", "peripheral",
                                            "Extra", "a{sv}", 1, "x", "y", 7,
                                        "org.bluez.GattManager1", 0,
                                    "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01", 1,
                                        "org.bluez.Device1", 2,
                                            "Adapter", "o", "/org/bluez/hci0",
                                            "Connected", "b", 0),
              0);
    std::map<std::string, InterfaceProperties> objects;
    ASSERT_GE(readManagedObjects(sealed(), objects), 0);

    const Properties& adapter = objects["/org/bluez/hci0"]["org.bluez.Adapter1"];
    EXPECT_EQ(adapter.size(), 3u);
    EXPECT_EQ(adapter.at("Address"), PropertyValue(std::string("00:AA:01:00:00:00")));
    EXPECT_EQ(adapter.at("Powered"), PropertyValue(true));
    EXPECT_EQ(adapter.at("Roles"), PropertyValue(std::vector<std::string>{"central", "peripheral"}));
    EXPECT_TRUE(objects["/org/bluez/hci0"].contains("org.bluez.GattManager1"));

    const Properties& device = objects["/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01"]["org.bluez.Device1"];
    EXPECT_EQ(device.at("Adapter"), PropertyValue(std::string("/org/bluez/hci0")));
    EXPECT_EQ(device.at("Connected"), PropertyValue(false));
}

TEST_F(BluezMessagesTest, ReadTheDeviceAndMtuOfRequestOptions) {
    ASSERT_GE(sd_bus_message_append(message_.get(), "a{sv}", 3,
                                    "device", "o", "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01",
                                    "link", "s", "LE",
                                    "mtu", "q", 517),
              0);
    GattRequestOptions options;
    ASSERT_GE(readRequestOptions(sealed(), options), 0);
    EXPECT_EQ(options.device, "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01");
    EXPECT_EQ(options.mtu, 517);
}

TEST_F(BluezMessagesTest, ReadEmptyRequestOptions) {
    ASSERT_GE(sd_bus_message_append(message_.get(), "a{sv}", 0), 0);
    GattRequestOptions options;
    ASSERT_GE(readRequestOptions(sealed(), options), 0);
    EXPECT_EQ(options.device, "");
    EXPECT_EQ(options.mtu, std::nullopt);
}

TEST_F(BluezMessagesTest, RefuseOptionsOfTheWrongShape) {
    ASSERT_GE(sd_bus_message_append(message_.get(), "a{sv}", 1, "device", "s", "not an object path"), 0);
    GattRequestOptions options;
    EXPECT_LT(readRequestOptions(sealed(), options), 0);
}

}  // namespace
}  // namespace orbilatch::bluetooth::bluez
