#include "bluetooth/bluez/BluezObjects.h"

#include <gtest/gtest.h>

namespace orbilatch::bluetooth::bluez {
namespace {

const std::string hci0 = "/org/bluez/hci0";
const std::string device = "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01";

InterfaceProperties poweredAdapter() {
    return {
        {interfaceName::adapter,
         {{"Address", std::string("00:AA:01:00:00:00")},
          {"Powered", true},
          {"Roles", std::vector<std::string>{"central", "peripheral"}}}},
        {interfaceName::gattManager, {}},
    };
}

TEST(BluezObjects, DescribeAnAdapterFromItsInterfacesAndProperties) {
    BluezObjects objects;
    objects.addInterfaces(hci0, poweredAdapter());
    EXPECT_EQ(objects.adapterPaths(), std::vector<std::string>{hci0});
    EXPECT_EQ(objects.adapterAddress(hci0), "00:AA:01:00:00:00");

    AdapterFacts facts = objects.adapterFacts(hci0);
    EXPECT_TRUE(facts.powered && facts.peripheralRole && facts.gattManager);
    EXPECT_FALSE(facts.advertisingManager);

    objects.addInterfaces(hci0, {{interfaceName::advertisingManager, {}}});
    EXPECT_TRUE(objects.adapterFacts(hci0).advertisingManager);
    EXPECT_TRUE(objects.adapterFacts(hci0).powered);
}

TEST(BluezObjects, FollowChangedAndInvalidatedProperties) {
    BluezObjects objects;
    objects.addInterfaces(hci0, poweredAdapter());
    objects.changeProperties(hci0, interfaceName::adapter, {{"Powered", false}}, {});
    EXPECT_FALSE(objects.adapterFacts(hci0).powered);
    objects.changeProperties(hci0, interfaceName::adapter, {}, {"Roles"});
    EXPECT_FALSE(objects.adapterFacts(hci0).peripheralRole);
}

TEST(BluezObjects, IgnoreChangesToInterfacesTheyDoNotHave) {
    BluezObjects objects;
    objects.changeProperties(device, interfaceName::device, {{"Connected", true}}, {});
    EXPECT_EQ(objects.device(device), std::nullopt);
}

TEST(BluezObjects, ForgetRemovedInterfacesAndEmptyObjects) {
    BluezObjects objects;
    objects.addInterfaces(hci0, poweredAdapter());
    objects.removeInterfaces(hci0, {interfaceName::gattManager});
    EXPECT_FALSE(objects.adapterFacts(hci0).gattManager);
    objects.removeInterfaces(hci0, {interfaceName::adapter});
    EXPECT_TRUE(objects.adapterPaths().empty());
    EXPECT_FALSE(objects.has(hci0, interfaceName::adapter));
}

TEST(BluezObjects, DescribeADevice) {
    BluezObjects objects;
    objects.addInterfaces(device, {{interfaceName::device,
                                    {{"Address", std::string("AA:BB:CC:DD:EE:01")},
                                     {"AddressType", std::string("random")},
                                     {"Adapter", hci0},
                                     {"Connected", true},
                                     {"Bonded", true}}}});
    const auto facts = objects.device(device);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->address, "AA:BB:CC:DD:EE:01");
    EXPECT_EQ(facts->addressType, "random");
    EXPECT_EQ(facts->adapterPath, hci0);
    EXPECT_TRUE(facts->connected);
    EXPECT_TRUE(facts->bonded);

    objects.changeProperties(device, interfaceName::device, {{"Connected", false}}, {});
    EXPECT_FALSE(objects.device(device)->connected);
}

}  // namespace
}  // namespace orbilatch::bluetooth::bluez
