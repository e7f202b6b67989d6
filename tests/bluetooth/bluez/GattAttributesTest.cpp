#include "bluetooth/bluez/GattAttributes.h"

#include <gtest/gtest.h>

#include "bluetooth/PeripheralManager.h"

namespace orbilatch::bluetooth::bluez {
namespace {

using Flags = std::vector<std::string>;

TEST(CharacteristicFlags, PublishWriteWithResponseAloneAndNotify) {
    EXPECT_EQ(characteristicFlags(CharacteristicProperty::write), Flags{"write"});
    EXPECT_EQ(characteristicFlags(CharacteristicProperty::notify), Flags{"notify"});
    EXPECT_EQ(characteristicFlags(CharacteristicProperty::write | CharacteristicProperty::notify),
              (Flags{"write", "notify"}));
    EXPECT_TRUE(notifies(CharacteristicProperty::notify));
    EXPECT_FALSE(notifies(CharacteristicProperty::write));
}

TEST(BluezUuidText, IsLowerCase) {
    EXPECT_EQ(bluezUuidText(*Uuid::parse("5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0001")),
              "5e2a03f1-6c4d-4b8f-9f4e-2e7a7c9a0001");
}

TEST(DeviceAddressFromPath, ReadsTheAddressBluezNamesTheObjectAfter) {
    EXPECT_EQ(deviceAddressFromPath("/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01"), "AA:BB:CC:DD:EE:01");
    EXPECT_EQ(deviceAddressFromPath("/org/bluez/hci0/dev_AA_BB_CC_DD_EE"), std::nullopt);
    EXPECT_EQ(deviceAddressFromPath("/org/bluez/hci0/dev_AA-BB_CC_DD_EE_01"), std::nullopt);
    EXPECT_EQ(deviceAddressFromPath("/org/bluez/hci0/dev_GG_BB_CC_DD_EE_01"), std::nullopt);
    EXPECT_EQ(deviceAddressFromPath("/org/bluez/hci0"), std::nullopt);
}

}  // namespace
}  // namespace orbilatch::bluetooth::bluez
